// Symbolic links stored as reparse points.
#pragma once

#include <cstdint>

// What ReadReparseLink found.
enum ReparseLinkKind : uint32_t {
    REPARSE_LINK_NONE = 0,
    REPARSE_LINK_MOUNT_POINT = 1,
    REPARSE_LINK_ABSOLUTE = 2,
    REPARSE_LINK_RELATIVE = 3,
    REPARSE_LINK_WINDOWS_NFS = 4,  // tag 0x80000014 of type "LNK"
};

// The target of the link at path (the link itself, never followed) into
// buffer (size bytes, terminated).  strip drops the "\??\" of absolute links
// and mount points; without it that prefix is given as "\\?\".
uint32_t ReadReparseLink(const char *path, char *buffer, uint32_t size, bool strip);

// Gives the existing empty file or folder at path the reparse data of a link
// of kind (REPARSE_LINK_MOUNT_POINT, _ABSOLUTE or _RELATIVE) to target
// (length bytes, a Windows path; absolute ones get the "\??\" prefix).
// False with the Windows error set.
bool WriteReparseLink(uint32_t kind, const char *path, const char *target, uint32_t length);

// Removes the reparse data of the link at path, leaving an empty file or
// folder of that name.  False with the Windows error set.
bool DeleteReparsePoint(const char *path);

// Whether a link of kind to target (Windows form) made at linkPath is to be
// a folder: what the target is when it exists (a relative target is looked
// up from the link's folder), else decided by the target's last name.
bool TargetIsDirectory(uint32_t kind, const char *target, const char *linkPath);

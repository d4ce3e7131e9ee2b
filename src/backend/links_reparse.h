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

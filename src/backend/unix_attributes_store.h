// The Unix mode (all twelve permission bits), owner and group kept with a
// file itself: an extended attribute of the file ("KORVANE.UNIX", twelve
// bytes: mode, uid and gid, little-endian), which follows the file through
// renames and hard links and is kept by the Windows copy tools that copy
// extended attributes.  The POSIX build keeps it as the host's attribute
// "user.KORVANE.UNIX".  A file without one shows the mode emulated from its
// DOS attributes; a volume that cannot hold one (FAT, some network shares)
// keeps that emulation for all its files.  The UnixAttributes setting turns
// the store off: nothing is then read or written.
#pragma once

#include <cstdint>

#include "backend/change_target.h"
#include "platform/win32.h"

struct StoredUnixAttributes {
    uint32_t mode;  // the low twelve bits
    uint32_t uid;
    uint32_t gid;
};

// The UnixAttributes setting.
bool UnixStoreEnabled();

// The record of the open file (which needs FILE_READ_EA; when it lacks it
// and path is given, the file at path is opened for the read).  False when
// the store is off, the file has no record or it cannot be read.
bool ReadUnixAttributes(HANDLE file, const char *path, StoredUnixAttributes *record);
// The record of the file at path (the object itself, never a link's target).
bool ReadUnixAttributesAt(const char *path, StoredUnixAttributes *record);
// The record of the object named name in the folder open as folder.
bool ReadUnixAttributesIn(HANDLE folder, const char *name, StoredUnixAttributes *record);

// Writes the record of the target.  False when the store is off or the
// volume cannot hold it (the caller keeps the emulation then).  A file whose
// read-only attribute refuses the write has it lifted for the write.
bool WriteUnixAttributesTo(const ChangeTarget &target, const StoredUnixAttributes *record);
// Writes the record through an open handle that may write extended
// attributes (FILE_WRITE_EA, as GENERIC_WRITE has).  False as above.
bool WriteUnixAttributes(HANDLE file, const StoredUnixAttributes *record);

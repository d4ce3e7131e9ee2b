// Keeping a Unix mode in the DOS attributes of a file.
#pragma once

#include <cstdint>

#include "exports/export_context.h"

// Gives the file at path the attributes that show the requested mode (the
// inverse of the mode table of GetAttributes); used by create, setattr, mknod
// and symlink.  uid and gid requests are accepted and ignored: owners are not
// stored.  Types other than regular file and folder keep a given mode in
// their special-file record (not symbolic links) and get exactly the system
// attribute.  A regular file or folder without a mode request is left as it
// is.  Returns an NFS status.
uint32_t SetModeAttributes(const ExportContext *context, const char *path, bool setUid, bool setGid, bool setMode,
                           uint32_t uid, uint32_t gid, uint32_t type, uint32_t mode);

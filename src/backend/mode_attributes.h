// Keeping a Unix mode with a file: in its stored record (see
// unix_attributes_store.h) where the store holds one, and in the DOS
// attributes that emulate it (read-only then follows the owner's write bit).
#pragma once

#include <cstdint>

#include "backend/unix_attributes_store.h"
#include "exports/export_context.h"

// Gives the target the attributes that show the requested mode (the
// inverse of the mode table of GetAttributes); used by create, mkdir,
// setattr, mknod and symlink.  With record, that record is stored first
// (*recorded tells whether the volume took it; may be null); a folder with
// a record keeps its DOS attributes but read-only.  Types other than regular
// file and folder keep a given mode in their special-file record (not
// symbolic links) and get exactly the system attribute.  A regular file or
// folder without a mode request keeps its DOS attributes, and so does one
// whose read-only, hidden and system attributes show the mode already.
// current: the target's attributes when the caller has just read them
// (else they are read here).  *changed (may be null) tells whether the
// target's DOS attributes were set.  Returns an NFS status.
uint32_t SetModeAttributes(const ExportContext *context, const ChangeTarget &target, bool setMode, uint32_t type,
                           uint32_t mode, const StoredUnixAttributes *record, bool *recorded = nullptr,
                           DWORD current = INVALID_FILE_ATTRIBUTES, bool *changed = nullptr);

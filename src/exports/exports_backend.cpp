// Links from the export table into the file system backend.
//
// The inode table, the file-ID look-up and the open-file cache belong to the
// backend and are not part of this module.  Until their interfaces are in the
// tree these links report "not available" in the one way each caller already
// handles: no root inode (0, which the backend treats as "none"), and no
// cache array (cache null; cacheSize keeps the size the export asks for).
// Wire the real calls in here, nowhere else.
#include "exports/exports_backend.h"

#include <cstdlib>

uint64_t ExportRootInode(const ExportEntry *entry)
{
    // Needs: file id mode (EXPORT_FILEID_MODE) -> FileIdOfPath(entry->path);
    // otherwise AddPath(entry->path) of the inode table.
    (void)entry;
    return 0;
}

void ExportCreateCache(ExportEntry *entry)
{
    // Needs: CacheAllocate(&entry->options) of the open-file cache.
    entry->options.cacheCursor = 0;
    entry->options.cache = nullptr;
}

void ExportReleaseCache(ExportEntry *entry)
{
    free(entry->options.cache);
    entry->options.cache = nullptr;
}

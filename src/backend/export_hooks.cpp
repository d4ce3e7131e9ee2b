// The export table's hooks into the file system backend (declared in
// exports/exports_backend.h, defined here above the table).
//
// The root inode comes from the inode table or, in file id mode, from the
// folder's file ID.  The open-file cache is not built yet: until it is, an
// export gets no cache array (cache null; cacheSize keeps the size the export
// asks for).  Wire CacheAllocate in here, nowhere else.
#include "exports/exports_backend.h"

#include <cstdlib>

#include "fs/file_handle.h"
#include "fs/inode_table.h"

uint64_t ExportRootInode(const ExportEntry *entry)
{
    if (entry->flags & EXPORT_FILEID_MODE)
        return FileIdOfPath(entry->path);
    return AddPath(entry->path);
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

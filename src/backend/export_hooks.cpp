// The export table's hooks into the file system backend (declared in
// exports/exports_backend.h, defined here above the table).
//
// The root inode comes from the inode table or, in file id mode, from the
// folder's file ID.  Each export gets its open-file cache here.
#include "exports/exports_backend.h"

#include "backend/open_file_cache.h"
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
    CacheAllocate(&entry->options);
}

void ExportReleaseCache(ExportEntry *entry)
{
    CacheFree(&entry->options);
}

// The export table's calls into the file system backend, gathered here so
// that the table itself names no backend internals.
#pragma once

#include <cstdint>

#include "exports/export_entry.h"

// The inode of an export's root folder: in file id mode the folder's file ID,
// else the inode table's inode of its path.  0 when it cannot be had.
uint64_t ExportRootInode(const ExportEntry *entry);

// Gives an export its open-file cache (options.cacheSize entries).
void ExportCreateCache(ExportEntry *entry);
// Releases the cache of an entry that is being freed.
void ExportReleaseCache(ExportEntry *entry);

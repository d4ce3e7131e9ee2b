// The places where handles, attributes and lookup meet parts of the backend
// that are not built yet: the open-file cache and the directory-search slots.
// Each is one small function, so that the part that is missing is plain to
// see and is wired in at one place when it arrives.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/unix_mode.h"
#include "exports/export_context.h"
#include "platform/win32.h"

// The open handle and the attributes that the export's open-file cache keeps
// for inode (opened at least for reading); the entry is released at once.
// True when the cache held the file.
bool CachedFileHandle(const ExportContext *context, uint64_t inode, HANDLE *handle, FileAttributes *attributes);

// Starts the open-file cache (its lock and the sweeper thread) and closes
// every cached handle at the stop.
void StartOpenFileCache();
void CloseOpenFileCaches();

// Prepares the 64 directory-search slots (none open).
void InitDirectorySearchSlots();


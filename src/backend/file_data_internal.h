// What the read/write and the attribute-change halves of the file data
// operations share: the request's export, inode and path, and the checks of
// type and access.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"

// The largest end (offset + count) of a transfer: Windows file offsets end
// at 2^63 - 1.
#define FILE_DATA_MAX_END 0x7FFFFFFFFFFFFFFFull

struct DataRequest {
    ExportContext context;
    uint64_t inode;
    bool havePath;
    char path[EXPORT_PATH_SIZE];
};

// ResolveHandle into request (path not yet known).  0, or 70 when stale.
uint32_t BeginDataRequest(const FileHandle *handle, DataRequest *request);
// The request's path, checked to lie in its export.  0, or 70.
uint32_t NeedDataPath(DataRequest *request);
// READ and WRITE work on regular files only: ISDIR for a folder, INVAL for
// links and special files.
uint32_t RegularFileStatus(const FileAttributes *attributes);
// The current time as Unix seconds.
uint32_t UnixNow();

// What the read/write and the attribute-change halves of the file data
// operations share: the request's export, inode and path, and the checks of
// type and access.
#pragma once

#include <cstdint>

#include "backend/containment.h"
#include "backend/file_attributes.h"
#include "backend/open_file_cache.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"

// The largest end (offset + count) of a transfer: Windows file offsets end
// at 2^63 - 1.
#define FILE_DATA_MAX_END 0x7FFFFFFFFFFFFFFFull

// One request on a file's data or attributes.  The object is judged on disk
// once (NeedDataPath) and kept open, so that what the request then opens or
// reads is what was judged; the kept handle closes with the request.
struct DataRequest {
    ExportContext context;
    uint64_t inode = 0;
    bool havePath = false;
    char path[EXPORT_PATH_SIZE];
    KeptObject kept = {INVALID_HANDLE_VALUE, {}, false, 0, {}, false};
    DataRequest() = default;
    DataRequest(const DataRequest &) = delete;
    DataRequest &operator=(const DataRequest &) = delete;
    ~DataRequest();
};

// ResolveHandle into request (path not yet known).  0, or 70 when stale.
uint32_t BeginDataRequest(const FileHandle *handle, DataRequest *request);
// The request's path, and its object judged to lie in its export as it is
// on disk (no link or junction on the way, none at the end unless shown as a
// link), kept open in request->kept; with dataAccess judged through a handle
// opened for the data where the file allows it (see
// CheckRealContainmentKept).  0, or 70.
uint32_t NeedDataPath(DataRequest *request, DWORD dataAccess = 0);
// The kept handle of the judged object when it was opened with access, taken
// from the request for the caller to keep or close; INVALID_HANDLE_VALUE
// otherwise.
HANDLE TakeJudgedHandle(DataRequest *request, DWORD access);
// The attributes of the judged object (NeedDataPath first): what the check
// read, or by path when no object was kept (the export's root).
uint32_t JudgedAttributes(DataRequest *request, FileAttributes *attributes, const AuthUnix *credentials);
// 0 when a handle opened by the request's path names the judged object;
// else 70, and the handle is closed.
uint32_t OpenedIsJudged(DataRequest *request, HANDLE *opened);
// A handle of the open-file cache, opened by an earlier request: 0 when it
// still lies where the request's path says (looked at again once a second
// per entry), else 70.
uint32_t CachedIsInside(DataRequest *request, CacheEntry *entry);
// READ and WRITE work on regular files only: ISDIR for a folder, INVAL for
// links and special files.
uint32_t RegularFileStatus(const FileAttributes *attributes);
// The current time as Unix seconds.
uint32_t UnixNow();

// Reading, writing, committing and changing the attributes of files named by
// handle.  Every operation returns an NFS status (0 = success) and maps the
// caller's credentials in place.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"

// How a time of SetAttr is to be set.
enum SetTimeMode : uint32_t {
    SET_TIME_LEAVE = 0,
    SET_TIME_SERVER = 1,  // the current time, filled in by the decoder
    SET_TIME_CLIENT = 2,
};

// The settable attributes, as the NFS services decode them.
struct SetAttr {
    uint32_t setMode, mode;
    uint32_t setUid, uid;
    uint32_t setGid, gid;
    uint32_t setSize;
    uint64_t size;
    uint32_t atimeMode, atime, atimeNsec;  // SetTimeMode, seconds, nanoseconds
    uint32_t mtimeMode, mtime, mtimeNsec;
};

// Write stability, as NFS version 3 names it.
enum WriteStability : uint32_t {
    WRITE_UNSTABLE = 0,
    WRITE_DATA_SYNC = 1,
    WRITE_FILE_SYNC = 2,
};

// Reads up to *count bytes at offset into buffer; *count becomes the bytes
// read.  attributes are the file's after the read.
uint32_t ReadFileData(const FileHandle *handle, uint64_t offset, uint32_t *count, uint8_t *buffer,
                      FileAttributes *attributes, AuthUnix *credentials);

// Writes *count bytes of buffer at offset; *count becomes the bytes written.
// *stability is asked for on entry and is the stability reached on return:
// WRITE_FILE_SYNC only when data and size are on disk.  before (may be null)
// receives the attributes before the write, attributes those after it.
uint32_t WriteFileData(const FileHandle *handle, uint64_t offset, uint32_t *count, uint32_t *stability,
                       const uint8_t *buffer, FileAttributes *attributes, FileAttributes *before,
                       AuthUnix *credentials);

// Brings every write of the file to disk; attributes are those after it.
uint32_t CommitFile(const FileHandle *handle, uint64_t offset, uint32_t count, FileAttributes *attributes,
                    AuthUnix *credentials);

// The attributes before a change of attributes (version 3's wcc data and
// guard): read from the object the change judged, before anything changes,
// and handed to check (may be null), whose status other than 0 is answered
// with nothing changed.
struct AttributesBefore {
    OptionalAttributes seen;
    uint32_t (*check)(const OptionalAttributes *seen, const void *state);
    const void *state;
};

// Applies request to the file; attributes are those after the change.  With
// before (may be null), the attributes before it, as GETATTR tells them.
uint32_t SetAttributes(const FileHandle *handle, const SetAttr *request, FileAttributes *attributes,
                       AuthUnix *credentials, AttributesBefore *before = nullptr);

// Opens an existing file for reading and writing, sharing everything, the
// file itself where it is a link.  With mayLiftReadOnly (root or the owner of
// a file whose mode lacks the owner's write bit) a read-only attribute is
// lifted for the open and put back at once; `what` names the caller in the
// log line of a failed restore.
HANDLE OpenFileForWriting(const char *path, bool mayLiftReadOnly, const char *what);

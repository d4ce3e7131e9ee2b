// NFS file handles: 32 bytes that name a file by the mount it was reached
// through and its inode.  Clients treat them as opaque; the server reads them
// back from the wire in the same little-endian layout:
//
//   offset 0  u32 mark, always 20
//          4  u32 root id: the export's handle id (ExportHandleId) for
//             objects reached through a mount of a folder on the export's
//             own volume; for a volume mounted inside an export (an
//             automatic mount) the id of its mount record
//          8  u64 inode: the inode table's number (upper half 0), or the
//             NTFS file ID when the export runs in file id mode
//         16  u32 check: low 32 bits of inode + mount id
//         20  12 zero bytes
//
// NFS version 2 carries all 32 bytes; version 3 carries the first FHsize
// bytes (20 or 32), and everything meaningful fits into the first 20.
#pragma once

#include <cstdint>

struct ExportContext;

#define FILE_HANDLE_SIZE 32
#define FILE_HANDLE_SHORT_SIZE 20
#define FILE_HANDLE_MARK 20u

struct FileHandle {
    uint32_t mark;
    uint32_t mountId;
    uint64_t inode;
    uint32_t check;
    uint8_t zero[12];
};
static_assert(sizeof(FileHandle) == FILE_HANDLE_SIZE, "a file handle is 32 bytes");

// The check word of a handle for this inode and mount id.
uint32_t HandleCheck(uint64_t inode, uint32_t mountId);

// Builds the handle of an inode reached through a mount.
void MakeHandle(uint64_t inode, uint32_t mountId, FileHandle *handle);

// 1 when the mark is 20 and the check word matches inode and mount id.
int HandleIsWellFormed(const FileHandle *handle);

// The handle's wire bytes (little-endian, 32 bytes).
void EncodeHandle(const FileHandle *handle, uint8_t bytes[FILE_HANDLE_SIZE]);
// Reads a handle from length wire bytes: 32, or 20 for a short version 3
// handle (the rest is taken as zero).  Returns 1, or 0 for any other length.
int DecodeHandle(const uint8_t *bytes, uint32_t length, FileHandle *handle);

// The view of the export a handle names: the mark and check word must be
// right, and the root id must name an export of the current table (its
// folder is the root) or else a mount record.  1, or 0 when the handle is
// stale (the context is then undefined).
int HandleContext(const FileHandle *handle, ExportContext *context);
// HandleContext, and outside file id mode the inode must be a live entry of
// the inode table.  Returns the inode, or 0 when the handle is stale.
uint64_t ResolveHandle(const FileHandle *handle, ExportContext *context);

// The Windows path of an inode of the context's export into path (2048
// bytes): the inode table's path, or in file id mode the path Windows gives
// for the file ID (opened relative to the export's volume).  Returns path, or
// null when there is none.  The caller still checks containment.
char *PathOfHandle(const ExportContext *context, uint64_t inode, char *path);

// The NTFS file ID (index high and low) of the file or folder at path; 0 when
// it cannot be opened.
uint64_t FileIdOfPath(const char *path);

// The first steps of every operation on a handle: ResolveHandle,
// PathOfHandle into path (2048 bytes) and the containment check.  Returns 0
// with *inode, the context and the path filled, or 70 (stale).
uint32_t ResolveHandlePath(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode);

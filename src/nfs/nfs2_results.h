// The results of the NFS version 2 procedures (RFC 1094), kept and encoded
// as the version 3 ones are (nfs3_results.h).  A result that is the status
// word alone (stat) is encoded with XdrPutU32.
#pragma once

#include <cstdint>

#include "nfs/nfs_xdr.h"

// attrstat: GETATTR, SETATTR, WRITE.
struct Nfs2AttrResult {
    uint32_t status;
    FileAttributes attributes;
};
// diropres: LOOKUP, CREATE, MKDIR.
struct Nfs2DirOpResult {
    uint32_t status;
    FileHandle handle;
    FileAttributes attributes;
};
// READLINK: length bytes of text.
struct Nfs2ReadlinkResult {
    uint32_t status;
    uint32_t length;
    char text[NFS_PATH_SIZE];
};
// READ: the data is read straight into the reply at
// ReplySuccessHeaderLength + NFS2_READ_DATA_OFFSET.
struct Nfs2ReadResult {
    uint32_t status;
    FileAttributes attributes;
    uint32_t count;
    const uint8_t *data;
};
#define NFS2_READ_DATA_OFFSET (4u + NFS_FATTR2_SIZE + 4u)
// READDIR: entries (Nfs2PutEntry) are entriesLength bytes, in place at
// NFS2_READDIR_ENTRIES_OFFSET or copied there.
struct Nfs2ReaddirResult {
    uint32_t status;
    uint32_t entriesLength;
    const uint8_t *entries;
    uint32_t eof;
};
#define NFS2_READDIR_ENTRIES_OFFSET 4u
struct Nfs2StatfsResult {
    uint32_t status;
    uint32_t tsize;
    uint32_t bsize;
    uint32_t blocks;
    uint32_t bfree;
    uint32_t bavail;
};

uint32_t Nfs2PutAttrResult(uint8_t *out, const void *result);
uint32_t Nfs2PutDirOpResult(uint8_t *out, const void *result);
uint32_t Nfs2PutReadlinkResult(uint8_t *out, const void *result);
uint32_t Nfs2PutReadResult(uint8_t *out, const void *result);
uint32_t Nfs2PutReaddirResult(uint8_t *out, const void *result);
uint32_t Nfs2PutStatfsResult(uint8_t *out, const void *result);

// One entry of a READDIR list at out, when it fits into room bytes: returns
// its size, or 0 when it does not fit.  The name is cut at NFS_NAME_SIZE - 1.
uint32_t Nfs2PutEntry(uint8_t *out, uint32_t room, uint32_t fileId, const char *name, uint32_t nameLength,
                      uint32_t cookie);

// The results of the NFS version 3 procedures (RFC 1813): one plain record
// per result shape and its encoder (an XdrEncoder for ReplySuccess).  The
// handler fills the record: a status, and the optional blocks present exactly
// when the backend call that produced them returned 0.
#pragma once

#include <cstdint>

#include "nfs/nfs_xdr.h"

// GETATTR.
struct Nfs3AttrResult {
    uint32_t status;
    FileAttributes attributes;
};
// SETATTR, REMOVE, RMDIR.
struct Nfs3WccResult {
    uint32_t status;
    NfsWcc wcc;
};
struct Nfs3LookupResult {
    uint32_t status;
    FileHandle object;              // when status is 0
    NfsPostOpAttr objectAttributes; // when status is 0
    NfsPostOpAttr dirAttributes;
};
struct Nfs3AccessResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint32_t access;  // granted ACCESS3_* bits, when status is 0
};
// READLINK: length bytes of text (when status is 0).
struct Nfs3ReadlinkResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint32_t length;
    char text[NFS_PATH_SIZE];
};
// READ: data points to count bytes; the handler reads them straight into
// the reply at ReplySuccessHeaderLength + NFS3_READ_DATA_OFFSET, where the
// encoder leaves them in place.
struct Nfs3ReadResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint32_t count;
    uint32_t eof;
    const uint8_t *data;
};
// Result bytes in front of READ data: status, post_op_attr with attributes,
// count, eof and the data's length word.
#define NFS3_READ_DATA_OFFSET (4u + NFS_POST_OP_ATTR_SIZE + 12u)
struct Nfs3WriteResult {
    uint32_t status;
    NfsWcc wcc;
    uint32_t count;
    uint32_t committed;  // WriteStability reached
    uint8_t verifier[NFS_VERIFIER_SIZE];
};
// CREATE, MKDIR, SYMLINK, MKNOD.
struct Nfs3CreateResult {
    uint32_t status;
    uint32_t handlePresent;  // when status is 0
    FileHandle object;
    NfsPostOpAttr attributes;
    NfsWcc dirWcc;
};
struct Nfs3RenameResult {
    uint32_t status;
    NfsWcc fromWcc;
    NfsWcc toWcc;
};
struct Nfs3LinkResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    NfsWcc dirWcc;
};
// READDIR and READDIRPLUS: the entries (Nfs3PutEntry, Nfs3PutEntryPlus) are
// entriesLength bytes at entries, written in place at the offset the
// encoder would put them (NfsReaddirEntriesOffset), or anywhere else (then
// copied).
struct Nfs3ReaddirResult {
    uint32_t status;
    NfsPostOpAttr dirAttributes;
    uint8_t verifier[NFS_VERIFIER_SIZE];
    uint32_t entriesLength;
    const uint8_t *entries;
    uint32_t eof;
};
// The word 0 that ends an entry list, and eof.
#define NFS_READDIR_END_SIZE 8u
struct Nfs3FsstatResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint64_t tbytes, fbytes, abytes;
    uint64_t tfiles, ffiles, afiles;
    uint32_t invarsec;
};
struct Nfs3FsinfoResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint32_t rtmax, rtpref, rtmult;
    uint32_t wtmax, wtpref, wtmult;
    uint32_t dtpref;
    uint64_t maxfilesize;
    uint32_t timeDeltaSeconds, timeDeltaNsec;
    uint32_t properties;  // FSF3_* bits
};
struct Nfs3PathconfResult {
    uint32_t status;
    NfsPostOpAttr attributes;
    uint32_t linkmax;
    uint32_t nameMax;
    uint32_t noTrunc;
    uint32_t chownRestricted;
    uint32_t caseInsensitive;
    uint32_t casePreserving;
};
struct Nfs3CommitResult {
    uint32_t status;
    NfsWcc wcc;
    uint8_t verifier[NFS_VERIFIER_SIZE];
};

uint32_t Nfs3PutAttrResult(uint8_t *out, const void *result);
uint32_t Nfs3PutWccResult(uint8_t *out, const void *result);
uint32_t Nfs3PutLookupResult(uint8_t *out, const void *result);
uint32_t Nfs3PutAccessResult(uint8_t *out, const void *result);
uint32_t Nfs3PutReadlinkResult(uint8_t *out, const void *result);
uint32_t Nfs3PutReadResult(uint8_t *out, const void *result);
uint32_t Nfs3PutWriteResult(uint8_t *out, const void *result);
uint32_t Nfs3PutCreateResult(uint8_t *out, const void *result);
uint32_t Nfs3PutRenameResult(uint8_t *out, const void *result);
uint32_t Nfs3PutLinkResult(uint8_t *out, const void *result);
uint32_t Nfs3PutReaddirResult(uint8_t *out, const void *result);
uint32_t Nfs3PutFsstatResult(uint8_t *out, const void *result);
uint32_t Nfs3PutFsinfoResult(uint8_t *out, const void *result);
uint32_t Nfs3PutPathconfResult(uint8_t *out, const void *result);
uint32_t Nfs3PutCommitResult(uint8_t *out, const void *result);

// Where the entries of a READDIR or READDIRPLUS result begin, counted from
// the start of the result: status, the directory's attributes (present or
// not) and the cookie verifier.
uint32_t NfsReaddirEntriesOffset(uint32_t attributesPresent);
// One entry of a READDIR list (entry3) at out, when it fits into room bytes:
// returns its size, or 0 (nothing written) when it does not fit.  The name
// is cut at NFS_NAME_SIZE - 1 bytes.
uint32_t Nfs3PutEntry(uint8_t *out, uint32_t room, uint64_t fileId, const char *name, uint32_t nameLength,
                      uint64_t cookie);
// The directory information of one entry as a READDIRPLUS dircount counts
// it: fileid, name and cookie.
uint32_t Nfs3EntryInfoSize(uint32_t nameLength);
// One entry of a READDIRPLUS list (entryplus3): as Nfs3PutEntry, then the
// attributes and, when handle is not null, the handle.
uint32_t Nfs3PutEntryPlus(uint8_t *out, uint32_t room, uint64_t fileId, const char *name, uint32_t nameLength,
                          uint64_t cookie, const NfsPostOpAttr *attributes, const FileHandle *handle);

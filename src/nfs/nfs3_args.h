// The arguments of the NFS version 3 procedures (RFC 1813): one plain record
// per argument shape and one decoder per procedure.  A decoder fills its
// record from the call's arguments and returns false when they do not decode
// (the dispatch then answers GARBAGE_ARGS); it checks every length against the
// bytes received and every limit of the protocol, but leaves the limits of
// the transfer buffer (how much a reply may carry) to the handler.
#pragma once

#include <cstdint>

#include "nfs/nfs_xdr.h"

// GETATTR, READLINK, FSSTAT, FSINFO, PATHCONF: one handle.
struct Nfs3HandleArgs {
    FileHandle handle;
};
// SETATTR: the guard, when sent and set, asks that the change be made only
// while the file's change time is guardCtime.
struct Nfs3SetattrArgs {
    FileHandle handle;
    SetAttr attributes;
    uint32_t guard;
    uint32_t guardCtime, guardCtimeNsec;
};
struct Nfs3AccessArgs {
    FileHandle handle;
    uint32_t access;  // ACCESS3_* bits asked for
};
// READ and COMMIT.
struct Nfs3RangeArgs {
    FileHandle handle;
    uint64_t offset;
    uint32_t count;
};
// WRITE: data points into the call's arguments and holds count bytes.
struct Nfs3WriteArgs {
    FileHandle handle;
    uint64_t offset;
    uint32_t count;
    uint32_t stable;  // WriteStability
    const uint8_t *data;
};
// CREATE: how is CreateHow; attributes for UNCHECKED and GUARDED, verifier
// for EXCLUSIVE.
struct Nfs3CreateArgs {
    NfsDirOp where;
    uint32_t how;
    SetAttr attributes;
    uint8_t verifier[NFS_VERIFIER_SIZE];
};
struct Nfs3MkdirArgs {
    NfsDirOp where;
    SetAttr attributes;
};
struct Nfs3SymlinkArgs {
    NfsDirOp where;
    SetAttr attributes;
    NfsPath target;
};
// MKNOD: attributes for devices, sockets and fifos; major and minor for
// devices.  Other types carry nothing more (the handler refuses them).
struct Nfs3MknodArgs {
    NfsDirOp where;
    uint32_t type;
    SetAttr attributes;
    uint32_t major, minor;
};
struct Nfs3RenameArgs {
    NfsDirOp from, to;
};
struct Nfs3LinkArgs {
    FileHandle file;
    NfsDirOp link;
};
// READDIR (count in maxcount, dircount 0) and READDIRPLUS.
struct Nfs3ReaddirArgs {
    FileHandle handle;
    uint64_t cookie;
    uint8_t verifier[NFS_VERIFIER_SIZE];
    uint32_t dircount;
    uint32_t maxcount;
};

bool Nfs3DecodeHandle(RpcCall *call, Nfs3HandleArgs *args);      // GETATTR READLINK FSSTAT FSINFO PATHCONF
bool Nfs3DecodeSetattr(RpcCall *call, Nfs3SetattrArgs *args);
bool Nfs3DecodeDirOp(RpcCall *call, NfsDirOp *args);             // LOOKUP REMOVE RMDIR
bool Nfs3DecodeAccess(RpcCall *call, Nfs3AccessArgs *args);
bool Nfs3DecodeRange(RpcCall *call, Nfs3RangeArgs *args);        // READ COMMIT
// WRITE: stable must be 0 to 2, the data's length word must equal count and
// the data must lie within the arguments.
bool Nfs3DecodeWrite(RpcCall *call, Nfs3WriteArgs *args);
bool Nfs3DecodeCreate(RpcCall *call, Nfs3CreateArgs *args);
bool Nfs3DecodeMkdir(RpcCall *call, Nfs3MkdirArgs *args);
bool Nfs3DecodeSymlink(RpcCall *call, Nfs3SymlinkArgs *args);
bool Nfs3DecodeMknod(RpcCall *call, Nfs3MknodArgs *args);
bool Nfs3DecodeRename(RpcCall *call, Nfs3RenameArgs *args);
bool Nfs3DecodeLink(RpcCall *call, Nfs3LinkArgs *args);
bool Nfs3DecodeReaddir(RpcCall *call, Nfs3ReaddirArgs *args);
bool Nfs3DecodeReaddirPlus(RpcCall *call, Nfs3ReaddirArgs *args);

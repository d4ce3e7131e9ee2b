// The arguments of the NFS version 2 procedures (RFC 1094), decoded as the
// version 3 ones are (nfs3_args.h): false means GARBAGE_ARGS.
#pragma once

#include <cstdint>

#include "nfs/nfs_xdr.h"

// GETATTR, READLINK, STATFS.
struct Nfs2HandleArgs {
    FileHandle handle;
};
struct Nfs2SetattrArgs {
    FileHandle handle;
    SetAttr attributes;
};
// READ: totalcount is unused by the protocol.
struct Nfs2ReadArgs {
    FileHandle handle;
    uint32_t offset;
    uint32_t count;
    uint32_t totalcount;
};
// WRITE: data points into the call's arguments and holds count bytes;
// beginoffset and totalcount are unused by the protocol.
struct Nfs2WriteArgs {
    FileHandle handle;
    uint32_t beginoffset;
    uint32_t offset;
    uint32_t totalcount;
    uint32_t count;
    const uint8_t *data;
};
// CREATE and MKDIR.
struct Nfs2CreateArgs {
    NfsDirOp where;
    SetAttr attributes;
};
struct Nfs2RenameArgs {
    NfsDirOp from, to;
};
struct Nfs2LinkArgs {
    FileHandle from;
    NfsDirOp to;
};
struct Nfs2SymlinkArgs {
    NfsDirOp from;
    NfsPath to;
    SetAttr attributes;
};
struct Nfs2ReaddirArgs {
    FileHandle handle;
    uint32_t cookie;
    uint32_t count;
};

bool Nfs2DecodeHandle(RpcCall *call, Nfs2HandleArgs *args);  // GETATTR READLINK STATFS
bool Nfs2DecodeSetattr(RpcCall *call, Nfs2SetattrArgs *args);
bool Nfs2DecodeDirOp(RpcCall *call, NfsDirOp *args);         // LOOKUP REMOVE RMDIR
// READ: a count above ReadSize fails.
bool Nfs2DecodeRead(RpcCall *call, Nfs2ReadArgs *args);
// WRITE: data of more than WriteSize bytes, or not within the arguments,
// fails.
bool Nfs2DecodeWrite(RpcCall *call, Nfs2WriteArgs *args);
bool Nfs2DecodeCreate(RpcCall *call, Nfs2CreateArgs *args);  // CREATE MKDIR
bool Nfs2DecodeRename(RpcCall *call, Nfs2RenameArgs *args);
bool Nfs2DecodeLink(RpcCall *call, Nfs2LinkArgs *args);
bool Nfs2DecodeSymlink(RpcCall *call, Nfs2SymlinkArgs *args);
bool Nfs2DecodeReaddir(RpcCall *call, Nfs2ReaddirArgs *args);

// The pieces that the argument decoders and result encoders of NFS versions
// 2 and 3 share: file handles, names, settable attributes, file attributes.
//
// Decoders read from a decoded call (RpcCall::args, arg_pos, arg_length):
// each returns false, and the whole call fails as GARBAGE_ARGS, when an item
// runs past the bytes received or breaks a limit of the protocol.  Encoders
// write at an output position and return the bytes written; the caller
// provides room (the sizes are fixed or bounded by the handler).
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "fs/file_handle.h"
#include "nfs/nfs_protocol.h"
#include "rpc/rpc_message.h"

// A file name as received: length as on the wire, the bytes NUL-terminated.
// A name with a NUL byte inside is decoded (it is well-formed XDR) but is not
// clean: the handlers refuse it rather than act on a shorter name.
struct NfsName {
    uint32_t length;
    char text[NFS_NAME_SIZE];
};
// A directory and a name in it (diropargs, diropargs3).
struct NfsDirOp {
    FileHandle dir;
    NfsName name;
};
// Symbolic link text as received (nfspath3, path): shorter than 2048 bytes.
struct NfsPath {
    uint32_t length;
    char text[NFS_PATH_SIZE];
};

// True when the name has no NUL byte before its end.
bool NfsNameIsClean(const NfsName *name);
// True for the WebNFS public handle, all zeros (an empty version 3 handle and
// 32 zero bytes in version 2 decode to it).
bool NfsIsPublicHandle(const FileHandle *handle);

// --- Decoders ------------------------------------------------------------------

// The version 3 handle size in use: FHsize when it is 20 or 32, else 32.
uint32_t Nfs3HandleSize(void);
// fh3: a counted opaque of exactly Nfs3HandleSize() bytes, or of 0 bytes (the
// public handle, decoded as all zeros).
bool NfsGetHandle3(RpcCall *call, FileHandle *handle);
// fhandle: 32 bytes.
bool NfsGetHandle2(RpcCall *call, FileHandle *handle);
bool NfsGetName(RpcCall *call, NfsName *name);
bool NfsGetPath(RpcCall *call, NfsPath *path);
bool NfsGetDirOp3(RpcCall *call, NfsDirOp *op);
bool NfsGetDirOp2(RpcCall *call, NfsDirOp *op);
// sattr3: a flag word and, when it is not 0, the value, for mode, uid, gid
// and size (64 bits); for atime and mtime a word 0 (leave), 1 (the server's
// time: the current time is filled in here) or 2 (seconds and nanoseconds
// follow).  Any other time word fails.
bool NfsGetSattr3(RpcCall *call, SetAttr *attributes);
// sattr: eight words; mode, uid, gid and size are set unless 0xFFFFFFFF, a
// time unless its seconds are 0xFFFFFFFF.  Microseconds of 1000000 or more
// (the convention for "the server's time") set the current time.
bool NfsGetSattr2(RpcCall *call, SetAttr *attributes);
// The current time in Unix seconds, as SET_TIME_SERVER fills it in.
uint32_t NfsUnixNow(void);

// The record a result encoder takes.
template <typename T>
const T *NfsResultAs(const void *result)
{
    return static_cast<const T *>(result);
}

// --- Encoders ------------------------------------------------------------------

// Optional attributes (post_op_attr): present or not.
using NfsPostOpAttr = OptionalAttributes;
// wcc_data: the size and times before a change, the attributes after it.
struct NfsWcc {
    uint32_t beforePresent;
    FileAttributes before;
    uint32_t afterPresent;
    FileAttributes after;
};

// fattr3 (84 bytes): the mode carries the permission bits only (0o7777);
// the type is a field of its own.
uint32_t NfsPutFattr3(uint8_t *out, const FileAttributes *attributes);
uint32_t NfsPutPostOpAttr(uint8_t *out, const NfsPostOpAttr *attributes);
uint32_t NfsPutWcc(uint8_t *out, const NfsWcc *wcc);
// fh3 as a counted opaque of Nfs3HandleSize() bytes; post_op_fh3 is the word
// 1 before it.
uint32_t NfsPutHandle3(uint8_t *out, const FileHandle *handle);
uint32_t NfsPutPostOpHandle3(uint8_t *out, const FileHandle *handle);
// fattr (68 bytes): the mode with its file-type bits; sizes above 4 GiB - 1
// are reported as 4 GiB - 1 (the most version 2 can say) rather than wrapped.
uint32_t NfsPutFattr2(uint8_t *out, const FileAttributes *attributes);
// fhandle: the 32 bytes.
uint32_t NfsPutHandle2(uint8_t *out, const FileHandle *handle);

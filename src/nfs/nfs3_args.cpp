// Decoding the arguments of NFS version 3.
#include "nfs/nfs3_args.h"

#include <cstring>

#include "backend/namespace_ops.h"

bool Nfs3DecodeHandle(RpcCall *call, Nfs3HandleArgs *args)
{
    return NfsGetHandle3(call, &args->handle);
}

bool Nfs3DecodeSetattr(RpcCall *call, Nfs3SetattrArgs *args)
{
    memset(args, 0, sizeof *args);
    if (!NfsGetHandle3(call, &args->handle) || !NfsGetSattr3(call, &args->attributes))
        return false;
    if (!XdrGetU32(call, &args->guard))
        return false;
    return args->guard == 0 || (XdrGetU32(call, &args->guardCtime) && XdrGetU32(call, &args->guardCtimeNsec));
}

bool Nfs3DecodeDirOp(RpcCall *call, NfsDirOp *args)
{
    return NfsGetDirOp3(call, args);
}

bool Nfs3DecodeAccess(RpcCall *call, Nfs3AccessArgs *args)
{
    return NfsGetHandle3(call, &args->handle) && XdrGetU32(call, &args->access);
}

bool Nfs3DecodeRange(RpcCall *call, Nfs3RangeArgs *args)
{
    return NfsGetHandle3(call, &args->handle) && XdrGetU64(call, &args->offset) && XdrGetU32(call, &args->count);
}

bool Nfs3DecodeWrite(RpcCall *call, Nfs3WriteArgs *args)
{
    uint32_t length;
    if (!NfsGetHandle3(call, &args->handle) || !XdrGetU64(call, &args->offset) ||
        !XdrGetU32(call, &args->count) || !XdrGetU32(call, &args->stable) || args->stable > WRITE_FILE_SYNC)
        return false;
    return XdrGetOpaqueRef(call, &args->data, args->count, &length) && length == args->count;
}

bool Nfs3DecodeCreate(RpcCall *call, Nfs3CreateArgs *args)
{
    memset(args, 0, sizeof *args);
    if (!NfsGetDirOp3(call, &args->where) || !XdrGetU32(call, &args->how))
        return false;
    switch (args->how) {
    case CREATE_HOW_UNCHECKED:
    case CREATE_HOW_GUARDED:
        return NfsGetSattr3(call, &args->attributes);
    case CREATE_HOW_EXCLUSIVE:
        return XdrGetFixedOpaque(call, args->verifier, NFS_VERIFIER_SIZE);
    default:
        return false;
    }
}

bool Nfs3DecodeMkdir(RpcCall *call, Nfs3MkdirArgs *args)
{
    return NfsGetDirOp3(call, &args->where) && NfsGetSattr3(call, &args->attributes);
}

bool Nfs3DecodeSymlink(RpcCall *call, Nfs3SymlinkArgs *args)
{
    return NfsGetDirOp3(call, &args->where) && NfsGetSattr3(call, &args->attributes) &&
           NfsGetPath(call, &args->target);
}

bool Nfs3DecodeMknod(RpcCall *call, Nfs3MknodArgs *args)
{
    memset(args, 0, sizeof *args);
    if (!NfsGetDirOp3(call, &args->where) || !XdrGetU32(call, &args->type))
        return false;
    switch (args->type) {
    case NF3BLK:
    case NF3CHR:
        return NfsGetSattr3(call, &args->attributes) && XdrGetU32(call, &args->major) &&
               XdrGetU32(call, &args->minor);
    case NF3SOCK:
    case NF3FIFO:
        return NfsGetSattr3(call, &args->attributes);
    default:
        return true;
    }
}

bool Nfs3DecodeRename(RpcCall *call, Nfs3RenameArgs *args)
{
    return NfsGetDirOp3(call, &args->from) && NfsGetDirOp3(call, &args->to);
}

bool Nfs3DecodeLink(RpcCall *call, Nfs3LinkArgs *args)
{
    return NfsGetHandle3(call, &args->file) && NfsGetDirOp3(call, &args->link);
}

static bool ReaddirStart(RpcCall *call, Nfs3ReaddirArgs *args)
{
    return NfsGetHandle3(call, &args->handle) && XdrGetU64(call, &args->cookie) &&
           XdrGetFixedOpaque(call, args->verifier, NFS_VERIFIER_SIZE);
}

bool Nfs3DecodeReaddir(RpcCall *call, Nfs3ReaddirArgs *args)
{
    args->dircount = 0;
    return ReaddirStart(call, args) && XdrGetU32(call, &args->maxcount);
}

bool Nfs3DecodeReaddirPlus(RpcCall *call, Nfs3ReaddirArgs *args)
{
    return ReaddirStart(call, args) && XdrGetU32(call, &args->dircount) && XdrGetU32(call, &args->maxcount);
}

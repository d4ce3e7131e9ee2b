// Decoding the arguments of NFS version 2.
#include "nfs/nfs2_args.h"

#include "settings/settings.h"

bool Nfs2DecodeHandle(RpcCall *call, Nfs2HandleArgs *args)
{
    return NfsGetHandle2(call, &args->handle);
}

bool Nfs2DecodeSetattr(RpcCall *call, Nfs2SetattrArgs *args)
{
    return NfsGetHandle2(call, &args->handle) && NfsGetSattr2(call, &args->attributes);
}

bool Nfs2DecodeDirOp(RpcCall *call, NfsDirOp *args)
{
    return NfsGetDirOp2(call, args);
}

bool Nfs2DecodeRead(RpcCall *call, Nfs2ReadArgs *args)
{
    return NfsGetHandle2(call, &args->handle) && XdrGetU32(call, &args->offset) && XdrGetU32(call, &args->count) &&
           XdrGetU32(call, &args->totalcount) && args->count <= ServerSettings.ReadSize;
}

bool Nfs2DecodeWrite(RpcCall *call, Nfs2WriteArgs *args)
{
    return NfsGetHandle2(call, &args->handle) && XdrGetU32(call, &args->beginoffset) &&
           XdrGetU32(call, &args->offset) && XdrGetU32(call, &args->totalcount) &&
           XdrGetOpaqueRef(call, &args->data, ServerSettings.WriteSize, &args->count);
}

bool Nfs2DecodeCreate(RpcCall *call, Nfs2CreateArgs *args)
{
    return NfsGetDirOp2(call, &args->where) && NfsGetSattr2(call, &args->attributes);
}

bool Nfs2DecodeRename(RpcCall *call, Nfs2RenameArgs *args)
{
    return NfsGetDirOp2(call, &args->from) && NfsGetDirOp2(call, &args->to);
}

bool Nfs2DecodeLink(RpcCall *call, Nfs2LinkArgs *args)
{
    return NfsGetHandle2(call, &args->from) && NfsGetDirOp2(call, &args->to);
}

bool Nfs2DecodeSymlink(RpcCall *call, Nfs2SymlinkArgs *args)
{
    return NfsGetDirOp2(call, &args->from) && NfsGetPath(call, &args->to) && NfsGetSattr2(call, &args->attributes);
}

bool Nfs2DecodeReaddir(RpcCall *call, Nfs2ReaddirArgs *args)
{
    return NfsGetHandle2(call, &args->handle) && XdrGetU32(call, &args->cookie) && XdrGetU32(call, &args->count);
}

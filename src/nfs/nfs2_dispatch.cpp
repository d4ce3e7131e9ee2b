// NFS version 2: the procedures and their dispatch.
#include "backend/file_attributes.h"
#include "backend/fs_stats.h"
#include "fs/nfs_status.h"
#include "nfs/nfs2_args.h"
#include "nfs/nfs2_procs.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"
#include "settings/settings.h"

namespace {

void Getattr(NfsRequest *request, const Nfs2HandleArgs *args, Nfs2AttrResult *result)
{
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK)
        result->status = GetAttrByHandle(&args->handle, &result->attributes, &request->caller);
}

void Lookup(NfsRequest *request, NfsDirOp *args, Nfs2DirOpResult *result)
{
    result->status = NfsLookup(request, args, &result->handle, &result->attributes, nullptr);
}

void Statfs(NfsRequest *request, const Nfs2HandleArgs *args, Nfs2StatfsResult *result)
{
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK)
        result->status = StatFs(&args->handle, &freeBlocks, &totalBlocks, &blockSize);
    if (result->status == NFS_OK) {
        // Counts are 32 bits wide: a volume of 16 TiB or more is told in
        // larger blocks rather than cut.
        while (totalBlocks > 0xFFFFFFFFu && blockSize < 0x80000000u) {
            totalBlocks /= 2;
            freeBlocks /= 2;
            blockSize *= 2;
        }
        result->tsize = NfsTransferLimit(request->transport, NFS2_READ_DATA_OFFSET, ServerSettings.ReadSize);
        result->bsize = blockSize;
        result->blocks = static_cast<uint32_t>(totalBlocks);
        result->bfree = result->bavail = static_cast<uint32_t>(freeBlocks);
    }
}

const RpcReplyCacheKind REMEMBER = RpcReplyCacheKind::REMEMBER;
const RpcReplyCacheKind RERUN = RpcReplyCacheKind::RERUN;

// The procedures by number, as in version 3 (nfs3_dispatch.cpp); ROOT and
// WRITECACHE, obsolete in the protocol itself, are not offered.
const RpcProcedure Procedures[NFSPROC_COUNT] = {
    RpcNullRow("nfs_null"),
    RpcRow<Nfs2DecodeHandle, Getattr>("nfs_getattr", Nfs2PutAttrResult),
    RpcRow<Nfs2DecodeSetattr, Nfs2Setattr>("nfs_setattr", Nfs2PutAttrResult, REMEMBER),
    {},  // ROOT
    RpcRow<Nfs2DecodeDirOp, Lookup>("nfs_lookup", Nfs2PutDirOpResult),
    RpcRow<Nfs2DecodeHandle, Nfs2Readlink>("nfs_readlink", Nfs2PutReadlinkResult),
    RpcRow<Nfs2DecodeRead, Nfs2Read>("nfs_read", Nfs2PutReadResult, RERUN, "invalid read args"),
    {},  // WRITECACHE
    RpcRow<Nfs2DecodeWrite, Nfs2Write>("nfs_write", Nfs2PutAttrResult, RERUN, "invalid write args"),
    RpcRow<Nfs2DecodeCreate, Nfs2Create>("nfs_create", Nfs2PutDirOpResult, REMEMBER),
    RpcRow<Nfs2DecodeDirOp, Nfs2Remove>("nfs_remove", XdrPutU32, REMEMBER),
    RpcRow<Nfs2DecodeRename, Nfs2Rename>("nfs_rename", XdrPutU32, REMEMBER),
    RpcRow<Nfs2DecodeLink, Nfs2Link>("nfs_link", XdrPutU32, REMEMBER),
    RpcRow<Nfs2DecodeSymlink, Nfs2Symlink>("nfs_symlink", XdrPutU32, REMEMBER),
    RpcRow<Nfs2DecodeCreate, Nfs2Mkdir>("nfs_mkdir", Nfs2PutDirOpResult, REMEMBER),
    RpcRow<Nfs2DecodeDirOp, Nfs2Rmdir>("nfs_rmdir", XdrPutU32, REMEMBER),
    RpcRow<Nfs2DecodeReaddir, Nfs2Readdir>("nfs_readdir", Nfs2PutReaddirResult),
    RpcRow<Nfs2DecodeHandle, Statfs>("nfs_statfs", Nfs2PutStatfsResult),
};

}  // namespace

void Nfs2Dispatch(RpcTransport *transport, RpcCall *call)
{
    NfsServe(transport, call, Procedures, NFSPROC_COUNT);
}

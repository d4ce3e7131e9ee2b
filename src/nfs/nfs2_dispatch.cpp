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

void Null(NfsRequest *request)
{
    NfsReply(request, XdrPutNothing, nullptr);
}

void Getattr(NfsRequest *request)
{
    Nfs2HandleArgs args;
    if (!NfsDecode(request, Nfs2DecodeHandle, &args, "nfs_getattr: cannot read args\n"))
        return;
    Nfs2AttrResult result = {};
    result.status = NfsCheckCaller(request, &args.handle, false, nullptr);
    if (result.status == NFS_OK)
        result.status = GetAttrByHandle(&args.handle, &result.attributes, &request->caller);
    NfsReply(request, Nfs2PutAttrResult, &result);
}

void Lookup(NfsRequest *request)
{
    NfsDirOp args;
    if (!NfsDecode(request, Nfs2DecodeDirOp, &args, "nfs_lookup: cannot read args\n"))
        return;
    Nfs2DirOpResult result = {};
    bool dirAllowed = false;
    result.status = NfsLookup(request, &args, &result.handle, &result.attributes, &dirAllowed);
    NfsReply(request, Nfs2PutDirOpResult, &result);
}

void Statfs(NfsRequest *request)
{
    Nfs2HandleArgs args;
    if (!NfsDecode(request, Nfs2DecodeHandle, &args, "nfs_statfs: cannot read args\n"))
        return;
    Nfs2StatfsResult result = {};
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    result.status = NfsCheckCaller(request, &args.handle, false, nullptr);
    if (result.status == NFS_OK)
        result.status = StatFs(&args.handle, &freeBlocks, &totalBlocks, &blockSize);
    if (result.status == NFS_OK) {
        // Counts are 32 bits wide: a volume of 16 TiB or more is told in
        // larger blocks rather than cut.
        while (totalBlocks > 0xFFFFFFFFu && blockSize < 0x80000000u) {
            totalBlocks /= 2;
            freeBlocks /= 2;
            blockSize *= 2;
        }
        result.tsize = NfsTransferLimit(request->transport, NFS2_READ_DATA_OFFSET, ServerSettings.ReadSize);
        result.bsize = blockSize;
        result.blocks = static_cast<uint32_t>(totalBlocks);
        result.bfree = result.bavail = static_cast<uint32_t>(freeBlocks);
    }
    NfsReply(request, Nfs2PutStatfsResult, &result);
}

// The procedures offered, by number; null: answered with PROC_UNAVAIL.
// ROOT and WRITECACHE are obsolete in the protocol itself.
const NfsHandler Handlers[NFSPROC_COUNT] = {
    Null,          // NULL
    Getattr,       // GETATTR
    Nfs2Setattr,   // SETATTR
    nullptr,       // ROOT
    Lookup,        // LOOKUP
    Nfs2Readlink,  // READLINK
    Nfs2Read,      // READ
    nullptr,       // WRITECACHE
    Nfs2Write,     // WRITE
    Nfs2Create,  // CREATE
    Nfs2Remove,  // REMOVE
    Nfs2Rename,  // RENAME
    Nfs2Link,  // LINK
    Nfs2Symlink,  // SYMLINK
    Nfs2Mkdir,  // MKDIR
    Nfs2Rmdir,  // RMDIR
    Nfs2Readdir,   // READDIR
    Statfs,        // STATFS
};

}  // namespace

void Nfs2Dispatch(RpcTransport *transport, RpcCall *call)
{
    NfsServe(transport, call, Handlers, NFSPROC_COUNT);
}

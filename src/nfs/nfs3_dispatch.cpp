// NFS version 3: the procedures and their dispatch.
#include "backend/file_attributes.h"
#include "backend/fs_stats.h"
#include "backend/posix_access.h"
#include "backend/unix_mode.h"
#include "exports/mount_table.h"
#include "fs/nfs_status.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_procs.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_request.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// The ACCESS bits the attributes grant; nothing that changes a read-only
// export.  A file without a stored owner shows the caller as its owner, so
// the owner's bits decide; else the caller's class (posix_access), where a
// folder's search bit grants LOOKUP.
uint32_t GrantedAccess(const ExportContext *context, const AuthUnix *caller, const FileAttributes *attributes,
                       uint32_t asked, bool readOnly)
{
    const bool stored = attributes->stored != 0;
    const uint32_t bits = stored ? CallerPermissions(context, caller, attributes) : attributes->mode >> 6 & 7u;
    const bool folder = attributes->type == FILE_TYPE_DIRECTORY;
    uint32_t granted = 0;
    if (bits & PERMIT_READ)
        granted |= ACCESS3_READ | (stored && folder ? 0u : ACCESS3_LOOKUP);
    if ((bits & PERMIT_WRITE) && !readOnly)
        granted |= ACCESS3_MODIFY | ACCESS3_EXTEND | ACCESS3_DELETE;
    if (bits & PERMIT_EXECUTE)
        granted |= ACCESS3_EXECUTE | (stored && folder ? ACCESS3_LOOKUP : 0u);
    return granted & asked;
}

void Getattr(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3AttrResult *result)
{
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK)
        result->status = GetAttrByHandle(&args->handle, &result->attributes, &request->caller);
}

void Lookup(NfsRequest *request, NfsDirOp *args, Nfs3LookupResult *result)
{
    result->status =
        NfsLookup(request, args, &result->object, &result->objectAttributes.attributes, &result->dirAttributes);
    result->objectAttributes.present = result->status == NFS_OK;
}

void Access(NfsRequest *request, const Nfs3AccessArgs *args, Nfs3AccessResult *result)
{
    ExportContext context;
    result->status = NfsCheckCaller(request, &args->handle, false, &context);
    if (result->status == NFS_OK)
        result->status = GetAttrByHandle(&args->handle, &result->attributes.attributes, &request->caller);
    if (result->status == NFS_OK) {
        result->attributes.present = 1;
        result->access = GrantedAccess(&context, &request->caller, &result->attributes.attributes, args->access,
                                       (context.flags & EXPORT_READONLY) != 0);
    }
}

void Fsstat(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3FsstatResult *result)
{
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK) {
        result->status = StatFs(&args->handle, &freeBlocks, &totalBlocks, &blockSize, &request->caller,
                                &result->attributes);
    }
    result->tbytes = totalBlocks * blockSize;
    result->fbytes = result->abytes = freeBlocks * blockSize;
    result->tfiles = result->ffiles = result->afiles = 65535;
}

void Fsinfo(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3FsinfoResult *result)
{
    ExportContext context;
    result->status = NfsCheckCaller(request, &args->handle, false, &context);
    if (result->status == NFS_OK) {
        // A mount in use over TCP leaves mounttab.
        if (request->transport->protocol == RPC_PROTO_TCP)
            MarkMountTcp(request->client, context.exportEntry);
        result->properties = FSF3_HOMOGENEOUS | FSF3_CANSETTIME;
        if (ServerSettings.SoftLinks)
            result->properties |= FSF3_SYMLINK;
        result->status =
            FsInfo(&args->handle, &result->properties, &result->attributes.attributes, &request->caller);
    }
    if (result->status == NFS_OK) {
        const RpcTransport *transport = request->transport;
        result->attributes.present = 1;
        // Over TCP a connection's buffer grows for a large transfer; a
        // datagram keeps Datasize.
        const uint32_t size = NfsTransferSize(transport);
        result->rtmax = result->rtpref = NfsTransferLimit(transport, NFS3_READ_DATA_OFFSET, size);
        result->rtmult = FS_BLOCK_SIZE;
        // A WRITE call carries at most 512 bytes besides its data (header,
        // credential, handle, offset, count, stability, length).
        result->wtmax = result->wtpref = NfsTransferLimit(transport, 512 - 24, size);
        result->wtmult = FS_BLOCK_SIZE;
        result->dtpref = NfsTransferLimit(transport, 0, NfsListingSize(transport));
        result->maxfilesize = NfsMaxFileSize(&context);
        NfsTimeDelta(&context, &result->timeDeltaSeconds, &result->timeDeltaNsec);
    }
}

void Pathconf(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3PathconfResult *result)
{
    ExportContext context;
    result->status = NfsCheckCaller(request, &args->handle, false, &context);
    uint32_t writable = 0;
    if (result->status == NFS_OK)
        result->status = PathConf(&args->handle, &result->linkmax, &result->nameMax, &writable,
                                  &result->attributes.attributes, &request->caller);
    if (result->status == NFS_OK) {
        result->attributes.present = 1;
        result->noTrunc = 1;
        result->caseInsensitive = 1;
        // Names keep their case unless the export or its volume lower-cases
        // them.
        result->casePreserving = (context.flags & (EXPORT_LOWERCASE | EXPORT_VOLUME_NOCASE)) == 0;
    }
}

const RpcReplyCacheKind REMEMBER = RpcReplyCacheKind::REMEMBER;
const RpcReplyCacheKind RERUN = RpcReplyCacheKind::RERUN;

// The procedures by number: how each decodes, works and answers, whether a
// retransmission is answered from the duplicate request cache, and its name
// in the log.
const RpcProcedure Procedures[NFSPROC3_COUNT] = {
    RpcNullRow("nfs3_null"),
    RpcRow<Nfs3DecodeHandle, Getattr>("nfs3_getattr", Nfs3PutAttrResult),
    RpcRow<Nfs3DecodeSetattr, Nfs3Setattr>("nfs3_setattr", Nfs3PutWccResult, REMEMBER),
    RpcRow<Nfs3DecodeDirOp, Lookup>("nfs3_lookup", Nfs3PutLookupResult),
    RpcRow<Nfs3DecodeAccess, Access>("nfs3_access", Nfs3PutAccessResult),
    RpcRow<Nfs3DecodeHandle, Nfs3Readlink>("nfs3_readlink", Nfs3PutReadlinkResult),
    RpcRow<Nfs3DecodeRange, Nfs3Read>("nfs3_read", Nfs3PutReadResult, RERUN, "invalid read args"),
    RpcRow<Nfs3DecodeWrite, Nfs3Write>("nfs3_write", Nfs3PutWriteResult, RERUN, "invalid write args"),
    RpcRow<Nfs3DecodeCreate, Nfs3Create>("nfs3_create", Nfs3PutCreateResult, REMEMBER),
    RpcRow<Nfs3DecodeMkdir, Nfs3Mkdir>("nfs3_mkdir", Nfs3PutCreateResult, REMEMBER),
    RpcRow<Nfs3DecodeSymlink, Nfs3Symlink>("nfs3_symlink", Nfs3PutCreateResult, REMEMBER),
    RpcRow<Nfs3DecodeMknod, Nfs3Mknod>("nfs3_mknod", Nfs3PutCreateResult, REMEMBER),
    RpcRow<Nfs3DecodeDirOp, Nfs3Remove>("nfs3_remove", Nfs3PutWccResult, REMEMBER),
    RpcRow<Nfs3DecodeDirOp, Nfs3Rmdir>("nfs3_rmdir", Nfs3PutWccResult, REMEMBER),
    RpcRow<Nfs3DecodeRename, Nfs3Rename>("nfs3_rename", Nfs3PutRenameResult, REMEMBER),
    RpcRow<Nfs3DecodeLink, Nfs3Link>("nfs3_link", Nfs3PutLinkResult, REMEMBER),
    RpcRow<Nfs3DecodeReaddir, Nfs3Readdir>("nfs3_readdir", Nfs3PutReaddirResult),
    RpcRow<Nfs3DecodeReaddirPlus, Nfs3Readdirplus>("nfs3_readdirplus", Nfs3PutReaddirResult),
    RpcRow<Nfs3DecodeHandle, Fsstat>("nfs3_fsstat", Nfs3PutFsstatResult),
    RpcRow<Nfs3DecodeHandle, Fsinfo>("nfs3_fsinfo", Nfs3PutFsinfoResult),
    RpcRow<Nfs3DecodeHandle, Pathconf>("nfs3_pathconf", Nfs3PutPathconfResult),
    RpcRow<Nfs3DecodeRange, Nfs3Commit>("nfs3_commit", Nfs3PutCommitResult),
};

}  // namespace

void Nfs3Dispatch(RpcTransport *transport, RpcCall *call)
{
    NfsServe(transport, call, Procedures, NFSPROC3_COUNT);
}

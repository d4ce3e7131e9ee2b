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

void Null(NfsRequest *request)
{
    NfsReply(request, XdrPutNothing, nullptr);
}

void Getattr(NfsRequest *request)
{
    Nfs3HandleArgs args;
    if (!NfsDecode(request, Nfs3DecodeHandle, &args, "nfs3_getattr: cannot read args\n"))
        return;
    Nfs3AttrResult result = {};
    result.status = NfsCheckCaller(request, &args.handle, false, nullptr);
    if (result.status == NFS_OK)
        result.status = GetAttrByHandle(&args.handle, &result.attributes, &request->caller);
    NfsReply(request, Nfs3PutAttrResult, &result);
}

void Lookup(NfsRequest *request)
{
    NfsDirOp args;
    if (!NfsDecode(request, Nfs3DecodeDirOp, &args, "nfs3_lookup: cannot read args\n"))
        return;
    Nfs3LookupResult result = {};
    bool dirAllowed = false;
    result.status = NfsLookup(request, &args, &result.object, &result.objectAttributes.attributes, &dirAllowed);
    result.objectAttributes.present = result.status == NFS_OK;
    if (dirAllowed)
        NfsPostOp(request, &args.dir, &result.dirAttributes);
    NfsReply(request, Nfs3PutLookupResult, &result);
}

void Access(NfsRequest *request)
{
    Nfs3AccessArgs args;
    if (!NfsDecode(request, Nfs3DecodeAccess, &args, "nfs3_access: cannot read args\n"))
        return;
    Nfs3AccessResult result = {};
    ExportContext context;
    result.status = NfsCheckCaller(request, &args.handle, false, &context);
    if (result.status == NFS_OK)
        result.status = GetAttrByHandle(&args.handle, &result.attributes.attributes, &request->caller);
    if (result.status == NFS_OK) {
        result.attributes.present = 1;
        result.access = GrantedAccess(&context, &request->caller, &result.attributes.attributes, args.access,
                                      (context.flags & EXPORT_READONLY) != 0);
    }
    NfsReply(request, Nfs3PutAccessResult, &result);
}

void Fsstat(NfsRequest *request)
{
    Nfs3HandleArgs args;
    if (!NfsDecode(request, Nfs3DecodeHandle, &args, "nfs3_fsstat: cannot read args\n"))
        return;
    Nfs3FsstatResult result = {};
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    result.status = NfsCheckCaller(request, &args.handle, false, nullptr);
    if (result.status == NFS_OK) {
        result.status = StatFs(&args.handle, &freeBlocks, &totalBlocks, &blockSize);
        NfsPostOp(request, &args.handle, &result.attributes);
    }
    result.tbytes = totalBlocks * blockSize;
    result.fbytes = result.abytes = freeBlocks * blockSize;
    result.tfiles = result.ffiles = result.afiles = 65535;
    NfsReply(request, Nfs3PutFsstatResult, &result);
}

void Fsinfo(NfsRequest *request)
{
    Nfs3HandleArgs args;
    if (!NfsDecode(request, Nfs3DecodeHandle, &args, "nfs3_fsinfo: cannot read args\n"))
        return;
    Nfs3FsinfoResult result = {};
    ExportContext context;
    result.status = NfsCheckCaller(request, &args.handle, false, &context);
    if (result.status == NFS_OK) {
        // A mount in use over TCP leaves mounttab.
        if (request->transport->protocol == RPC_PROTO_TCP)
            MarkMountTcp(request->client, context.exportEntry);
        result.properties = FSF3_HOMOGENEOUS | FSF3_CANSETTIME;
        if (ServerSettings.SoftLinks)
            result.properties |= FSF3_SYMLINK;
        result.status = FsInfo(&args.handle, &result.properties, &result.attributes.attributes, &request->caller);
    }
    if (result.status == NFS_OK) {
        const RpcTransport *transport = request->transport;
        result.attributes.present = 1;
        // Over TCP a connection's buffer grows for a large transfer; a
        // datagram keeps Datasize.
        const uint32_t size = NfsTransferSize(transport);
        result.rtmax = result.rtpref = NfsTransferLimit(transport, NFS3_READ_DATA_OFFSET, size);
        result.rtmult = FS_BLOCK_SIZE;
        // A WRITE call carries at most 512 bytes besides its data (header,
        // credential, handle, offset, count, stability, length).
        result.wtmax = result.wtpref = NfsTransferLimit(transport, 512 - 24, size);
        result.wtmult = FS_BLOCK_SIZE;
        result.dtpref = NfsTransferLimit(transport, 0, ServerSettings.DirSize);
        result.maxfilesize = NfsMaxFileSize(&context);
        NfsTimeDelta(&context, &result.timeDeltaSeconds, &result.timeDeltaNsec);
    }
    NfsReply(request, Nfs3PutFsinfoResult, &result);
}

void Pathconf(NfsRequest *request)
{
    Nfs3HandleArgs args;
    if (!NfsDecode(request, Nfs3DecodeHandle, &args, "nfs3_pathconf: cannot read args\n"))
        return;
    Nfs3PathconfResult result = {};
    ExportContext context;
    result.status = NfsCheckCaller(request, &args.handle, false, &context);
    uint32_t writable = 0;
    if (result.status == NFS_OK)
        result.status = PathConf(&args.handle, &result.linkmax, &result.nameMax, &writable,
                                 &result.attributes.attributes, &request->caller);
    if (result.status == NFS_OK) {
        result.attributes.present = 1;
        result.noTrunc = 1;
        result.caseInsensitive = 1;
        // Names keep their case unless the export or its volume lower-cases
        // them.
        result.casePreserving = (context.flags & (EXPORT_LOWERCASE | EXPORT_VOLUME_NOCASE)) == 0;
    }
    NfsReply(request, Nfs3PutPathconfResult, &result);
}

// The procedures offered, by number; null: answered with PROC_UNAVAIL.
const NfsHandler Handlers[NFSPROC3_COUNT] = {
    Null,             // NULL
    Getattr,          // GETATTR
    Nfs3Setattr,      // SETATTR
    Lookup,           // LOOKUP
    Access,           // ACCESS
    Nfs3Readlink,  // READLINK
    Nfs3Read,         // READ
    Nfs3Write,        // WRITE
    Nfs3Create,  // CREATE
    Nfs3Mkdir,  // MKDIR
    Nfs3Symlink,  // SYMLINK
    Nfs3Mknod,  // MKNOD
    Nfs3Remove,  // REMOVE
    Nfs3Rmdir,  // RMDIR
    Nfs3Rename,  // RENAME
    Nfs3Link,  // LINK
    Nfs3Readdir,  // READDIR
    Nfs3Readdirplus,  // READDIRPLUS
    Fsstat,           // FSSTAT
    Fsinfo,           // FSINFO
    Pathconf,         // PATHCONF
    Nfs3Commit,       // COMMIT
};

}  // namespace

void Nfs3Dispatch(RpcTransport *transport, RpcCall *call)
{
    NfsServe(transport, call, Handlers, NFSPROC3_COUNT);
}

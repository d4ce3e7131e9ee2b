// Caller identity, admission and reply bounds of the NFS handlers.
#include "nfs/nfs_request.h"

#include <cstring>

#include "backend/credentials.h"
#include "exports/export_context.h"
#include "exports/export_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "nfs/nfs_protocol.h"
#include "rpc/transport.h"
#include "settings/settings.h"

void NfsRequestBegin(NfsRequest *request, RpcTransport *transport, RpcCall *call)
{
    request->transport = transport;
    request->call = call;
    request->client = transport->peer.sin_addr.s_addr;
    AuthUnix *caller = &request->caller;
    if (call->cred_flavor == AUTH_UNIX) {
        const AuthUnix &from = call->auth;
        caller->stamp = from.stamp;
        caller->uid = from.uid;
        caller->gid = from.gid;
        caller->gid_count = from.gid_count <= AUTH_UNIX_MAX_GROUPS ? from.gid_count : AUTH_UNIX_MAX_GROUPS;
        memcpy(caller->name, from.name, sizeof caller->name);
        caller->name[sizeof caller->name - 1] = '\0';
        memcpy(caller->gid_list, from.gid_list, caller->gid_count * sizeof(uint32_t));
    } else {
        caller->stamp = 0;
        caller->uid = NOBODY_ID;
        caller->gid = NOBODY_ID;
        caller->gid_count = 0;
        caller->name[0] = '\0';
    }
    caller->machinename = caller->name;
    caller->gids = caller->gid_list;
}

void NfsServe(RpcTransport *transport, RpcCall *call, const RpcProcedure *table, uint32_t count)
{
    NfsRequest request;
    NfsRequestBegin(&request, transport, call);
    const RpcProcedure *procedure = RpcProcedureOf(table, count, call);
    if (procedure == nullptr) {
        LogLine(2, "nfsd: error, procedure %d not supported\n", static_cast<int>(call->proc));
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
    RpcServeProcedure(transport, call, procedure, &request);
}

uint32_t NfsCheckCaller(const NfsRequest *request, const FileHandle *handle, bool change, ExportContext *context)
{
    ExportContext own;
    if (context == nullptr)
        context = &own;
    if (!HandleContext(handle, context))
        return NFSERR_STALE;
    if (context->exportEntry == nullptr || !ExportAdmits(context->exportEntry, request->client))
        return NFSERR_ACCES;
    if (change && (context->flags & EXPORT_READONLY) != 0)
        return NFSERR_ROFS;
    return NFS_OK;
}

static uint32_t RoomBehind(const RpcTransport *transport, uint32_t header, bool grown)
{
    uint32_t size = grown && transport->limit > transport->capacity ? transport->limit : transport->capacity;
    if (transport->protocol == RPC_PROTO_UDP && size > NFS_UDP_PAYLOAD_MAX)
        size = NFS_UDP_PAYLOAD_MAX;
    return size > header ? size - header : 0;
}

uint32_t NfsReplyRoom(const NfsRequest *request)
{
    return RoomBehind(request->transport, ReplySuccessHeaderLength(request->call), false);
}

static uint32_t DataBehind(uint32_t room, uint32_t fixedBytes, uint32_t limit)
{
    uint32_t data = room > fixedBytes ? room - fixedBytes : 0;
    if (data > limit)
        data = limit;
    return data & ~3u;
}

uint32_t NfsDataLimit(const NfsRequest *request, uint32_t fixedBytes, uint32_t limit)
{
    return DataBehind(NfsReplyRoom(request), fixedBytes, limit);
}

uint32_t NfsDataRoom(NfsRequest *request, uint32_t fixedBytes, uint32_t limit)
{
    RpcTransport *transport = request->transport;
    // Four bytes more: a reply leaves in fragments of capacity - 4 bytes,
    // and this one in a single fragment.
    const uint64_t want = (uint64_t)ReplySuccessHeaderLength(request->call) + fixedBytes + limit + 4;
    TransportReserve(transport, want < transport->limit ? (uint32_t)want : transport->limit,
                     (uint32_t)transport->length, request->call);
    return NfsDataLimit(request, fixedBytes, limit);
}

uint32_t NfsTransferLimit(const RpcTransport *transport, uint32_t fixedBytes, uint32_t limit)
{
    // An accepted reply with an empty verifier: 24 bytes of header.
    return DataBehind(RoomBehind(transport, 24, true), fixedBytes, limit);
}

uint32_t NfsTransferSize(const RpcTransport *transport)
{
    return transport->protocol == RPC_PROTO_TCP ? ServerSettings.TcpTransferSize : ServerSettings.ReadSize;
}

uint32_t NfsListingSize(const RpcTransport *transport)
{
    const uint32_t dirSize = ServerSettings.DirSize;
    if (transport->protocol != RPC_PROTO_TCP)
        return dirSize;
    uint32_t size = NFS_TCP_LISTING_SIZE < ServerSettings.TcpTransferSize ? NFS_TCP_LISTING_SIZE
                                                                          : ServerSettings.TcpTransferSize;
    return size > dirSize ? size : dirSize;
}

bool NfsRangeEnd(uint64_t offset, uint32_t count, uint64_t *end)
{
    *end = offset + count;
    return *end >= offset;
}

namespace {

// The file system name of the mount's volume ("" when it cannot be told).
void FileSystemOf(const ExportContext *context, char *system, DWORD size)
{
    char root[EXPORT_PATH_SIZE];
    if (!FsGetVolumePathName(context->path, root, sizeof root) ||
        !FsGetVolumeInformation(root, nullptr, 0, nullptr, nullptr, nullptr, system, size))
        system[0] = 0;
}

}  // namespace

uint64_t NfsMaxFileSize(const ExportContext *context)
{
    const uint64_t large = (1ull << 44) - (1ull << 16);
    const uint64_t small = 0xFFFFFFFFull;
    if ((context->flags & EXPORT_VOLUME_NTFS) != 0)
        return large;
    char system[64];
    FileSystemOf(context, system, sizeof system);
    if (system[0] == 0 || strncmp(system, "FAT", 3) == 0 || strcmp(system, "CDFS") == 0)
        return small;
    return large;
}

void NfsTimeDelta(const ExportContext *context, uint32_t *seconds, uint32_t *nanoseconds)
{
    *seconds = 0;
    *nanoseconds = 100;
    if ((context->flags & EXPORT_VOLUME_NTFS) != 0)
        return;
    char system[64];
    FileSystemOf(context, system, sizeof system);
    if (strncmp(system, "FAT", 3) == 0) {
        *seconds = 2;
        *nanoseconds = 0;
    } else if (strcmp(system, "exFAT") == 0) {
        *nanoseconds = 10000000;
    } else if (strcmp(system, "CDFS") == 0) {
        *seconds = 1;
        *nanoseconds = 0;
    }
}

// The procedures of the MOUNT protocol, versions 1 to 3.
#include <cstdio>

#include "exports/export_table.h"
#include "exports/exports_names.h"
#include "exports/mount_table.h"
#include "exports/mount_text.h"
#include "log/log.h"
#include "mount/mount_folder.h"
#include "mount/mount_lists.h"
#include "mount/mount_path.h"
#include "mount/mount_service.h"
#include "mount/mount_status.h"
#include "mount/mounttab_file.h"
#include "rpc/rpc_message.h"
#include "rpc/rpc_procedure.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// One call in service and the caller's address.
struct MountRequest {
    RpcTransport *transport;
    RpcCall *call;
    uint32_t client;  // IPv4 address, network order
};

// MNT and UMNT: the path as sent.
struct MountPathArgs {
    char path[EXPORT_PATH_SIZE];
};

bool DecodePath(RpcCall *call, MountPathArgs *args)
{
    return XdrGetString(call, args->path, sizeof args->path) != 0;
}

struct MntResult {
    uint32_t version;
    uint32_t status;
    uint32_t handleLength;  // bytes of the version 3 handle
    uint8_t handle[FILE_HANDLE_SIZE];
};

// fhstatus (versions 1, 2): status, and on success the 32-byte handle.
// mountres3 (version 3): status, and on success the handle as a counted
// opaque and the list of one flavour, AUTH_UNIX.
uint32_t PutMntResult(uint8_t *out, const void *value)
{
    const MntResult *result = static_cast<const MntResult *>(value);
    uint32_t length = XdrPutWord(out, result->status);
    if (result->status != MNT3_OK)
        return length;
    if (result->version < 3)
        return length + XdrPutFixedOpaque(out + length, result->handle, FILE_HANDLE_SIZE);
    length += XdrPutOpaque(out + length, result->handle, result->handleLength);
    length += XdrPutWord(out + length, 1);
    length += XdrPutWord(out + length, AUTH_UNIX);
    return length;
}

struct EncodedList {
    const uint8_t *data;
    uint32_t length;
};

uint32_t PutEncodedList(uint8_t *out, const void *value)
{
    const EncodedList *list = static_cast<const EncodedList *>(value);
    return XdrPutFixedOpaque(out, list->data, list->length);
}

// The version 3 handle size: FHsize bytes (20 or 32).
uint32_t Version3HandleSize()
{
    uint32_t size = ServerSettings.FHsize;
    if (size < FILE_HANDLE_SHORT_SIZE || size > FILE_HANDLE_SIZE)
        size = FILE_HANDLE_SIZE;
    return size;
}

// A path as the administrator reads it in the log: in the code page when
// the clients' character set is UTF-8.
void LogForm(const char *path, char *out, uint32_t size)
{
    snprintf(out, size, "%s", path);
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(0, ServerSettings.CodePage, out, size);
}

void Mnt(MountRequest *request, MountPathArgs *args, MntResult *result)
{
    const RpcCall *call = request->call;
    char *path = args->path;
    const uint32_t client = request->client;
    const DottedAddress address = Dotted(client);
    LogEvent(2, "mount%u request %s:%s\n", call->vers, address.text, path);

    result->version = call->vers;
    uint64_t inode = 0;
    uint32_t mountId = 0;

    ExportEntry *entry = nullptr;
    uint32_t status = CanonicalMountPath(path);
    if (status != MNT3_OK) {
        LogLine(2, "mountd: path refused %s\n", path);
    } else {
        status = static_cast<uint32_t>(FindExport(path, client, &entry));
        if (status == MNT3ERR_ACCES)
            LogLine(2, "mountd: access denied %s clnt %x\n", path, static_cast<uint32_t>(ntohl(client)));
        else if (status == MNT3ERR_NOENT)
            LogLine(2, "mountd: path not in exports list %s\n", path);
    }
    if (status == MNT3_OK) {
        status = MountFolderFor(client, request->transport->protocol, path, entry, &inode, &mountId, nullptr);
        if (status == MNT3_OK) {
            MountTabSave();
            FileHandle handle;
            MakeHandle(inode, mountId, &handle);
            EncodeHandle(&handle, result->handle);
            result->handleLength = Version3HandleSize();
        }
    }
    result->status = status;

    if (LogLevel > 0) {
        char shown[EXPORT_PATH_SIZE];
        LogForm(path, shown, sizeof shown);
        if (status == MNT3_OK)
            LogEvent(1, "mount%u %s:%s\n", call->vers, address.text, shown);
        else
            LogEvent(1, "mount%u error %s:%s\n", call->vers, address.text, shown);
    }
    LogLine(2, "mountd: %u %u %x %s\n", result->status, static_cast<uint32_t>(inode), mountId, path);
}

void Umnt(MountRequest *request, MountPathArgs *args, RpcNothing *)
{
    char *path = args->path;
    const uint32_t client = request->client;
    ExportEntry *entry = nullptr;
    if (CanonicalMountPath(path) == MNT3_OK && FindExport(path, client, &entry) == 0) {
        MountRemoveClient(client, path, 0);
        MountTabSave();
    }
    LogEvent(1, "unmount %s:%s\n", Dotted(client).text, path);
}

void UmntAll(MountRequest *request, const RpcNothing *, RpcNothing *)
{
    LogEvent(1, "unmount all %s\n", Dotted(request->client).text);
    MountRemoveClient(request->client, nullptr, 0);
    MountTabSave();
}

// DUMP and EXPORT: the list is written in place behind the reply header;
// the whole reply stays within MOUNT_REPLY_LIMIT bytes.  The lists asked for
// by a client show in the log at level 2; those asked over loopback (the
// window's pages ask every two seconds) only at level 3.
void List(const MountRequest *request, bool exports, EncodedList *list)
{
    static_assert(MOUNT_REPLY_LIMIT <= MOUNT_BUFFER_SIZE, "lists fit the handle's buffer");
    const uint32_t client = request->client;
    LogEvent(client == htonl(0x7F000001u) ? 3 : 2, "%s dump %s\n", exports ? "export" : "mount", Dotted(client).text);
    RpcTransport *transport = request->transport;
    uint32_t header = ReplySuccessHeaderLength(request->call);
    uint32_t limit = MOUNT_REPLY_LIMIT > header ? MOUNT_REPLY_LIMIT - header : 0;
    if (limit > transport->capacity - header)
        limit = transport->capacity > header ? transport->capacity - header : 0;
    uint8_t *out = transport->buffer + header;
    list->data = out;
    list->length = exports ? EncodeExportList(client, out, limit) : EncodeMountList(client, out, limit);
}

void Dump(MountRequest *request, const RpcNothing *, EncodedList *list)
{
    List(request, false, list);
}

void Export(MountRequest *request, const RpcNothing *, EncodedList *list)
{
    List(request, true, list);
}

// The procedures, the same in versions 1 to 3 (MNT answers each in its
// version's form); none of them is answered from the duplicate request
// cache.
const RpcReplyCacheKind RERUN = RpcReplyCacheKind::RERUN;
const RpcProcedure Procedures[] = {
    RpcNullRow("mountd"),                                                                          // NULL
    RpcRow<DecodePath, Mnt>("mountd", PutMntResult, RERUN, "cannot decode mount path"),            // MNT
    RpcRow<RpcDecodeNothing, Dump>("mountd", PutEncodedList),                                      // DUMP
    RpcRow<DecodePath, Umnt>("mountd", XdrPutNothing, RERUN, "cannot decode unmount request"),     // UMNT
    RpcRow<RpcDecodeNothing, UmntAll>("mountd", XdrPutNothing),                                    // UMNTALL
    RpcRow<RpcDecodeNothing, Export>("mountd", PutEncodedList),                                    // EXPORT
};
static_assert(sizeof Procedures / sizeof *Procedures == MOUNTPROC_EXPORT + 1, "a row per procedure");

}  // namespace

int ExportVisible(uint32_t clientAddress, const ExportEntry *entry)
{
    if (entry == nullptr || (entry->flags & EXPORT_HIDE) != 0)
        return 0;
    if (!ServerSettings.FilterExports || clientAddress == htonl(0x7F000001u))
        return 1;
    if (entry->options.clientCount == 0)
        return 1;
    return ExportAdmits(entry, clientAddress);
}

void MountDispatch(RpcTransport *transport, RpcCall *call)
{
    const RpcProcedure *procedure = RpcProcedureOf(Procedures, sizeof Procedures / sizeof *Procedures, call);
    if (procedure == nullptr) {
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        return;
    }
    MountRequest request = {transport, call, transport->peer.sin_addr.s_addr};
    RpcServeProcedure(transport, call, procedure, &request);
}

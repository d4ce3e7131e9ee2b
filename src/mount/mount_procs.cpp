// The procedures of the MOUNT protocol, versions 1 to 3.
#include <cstdio>
#include <cstring>

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
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

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

uint32_t ClientOf(const RpcTransport *transport)
{
    return transport->peer.sin_addr.s_addr;
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

void Mnt(RpcTransport *transport, RpcCall *call)
{
    char path[EXPORT_PATH_SIZE];
    if (XdrGetString(call, path, sizeof path) == 0) {
        LogLine(2, "mountd: cannot decode mount path\n");
        ReplyAccepted(transport, call, GARBAGE_ARGS);
        return;
    }
    const uint32_t client = ClientOf(transport);
    const DottedAddress address = Dotted(client);
    LogEvent(2, "mount%u request %s:%s\n", call->vers, address.text, path);

    MntResult result;
    memset(&result, 0, sizeof result);
    result.version = call->vers;
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
        status = MountFolderFor(client, transport->protocol, path, entry, &inode, &mountId, nullptr);
        if (status == MNT3_OK) {
            MountTabSave();
            FileHandle handle;
            MakeHandle(inode, mountId, &handle);
            EncodeHandle(&handle, result.handle);
            result.handleLength = Version3HandleSize();
        }
    }
    result.status = status;

    if (LogLevel > 0) {
        char shown[EXPORT_PATH_SIZE];
        LogForm(path, shown, sizeof shown);
        if (status == MNT3_OK)
            LogEvent(1, "mount%u %s:%s\n", call->vers, address.text, shown);
        else
            LogEvent(1, "mount%u error %s:%s\n", call->vers, address.text, shown);
    }
    LogLine(2, "mountd: %u %u %x %s\n", result.status, static_cast<uint32_t>(inode), mountId, path);
    ReplySuccess(transport, call, PutMntResult, &result);
}

void Umnt(RpcTransport *transport, RpcCall *call)
{
    char path[EXPORT_PATH_SIZE];
    if (XdrGetString(call, path, sizeof path) == 0) {
        LogLine(2, "mountd: cannot decode unmount request\n");
        ReplyAccepted(transport, call, GARBAGE_ARGS);
        return;
    }
    const uint32_t client = ClientOf(transport);
    ExportEntry *entry = nullptr;
    if (CanonicalMountPath(path) == MNT3_OK && FindExport(path, client, &entry) == 0) {
        MountRemoveClient(client, path, 0);
        MountTabSave();
    }
    LogEvent(1, "unmount %s:%s\n", Dotted(client).text, path);
    ReplySuccess(transport, call, XdrPutNothing, nullptr);
}

void UmntAll(RpcTransport *transport, RpcCall *call)
{
    const uint32_t client = ClientOf(transport);
    LogEvent(1, "unmount all %s\n", Dotted(client).text);
    MountRemoveClient(client, nullptr, 0);
    MountTabSave();
    ReplySuccess(transport, call, XdrPutNothing, nullptr);
}

// DUMP and EXPORT: the list is built apart from the transport's buffer and
// copied behind the reply header; the whole reply stays within
// MOUNT_REPLY_LIMIT bytes.
void ReplyList(RpcTransport *transport, RpcCall *call, bool exports)
{
    static_assert(MOUNT_REPLY_LIMIT <= MOUNT_BUFFER_SIZE, "lists fit the handle's buffer");
    uint8_t body[MOUNT_REPLY_LIMIT];
    uint32_t header = ReplySuccessHeaderLength(call);
    uint32_t limit = MOUNT_REPLY_LIMIT > header ? MOUNT_REPLY_LIMIT - header : 0;
    if (limit > transport->capacity - header)
        limit = transport->capacity > header ? transport->capacity - header : 0;
    const uint32_t client = ClientOf(transport);
    EncodedList list;
    list.data = body;
    list.length = exports ? EncodeExportList(client, body, limit) : EncodeMountList(client, body, limit);
    ReplySuccess(transport, call, PutEncodedList, &list);
}

// The lists asked for by a client show at level 2; those asked over loopback
// (the window's pages ask every two seconds) only at level 3.
int32_t ListLogLevel(const RpcTransport *transport)
{
    return ClientOf(transport) == htonl(0x7F000001u) ? 3 : 2;
}

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
    switch (call->proc) {
    case MOUNTPROC_NULL:
        ReplySuccess(transport, call, XdrPutNothing, nullptr);
        break;
    case MOUNTPROC_MNT:
        Mnt(transport, call);
        break;
    case MOUNTPROC_DUMP:
        LogEvent(ListLogLevel(transport), "mount dump %s\n", Dotted(ClientOf(transport)).text);
        ReplyList(transport, call, false);
        break;
    case MOUNTPROC_UMNT:
        Umnt(transport, call);
        break;
    case MOUNTPROC_UMNTALL:
        UmntAll(transport, call);
        break;
    case MOUNTPROC_EXPORT:
        LogEvent(ListLogLevel(transport), "export dump %s\n", Dotted(ClientOf(transport)).text);
        ReplyList(transport, call, true);
        break;
    default:
        ReplyAccepted(transport, call, PROC_UNAVAIL);
        break;
    }
}

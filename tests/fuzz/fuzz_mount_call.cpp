// Random MOUNT calls through the mount service's dispatch: the first byte
// picks the version and procedure, the second the caller (127.0.0.x, so every
// reply stays on loopback), the rest are the arguments.  Besides memory
// errors it checks what the service promises: every reply fits the buffer
// and, for the lists, stays within 7680 bytes; the table's records all point
// at exports whose mount counts add up; and mounttab, its appended changes
// replayed, holds exactly the UDP records.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "exports/exports.h"
#include "fs/inode_table.h"
#include "log/log.h"
#include "mount/mount_service.h"
#include "mount/mount_table.h"
#include "mount/mounttab_file.h"
#include "rpc/rpc_message.h"
#include "rpc/transport.h"
#include "support/rpc_test_client.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

TempDir *dir = nullptr;
RpcTransport *transport = nullptr;
RpcCall call;
uint16_t ownPort = 0;
unsigned inputs = 0;

void Check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "mount call fuzz: %s\n", what);
        abort();
    }
}

int NoHostName(uint32_t, char *, size_t)
{
    return 0;
}

void Setup()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    dir = new TempDir();
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", dir->win().c_str());
    SelectRegistrySettings();
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Cache = 8;
    ServerSettings.Lowercase = 1;
    ServerSettings.CharSetActive = 1;
    ServerSettings.FHsize = 32;
    ServerSettings.FilterExports = 1;
    ServerSettings.WebNFS = 1;
    memset(CharMap, 0, sizeof(CharMap));
    PortMapperRegistration = 0;
    SetHostAddressLookup(NoHostName);
    for (const char *folder : {"a", "a/b", "a/b/c", "p"})
        std::filesystem::create_directories(dir->Native(folder));
    std::string root = dir->win();
    root.pop_back();
    std::string exports = root + "\\a -alldirs 127.0.0.1 127.0.0.2 127.0.0.3\n" + root +
                          "\\a\\b -name:bee -readonly -maproot:0:0\n" + root + "\\p -public -hide -range 127.0.0.4 "
                          "127.0.0.9\n";
    FILE *file = fopen(dir->Native("exports").c_str(), "wb");
    Check(file != nullptr, "cannot write the exports file");
    fwrite(exports.data(), 1, exports.size(), file);
    fclose(file);
    Check(OpenInodeTableAt(dir->Win("inodes.nfs").c_str(), 1), "cannot open the inode table");
    ExportsLoad();

    SOCKET socket = OpenUdpSocket(0, 0);
    Check(socket != INVALID_SOCKET, "no UDP socket");
    ownPort = SocketLocalPort(socket);
    transport = NewTransport(socket, RPC_PROTO_UDP, ownPort, MOUNT_BUFFER_SIZE);
    Check(transport != nullptr, "no transport");
}


void CheckTable()
{
    std::set<uint32_t> udpRecords;
    EnterCriticalSection(&MountLock);
    uint32_t total = 0;
    for (MountRecord *record = MountTableHead(); record != nullptr; record = record->next) {
        Check(record->self == record, "a record's self pointer is wrong");
        Check(record->exportEntry != nullptr && record->exportEntry->path != nullptr, "a record lost its export");
        Check(record->path != nullptr, "a record has no path string");
        if ((record->kind & MOUNT_KIND_TRANSPORT) == MOUNT_KIND_UDP)
            udpRecords.insert(record->mountId);
        total++;
    }
    uint32_t counted = 0;
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry))
        counted += entry->options.mountCount;
    LeaveCriticalSection(&MountLock);
    Check(counted == total, "the exports' mount counts do not add up to the records");

    // mounttab, its changes replayed, holds exactly the UDP records.
    FILE *file = fopen(dir->Native("mounttab").c_str(), "rb");
    if (file == nullptr)
        return;
    std::set<uint32_t> inFile;
    char line[MOUNTTAB_LINE_SIZE];
    while (fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        MountTabLine parsed;
        int kind = ParseMountTabLine(line, &parsed);
        Check(kind == MOUNTTAB_RECORD || kind == MOUNTTAB_REMOVED, "a line of mounttab does not parse");
        if (kind == MOUNTTAB_RECORD)
            inFile.insert(parsed.mountId);
        else
            inFile.erase(parsed.mountId);
    }
    fclose(file);
    Check(inFile == udpRecords, "mounttab does not hold exactly the UDP mounts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (dir == nullptr)
        Setup();
    if (size < 2 || size > MOUNT_BUFFER_SIZE - 512)
        return 0;
    memset(&call, 0, sizeof call);
    call.prog = MOUNT_PROG;
    call.vers = 1 + (data[0] >> 4) % 3;
    call.proc = data[0] & 0x07;
    call.cred_flavor = AUTH_NULL;
    call.verf_flavor = AUTH_NULL;
    // The arguments sit in the transport's buffer, as after a receive.
    memcpy(transport->buffer + 64, data + 2, size - 2);
    call.args = transport->buffer + 64;
    call.arg_length = static_cast<uint32_t>(size - 2);
    call.arg_pos = 0;
    transport->peer.sin_family = AF_INET;
    transport->peer.sin_port = htons(ownPort);
    transport->peer.sin_addr.s_addr = htonl(0x7F000000u | (1u + data[1] % 10));
    transport->xid = 0x1000 + inputs;
    transport->length = static_cast<int32_t>(size);

    MountDispatch(transport, &call);
    Check(transport->length >= 24 && static_cast<uint32_t>(transport->length) <= transport->capacity,
          "the reply does not fit the buffer");
    if (call.proc == MOUNTPROC_DUMP || call.proc == MOUNTPROC_EXPORT)
        Check(transport->length <= static_cast<int32_t>(MOUNT_REPLY_LIMIT), "a list passed 7680 bytes");

    // Now and then a few lookups through the public folder too.
    if (call.proc == 7 && size > 3) {
        char name[300];
        size_t n = size - 2 < sizeof name - 1 ? size - 2 : sizeof name - 1;
        memcpy(name, data + 2, n);
        name[n] = '\0';
        FileHandle handle;
        int status = WebNfsLookup(&handle, name, transport->peer.sin_addr.s_addr, MOUNT_KIND_UDP);
        Check(status == 0 || status == 2 || status == 13 || status == 19 || status == 63, "odd WebNFS status");
        if (status == 0)
            Check(strcmp(name, ".") == 0, "a WebNFS hit keeps its name");
    }

    if (++inputs % 64 == 0) {
        DrainSocket(transport->socket);
        CheckTable();
    }
    // Keep the table small: an occasional UMNTALL of everyone.
    if (inputs % 512 == 0) {
        for (uint32_t i = 1; i <= 10; i++)
            MountRemoveClient(htonl(0x7F000000u | i), nullptr, 0);
        MountTabSave();
    }
    return 0;
}

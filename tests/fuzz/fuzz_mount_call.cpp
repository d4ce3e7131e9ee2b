// Random MOUNT calls through the mount service's dispatch (first byte:
// version and procedure; second: the caller 127.0.0.x).  Every reply fits its
// buffer, the lists 7680 bytes; the records' exports count them right; and
// mounttab, its changes replayed, holds exactly the UDP records.
#include <set>

#include "fuzz_world.h"
#include "mount/mount_service.h"
#include "mount/mounttab_file.h"
#include "support/rpc_test_client.h"

namespace {

TempDir *dir = nullptr;
RpcTransport *transport = nullptr;
RpcCall call;
unsigned inputs = 0;

void Setup()
{
    RpcTestStartup();
    dir = new TempDir();
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Cache = 8;
    ServerSettings.Lowercase = 1;
    ServerSettings.CharSetActive = 1;
    ServerSettings.FHsize = 32;
    ServerSettings.FilterExports = 1;
    ServerSettings.WebNFS = 1;
    ServeFolder(*dir, {"a", "a/b", "a/b/c", "p"},
                "@\\a -alldirs 127.0.0.1 127.0.0.2 127.0.0.3\n@\\a\\b -name:bee -readonly -maproot:0:0\n"
                "@\\p -public -hide -range 127.0.0.4 127.0.0.9\n");
    transport = OwnUdpTransport(MOUNT_BUFFER_SIZE);
}

void CheckTable()
{
    std::set<uint32_t> udpRecords;
    LockTake(&MountLock);
    uint32_t total = 0;
    for (MountRecord *record = MountTableHead(); record != nullptr; record = record->next) {
        Check(record->self == record && record->path != nullptr && record->exportEntry != nullptr &&
                  record->exportEntry->path != nullptr,
              "a record lost its self pointer, path or export");
        if ((record->kind & MOUNT_KIND_TRANSPORT) == MOUNT_KIND_UDP)
            udpRecords.insert(record->mountId);
        total++;
    }
    uint32_t counted = 0;
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = ExportNext(entry))
        counted += entry->options.mountCount;
    LockGive(&MountLock);
    Check(counted == total, "the exports' mount counts do not add up to the records");

    // mounttab, its changes replayed, holds exactly the UDP records.
    std::set<uint32_t> inFile;
    std::string text = ReadFileBytes(dir->Native("mounttab"));
    for (char *line = strtok(text.data(), "\r\n"); line != nullptr; line = strtok(nullptr, "\r\n")) {
        MountTabLine parsed;
        int kind = ParseMountTabLine(line, &parsed);
        Check(kind == MOUNTTAB_RECORD || kind == MOUNTTAB_REMOVED, "a line of mounttab does not parse");
        kind == MOUNTTAB_RECORD ? (void)inFile.insert(parsed.mountId) : (void)inFile.erase(parsed.mountId);
    }
    Check(!FileExists(dir->Native("mounttab")) || inFile == udpRecords, "mounttab does not hold the UDP mounts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (dir == nullptr)
        Setup();
    if (size < 2 || size > MOUNT_BUFFER_SIZE - 512)
        return 0;
    Received(transport, &call, MOUNT_PROG, 1 + (data[0] >> 4) % 3, data[0] & 0x07, data + 2, size - 2,
             1u + data[1] % 10, 0x1000 + inputs);
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

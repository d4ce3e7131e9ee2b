// The mount table: ids, refresh of a repeated mount, own paths, the
// indexes, the bounds, removal, marks and the host-name threads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "exports/export_context.h"
#include "log/log.h"
#include "mount_fixture.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

uint32_t Add(uint32_t client, const std::string &path, ExportEntry *entry, uint32_t kind = MOUNT_KIND_UDP,
             int *result = nullptr)
{
    uint32_t id = 0;
    int r = MountAdd(client, kind, path.c_str(), 100, entry, 0x1234, 255, entry->flags, &id);
    if (result != nullptr)
        *result = r;
    EXPECT_NE(r, MOUNT_ADD_FAILED);
    return id;
}

}  // namespace

TEST(MountId, IsTheCrcOfAddressAndFolderWithoutCounter)
{
    // "00000000" "0501a8c0" "C:\data": counter 0, 192.168.1.5 as held in
    // memory on a little-endian machine, the path.
    EXPECT_EQ(MountIdOf(0, 0x0501a8c0u, "C:\\data"), 0xc7533e5bu);
    EXPECT_NE(MountIdOf(1, 0x0501a8c0u, "C:\\data"), MountIdOf(0, 0x0501a8c0u, "C:\\data"));
    // A new record's id: the folder in lower case, the counter always 0.
    EXPECT_EQ(StableMountId(0x0501a8c0u, "C:\\DATA"), MountIdOf(0, 0x0501a8c0u, "c:\\data"));
}

TEST_F(MountTest, IdsDependOnClientAndFolderOnly)
{
    LoadExports("@\\data -alldirs\n");
    ExportEntry *entry = ExportEntries().at(0);
    const std::string path = entry->path;
    int result = 0;
    uint32_t first = Add(Addr("192.168.1.5"), path, entry, MOUNT_KIND_UDP, &result);
    EXPECT_EQ(result, MOUNT_ADD_NEW);
    EXPECT_EQ(first, StableMountId(Addr("192.168.1.5"), path.c_str()));
    uint32_t second = Add(Addr("192.168.1.6"), path, entry, MOUNT_KIND_UDP, &result);
    EXPECT_EQ(result, MOUNT_ADD_NEW);
    EXPECT_EQ(second, StableMountId(Addr("192.168.1.6"), path.c_str()));
    EXPECT_EQ(entry->options.mountCount, 2u);

    // Newest first, and the export root keeps no path of its own.
    std::vector<MountRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].mountId, second);
    EXPECT_EQ(records[1].mountId, first);
    EXPECT_STREQ(records[0].path, "");
    EXPECT_EQ(records[0].self, MountTableHead());

    // Unmounted and mounted again, whatever came between: the same id, so
    // that handles of the earlier mount work again.
    EXPECT_EQ(MountRemoveClient(Addr("192.168.1.5"), nullptr, 0), 1);
    Add(Addr("192.168.1.9"), path, entry);
    EXPECT_EQ(Add(Addr("192.168.1.5"), path, entry), first);
}

// One client cannot fill the table: MountsPerClient records per address and
// Mounts in all; a refusal is logged, refreshing a record still works.
TEST_F(MountTest, RecordsAreBoundedPerClientAndInAll)
{
    LoadExports("@\\data -alldirs\n");
    ServerSettings.Log = 1;
    OpenLog(dir.win().c_str());
    ExportEntry *entry = ExportEntries().at(0);
    const int32_t savedPerClient = MountsPerClient;
    const int32_t savedMax = MountsMax;
    MountsPerClient = 2;
    MountsMax = 3;
    const struct {
        const char *client;
        uint32_t kind;
        std::string path;
        int result;
    } steps[] = {
        {"10.0.0.1", MOUNT_KIND_UDP, entry->path, MOUNT_ADD_NEW},
        {"10.0.0.1", MOUNT_KIND_UDP, Win("data\\sub"), MOUNT_ADD_NEW},
        {"10.0.0.1", MOUNT_KIND_UDP, Win("data\\sub\\deep"), MOUNT_ADD_LIMIT},
        {"10.0.0.1", MOUNT_KIND_TCP, Win("data\\sub"), MOUNT_ADD_REFRESHED},
        {"10.0.0.2", MOUNT_KIND_UDP, entry->path, MOUNT_ADD_NEW},
        {"10.0.0.3", MOUNT_KIND_UDP, entry->path, MOUNT_ADD_LIMIT},
    };
    for (const auto &s : steps) {
        int result = 0;
        Add(Addr(s.client), s.path, entry, s.kind, &result);
        EXPECT_EQ(result, s.result) << s.client << " " << s.path;
    }
    EXPECT_EQ(MountCount(), 3u);
    MountsPerClient = savedPerClient;
    MountsMax = savedMax;
    CloseLog();
    const std::string log = LogText();
    EXPECT_NE(log.find("mountd: 10.0.0.1 has 2 mounts, no more are taken"), std::string::npos) << log;
    EXPECT_NE(log.find("mountd: the mount table is full (3 mounts), 10.0.0.3 refused"), std::string::npos) << log;
}

TEST_F(MountTest, MountingTheSameFolderAgainRefreshesTheRecord)
{
    LoadExports("@\\data -alldirs\n");
    ExportEntry *entry = ExportEntries().at(0);
    uint32_t id = Add(Addr("192.168.1.5"), entry->path, entry);
    ASSERT_TRUE(MountWaitHostLookups(5000));
    EXPECT_STREQ(Records().at(0).hostName, "client-192-168-1-5");

    // The same folder in other letter case, now over TCP on another volume.
    std::string upper = entry->path;
    for (char &c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    uint32_t again = 0;
    EXPECT_EQ(MountAdd(Addr("192.168.1.5"), MOUNT_KIND_TCP, upper.c_str(), 555, entry, 0x9999, 12, 0x77, &again),
              MOUNT_ADD_REFRESHED);
    EXPECT_EQ(again, id);
    EXPECT_EQ(MountCount(), 1u);
    EXPECT_EQ(entry->options.mountCount, 1u);
    MountRecord record = Records().at(0);
    EXPECT_EQ(record.kind, MOUNT_KIND_TCP);
    EXPECT_EQ(record.inode, 555u);
    EXPECT_EQ(record.volumeSerial, 0x9999u);
    EXPECT_EQ(record.maxNameLength, 12u);
    EXPECT_EQ(record.flags, 0x77u);
    ASSERT_TRUE(MountWaitHostLookups(5000));
    EXPECT_STREQ(Records().at(0).hostName, "client-192-168-1-5");
}

TEST_F(MountTest, ContextOfASubfolderMountHasItsOwnRoot)
{
    LoadExports("@\\data -alldirs -readonly\n");
    ExportEntry *entry = ExportEntries().at(0);
    const std::string sub = Win("data\\sub");
    uint32_t id = Add(Addr("192.168.1.5"), sub, entry, MOUNT_KIND_UDP | MOUNT_KIND_WEBNFS);
    EXPECT_EQ(std::string(Records().at(0).path), sub);

    ExportContext context;
    ASSERT_EQ(ExportContextById(id, &context), 1);
    EXPECT_EQ(std::string(context.path), sub);
    EXPECT_EQ(context.exportEntry, entry);
    EXPECT_EQ(context.kind, MOUNT_KIND_UDP | MOUNT_KIND_WEBNFS);
    EXPECT_EQ(context.volumeSerial, 0x1234u);
    EXPECT_EQ(context.maxNameLength, 255u);
    EXPECT_EQ(context.flags & EXPORT_READONLY, EXPORT_READONLY);

    // The context guards the subfolder, not the whole export.
    context.flags |= EXPORT_VOLUME_FIXED;
    EXPECT_EQ(CheckContainment((sub + "\\deep").c_str(), &context), 0);
    EXPECT_NE(CheckContainment(entry->path, &context), 0);
    EXPECT_NE(CheckContainment((sub + "2").c_str(), &context), 0);
    EXPECT_NE(CheckContainment((sub + "\\..\\..\\other").c_str(), &context), 0);

    EXPECT_EQ(ExportContextById(id + 1, &context), 0);
}

TEST_F(MountTest, ManyRecordsResolveEachId)
{
    LoadExports("@\\data -alldirs\n");
    ExportEntry *entry = ExportEntries().at(0);
    // 600 records: the indexes grow under them.
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 600; i++) {
        uint32_t client = htonl(0x0A000000u + i);
        ids.push_back(Add(client, entry->path, entry));
    }
    ASSERT_TRUE(MountWaitHostLookups(10000));
    EXPECT_EQ(MountCount(), 600u);
    for (uint32_t round = 0; round < 2; round++) {
        for (uint32_t i = 0; i < ids.size(); i++) {
            ExportContext context;
            ASSERT_EQ(ExportContextById(ids[i], &context), 1) << i;
            ASSERT_EQ(context.exportEntry, entry);
        }
    }
    // Every id is unique, and removing a record makes exactly its id stale.
    std::vector<uint32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (uint32_t i = 0; i < ids.size(); i += 2)
        EXPECT_EQ(MountRemoveClient(htonl(0x0A000000u + i), nullptr, 0), 1);
    for (uint32_t i = 0; i < ids.size(); i++) {
        ExportContext context;
        EXPECT_EQ(ExportContextById(ids[i], &context), i % 2) << i;
    }
    EXPECT_EQ(entry->options.mountCount, 300u);
}

TEST_F(MountTest, RemoveClientTakesTheFirstMatchOrEverythingOfTheClient)
{
    LoadExports("@\\data -alldirs\n@\\other\n");
    ExportEntry *data = ExportEntries().at(0);
    ExportEntry *other = ExportEntries().at(1);
    const uint32_t a = Addr("192.168.1.5");
    const uint32_t b = Addr("192.168.1.6");
    Add(a, data->path, data, MOUNT_KIND_UDP);
    Add(a, Win("data\\sub"), data, MOUNT_KIND_TCP);
    Add(a, other->path, other, MOUNT_KIND_UDP);
    Add(b, data->path, data, MOUNT_KIND_UDP);

    // Kind filter: the TCP mount of the subfolder stays for a UDP removal.
    EXPECT_EQ(MountRemoveClient(a, Win("data\\sub").c_str(), MOUNT_KIND_UDP), 0);
    EXPECT_EQ(MountRemoveClient(a, Win("DATA\\SUB").c_str(), MOUNT_KIND_TCP), 1);
    EXPECT_EQ(MountRemoveClient(a, data->path, 0), 1);
    EXPECT_EQ(MountCount(), 2u);
    EXPECT_EQ(data->options.mountCount, 1u);
    EXPECT_EQ(MountRemoveClient(a, nullptr, 0), 1);
    EXPECT_EQ(other->options.mountCount, 0u);
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records().at(0).clientAddress, b);
}

TEST_F(MountTest, RemoveOnlyKnowsRecordsOfTheTableAndKeepsCountsAtZero)
{
    LoadExports("@\\data\n");
    ExportEntry *entry = ExportEntries().at(0);
    Add(Addr("192.168.1.5"), entry->path, entry);
    MountRecord *record = MountTableHead();
    entry->options.mountCount = 0;  // as after an export reload that lost the count
    EXPECT_EQ(MountRemove(record), 1);
    EXPECT_EQ(entry->options.mountCount, 0u);
    EXPECT_EQ(MountRemove(record), 0);
    EXPECT_EQ(MountRemove(nullptr), 0);
}

namespace {

std::atomic<int> SlowLookups{0};

int SlowLookup(uint32_t address, char *name, size_t size)
{
    SlowLookups++;
    Sleep(100);
    return FakeHostLookup(address, name, size);
}

int NoName(uint32_t, char *, size_t)
{
    return 0;
}

}  // namespace

TEST_F(MountTest, HostNameOfARemovedRecordIsDropped)
{
    LoadExports("@\\data\n");
    ExportEntry *entry = ExportEntries().at(0);
    SetHostAddressLookup(SlowLookup);
    Add(Addr("192.168.1.5"), entry->path, entry);
    // Removed, and the memory likely reused by the next record, before the
    // look-up ends: the name must not land in the new record.
    EXPECT_EQ(MountRemoveClient(Addr("192.168.1.5"), nullptr, 0), 1);
    SetHostAddressLookup(NoName);
    Add(Addr("192.168.1.7"), entry->path, entry);
    ASSERT_TRUE(MountWaitHostLookups(5000));
    EXPECT_GE(SlowLookups.load(), 1);
    EXPECT_STREQ(Records().at(0).hostName, "");
}

TEST_F(MountTest, HostLookupsAreBoundedAndMountsStillSucceed)
{
    LoadExports("@\\data\n");
    ExportEntry *entry = ExportEntries().at(0);
    SetHostAddressLookup(SlowLookup);
    SlowLookups = 0;
    for (uint32_t i = 0; i < 40; i++)
        Add(htonl(0x0A010000u + i), entry->path, entry);
    EXPECT_LE(MountHostLookupsRunning(), MOUNT_MAX_HOST_LOOKUPS);
    EXPECT_EQ(MountCount(), 40u);
    ASSERT_TRUE(MountWaitHostLookups(5000));
    EXPECT_LE(SlowLookups.load(), 40);
    EXPECT_GE(SlowLookups.load(), 1);
}

TEST_F(MountTest, ConcurrentMountsLookupsAndRemovalsKeepTheTableConsistent)
{
    LoadExports("@\\data -alldirs\n");
    ExportEntry *entry = ExportEntries().at(0);
    const std::string path = entry->path;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (uint32_t i = 0; i < 300; i++) {
                uint32_t client = htonl(0x0B000000u + t * 1000 + (i % 20));
                uint32_t id = 0;
                if (MountAdd(client, MOUNT_KIND_UDP, path.c_str(), 1, entry, 1, 255, 0, &id) == MOUNT_ADD_FAILED)
                    failures++;
                ExportContext context;
                if (ExportContextById(id, &context) && context.exportEntry != entry)
                    failures++;
                if (i % 3 == 0)
                    MountRemoveClient(client, nullptr, 0);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    ASSERT_TRUE(MountWaitHostLookups(10000));
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(entry->options.mountCount, MountCount());
    EXPECT_LE(MountCount(), 80u);
}

// The mount table: the bounds, the host-name threads and concurrent use.
// (Ids of client and folder, spellings of one folder, UMNT and UMNTALL:
// integration mount_test.sh.)
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "exports/export_context.h"
#include "exports/mount_table.h"
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

// One client cannot fill the table: MountsPerClient records per address and
// Mounts in all; refreshing a record still works.
TEST_F(MountTest, RecordsAreBoundedPerClientAndInAll)
{
    LoadExports("@\\data -alldirs\n");
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

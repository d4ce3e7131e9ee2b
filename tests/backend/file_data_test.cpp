// The open-file cache under reads and writes of real files: its levels, a
// full cache, the sweeper, locked and busy entries, concurrent users.  (The
// bytes, and access on a cache hit: the running server's wire tests.)
#include "handles_fixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "backend/file_data.h"
#include "backend/open_file_cache.h"
#include "fs/nfs_status.h"
#include "platform/win32.h"

namespace {

std::string Pattern(uint64_t offset, size_t count)
{
    std::string bytes(count, 0);
    for (size_t i = 0; i < count; i++)
        bytes[i] = static_cast<char>((offset + i) * 131 % 251 + 1);
    return bytes;
}

class FileDataTest : public HandlesTest {
protected:
    void SetUp() override
    {
        HandlesTest::SetUp();
        CacheStart();
    }
    void TearDown() override
    {
        CacheCloseAll();
        for (ExportEntry &e : entries)
            CacheFree(&e.options);
        CacheSetLockRelease(nullptr);
        HandlesTest::TearDown();
    }
    // Mounts data/ with a cache of size entries and returns the handle of name
    // in it, created with bytes.
    FileHandle Open(const char *name, const char *bytes, uint32_t size = 8)
    {
        MakeFile(std::string("data/") + name, bytes);
        if (root_.mark == 0) {
            root_ = Mount(Win("data"), 0, 022, &entry_);
            entry_->options.cacheSize = size;
            CacheAllocate(&entry_->options);
        }
        FileHandle handle;
        EXPECT_EQ(LookupName(root_, name, &handle), 0u) << name;
        return handle;
    }
    uint32_t Read(const FileHandle &h, uint64_t offset, uint32_t count, std::string *out)
    {
        AuthUnix who = caller;
        FileAttributes attributes;
        out->assign(count, 0);
        uint32_t status = ReadFileData(&h, offset, &count, reinterpret_cast<uint8_t *>(&(*out)[0]), &attributes, &who);
        out->resize(status == 0 ? count : 0);
        return status;
    }
    uint32_t Write(const FileHandle &h, uint64_t offset, const std::string &bytes, uint32_t stability = WRITE_UNSTABLE)
    {
        AuthUnix who = caller;
        uint32_t count = static_cast<uint32_t>(bytes.size());
        FileAttributes after, before;
        uint32_t status = WriteFileData(&h, offset, &count, &stability,
                                        reinterpret_cast<const uint8_t *>(bytes.data()), &after, &before, &who);
        return status == 0 && count != bytes.size() ? ~0u : status;
    }
    uint32_t OpenHandles() const { return CacheOpenHandles(&entry_->options); }

    FileHandle root_ = {};
    ExportEntry *entry_ = nullptr;
};

} // namespace

TEST_F(FileDataTest, CacheLevelsFullCacheAndSweeper)
{
    FileHandle a = Open("a", "aaaa", 1);
    FileHandle b = Open("b", "bbbb");
    std::string got;
    // A write after a read replaces the read handle; a full cache still serves.
    ASSERT_EQ(Read(a, 0, 4, &got), 0u);
    ASSERT_EQ(Write(a, 0, "A"), 0u);
    EXPECT_EQ(OpenHandles(), 1u);
    ASSERT_EQ(Write(b, 1, "B"), 0u);
    ASSERT_EQ(Read(b, 0, 4, &got), 0u);
    EXPECT_EQ(got, "bBbb");
    EXPECT_EQ(OpenHandles(), 1u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/b")), "bBbb");  // an uncached write is flushed and closed

    // The sweeper: nothing closes while fresh, everything after a second
    // (its thread on the running server: NlmLive
    // AFullOpenFileCacheRefusesTheLockItCannotKeep waits for it).
    EXPECT_EQ(CacheSweep(GetTickCount()), 0u);
    EXPECT_EQ(OpenHandles(), 1u);
    CacheSweep(GetTickCount() + 1500);
    EXPECT_EQ(OpenHandles(), 0u);
}

namespace {
std::atomic<int> Released(0);
void CountRelease(CacheEntry *entry)
{
    Released++;
    CacheAdjustLockCount(entry, -entry->lockCount);
}
} // namespace

TEST_F(FileDataTest, LockedEntriesKeepTheirHandles)
{
    FileHandle h = Open("locked", "data");
    std::string got;
    ASSERT_EQ(Write(h, 0, "D"), 0u);
    HANDLE handle;
    CacheEntry *e = CacheLookup(&entry_->options, h.inode, CACHE_LEVEL_READ, &handle, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(CacheAdjustLockCount(e, 1), 1);
    CacheRelease(e, nullptr);
    Released = 0;
    CacheSetLockRelease(CountRelease);

    // Neither the sweeper nor an invalidation closes it; reads still work.
    EXPECT_EQ(CacheSweep(GetTickCount() + 100000), 0u);
    CacheInvalidate(&entry_->options, h.inode);
    EXPECT_EQ(OpenHandles(), 1u);
    ASSERT_EQ(Read(h, 0, 4, &got), 0u);
    EXPECT_EQ(got, "Data");
    EXPECT_EQ(Released.load(), 0);
    // The stop releases the locks before closing.
    CacheCloseAll();
    EXPECT_EQ(Released.load(), 1);
    EXPECT_EQ(OpenHandles(), 0u);
    // Until the next start nothing is cached, and requests still work.
    ASSERT_EQ(Read(h, 0, 4, &got), 0u);
    EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(FileDataTest, CloseAllWaitsForBusyEntries)
{
    FileHandle h = Open("busy", "data");
    std::string got;
    ASSERT_EQ(Read(h, 0, 4, &got), 0u);
    HANDLE handle;
    CacheEntry *e = CacheLookup(&entry_->options, h.inode, CACHE_LEVEL_READ, &handle, nullptr);
    ASSERT_NE(e, nullptr);
    std::atomic<bool> released(false);
    std::thread user([&] {
        Sleep(200);
        char byte = 0;
        DWORD n = 0;
        OVERLAPPED at = {};
        EXPECT_TRUE(ReadFile(handle, &byte, 1, &n, &at));  // still open while busy
        released = true;
        CacheRelease(e, nullptr);
    });
    CacheCloseAll();
    EXPECT_TRUE(released.load());
    EXPECT_EQ(OpenHandles(), 0u);
    user.join();
}

TEST_F(FileDataTest, ConcurrentReadersAndWritersOfOneFile)
{
    const int kThreads = 4, kRounds = 40;
    const uint32_t kSlice = 3001;
    FileHandle h = Open("shared", "", 2);
    FileHandle other = Open("other", "o");
    std::vector<std::thread> threads;
    std::atomic<int> failures(0);
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; round++) {
                const uint64_t offset = static_cast<uint64_t>(t) * kSlice;
                const std::string bytes = Pattern(offset + round, kSlice);
                if (Write(h, offset, bytes, round % 3) != 0)
                    failures++;
                std::string got;
                if (Read(h, offset, kSlice, &got) != 0 || got != bytes)
                    failures++;
                if (Read(other, 0, 1, &got) != 0 || got != "o")
                    failures++;
                if (round % 10 == 0)
                    CacheInvalidate(&entry_->options, h.inode);
                if (round % 7 == 0)
                    CacheSweep(GetTickCount() + 5000);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    const std::string content = ReadFileBytes(dir.Native("data/shared"));
    ASSERT_EQ(content.size(), kThreads * kSlice);
    for (int t = 0; t < kThreads; t++)
        EXPECT_TRUE(content.substr(t * kSlice, kSlice) == Pattern(t * kSlice + kRounds - 1, kSlice)) << t;
}

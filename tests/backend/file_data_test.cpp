// Reading, writing, committing and changing attributes of real files through
// the open-file cache.
#include "handles_fixture.h"

#include "support/data_directory.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "backend/file_data.h"
#include "backend/open_file_cache.h"
#include "fs/nfs_status.h"
#include "platform/win32.h"

namespace {

const uint64_t kMaxEnd = 0x7FFFFFFFFFFFFFFFull;

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
    // in it (created with bytes when given).
    FileHandle Open(const char *name, const char *bytes, uint32_t flags = 0, uint32_t umask = 022,
                    uint32_t size = 8)
    {
        if (bytes != nullptr)
            MakeFile(std::string("data/") + name, bytes);
        if (root_.mark == 0) {
            root_ = Mount(Win("data"), flags, umask, &entry_);
            entry_->options.cacheSize = size;
            CacheAllocate(&entry_->options);
        }
        FileHandle handle;
        EXPECT_EQ(LookupName(root_, name, &handle), 0u) << name;
        return handle;
    }
    uint32_t Read(const FileHandle &h, uint64_t offset, uint32_t count, std::string *out,
                  FileAttributes *a = nullptr, AuthUnix who = AuthUnix())
    {
        if (who.machinename == nullptr)
            who = caller;
        out->assign(count, 0);
        FileAttributes discard;
        uint32_t status = ReadFileData(&h, offset, &count, reinterpret_cast<uint8_t *>(&(*out)[0]),
                                       a != nullptr ? a : &discard, &who);
        out->resize(status == 0 ? count : 0);
        return status;
    }
    uint32_t Write(const FileHandle &h, uint64_t offset, const std::string &bytes, uint32_t *stability = nullptr,
                   FileAttributes *a = nullptr)
    {
        AuthUnix who = caller;
        uint32_t count = static_cast<uint32_t>(bytes.size());
        uint32_t unstable = WRITE_UNSTABLE;
        FileAttributes after, before;
        uint32_t status = WriteFileData(&h, offset, &count, stability != nullptr ? stability : &unstable,
                                        reinterpret_cast<const uint8_t *>(bytes.data()),
                                        a != nullptr ? a : &after, &before, &who);
        if (status == 0) {
            EXPECT_EQ(count, bytes.size());
        }
        return status;
    }
    uint32_t Change(const FileHandle &h, const SetAttr &request, FileAttributes *a = nullptr,
                    const AuthUnix *who = nullptr)
    {
        AuthUnix asker = who != nullptr ? *who : caller;
        FileAttributes discard;
        return ::SetAttributes(&h, &request, a != nullptr ? a : &discard, &asker);
    }
    uint32_t OpenHandles() const { return CacheOpenHandles(&entry_->options); }

    FileHandle root_ = {};
    ExportEntry *entry_ = nullptr;
};

// A SETATTR request of the size alone, or of the times set by the client
// (the access time too when given).
SetAttr SizeChange(uint64_t size)
{
    SetAttr s = {};
    s.setSize = 1;
    s.size = size;
    return s;
}
SetAttr TimeChange(uint32_t mtime, uint32_t atime = 0)
{
    SetAttr s = {};
    s.mtimeMode = SET_TIME_CLIENT;
    s.mtime = mtime;
    s.atimeMode = atime != 0 ? SET_TIME_CLIENT : SET_TIME_LEAVE;
    s.atime = atime;
    return s;
}

} // namespace

TEST_F(FileDataTest, LargeSparseFile)
{
    // Native: 1 GiB + 1.  Under Wine the same layout at 64 MiB + 1 keeps the
    // run short; the offsets above 4 GiB are covered natively only.
    const uint64_t gib = RunningUnderWine() ? 64ull << 20 : 1ull << 30;
    FileHandle h = Open("big", "");
    const std::string head = Pattern(0, 70000), tail = Pattern(gib - 5, 6);
    ASSERT_EQ(Write(h, 0, head), 0u);
    ASSERT_EQ(Write(h, gib - 5, tail), 0u);
    FileAttributes a;
    std::string got;
    ASSERT_EQ(Read(h, gib - 10, 100, &got, &a), 0u);
    EXPECT_EQ(a.size, gib + 1);
    EXPECT_TRUE(got == std::string(5, 0) + tail);
    ASSERT_EQ(Read(h, 69990, 20, &got), 0u);
    EXPECT_TRUE(got == head.substr(69990) + std::string(10, 0));
    ASSERT_EQ(Read(h, gib / 2, 8, &got), 0u);
    EXPECT_TRUE(got == std::string(8, 0));
    if (!RunningUnderWine()) {
        const uint64_t beyond = (5ull << 30) + 3;  // beyond 32 bits
        ASSERT_EQ(Write(h, beyond, "xyz"), 0u);
        ASSERT_EQ(Read(h, beyond - 1, 10, &got, &a), 0u);
        EXPECT_TRUE(got == std::string(1, 0) + "xyz");
        EXPECT_EQ(a.size, beyond + 3);
    }
}

// Offsets at the edges of 64 bits, which the NFS services refuse before they
// reach the backend; the wrapping write, a read at the end and a write past
// what a volume holds answer on the wire (NfsDataTest ReadAndWriteBytesOnDisk).
TEST_F(FileDataTest, SixtyFourBitEdges)
{
    FileHandle h = Open("edge", "0123456789");
    struct Case {
        bool write;
        uint64_t offset;
        uint32_t count;
        uint32_t status;
    };
    const Case cases[] = {
        {false, kMaxEnd, 5, 0},                 // the last offset
        {false, ~0ull, 100, 0},                 // 2^64 - 1
        {false, ~0ull - 2, 10, 0},              // offset + count wraps
        {true, kMaxEnd, 1, NFSERR_FBIG},        // would end beyond 2^63 - 1
        {true, ~0ull, 1, NFSERR_FBIG},          // Windows takes offset 2^64 - 1 as "at the end of file"
        {true, 1ull << 63, 1, NFSERR_FBIG},
    };
    for (const Case &c : cases) {
        std::string got;
        if (c.write) {
            EXPECT_EQ(Write(h, c.offset, std::string(c.count, 'w')), c.status) << c.offset;
        } else {
            EXPECT_EQ(Read(h, c.offset, c.count, &got), c.status) << c.offset;
            EXPECT_TRUE(got.empty()) << c.offset;
        }
    }
    std::string got;
    FileAttributes a;
    ASSERT_EQ(Read(h, 0, 100, &got, &a), 0u);
    EXPECT_EQ(got, "0123456789");
    EXPECT_EQ(a.size, 10u);
}

TEST_F(FileDataTest, OnlyRegularFilesHoldData)
{
    MakeFolder("data/folder");
    MakeFile("data/link", "target");
    const bool linkHeld = SetAttributes("data/link", FILE_ATTRIBUTE_SYSTEM);  // a symbolic link stored as a file
    FileHandle folder = Open("folder", nullptr);
    FileHandle link = Open("link", nullptr);
    std::string got;
    EXPECT_EQ(Read(folder, 0, 10, &got), NFSERR_ISDIR);
    EXPECT_EQ(Write(folder, 0, "x"), NFSERR_ISDIR);
    if (linkHeld) {
        EXPECT_EQ(Read(link, 0, 10, &got), NFSERR_INVAL);
        EXPECT_EQ(Write(link, 0, "x"), NFSERR_INVAL);
        EXPECT_EQ(Change(link, SizeChange(0)), NFSERR_INVAL);
    }
    EXPECT_EQ(Change(folder, SizeChange(0)), NFSERR_ISDIR);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/link")), "target");
}

// What each asked stability reaches is read on the wire (NfsDataTest
// ReadAndWriteBytesOnDisk); here the handle a file-sync write leaves cached
// and a commit after the sweeper closed it.
TEST_F(FileDataTest, FileSyncWriteAndCommit)
{
    FileHandle h = Open("sync", "");
    uint32_t stability = WRITE_FILE_SYNC;
    ASSERT_EQ(Write(h, 0, "abc", &stability), 0u);
    EXPECT_EQ(stability, static_cast<uint32_t>(WRITE_FILE_SYNC));
    EXPECT_EQ(OpenHandles(), 1u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/sync")), "abc");
    FileAttributes a;
    AuthUnix who = caller;
    ASSERT_EQ(CommitFile(&h, 0, 0, &a, &who), 0u);
    EXPECT_EQ(a.size, 3u);
    CacheSweep(GetTickCount() + 5000);
    EXPECT_EQ(OpenHandles(), 0u);
    ASSERT_EQ(CommitFile(&h, 0, 0, &a, &who), 0u);
    EXPECT_EQ(a.size, 3u);
}

TEST_F(FileDataTest, TruncateExtendAndTimes)
{
    FileHandle h = Open("trunc", "0123456789");
    MakeFolder("data/folder");
    FileHandle folder = Open("folder", nullptr);
    ASSERT_EQ(Write(h, 10, "abc"), 0u);  // cached write handle
    FileAttributes a;
    for (uint64_t size : {4ull, 6ull, 0ull}) {
        ASSERT_EQ(Change(h, SizeChange(size), &a), 0u) << size;
        EXPECT_EQ(a.size, size);
        EXPECT_EQ(ReadFileBytes(dir.Native("data/trunc")).size(), size);
    }
    // No stale handle writes past the new end.
    ASSERT_EQ(Write(h, 2, "zz"), 0u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/trunc")), std::string("\0\0zz", 4));

    // Times on a file and on a folder.
    for (const FileHandle *target : {&h, &folder}) {
        ASSERT_EQ(Change(*target, TimeChange(1500000000, 1400000000), &a), 0u);
        EXPECT_EQ(a.mtime, 1500000000u);
        EXPECT_EQ(a.atime, 1400000000u);
    }
    // Size and time in one request: the time asked for wins.
    SetAttr both = TimeChange(1300000000);
    both.setSize = 1;
    both.size = 100;
    ASSERT_EQ(Change(h, both, &a), 0u);
    EXPECT_EQ(a.size, 100u);
    EXPECT_EQ(a.mtime, 1300000000u);
    // The epoch is a time like any other, and the fraction of a second is
    // kept on the volume.
    SetAttr epoch = TimeChange(0);
    epoch.mtimeNsec = 987654321;
    ASSERT_EQ(Change(h, epoch, &a), 0u);
    EXPECT_EQ(a.mtime, 0u);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(Win("data/trunc").c_str(), GetFileExInfoStandard, &data));
    const uint64_t ticks = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                           data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(ticks, 116444736000000000ull + 9876543u);
}

TEST_F(FileDataTest, ReadOnlyFilesOwnersAndWriters)
{
    MakeFile("data/ro", "readonly");
    MakeFile("data/shared", "shared");
    if (!SetAttributes("data/ro", FILE_ATTRIBUTE_READONLY))
        GTEST_SKIP();
    // Fixed owner 2000: caller 1000 of group 100 is a writer, not the owner.
    FileHandle ro = Open("ro", nullptr, EXPORT_UID | EXPORT_GID, 002);
    entry_->options.uid = 2000;
    entry_->options.gid = 100;
    FileHandle shared = Open("shared", nullptr);
    AuthUnix owner = MakeCaller(2000, 100), writer = caller, other = MakeCaller(3000, 300);
    FileAttributes a;

    const SetAttr truncate = SizeChange(2), stamp = TimeChange(1600000000);
    SetAttr touch = stamp;
    touch.mtimeMode = SET_TIME_SERVER;
    struct Case {
        const char *what;
        const FileHandle *file;
        const SetAttr *request;
        const AuthUnix *who;
        uint32_t status;
    };
    const Case cases[] = {
        {"writer truncates", &shared, &truncate, &writer, 0},
        {"writer touches", &shared, &touch, &writer, 0},
        {"writer sets a time", &shared, &stamp, &writer, NFSERR_ACCES},
        {"other truncates", &shared, &truncate, &other, NFSERR_ACCES},
        {"writer truncates a read-only file", &ro, &truncate, &writer, NFSERR_ACCES},
        {"owner truncates his read-only file", &ro, &truncate, &owner, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Change(*c.file, *c.request, &a, c.who), c.status) << c.what;
    EXPECT_EQ(ReadFileBytes(dir.Native("data/shared")), "sh");
    EXPECT_EQ(ReadFileBytes(dir.Native("data/ro")), "re");
    EXPECT_NE(GetFileAttributesA(Win("data/ro").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    // The owner writes his read-only file; the attribute is back at once.
    AuthUnix who = owner;
    uint32_t count = 3, stability = WRITE_FILE_SYNC;
    ASSERT_EQ(WriteFileData(&ro, 2, &count, &stability, reinterpret_cast<const uint8_t *>("xyz"), &a, nullptr, &who),
              0u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/ro")), "rexyz");
    EXPECT_NE(GetFileAttributesA(Win("data/ro").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(Write(ro, 0, "no"), NFSERR_ACCES);  // the writer is refused, even with the handle cached
}

TEST_F(FileDataTest, AccessIsCheckedOnCacheHits)
{
    // Owner 1000 with umask 077: nobody else may read, even once the owner's
    // read has put the file into the cache.
    FileHandle h = Open("private", "secret", EXPORT_UID | EXPORT_GID, 077);
    entry_->options.uid = 1000;
    entry_->options.gid = 100;
    std::string got;
    ASSERT_EQ(Read(h, 0, 10, &got), 0u);
    EXPECT_EQ(got, "secret");
    EXPECT_EQ(OpenHandles(), 1u);
    EXPECT_EQ(Read(h, 0, 10, &got, nullptr, MakeCaller(2000, 200)), NFSERR_ACCES);
    EXPECT_TRUE(got.empty());
}

TEST_F(FileDataTest, CacheLevelsFullCacheAndSweeper)
{
    FileHandle a = Open("a", "aaaa", 0, 022, 1);
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
    FileHandle h = Open("shared", "", 0, 022, 2);
    FileHandle other = Open("other", "o");
    std::vector<std::thread> threads;
    std::atomic<int> failures(0);
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; round++) {
                const uint64_t offset = static_cast<uint64_t>(t) * kSlice;
                const std::string bytes = Pattern(offset + round, kSlice);
                uint32_t stability = round % 3;
                if (Write(h, offset, bytes, &stability) != 0)
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

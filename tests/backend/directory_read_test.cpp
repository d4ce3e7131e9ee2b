// Listing folders in pieces through the search slots: every name exactly
// once whatever the piece size, stable entries while the folder changes,
// cookies of other listings, more listings than slots, and what the inode
// table keeps afterwards.
#include "handles_fixture.h"

#include <atomic>
#include <functional>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "backend/directory_read.h"
#include "backend/directory_read_internal.h"
#include "fs/inode_table.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

struct Listed {
    std::string name;
    uint64_t inode;
    uint32_t mountId;
};

class DirectoryReadTest : public HandlesTest {
protected:
    void SetUp() override
    {
        HandlesTest::SetUp();
        InitDirectorySearchSlots();
    }
    void TearDown() override
    {
        CloseDirectorySearchSlots();
        HandlesTest::TearDown();
    }

    void MakeFiles(const std::string &folder, const char *prefix, int count)
    {
        MakeFolder(folder);
        for (int i = 0; i < count; i++)
            WriteFileBytes(dir.Native(folder + "/" + prefix + std::to_string(i)), "");
    }

    // Lists the folder as an NFS service would: each reply resolves the
    // handle again, asks for one entry more than it has room for, and
    // continues from the cookie of the last entry it kept.  sizes gives the
    // room of each reply in turn (the last one repeats).  between runs after
    // every reply.  False when a call fails.
    bool List(const FileHandle &folder, const std::vector<uint32_t> &sizes, std::vector<Listed> *out,
              const std::function<void()> &between = nullptr)
    {
        out->clear();
        uint32_t cookie = 0;
        for (size_t reply = 0;; reply++) {
            ExportContext context;
            uint64_t inode = 0, parent = 0;
            if (DirHandleInfo(&folder, &inode, &parent, &context) != 0)
                return false;
            const uint32_t room = sizes[reply < sizes.size() ? reply : sizes.size() - 1];
            uint32_t next = cookie;
            for (uint32_t n = 0; n <= room; n++) {
                char name[DIRECTORY_NAME_SIZE];
                uint64_t entryInode = 0;
                uint32_t mountId = folder.mountId;
                uint32_t entryCookie = next;
                const uint32_t result =
                    ReadDirEntry(&context, inode, parent, 0x0100007Fu, &entryCookie, name, &entryInode, &mountId);
                if (result == READDIR_FAILED)
                    return false;
                if (result == 0)
                    return true;
                if (n == room)
                    break; // no room left: the next reply asks for it again
                ReadDirEntryUsed(entryCookie);
                out->push_back({name, entryInode, mountId});
                next = entryCookie;
            }
            cookie = next;
            if (between)
                between();
        }
    }

    static std::map<std::string, int> Count(const std::vector<Listed> &entries)
    {
        std::map<std::string, int> counts;
        for (const Listed &e : entries)
            counts[e.name]++;
        return counts;
    }
};

} // namespace

TEST_F(DirectoryReadTest, EveryNameOnceInPiecesOfEverySize)
{
    // 100,000 entries natively; under Wine every file operation costs tens
    // of microseconds, so the folder holds 2,000 there, and under the thread
    // sanitizer (which is here for the concurrent cases) 10,000.
#if defined(__SANITIZE_THREAD__)
    const bool threadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    const bool threadSanitizer = true;
#else
    const bool threadSanitizer = false;
#endif
#else
    const bool threadSanitizer = false;
#endif
    const int files = RunningUnderWine() ? 2000 : threadSanitizer ? 10000 : 100000;
    // Without hard links no file is opened for its link count: the listing
    // alone is timed by the test's length.
    ServerSettings.HardLinks = 0;
    MakeFiles("data/big", "entry-", files);
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle big;
    ASSERT_EQ(LookupName(root, "big", &big), 0u);
    // Growing replies cover every size from 1 up to about sqrt(2 * files)
    // in one listing; then the whole folder in one reply.
    std::vector<uint32_t> growing;
    for (uint32_t size = 1, total = 0; total < static_cast<uint32_t>(files) + 2; total += size, size++)
        growing.push_back(size);
    const std::vector<std::vector<uint32_t>> runs = {growing, {static_cast<uint32_t>(files) + 10}};
    for (const std::vector<uint32_t> &sizes : runs) {
        std::vector<Listed> entries;
        ASSERT_TRUE(List(big, sizes, &entries));
        ASSERT_EQ(entries.size(), static_cast<size_t>(files) + 2) << "first reply size " << sizes[0];
        EXPECT_EQ(entries[0].name, ".");
        EXPECT_EQ(entries[1].name, "..");
        EXPECT_EQ(entries[1].inode, root.inode);
        std::map<std::string, int> counts = Count(entries);
        EXPECT_EQ(counts.size(), entries.size());
        for (int i = 0; i < files; i += 997)
            EXPECT_EQ(counts["entry-" + std::to_string(i)], 1);
    }
    uint64_t bytes = 0;
    EXPECT_EQ(DirectorySlotsInUse(&bytes), 0u) << "a finished listing frees its slot";
}

TEST_F(DirectoryReadTest, StableEntriesOnceWhileTheFolderChanges)
{
    const int stable = RunningUnderWine() ? 300 : 3000;
    MakeFiles("data/busy", "stable-", stable);
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle busy;
    ASSERT_EQ(LookupName(root, "busy", &busy), 0u);
    // A name looked up (so in the inode table) after the listing began, and
    // one removed behind the server's back.
    FileHandle gone;
    MakeFiles("data/busy", "gone-", 1);
    ASSERT_EQ(LookupName(busy, "gone-0", &gone), 0u);
    std::remove(dir.Native("data/busy/gone-0").c_str());

    std::atomic<bool> stop(false);
    std::thread churn([&] {
        for (int i = 0; !stop.load(); i++) {
            const std::string name = dir.Native("data/busy/churn-" + std::to_string(i % 50));
            if (i % 100 < 50)
                WriteFileBytes(name, "x");
            else
                std::remove(name.c_str());
        }
    });
    bool madeLate = false;
    std::vector<Listed> entries;
    const bool listed = List(busy, {7, 1, 13}, &entries, [&] {
        if (!madeLate && entries.size() > static_cast<size_t>(stable) / 2) {
            madeLate = true;
            MakeFiles("data/busy", "late-", 1);
            FileHandle late;
            EXPECT_EQ(LookupName(busy, "late-0", &late), 0u);
        }
    });
    stop = true;
    churn.join();
    ASSERT_TRUE(listed);
    std::map<std::string, int> counts = Count(entries);
    for (const auto &entry : counts)
        EXPECT_EQ(entry.second, 1) << entry.first;
    for (int i = 0; i < stable; i++)
        ASSERT_EQ(counts["stable-" + std::to_string(i)], 1) << i;
    // The listing ran to its end: the removed file's entry is gone, the one
    // created meanwhile (never listed) keeps its number.
    const uint32_t folder = static_cast<uint32_t>(busy.inode);
    EXPECT_EQ(FindChild(folder, "gone-0"), 0u);
    EXPECT_NE(FindChild(folder, "late-0"), 0u);
    EXPECT_NE(FindChild(folder, "stable-0"), 0u);
}

TEST_F(DirectoryReadTest, CookiesOfOtherListingsNeverShowTheirEntries)
{
    MakeFiles("data/a", "a", 6);
    MakeFiles("data/b", "b", 6);
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle a, b;
    ASSERT_EQ(LookupName(root, "a", &a), 0u);
    ASSERT_EQ(LookupName(root, "b", &b), 0u);
    ExportContext contextA, contextB;
    uint64_t inodeA, parentA, inodeB, parentB;
    ASSERT_EQ(DirHandleInfo(&a, &inodeA, &parentA, &contextA), 0u);
    ASSERT_EQ(DirHandleInfo(&b, &inodeB, &parentB, &contextB), 0u);
    char name[DIRECTORY_NAME_SIZE];
    uint64_t inode;
    uint32_t mountId = a.mountId;
    uint32_t cookieA = 0;
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(ReadDirEntry(&contextA, inodeA, parentA, 0, &cookieA, name, &inode, &mountId), i + 1u);
    EXPECT_STREQ(name, "a1");

    // Folder b continued with a's cookie, and with cookies naming other
    // slots (free, or taken by b itself meanwhile) at that position: always
    // b's own entries.
    for (uint32_t slot : {cookieA & 63u, 0u, 1u, 2u, 63u}) {
        uint32_t cookie = 4u << 6 | slot;
        mountId = b.mountId;
        ASSERT_EQ(ReadDirEntry(&contextB, inodeB, parentB, 0, &cookie, name, &inode, &mountId), 5u) << slot;
        EXPECT_STREQ(name, "b2") << slot;
        EXPECT_EQ(mountId, b.mountId);
        EXPECT_NE(cookie & 63u, cookieA & 63u) << "a's slot is not b's";
    }
    // a's listing goes on where it was, untouched by all that.
    mountId = a.mountId;
    ASSERT_EQ(ReadDirEntry(&contextA, inodeA, parentA, 0, &cookieA, name, &inode, &mountId), 5u);
    EXPECT_STREQ(name, "a2");
    // The same folder under a mount id that is not the slot's: a listing
    // of its own.
    uint32_t cookie = cookieA;
    mountId = a.mountId + 1;
    ASSERT_EQ(ReadDirEntry(&contextA, inodeA, parentA, 0, &cookie, name, &inode, &mountId), 6u);
    EXPECT_STREQ(name, "a3");
    EXPECT_NE(cookie & 63u, cookieA & 63u);
}

TEST_F(DirectoryReadTest, MoreListingsThanSlotsAllComplete)
{
    MakeFiles("data/many", "m", 40);
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle many;
    ASSERT_EQ(LookupName(root, "many", &many), 0u);
    const int listings = DIRECTORY_SEARCH_SLOTS + 1;
    std::atomic<int> started(0);
    std::vector<std::vector<Listed>> results(listings);
    std::vector<int> ok(listings, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < listings; t++)
        threads.emplace_back([&, t] {
            bool first = true;
            ok[t] = List(many, {1, 5}, &results[t], [&] {
                // Every listing holds its slot until all have begun.
                if (first) {
                    first = false;
                    started++;
                    while (started.load() < listings)
                        Sleep(2);
                }
            });
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < listings; t++) {
        ASSERT_TRUE(ok[t]) << t;
        EXPECT_EQ(results[t].size(), 42u) << t;
        EXPECT_EQ(Count(results[t]).size(), 42u) << t;
    }
}

TEST_F(DirectoryReadTest, DotsHardLinksAndTrailingDots)
{
    MakeFiles("data/links", "f", 1);
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle links, dotted;
    // At the top of the mount ".." is the folder itself, never what lies
    // above the export (below it, the parent: EveryNameOnceInPiecesOfEverySize).
    std::vector<Listed> entries;
    ASSERT_TRUE(List(root, {10}, &entries));
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[1].name, "..");
    EXPECT_EQ(entries[1].inode, root.inode);

    ASSERT_EQ(LookupName(root, "links", &links), 0u);
    ASSERT_TRUE(CreateHardLinkA(Win("data\\links\\g").c_str(), Win("data\\links\\f0").c_str(), nullptr));
    ASSERT_TRUE(List(links, {10}, &entries));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].name, "f0");
    EXPECT_EQ(entries[3].name, "g");
    EXPECT_EQ(entries[2].inode, entries[3].inode) << "one file, one number";
    // "f0." and "f0 " open the file "f0": the same number.
    for (const char *name : {"f0.", "f0 ", "f0. ."}) {
        ASSERT_EQ(LookupName(links, name, &dotted), 0u) << name;
        EXPECT_EQ(dotted.inode, entries[2].inode) << name;
    }
}

// Listed names are in the client's form: a -sub: export turns its
// substitutes back into ':', and in ASCII mode names beyond ASCII are left
// out.
TEST_F(DirectoryReadTest, ListedNamesAreInTheClientsForm)
{
    MakeFiles("data/names", "a_b", 1);
    const std::string ascii = Win("data\\names\\caf");
    std::basic_string<WCHAR> wide(ascii.begin(), ascii.end());
    wide += static_cast<WCHAR>(0xE9);
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), EXPORT_SUB, 022, &entry);
    entry->options.subColon = '_';
    FileHandle names;
    ASSERT_EQ(LookupName(root, "names", &names), 0u);
    const uint32_t saved = ServerSettings.CharSetActive;
    for (uint32_t charSet : {0u, 2u}) {
        ServerSettings.CharSetActive = charSet;
        std::vector<Listed> entries;
        ASSERT_TRUE(List(names, {10}, &entries));
        std::map<std::string, int> counts = Count(entries);
        EXPECT_EQ(counts["a:b0"], 1) << charSet;
        EXPECT_EQ(counts.count("a_b0"), 0u) << charSet;
        EXPECT_EQ(counts.count("caf\xc3\xa9"), charSet == 2 ? 1u : 0u) << charSet;
        EXPECT_EQ(entries.size(), charSet == 2 ? 4u : 3u) << charSet;
    }
    ServerSettings.CharSetActive = saved;
}

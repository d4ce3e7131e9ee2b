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

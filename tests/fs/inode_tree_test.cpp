// Behaviour of the inode table: lookups, long names, paths, deletion with
// pending entries, numbers not handed out again, pruning, handles, reload,
// volume change and a large folder's index.
#include <string>
#include <vector>

#include "fs/inode_fixture.h"

namespace {

TEST_F(InodeTableTest, LookupIgnoresAsciiCaseOnly)
{
    uint32_t dir = AddPath("C:\\Dir");
    uint32_t lower = AddChild(dir, "readme.txt");
    EXPECT_EQ(FindChild(dir, "README.TXT"), lower);
    EXPECT_EQ(AddChild(dir, "ReadMe.Txt"), lower);
    EXPECT_EQ(FindChild(dir, "."), dir);
    EXPECT_EQ(FindChild(dir, "missing"), 0u);
    // Bytes from 0x80 up compare by value: no case folding beyond ASCII.
    uint32_t e1 = AddChild(dir, "\xC3\xA9");  // U+00E9
    uint32_t e2 = AddChild(dir, "\xC3\x89");  // U+00C9
    EXPECT_NE(e1, e2);
    EXPECT_EQ(AddChild(dir, ".."), 0u);
    EXPECT_EQ(AddChild(dir, ""), 0u);
    // A name longer than 511 bytes is kept as its first 511.
    const std::string n600(600, 'z');
    const uint32_t cut = AddChild(dir, n600.c_str());
    EXPECT_EQ(FindChild(dir, n600.substr(0, 511).c_str()), cut);
    EXPECT_EQ(Path(cut), "C:\\Dir\\" + n600.substr(0, 511));
    EXPECT_EQ(Path(lower), "C:\\Dir\\readme.txt");
    EXPECT_EQ(FindChild(0, "c:"), ParentOfInode(dir));
}

TEST_F(InodeTableTest, AddPathSplitsComponents)
{
    ServerSettings.CharSetActive = 1;
    uint32_t a = AddPath("C:\\a\\b\\");
    EXPECT_EQ(Path(a), "C:\\a\\b");
    EXPECT_EQ(AddPath("c:/a/b"), a);  // same components, other separators and case
    EXPECT_EQ(AddPath("C:\\a\\\\b"), a);
    EXPECT_EQ(AddPath("C:\\"), FindChild(0, "C:"));
    EXPECT_EQ(Path(AddPath("\\\\server\\share\\dir")), "\\\\server\\share\\dir");
    EXPECT_EQ(AddPath("C:\\a\\..\\b"), 0u);
    EXPECT_EQ(AddPath("C:\\a\\.\\b"), a);
    // Characters Windows forbids separate components like backslashes.
    EXPECT_EQ(Path(AddPath("C:\\x*y")), "C:\\x\\y");
    // High bytes belong to names except with the ASCII character set.
    uint32_t high = AddPath("C:\\caf\xE9");
    EXPECT_EQ(Path(high), "C:\\caf\xE9");
    ServerSettings.CharSetActive = 0;
    EXPECT_EQ(Path(AddPath("C:\\na\xEFve")), "C:\\na\\ve");
    ServerSettings.CharSetActive = 1;
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, PathDepthLimit)
{
    uint32_t cur = AddPath("C:");
    std::vector<uint32_t> levels;
    for (int i = 1; i <= 65; i++) {
        cur = AddChild(cur, ("d" + std::to_string(i)).c_str());
        levels.push_back(cur);
    }
    char buffer[INODE_PATH_SIZE];
    EXPECT_NE(PathOfInode(levels[63], buffer), nullptr);  // 64 components below the root
    EXPECT_EQ(PathOfInode(levels[64], buffer), nullptr);  // 65
    // A path that would not fit 2048 bytes is none either.
    uint32_t deep = AddPath("C:\\long");
    for (int i = 0; i < 5; i++)
        deep = AddChild(deep, std::string(450, static_cast<char>('a' + i)).c_str());
    EXPECT_EQ(PathOfInode(deep, buffer), nullptr);
    EXPECT_EQ(PathOfInode(0, buffer), nullptr);
    EXPECT_EQ(PathOfInode(33, buffer), nullptr);
}

TEST_F(InodeTableTest, DeleteKeepsPendingEntriesAndTheirAncestors)
{
    uint32_t top = AddPath("C:\\top");
    uint32_t sub = AddChild(top, "sub");
    uint32_t a = AddChild(sub, "a");
    uint32_t busy = AddChild(sub, "busy");
    uint32_t z = AddChild(sub, "z");
    EXPECT_EQ(SetPending(busy, 1), 0);
    EXPECT_EQ(SetPending(busy, -1), 1);
    EXPECT_EQ(DeleteInode(top), 0);
    // "a" came first and is gone; the pending entry and everything above it stay.
    EXPECT_EQ(FindChild(sub, "a"), 0u);
    EXPECT_EQ(FindChild(sub, "busy"), busy);
    EXPECT_EQ(FindChild(sub, "z"), z);
    EXPECT_EQ(FindChild(top, "sub"), sub);
    EXPECT_EQ(Path(busy), "C:\\top\\sub\\busy");
    EXPECT_EQ(DeleteInode(busy), 0);
    EXPECT_EQ(DeleteInodeClearPending(busy), 1);
    EXPECT_EQ(DeleteChildren(top), 1);
    EXPECT_EQ(FindChild(top, "sub"), 0u);
    EXPECT_EQ(FindChild(0, "C:"), ParentOfInode(top));
    EXPECT_EQ(InodeOfHandle(a), 0u);
    EXPECT_EQ(Consistency(), "");
}

// Clients keep the handles of removed files for a while: a new file must
// not be given such a number at once, or the client takes it for the old one.
TEST_F(InodeTableTest, RemovedNumbersAreNotHandedOutAgainAtOnce)
{
    uint32_t dir = AddPath("C:\\reuse");
    std::vector<uint32_t> removed;
    for (const char *name : {"r3", "plain", "a-name-long-enough-to-need-blocks"}) {
        uint32_t e = AddChild(dir, name);
        ASSERT_NE(e, 0u);
        removed.push_back(e);
    }
    ASSERT_TRUE(MoveInode(AddChild(dir, "r2"), dir, "r3"));  // replaces r3
    EXPECT_EQ(DeleteInode(removed[1]), 1);
    EXPECT_EQ(DeleteInode(removed[2]), 1);
    // The newest entry's block joins the free space behind it.
    removed.push_back(AddChild(dir, "r4"));
    EXPECT_EQ(DeleteInode(removed.back()), 1);
    for (int i = 0; i < 40; i++) {
        uint32_t fresh = AddChild(dir, ("new" + std::to_string(i)).c_str());
        ASSERT_NE(fresh, 0u);
        for (uint32_t old : removed)
            EXPECT_NE(fresh, old) << i;
    }
    // After a restart the unused space comes first as well.
    CloseInodeTable();
    ASSERT_TRUE(OpenInodeTableAt(winPath.c_str(), 0));
    const uint32_t afterRestart = AddChild(dir, "after-restart");
    for (size_t i = 0; i < 3; i++)
        EXPECT_NE(afterRestart, removed[i]);
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, PruneRemovesWhatAListingDidNotSee)
{
    uint32_t dir = AddPath("C:\\list");
    std::vector<uint32_t> kids;
    for (int i = 0; i < 100; i++)
        kids.push_back(AddChild(dir, ("n" + std::to_string(i)).c_str()));
    AddChild(kids[1], "grandchild");
    for (int i = 0; i < 100; i += 2)
        MarkSeen(kids[i]);
    SetPending(kids[3], 1);
    PruneUnseen(dir);
    for (int i = 0; i < 100; i++) {
        uint32_t found = FindChild(dir, ("n" + std::to_string(i)).c_str());
        if (i % 2 == 0 || i == 3)
            EXPECT_EQ(found, kids[i]) << i;
        else
            EXPECT_EQ(found, 0u) << i;
    }
    // The seen flags were cleared: a second prune without a listing empties it.
    SetPending(kids[3], 0);
    PruneUnseen(dir);
    EXPECT_EQ(FindChild(dir, "n0"), 0u);
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, HandlesNameOnlyLiveEntries)
{
    uint32_t dir = AddPath("C:\\h");
    uint32_t longName = AddChild(dir, std::string(40, 'q').c_str());
    EXPECT_EQ(InodeOfHandle(dir), dir);
    EXPECT_EQ(InodeOfHandle(longName), longName);
    EXPECT_EQ(InodeOfHandle(0x100000000ull | dir), 0u);
    EXPECT_EQ(InodeOfHandle(dir + 1), 0u);
    // The name block behind the long name carries 'q' bytes, not 0xFF; make
    // one that does: a name block is still no inode.
    uint32_t tricky = AddChild(dir, (std::string(16, 'x') + std::string(20, '\xFF')).c_str());
    EXPECT_EQ(InodeOfHandle(tricky + 32), 0u);
}

// A reload keeps the numbers and clears the transient flags; a table of
// another volume, and a reset, start empty.
TEST_F(InodeTableTest, ReloadKeepsNumbersUnlessResetOrOfAnotherVolume)
{
    uint32_t dir = AddPath("C:\\keep\\me");
    uint32_t file = AddChild(dir, std::string(100, 'k').c_str());
    MarkSeen(file);
    SetPending(dir, 1);
    std::string b = Bytes();
    EXPECT_EQ(AddPath("c:\\KEEP\\me"), dir);
    EXPECT_EQ(FindChild(dir, std::string(100, 'K').c_str()), file);
    EXPECT_EQ(SetPending(dir, -1), 0);
    EXPECT_EQ(static_cast<uint8_t>(Bytes()[file + 9]) & 0x03u, 0u);
    PutLE32(b, 12, LE32(b, 12) ^ 0x5A5A5A5Au);  // as if copied from another volume
    ASSERT_TRUE(LoadBytes(b));
    EXPECT_EQ(FindChild(0, "C:"), 0u);
    EXPECT_EQ(Consistency(), "");
    AddPath("C:\\v");
    CloseInodeTable();
    ASSERT_TRUE(OpenInodeTableAt(winPath.c_str(), 1));  // InodeReset
    EXPECT_EQ(FindChild(0, "C:"), 0u);
}

TEST_F(InodeTableTest, LargeFolderIndexStaysInStep)
{
    uint32_t dir = AddPath("C:\\big");
    std::vector<uint32_t> kids;
    for (int i = 0; i < 500; i++)
        kids.push_back(AddChild(dir, ("file" + std::to_string(i * 7919 % 500)).c_str()));
    InodeTableStats stats;
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_GE(stats.indexedLists, 1u);
    EXPECT_EQ(Consistency(), "");
    for (int i = 0; i < 500; i += 3)
        DeleteInode(kids[i]);
    for (int i = 0; i < 500; i += 5)
        MoveInode(kids[i], dir, ("renamed" + std::to_string(i)).c_str());
    RegisterHardLink(kids[1], 1, 2, 3);
    RegisterHardLink(kids[2], 1, 2, 3);
    EXPECT_EQ(Consistency(), "");
    for (int i = 0; i < 500; i++) {
        if (i % 3 == 0 && i % 5 != 0) {
            EXPECT_EQ(InodeOfHandle(kids[i]), 0u) << i;
        }
    }
    EXPECT_NE(FindChild(dir, "RENAMED10"), 0u);
    DeleteChildren(dir);
    EXPECT_EQ(Consistency(), "");
}

}  // namespace

// The bytes of the inode table file: header, entries, names, name blocks,
// free runs, identity records and growth.
#include <cstring>

#include "fs/inode_fixture.h"
#include "fs/win_file_access.h"

namespace {

TEST_F(InodeTableTest, NewTableHeaderAndFreeRun)
{
    std::string b = Bytes();
    ASSERT_EQ(b.size(), 0x200000u);
    EXPECT_EQ(LE32(b, 0), 32u);        // free head
    EXPECT_EQ(LE32(b, 4), 0u);         // root head
    EXPECT_EQ(LE32(b, 8), 0x200000u);  // total
    DWORD serial = 0;
    ASSERT_TRUE(VolumeSerialOfPath(winPath.c_str(), &serial));
    EXPECT_EQ(LE32(b, 12), serial);
    EXPECT_EQ(LE32(b, 16), 0u);
    EXPECT_EQ(LE32(b, 20), 0u);  // identity head
    EXPECT_EQ(LE32(b, 24), 0u);
    EXPECT_EQ(LE32(b, 28), 0u);
    EXPECT_EQ(LE32(b, 32), 0x200000u - 32);  // one run from 32 to the end
    EXPECT_EQ(LE32(b, 36), 0u);
}

TEST_F(InodeTableTest, EntryLayoutAndChildLinks)
{
    uint32_t dir = AddPath("C:\\dir");
    uint32_t root = FindChild(0, "C:");
    ASSERT_EQ(root, 32u);
    ASSERT_EQ(dir, 64u);
    std::string b = Bytes();
    EXPECT_EQ(LE32(b, 4), 32u);  // root head
    EXPECT_EQ(LE32(b, 0), 96u);  // free head moved past both entries
    EXPECT_EQ(LE32(b, 96), 0x200000u - 96);
    // Root entry "C:": no sibling, no parent, live, has a child list, first child 64.
    EXPECT_EQ(LE32(b, 32 + 0), 0u);
    EXPECT_EQ(LE32(b, 32 + 4), 0u);
    EXPECT_EQ(static_cast<uint8_t>(b[32 + 8]), 0xFFu);
    EXPECT_EQ(static_cast<uint8_t>(b[32 + 9]), 0x10u);
    EXPECT_EQ(LE16(b, 32 + 10), 2u);
    EXPECT_EQ(LE32(b, 32 + 12), 64u);
    EXPECT_EQ(b.substr(32 + 16, 16), std::string("C:") + std::string(14, '\0'));
    // "dir" below it.
    EXPECT_EQ(LE32(b, 64 + 4), 32u);
    EXPECT_EQ(static_cast<uint8_t>(b[64 + 9]), 0u);
    EXPECT_EQ(LE16(b, 64 + 10), 3u);
    EXPECT_EQ(LE32(b, 64 + 12), 0u);
    EXPECT_EQ(b.substr(64 + 16, 3), "dir");
}

TEST_F(InodeTableTest, ChildListIsSortedWithoutRegardToCase)
{
    uint32_t dir = AddPath("C:\\d");
    uint32_t b1 = AddChild(dir, "b");
    uint32_t a1 = AddChild(dir, "A");
    uint32_t c1 = AddChild(dir, "c");
    uint32_t a2 = AddChild(dir, "_");  // 0x5F: after 'A' (0x41) as a byte, before it folded ('a', 0x61)
    EXPECT_EQ(AddChild(dir, "a"), a1);
    EXPECT_EQ(FindChild(dir, "B"), b1);
    std::string b = Bytes();
    // Order by folded bytes: "_" (0x5F) < "a" < "b" < "c".
    EXPECT_EQ(LE32(b, dir + 12), a2);
    EXPECT_EQ(LE32(b, a2), a1);
    EXPECT_EQ(LE32(b, a1), b1);
    EXPECT_EQ(LE32(b, b1), c1);
    EXPECT_EQ(LE32(b, c1), 0u);
}

TEST_F(InodeTableTest, NameBlocksByLength)
{
    uint32_t dir = AddPath("C:\\n");  // entries at 32 and 64
    std::string n16 = "0123456789abcdef";
    std::string n17 = "0123456789abcdefg";
    std::string n40(40, 'x');
    std::string n41(41, 'y');
    uint32_t e16 = AddChild(dir, n16.c_str());
    uint32_t e17 = AddChild(dir, n17.c_str());
    uint32_t e40 = AddChild(dir, n40.c_str());
    uint32_t e41 = AddChild(dir, n41.c_str());
    // 16 bytes: one block; 17 and 40: entry + 1 name block; 41: entry + 2.
    EXPECT_EQ(e16, 96u);
    EXPECT_EQ(e17, 128u);
    EXPECT_EQ(e40, 192u);
    EXPECT_EQ(e41, 256u);
    std::string b = Bytes();
    EXPECT_EQ(LE32(b, 0), 352u);
    EXPECT_EQ(b.substr(e16 + 16, 16), n16);  // not terminated
    EXPECT_EQ(LE16(b, e17 + 10), 17u);
    EXPECT_EQ(LE32(b, e17 + 16), 160u);
    EXPECT_EQ(b.substr(e17 + 20, 12), n17.substr(0, 12));
    EXPECT_EQ(LE32(b, 160), 0u);
    EXPECT_EQ(b.substr(160 + 4, 5), n17.substr(12));
    EXPECT_EQ(b.substr(160 + 9, 23), std::string(23, '\0'));
    EXPECT_EQ(LE32(b, e40 + 16), 224u);
    EXPECT_EQ(LE32(b, 224), 0u);
    EXPECT_EQ(b.substr(224 + 4, 28), n40.substr(12));
    EXPECT_EQ(LE32(b, e41 + 16), 288u);
    EXPECT_EQ(LE32(b, 288), 320u);
    EXPECT_EQ(LE32(b, 320), 0u);
    EXPECT_EQ(b.substr(320 + 4, 1), "y");
    EXPECT_EQ(Path(e41), "C:\\n\\" + n41);
    // A name of 600 bytes is kept as its first 511.
    std::string n600(600, 'z');
    uint32_t e511 = AddChild(dir, n600.c_str());
    EXPECT_EQ(FindChild(dir, n600.substr(0, 511).c_str()), e511);
    EXPECT_EQ(Path(e511), "C:\\n\\" + n600.substr(0, 511));
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, ReleasedBlocksMergeWithNeighbours)
{
    uint32_t dir = AddPath("C:\\m");
    uint32_t a = AddChild(dir, "a");  // 96
    uint32_t b = AddChild(dir, "b");  // 128
    uint32_t c = AddChild(dir, "c");  // 160
    ASSERT_EQ(a, 96u);
    ASSERT_EQ(c, 160u);
    DeleteInode(b);
    std::string bytes = Bytes();
    EXPECT_EQ(LE32(bytes, 0), 128u);
    EXPECT_EQ(LE32(bytes, 128), 32u);
    EXPECT_EQ(LE32(bytes, 128 + 4), 192u);
    EXPECT_EQ(bytes.substr(128 + 8, 24), std::string(24, '\0'));  // the entry was zeroed
    DeleteInode(a);  // joins the run that follows it
    bytes = Bytes();
    EXPECT_EQ(LE32(bytes, 0), 96u);
    EXPECT_EQ(LE32(bytes, 96), 64u);
    EXPECT_EQ(LE32(bytes, 96 + 4), 192u);
    DeleteInode(c);  // closes the gap: one run from 96 to the end
    bytes = Bytes();
    EXPECT_EQ(LE32(bytes, 0), 96u);
    EXPECT_EQ(LE32(bytes, 96), 0x200000u - 96);
    EXPECT_EQ(LE32(bytes, 96 + 4), 0u);
    // The next allocation takes the first fit again.
    EXPECT_EQ(AddChild(dir, "again"), 96u);
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, IdentityRecordLayout)
{
    uint32_t dir = AddPath("C:\\h");
    uint32_t file = AddChild(dir, "name-of-20-bytes-abc");  // 96, name block 128
    ASSERT_EQ(file, 96u);
    uint32_t name = RegisterHardLink(file, 0x11223344u, 0x55667788u, 0xCAFEBABEu);
    EXPECT_EQ(name, 160u);
    std::string b = Bytes();
    EXPECT_EQ(LE32(b, 20), 96u);  // identity head
    EXPECT_EQ(LE32(b, 96 + 0), 0u);
    EXPECT_EQ(LE32(b, 96 + 4), 0u);
    EXPECT_EQ(static_cast<uint8_t>(b[96 + 8]), 0xFFu);
    EXPECT_EQ(static_cast<uint8_t>(b[96 + 9]), 0x60u);
    EXPECT_EQ(LE16(b, 96 + 10), 0u);
    EXPECT_EQ(LE32(b, 96 + 12), 160u);
    EXPECT_EQ(LE32(b, 96 + 16), 0x11223344u);
    EXPECT_EQ(LE32(b, 96 + 20), 0x55667788u);
    EXPECT_EQ(LE32(b, 96 + 24), 0xCAFEBABEu);
    EXPECT_EQ(b.substr(96 + 28, 4), "20-b");  // left as it was: name bytes 8..11
    // The name moved to the new block with the link-member flag.
    EXPECT_EQ(LE32(b, dir + 12), 160u);
    EXPECT_EQ(static_cast<uint8_t>(b[160 + 9]), 0x40u);
    EXPECT_EQ(LE32(b, 160 + 4), dir);
    EXPECT_EQ(LE32(b, 160 + 12), 96u);
    EXPECT_EQ(LE32(b, 160 + 16), 128u);
    EXPECT_EQ(CanonicalInode(160), 96u);
    EXPECT_EQ(Path(96), "C:\\h\\name-of-20-bytes-abc");
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeTableTest, GrowthGoesTo3And4Point5MiB)
{
    uint32_t dir = AddPath("C:\\grow");
    char name[16];
    InodeTableStats stats;
    // 65536 blocks: the header, "C:" and "grow" leave 65533 for entries.
    uint32_t i = 0;
    for (; i < 65533; i++) {
        snprintf(name, sizeof(name), "f%06u", i);
        ASSERT_NE(AddChild(dir, name), 0u);
    }
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x200000u);
    EXPECT_EQ(stats.free, 0u);
    snprintf(name, sizeof(name), "f%06u", i++);
    EXPECT_EQ(AddChild(dir, name), 0x200000u);  // the first block of the new space
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x300000u);
    EXPECT_EQ(stats.free, 0x100000u - 32);
    for (; i < 65534 + 32767; i++) {
        snprintf(name, sizeof(name), "f%06u", i);
        ASSERT_NE(AddChild(dir, name), 0u);
    }
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x300000u);
    EXPECT_EQ(stats.free, 0u);
    snprintf(name, sizeof(name), "f%06u", i++);
    EXPECT_EQ(AddChild(dir, name), 0x300000u);
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x480000u);
    EXPECT_EQ(stats.entries, i + 2);
    EXPECT_EQ(Consistency(), "");
    std::string b = Bytes();
    EXPECT_EQ(b.size(), 0x480000u);
    EXPECT_EQ(LE32(b, 8), 0x480000u);
    EXPECT_EQ(LE32(b, 0), 0x300000u + 32);
    EXPECT_EQ(LE32(b, 0x300000u + 32), 0x180000u - 32);
    EXPECT_EQ(FindChild(dir, "F000000"), 96u);
    EXPECT_EQ(Path(0x300000u), "C:\\grow\\" + std::string(name));
}

TEST_F(InodeTableTest, OutOfInodesReturnsZeroAndLogs)
{
    LogCapture log(2);
    Bytes();  // loads the table again, now with the log open
    SetInodeTableSizeLimit(0x200000u);
    uint32_t dir = AddPath("C:\\full");
    char name[16];
    uint32_t made = 0;
    for (uint32_t i = 0; i < 70000; i++) {
        snprintf(name, sizeof(name), "f%06u", i);
        if (AddChild(dir, name) == 0)
            break;
        made++;
    }
    EXPECT_EQ(made, 0x200000u / 32 - 3);
    // A long name needs a name block after its entry: the entry goes back.
    uint32_t before = made;
    DeleteInode(FindChild(dir, "f000000"));
    EXPECT_EQ(AddChild(dir, std::string(30, 'L').c_str()), 0u);
    EXPECT_NE(AddChild(dir, "short"), 0u);
    EXPECT_EQ(Consistency(), "");
    InodeTableStats stats;
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x200000u);
    EXPECT_EQ(stats.free, 0u);
    EXPECT_EQ(stats.entries, before + 2);
    const std::string text = log.Text();
    EXPECT_NE(text.find("nfsd: fatal error1 out of inodes"), std::string::npos);
    EXPECT_NE(text.find("nfsd: fatal error2 out of inodes"), std::string::npos);
    EXPECT_NE(text.find("nfsd: inodeTable total 2097152 used"), std::string::npos);
}

}  // namespace

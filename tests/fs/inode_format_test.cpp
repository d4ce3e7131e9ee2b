// The allocation rules of the inode table file: long names, free runs,
// growth and a full table.  The layout itself is compared byte for byte with
// the committed sample tables (InodeCrossTest ThisBuildWritesTheSameBytes).
#include <cstring>

#include "fs/inode_fixture.h"
#include "fs/win_file_access.h"

namespace {

// A name longer than 511 bytes is kept as its first 511.
TEST_F(InodeTableTest, LongNamesAreCutTo511Bytes)
{
    uint32_t dir = AddPath("C:\\n");
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

TEST_F(InodeTableTest, OutOfInodesReturnsZero)
{
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
}

}  // namespace

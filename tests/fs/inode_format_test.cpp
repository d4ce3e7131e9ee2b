// The allocation rules of the inode table file: long names and a full
// table.  The layout itself is compared byte for byte with the committed
// sample tables (InodeCrossTest ThisBuildWritesTheSameBytes).
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

// A full table grows: the entries past its first size work and survive a
// reload.
TEST_F(InodeTableTest, AFullTableGrows)
{
    uint32_t dir = AddPath("C:\\grow");
    char name[16];
    uint32_t last = 0;
    for (uint32_t i = 0; i < 65534; i++) {
        snprintf(name, sizeof(name), "f%06u", i);
        ASSERT_NE(last = AddChild(dir, name), 0u);
    }
    EXPECT_GE(last, 0x200000u);
    EXPECT_EQ(Bytes().size(), 0x300000u);
    EXPECT_EQ(FindChild(dir, name), last);
    EXPECT_EQ(Consistency(), "");
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

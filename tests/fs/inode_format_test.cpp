// The allocation rules of the inode table file: a full table.  The layout itself is compared byte for byte with the committed
// sample tables (InodeCrossTest ThisBuildWritesTheSameBytes).
#include <cstring>

#include "fs/inode_fixture.h"
#include "fs/win_file_access.h"

namespace {

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

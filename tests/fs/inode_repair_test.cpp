// Damaged table files: the load repairs what it can, and whatever it keeps
// is a consistent table.
#include <string>
#include <vector>

#include "fs/inode_fixture.h"

namespace {

class InodeRepairTest : public InodeTableTest {
protected:
    uint32_t dir = 0;
    uint32_t a = 0, b = 0, c = 0;
    void SetUp() override
    {
        InodeTableTest::SetUp();
        dir = AddPath("C:\\r");
        a = AddChild(dir, "a");
        b = AddChild(dir, "b-with-a-long-name-in-blocks");
        c = AddChild(dir, "c");
        AddChild(c, "inside");
    }
};

TEST_F(InodeRepairTest, SiblingCycleIsBroken)
{
    std::string bytes = Bytes();
    PutLE32(bytes, c + 0, a);  // last sibling points back at the first
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "a"), a);
    EXPECT_EQ(FindChild(dir, "c"), c);
    EXPECT_NE(FindChild(c, "inside"), 0u);
    EXPECT_EQ(LE32(Bytes(), c), 0u);
}

TEST_F(InodeRepairTest, UnsortedAndDuplicateNamesAreSortedOut)
{
    std::string bytes = Bytes();
    // Order c, a, b by the links; then make "c" also called "a".
    PutLE32(bytes, dir + 12, c);
    PutLE32(bytes, c + 0, a);
    PutLE32(bytes, a + 0, b);
    PutLE32(bytes, b + 0, 0);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "a"), a);
    EXPECT_EQ(FindChild(dir, "b-with-a-long-name-in-blocks"), b);
    EXPECT_EQ(FindChild(dir, "c"), c);
    bytes = Bytes();
    EXPECT_EQ(LE32(bytes, dir + 12), a);
    bytes[c + 16] = 'a';
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "a"), a);  // the first of the equal names stays
    EXPECT_EQ(FindChild(dir, "c"), 0u);
    EXPECT_EQ(InodeOfHandle(c), 0u);
}

TEST_F(InodeRepairTest, DamagedFreeListIsRebuilt)
{
    uint32_t x1 = AddChild(dir, "x1");
    uint32_t x2 = AddChild(dir, "x2");
    uint32_t x3 = AddChild(dir, "x3");
    DeleteInode(x2);
    std::string bytes = Bytes();
    ASSERT_EQ(LE32(bytes, 0), x2);
    ASSERT_EQ(LE32(bytes, x2), 32u);
    PutLE32(bytes, x2, 64);  // the hole claims "x3" as well
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    // The hole is one block again, first in the list.
    std::string repaired = Bytes();
    EXPECT_EQ(LE32(repaired, 0), x2);
    EXPECT_EQ(LE32(repaired, x2), 32u);
    std::vector<uint32_t> fresh;
    for (int i = 0; i < 50; i++)
        fresh.push_back(AddChild(dir, ("new" + std::to_string(i)).c_str()));
    for (uint32_t e : fresh)
        EXPECT_NE(e, x3);
    EXPECT_EQ(FindChild(dir, "x3"), x3);
    EXPECT_EQ(FindChild(dir, "x1"), x1);
    EXPECT_EQ(Consistency(), "");
    // A run that leads back into the entries.
    bytes = Bytes();
    uint32_t head = LE32(bytes, 0);
    PutLE32(bytes, head + 4, c);
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "c"), c);
    EXPECT_NE(AddChild(dir, "one-more"), c);
    EXPECT_EQ(Consistency(), "");
}

TEST_F(InodeRepairTest, BrokenLinkRingDropsTheIdentity)
{
    uint32_t name = RegisterHardLink(a, 5, 6, 7);
    ASSERT_NE(name, a);
    std::string bytes = Bytes();
    PutLE32(bytes, name + 12, c);  // the ring leads to a plain entry
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "a"), name);
    EXPECT_EQ(CanonicalInode(name), name);
    EXPECT_EQ(InodeOfHandle(a), 0u);
    EXPECT_EQ(LE32(Bytes(), 20), 0u);
}

TEST_F(InodeRepairTest, TruncatedFileLoadsWhatIsLeft)
{
    std::string bytes = Bytes();
    bytes.resize(c + 16);  // cuts "c" in half
    ASSERT_TRUE(LoadBytes(bytes));
    EXPECT_EQ(Consistency(), "");
    EXPECT_EQ(FindChild(dir, "a"), a);
    InodeTableStats stats;
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.total, 0x200000u);
}

}  // namespace

// The table file is the same on every build: the sample tables written by
// the Windows build and by the POSIX build (tests/fs/data) open here, and the
// table this build writes is byte for byte the same as both.
#include <string>

#include "fs/helpers/inode_sample.h"
#include "fs/inode_fixture.h"
#include "fs/win_file_access.h"

#ifndef INODE_DATA_DIR
#define INODE_DATA_DIR "tests/fs/data"
#endif

namespace {

std::string DataFile(const char *name) { return std::string(INODE_DATA_DIR) + "/" + name; }

// The serial number is the volume's: a copy carries the one of the volume
// it was written on, which would (rightly) make the load start afresh.
std::string WithSerialOf(std::string bytes, const std::string &winPath)
{
    DWORD serial = 0;
    EXPECT_TRUE(VolumeSerialOfPath(winPath.c_str(), &serial));
    PutLE32(bytes, 12, serial);
    return bytes;
}

class InodeCrossTest : public InodeTableTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(InodeCrossTest, CommittedTableOpensWithItsContent)
{
    std::string committed = ReadFileBytes(DataFile(GetParam()));
    ASSERT_EQ(committed.size(), 0x200000u) << DataFile(GetParam());
    ASSERT_TRUE(LoadBytes(WithSerialOf(committed, winPath)));
    EXPECT_EQ(CheckSampleTable(), "");
    EXPECT_EQ(Consistency(), "");
    InodeTableStats stats;
    ASSERT_TRUE(InodeTableStatistics(&stats));
    EXPECT_EQ(stats.identities, 1u);
    EXPECT_EQ(stats.total, 0x200000u);
}

TEST_P(InodeCrossTest, ThisBuildWritesTheSameBytes)
{
    std::string committed = ReadFileBytes(DataFile(GetParam()));
    ASSERT_EQ(committed.size(), 0x200000u);
    BuildSampleTable();
    std::string own = Bytes();
    ASSERT_EQ(own.size(), committed.size());
    // All but the volume serial number.
    PutLE32(own, 12, 0);
    PutLE32(committed, 12, 0);
    size_t first = 0;
    while (first < own.size() && own[first] == committed[first])
        first++;
    EXPECT_EQ(first, own.size()) << "first difference at byte " << first;
}

INSTANTIATE_TEST_SUITE_P(Builds, InodeCrossTest, ::testing::Values("table_windows.nfs", "table_posix.nfs"));

}  // namespace

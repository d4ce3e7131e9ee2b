// Creating, removing and renaming names on real files.
#include "handles_fixture.h"

#include <cstring>

#include "backend/namespace_ops.h"
#include "fs/inode_table.h"
#include "platform/win32.h"

namespace {

const uint8_t VERIFIER_A[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const uint8_t VERIFIER_B[8] = {1, 2, 3, 4, 5, 6, 7, 9};

} // namespace

// FAT keeps only the write time, in two-second steps from 1980: the
// verifier's CRC-16 goes there.  (Other volumes are judged on the wire.)
TEST(ExclusiveTimes, FatKeepsTheCrcInTheWriteTimeAlone)
{
    const uint64_t from1980 = 11960006400ull * 10000000ull;
    ExclusiveTimes a = ExclusiveVerifierTimes(VERIFIER_A, false), b = ExclusiveVerifierTimes(VERIFIER_B, false);
    uint64_t va = (static_cast<uint64_t>(a.lastWrite.dwHighDateTime) << 32 | a.lastWrite.dwLowDateTime) - from1980;
    uint64_t vb = (static_cast<uint64_t>(b.lastWrite.dwHighDateTime) << 32 | b.lastWrite.dwLowDateTime) - from1980;
    EXPECT_FALSE(a.withAccess);
    EXPECT_NE(va, vb);
    EXPECT_LT(va, 2ull * 65536 * 10000000ull);
    EXPECT_EQ(va % 20000000ull, 0u);
}

TEST_F(HandlesTest, FailedRenameKeepsTheTarget)
{
    MakeFile("data/src", "new");
    MakeFile("data/dst", "precious");
    FileHandle root = Mount(Win("data"), 0, 022);
    // The source is open without delete sharing: Windows refuses to move it.
    HANDLE busy = CreateFileA(Win("data\\src").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_NE(RenameOp(&root, "src", &root, "dst", &caller), 0u);
    CloseHandle(busy);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/dst")), "precious");
    EXPECT_EQ(ReadFileBytes(dir.Native("data/src")), "new");
}

TEST_F(HandlesTest, FoldersMadeAfterAFolderReplacedAnotherTakeNewFiles)
{
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle r1, r3, r4, x, y;
    FileAttributes attributes;
    ASSERT_EQ(MakeDirectory(&root, "r1", nullptr, &r1, &attributes, &caller), 0u);
    ASSERT_EQ(CreateFileOp(&r1, "x", CREATE_HOW_GUARDED, nullptr, VERIFIER_A, &x, &attributes, &caller), 0u);
    ASSERT_EQ(RenameOp(&root, "r1", &root, "r2", &caller), 0u);
    ASSERT_EQ(MakeDirectory(&root, "r3", nullptr, &r3, &attributes, &caller), 0u);
    ASSERT_EQ(RenameOp(&root, "r2", &root, "r3", &caller), 0u);
    ASSERT_EQ(MakeDirectory(&root, "r4", nullptr, &r4, &attributes, &caller), 0u);
    // The client still holds the replaced folder's handle: it stays stale and
    // is not the new folder's.
    EXPECT_NE(memcmp(&r4, &r3, sizeof r4), 0);
    EXPECT_EQ(GetAttrByHandle(&r3, &attributes, &caller), 70u);
    EXPECT_EQ(CreateFileOp(&r4, "y", CREATE_HOW_GUARDED, nullptr, VERIFIER_A, &y, &attributes, &caller), 0u);
    EXPECT_TRUE(FileExists(dir.Native("data/r4/y")));
    EXPECT_EQ(RenameOp(&root, "r3", &root, "r4", &caller), 66u);
    EXPECT_TRUE(FileExists(dir.Native("data/r3/x")));
}

// Opening the inode table: the path of the setting, a file that cannot be
// opened, and the background check of InodeCheck.
#include <chrono>
#include <string>
#include <thread>

#include "fs/inode_fixture.h"
#include "fs/win_file_access.h"

namespace {

TEST(InodeOpenTest, PathFromTheSetting)
{
    ServerSettings.InodeCheck = 0;
    TempDir dir;
    ASSERT_EQ(SelectSettingsFile(dir.win().c_str(), "nfsd", 1), 1);
    std::string table = dir.Win("elsewhere.nfs");
    ASSERT_TRUE(WriteString("nfsd", "InodePath", table.c_str()));
    ASSERT_TRUE(OpenInodeTable(0));
    EXPECT_EQ(std::string(InodeTablePath()), table);
    EXPECT_NE(AddPath("C:\\x"), 0u);
    CloseInodeTable();
    EXPECT_TRUE(FileExists(dir.Native("elsewhere.nfs")));
}

TEST(InodeOpenTest, UnopenableFileFails)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("folder").c_str(), nullptr));
    EXPECT_FALSE(OpenInodeTableAt(dir.Win("folder").c_str(), 0));
    EXPECT_EQ(AddPath("C:\\x"), 0u);
    EXPECT_EQ(FindChild(0, "C:"), 0u);
}

TEST(InodeOpenTest, BackgroundCheckRemovesVanishedPaths)
{
    ServerSettings.CharSetActive = 1;
    ServerSettings.InodeCheck = 0;
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("keep").c_str(), nullptr));
    WriteFileBytes(dir.Native("keep/file"), "");
    std::string table = dir.Win("inodes.nfs");
    ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 1));
    uint32_t file = AddPath((dir.win() + "keep\\file").c_str());
    uint32_t missing = AddPath((dir.win() + "keep\\missing").c_str());
    uint32_t gone = AddPath((dir.win() + "gone").c_str());
    uint32_t below = AddPath((dir.win() + "gone\\below\\deeper").c_str());
    uint32_t otherDrive = AddPath("Q:\\no\\such\\drive");
    ASSERT_NE(file, 0u);
    ASSERT_NE(below, 0u);
    CloseInodeTable();
    ServerSettings.InodeCheck = 1;
    ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 0));
    ServerSettings.InodeCheck = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((InodeOfHandle(missing) != 0 || InodeOfHandle(gone) != 0 || InodeOfHandle(otherDrive) != 0) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(InodeOfHandle(missing), 0u);
    EXPECT_EQ(InodeOfHandle(gone), 0u);
    EXPECT_EQ(InodeOfHandle(below), 0u);
    EXPECT_EQ(InodeOfHandle(otherDrive), 0u);
    EXPECT_EQ(InodeOfHandle(file), file);
    CloseInodeTable();  // stops the check thread first
    ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 0));
    char reason[256] = "";
    EXPECT_TRUE(InodeTableConsistent(reason, sizeof(reason))) << reason;
    CloseInodeTable();
}

}  // namespace

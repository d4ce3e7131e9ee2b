// Start and stop of the backend: the inode table and the start-up log lines.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "backend/backend_start.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

std::string LogOf(const TempDir &dir)
{
    FlushLog();
    for (const auto &item : std::filesystem::directory_iterator(dir.native())) {
        std::string name = item.path().filename().string();
        if (name.rfind("nfsd", 0) == 0 && name.size() == 12 && name.substr(8) == ".log")
            return ReadFileBytes(item.path().string());
    }
    return std::string();
}

class BackendStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SelectSettingsFile(dir.win().c_str(), "nfsd", 1), 1);
        memset(&ServerSettings, 0, sizeof(ServerSettings));
        ServerSettings.Log = 1;
        ServerSettings.Cache = 10;
        ServerSettings.Datasize = 65536;
        ServerSettings.FHsize = 20;
        ASSERT_NE(OpenLog(dir.win().c_str()), nullptr);
    }
    void TearDown() override
    {
        CloseLog();
        SelectRegistrySettings();
    }
    TempDir dir;
};

} // namespace

TEST_F(BackendStart, OpensTheTableAndLogsTheSettings)
{
    ASSERT_TRUE(WriteString("nfsd", "InodePath", dir.Win("table.nfs").c_str()));
    ServerSettings.CharSetActive = 2;
    ServerSettings.FHsize = 32;
    ServerSettings.MapRoot = 1;
    ServerSettings.HardLinks = 2;
    ServerSettings.InodeReset = 1;
    ASSERT_EQ(StartNfsBackend(), 0);
    EXPECT_STREQ(InodeTablePath(), dir.Win("table.nfs").c_str());
    EXPECT_NE(AddPath(dir.Win("x").c_str()), 0u);
    StopNfsBackend();
    EXPECT_STREQ(InodeTablePath(), "");
    EXPECT_TRUE(FileExists(dir.Native("table.nfs")));

    const std::string log = LogOf(dir);
    EXPECT_NE(log.find(" nfsd   file handle cache size 10\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" nfsd   client charset UTF-8\r\n"), std::string::npos);
    EXPECT_NE(log.find(" nfsd   maximum data size 65536\r\n"), std::string::npos);
    EXPECT_NE(log.find(" nfsd   nfs3 handle size 32\r\n"), std::string::npos);
    EXPECT_NE(log.find(" nfsd   client root mapped to root\r\n"), std::string::npos);
    EXPECT_NE(log.find(" nfsd   hardlinks by copy enabled\r\n"), std::string::npos);
    EXPECT_EQ(log.find("NTFS hardlinks supported"), std::string::npos);  // HardLinks has no bit 1
    EXPECT_EQ(log.find("file id mode enabled"), std::string::npos);      // FileId is off
    // Every line starts with the time stamp "YYYY-MM-DD hh:mm:ss".
    size_t line = log.find("nfsd   client charset");
    ASSERT_GE(line, 20u);
    EXPECT_EQ(log[line - 1], ' ');
    EXPECT_EQ(log[line - 20 + 4], '-');
    EXPECT_EQ(log[line - 20 + 13], ':');
}

TEST_F(BackendStart, QuietSettingsLogNoOptionalLines)
{
    ASSERT_TRUE(WriteString("nfsd", "InodePath", dir.Win("table.nfs").c_str()));
    ServerSettings.CharSetActive = 0;
    ASSERT_EQ(StartNfsBackend(), 0);
    StopNfsBackend();
    const std::string log = LogOf(dir);
    EXPECT_NE(log.find(" nfsd   client charset ASCII\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("nfs3 handle size"), std::string::npos);
    EXPECT_EQ(log.find("root mapped"), std::string::npos);
    EXPECT_EQ(log.find("hardlinks"), std::string::npos);
}

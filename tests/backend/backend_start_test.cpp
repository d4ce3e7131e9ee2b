// Start and stop of the backend: the inode table and the start-up log lines.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "backend/backend_start.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"
#include "support/data_directory.h"

namespace {

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

// The optional lines appear only for the settings they name (the line's
// time stamp is the log's own: LogName TimestampText).
TEST_F(BackendStart, OpensTheTableAndLogsTheSettings)
{
    ASSERT_TRUE(WriteString("nfsd", "InodePath", dir.Win("table.nfs").c_str()));
    const struct {
        uint32_t charSet, handleSize, mapRoot, hardLinks;
        std::vector<const char *> present, absent;
    } cases[] = {
        {2, 32, 1, 2,
         {" nfsd   file handle cache size 10\n", " nfsd   client charset UTF-8\n",
          " nfsd   maximum data size 65536\n", " nfsd   nfs3 handle size 32\n",
          " nfsd   client root mapped to root\n", " nfsd   hardlinks by copy enabled\n"},
         {"NTFS hardlinks supported", "file id mode enabled"}},  // HardLinks has no bit 1, FileId is off
        {0, 20, 0, 0, {" nfsd   client charset ASCII\n"}, {"nfs3 handle size", "root mapped", "hardlinks"}},
    };
    for (const auto &c : cases) {
        ServerSettings.CharSetActive = c.charSet;
        ServerSettings.FHsize = c.handleSize;
        ServerSettings.MapRoot = c.mapRoot;
        ServerSettings.HardLinks = c.hardLinks;
        ServerSettings.InodeReset = 1;
        ASSERT_EQ(StartNfsBackend(), 0);
        EXPECT_STREQ(InodeTablePath(), dir.Win("table.nfs").c_str());
        EXPECT_NE(AddPath(dir.Win("x").c_str()), 0u);
        StopNfsBackend();
        EXPECT_STREQ(InodeTablePath(), "");
        EXPECT_TRUE(FileExists(dir.Native("table.nfs")));
        const std::string log = LogFileText(dir);
        for (const char *line : c.present)
            EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
        // Only the lines of this start, after the last one's.
        const std::string last = log.substr(log.rfind(" nfsd   file handle cache size"));
        for (const char *text : c.absent)
            EXPECT_EQ(last.find(text), std::string::npos) << text;
    }
}

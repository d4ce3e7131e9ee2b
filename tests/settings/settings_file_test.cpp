// The settings store over nfsd.ini: load rules, clamps, the save order and
// the per-user section.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

class SettingsFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string native = dir.Native("nfsd.ini");

    void SetUp() override
    {
        ASSERT_EQ(SelectSettingsFile(dir.win().c_str(), "nfsd", 1), 1);
        snprintf(DataDirectory, sizeof DataDirectory, "%s", dir.win().c_str());
        memset(&ServerSettings, 0, sizeof ServerSettings);
    }
    void TearDown() override { SelectRegistrySettings(); }

    void Put(const std::string &bytes) { WriteFileBytes(native, bytes); }
    std::string Bytes() { return FileExists(native) ? ReadFileBytes(native) : ""; }
    void Load(const std::string &bytes)
    {
        Put(bytes);
        LoadSettings("nfsd");
    }
};

TEST_F(SettingsFile, SavingTheDefaultsLeavesNoKeys)
{
    Load("");
    SaveSettings("nfsd", &ServerSettings);
    char keys[256];
    EXPECT_EQ(GetPrivateProfileStringA("nfsd", nullptr, "", keys, sizeof keys, dir.Win("nfsd.ini").c_str()), 0u);

    // Stored values equal to their defaults are removed by the next save.
    Load("[nfsd]\r\nLog=1\r\nPort=2049\r\nThreads=4\r\nMapRoot=0\r\n");
    SaveSettings("nfsd", &ServerSettings);
    EXPECT_EQ(Bytes(), "[nfsd]\r\n");
}

TEST_F(SettingsFile, SaveWritesChangedFieldsInItsOrder)
{
    Load("");
    ServerSettingsRecord r = ServerSettings;
    r.MapRoot = 1;
    r.Log = 2;
    r.Port = 2050;
    r.Threads = 8;
    r.HardLinks = 3;
    r.NLMPort = 4046;
    r.Datasize = 32768;
    SaveSettings("nfsd", &r);
    EXPECT_EQ(Bytes(), "[nfsd]\r\nLog=2\r\nPort=2050\r\nNLM-Port=4046\r\nThreads=8\r\nDatasize=32768\r\n"
                       "HardLinks=3\r\nMapRoot=1\r\n");
}

TEST_F(SettingsFile, SaveLeavesKeysItNeverWrites)
{
    Load("[nfsd]\r\nCache=99\r\nMap_58=95\r\nLogDir=Z:\\logs\\\r\nFHsize=32\r\nMount=0\r\n");
    ServerSettingsRecord r = ServerSettings;
    r.Mount = 1;  // not written by the save
    r.WebNFS = 1;
    SaveSettings("nfsd", &r);
    EXPECT_EQ(Bytes(), "[nfsd]\r\nCache=99\r\nMap_58=95\r\nLogDir=Z:\\logs\\\r\nFHsize=32\r\nMount=0\r\nWebNFS=1\r\n");
}

// Each file's lines, and a field with the value it loads to.
TEST_F(SettingsFile, LoadRules)
{
    const struct {
        const char *lines;
        uint32_t ServerSettingsRecord::*field;
        uint32_t value;
    } cases[] = {
        {"FHsize=24", &ServerSettingsRecord::FHsize, 20},  // 32 only when exactly 32
        {"FHsize=32", &ServerSettingsRecord::FHsize, 32},
        // The directory reply is never above the read size, the default 6400
        // included; -1 compares as the largest value.
        {"Datasize=4096\r\nDirsize=9000", &ServerSettingsRecord::DirSize, 4096},
        {"Datasize=4096", &ServerSettingsRecord::DirSize, 4096},
        {"Dirsize=-1", &ServerSettingsRecord::DirSize, 8192},
        {"Locktime=5", &ServerSettingsRecord::Locktime, 5000},
        {"NFS3Write=18", &ServerSettingsRecord::NFS3Write, 2},
        {"NFS3Write=18", &ServerSettingsRecord::NFS3WriteFlag, 16},
        {"CharSet=1", &ServerSettingsRecord::CharSetActive, 1},
        // Unparsable numbers give the default; leading digits count; a real
        // zero stays zero.
        {"Threads=", &ServerSettingsRecord::Threads, 4},
        {"Datasize=-", &ServerSettingsRecord::Datasize, 8192},
        {"Cache=12abc", &ServerSettingsRecord::Cache, 12},
        {"FileId=0", &ServerSettingsRecord::FileId, 0},
    };
    for (const auto &c : cases) {
        Load(std::string("[nfsd]\r\n") + c.lines + "\r\n");
        EXPECT_EQ(ServerSettings.*c.field, c.value) << c.lines;
    }
    Load("[nfsd]\r\nPort=70000\r\nMount-Port=-1\r\nNLM-Port=abc\r\nRPCTIMEOUT=-3\r\nRPCIDLE=0\r\n"
         "PortMapperRegistration=0\r\n");
    EXPECT_EQ(ServerSettings.Port, 4464);  // low 16 bits
    EXPECT_EQ(ServerSettings.MountPort, 65535);
    EXPECT_EQ(ServerSettings.NLMPort, 4045);
    EXPECT_EQ(RPCTIMEOUT, -3);
    EXPECT_EQ(RPCIDLE, 0);
    EXPECT_EQ(PortMapperRegistration, 0);
}

TEST_F(SettingsFile, WriteFlagSurvivesTheSave)
{
    Load("[nfsd]\r\nNFS3Write=18\r\n");
    ServerSettingsRecord r = ServerSettings;
    SaveSettings("nfsd", &r);
    EXPECT_EQ(Bytes(), "[nfsd]\r\nNFS3Write=18\r\n");
    // The preferences change the level; the flag of the live record stays.
    r.NFS3Write = 0;
    SaveSettings("nfsd", &r);
    EXPECT_EQ(Bytes(), "[nfsd]\r\nNFS3Write=16\r\n");
}

TEST_F(SettingsFile, CharacterMap)
{
    // Forbidden characters map to allowed ones; what else a file asks for is
    // refused (fuzz_settings_file holds every map to that rule).
    Load("[nfsd]\r\nMap_58=95\r\nMap_127=126\r\nMap_92=32\r\nMap_65=95\r\n");
    EXPECT_EQ(CharMap[static_cast<uint8_t>(':')], '_');
    EXPECT_EQ(CharMap[127], '~');
    EXPECT_EQ(CharMap[static_cast<uint8_t>('\\')], ' ');
    EXPECT_EQ(CharMap[static_cast<uint8_t>('A')], 0);
}

TEST_F(SettingsFile, PerUserValuesLiveInTheUserSection)
{
    EXPECT_EQ(WriteUserInt("nfsd", "width", 640, 0), 1);
    EXPECT_EQ(WriteUserString("nfsd", "Language", "Deutsch.ini"), 1);
    EXPECT_EQ(WriteInt("nfsd", "width", 5, 0), 1);
    EXPECT_EQ(Bytes(), "[User]\r\nwidth=640\r\nLanguage=Deutsch.ini\r\n[nfsd]\r\nwidth=5\r\n");
    EXPECT_EQ(ReadUserInt("nfsd", "width", 500), 640);
    char buffer[32];
    ReadUserString("nfsd", "Language", "", buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Deutsch.ini");
    EXPECT_EQ(WriteUserInt("nfsd", "width", 0, 0), 1);
    EXPECT_EQ(ReadUserInt("nfsd", "width", 500), 500);
}

TEST_F(SettingsFile, TooLongDirectoryKeepsTheSelection)
{
    std::string longDir(1020, 'a');
    EXPECT_EQ(SelectSettingsFile(longDir.c_str(), "nfsd", 1), 0);
    EXPECT_EQ(WriteInt("nfsd", "Port", 3000, 2049), 1);
    EXPECT_EQ(Bytes(), "[nfsd]\r\nPort=3000\r\n");
    // 1019 + 4 characters is under the limit.
    std::string fits(1019, 'a');
    EXPECT_EQ(SelectSettingsFile(fits.c_str(), "nfsd", 1), 1);
}

}  // namespace

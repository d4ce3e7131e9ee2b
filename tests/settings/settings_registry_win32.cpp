// The registry back end, run against the registry of the Windows build (under
// Wine, the prefix's registry).  Every case works in a subkey of its own that
// is removed afterwards, under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "settings/settings.h"

namespace {

class SettingsRegistry : public ::testing::Test {
protected:
    std::string section;
    std::string keyPath;

    void SetUp() override
    {
        SelectRegistrySettings();
        char name[64];
        snprintf(name, sizeof name, "KorvaneTest-%lu", static_cast<unsigned long>(GetCurrentProcessId()));
        section = name;
        keyPath = std::string("Software\\Korvane\\nfsd\\") + section;
        Clean();
    }
    void TearDown() override { Clean(); }
    void Clean()
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, keyPath.c_str());
    }

    // The raw value as stored: type and bytes.
    bool Raw(HKEY root, const char *name, DWORD *type, std::string *bytes)
    {
        HKEY key;
        if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        char data[512];
        DWORD size = sizeof data;
        LONG rc = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE *>(data), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            return false;
        bytes->assign(data, size);
        return true;
    }
    // The stored text: the system itself adds the terminating zero to a
    // REG_SZ written without it when the byte after the data is a zero.
    std::string Text(HKEY root, const char *name)
    {
        DWORD type = 0;
        std::string bytes;
        if (!Raw(root, name, &type, &bytes) || type != REG_SZ)
            return "<none>";
        return bytes.substr(0, bytes.find('\0'));
    }
    void SetRaw(HKEY root, const char *name, DWORD type, const std::string &bytes, size_t count = std::string::npos)
    {
        if (count == std::string::npos)
            count = bytes.size();
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                                 static_cast<DWORD>(count)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(SettingsRegistry, IntegersAreTextWithoutTerminator)
{
    const char *s = section.c_str();
    ASSERT_EQ(WriteInt(s, "Port", 3049, 2049), 1);
    DWORD type = 0;
    std::string bytes;
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, "Port"), "3049");
    EXPECT_EQ(ReadInt(s, "Port", 2049), 3049);
    // Writing the default removes the value.
    ASSERT_EQ(WriteInt(s, "Port", 2049, 2049), 1);
    EXPECT_FALSE(Raw(HKEY_LOCAL_MACHINE, "Port", &type, &bytes));
    EXPECT_EQ(ReadInt(s, "Port", 2049), 2049);
    // Unparsable or empty values give the default, leading digits count.
    SetRaw(HKEY_LOCAL_MACHINE, "Empty", REG_SZ, "");
    SetRaw(HKEY_LOCAL_MACHINE, "Word", REG_SZ, std::string("abc\0", 4));
    SetRaw(HKEY_LOCAL_MACHINE, "Lead", REG_SZ, " 12xyz");
    EXPECT_EQ(ReadInt(s, "Empty", 5), 5);
    EXPECT_EQ(ReadInt(s, "Word", 5), 5);
    EXPECT_EQ(ReadInt(s, "Lead", 5), 12);
    EXPECT_EQ(ReadInt(s, "Absent", 5), 5);
}

TEST_F(SettingsRegistry, StringsAndBinaryValues)
{
    const char *s = section.c_str();
    ASSERT_EQ(WriteString(s, "InodePath", "C:\\data\\inodes.nfs"), 1);
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ReadString(s, "InodePath", "", buffer, sizeof buffer), 18u);
    EXPECT_STREQ(buffer, "C:\\data\\inodes.nfs");
    // A value too long for the buffer gives the default.
    EXPECT_EQ(ReadString(s, "InodePath", "dflt", buffer, 8), 4u);
    EXPECT_STREQ(buffer, "dflt");
    // Text stored without its zero (the byte after the data is no zero, so
    // the system adds none) still ends inside the buffer.
    SetRaw(HKEY_LOCAL_MACHINE, "Bare", REG_SZ, "abcX", 3);
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ReadString(s, "Bare", "", buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "abc");
    // REG_BINARY answers with its byte count.
    SetRaw(HKEY_LOCAL_MACHINE, "Blob", REG_BINARY, std::string("\x01\x00\x02\x00\x03", 5));
    EXPECT_EQ(ReadString(s, "Blob", "", buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), std::string("\x01\x00\x02\x00\x03", 5));
}

TEST_F(SettingsRegistry, PerUserValuesGoToTheCurrentUser)
{
    const char *s = section.c_str();
    ASSERT_EQ(WriteUserInt(s, "width", 640, 0), 1);
    ASSERT_EQ(WriteUserString(s, "Language", "Deutsch.ini"), 1);
    DWORD type;
    std::string bytes;
    EXPECT_EQ(Text(HKEY_CURRENT_USER, "width"), "640");
    EXPECT_FALSE(Raw(HKEY_LOCAL_MACHINE, "width", &type, &bytes));
    EXPECT_EQ(ReadUserInt(s, "width", 500), 640);
    EXPECT_EQ(ReadInt(s, "width", 500), 500);
    char buffer[32];
    EXPECT_EQ(ReadUserString(s, "Language", "", buffer, sizeof buffer), 11u);
    EXPECT_STREQ(buffer, "Deutsch.ini");
}

TEST_F(SettingsRegistry, SettingsFileWithoutPerUserFlagSendsUserValuesToTheRegistry)
{
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    ASSERT_EQ(SelectSettingsFile(temp, section.c_str(), 0), 1);
    const char *s = section.c_str();
    EXPECT_EQ(WriteUserInt(s, "height", 300, 0), 1);
    SelectRegistrySettings();
    EXPECT_EQ(ReadUserInt(s, "height", 250), 300);
    DeleteFileA((std::string(temp) + section + ".ini").c_str());
}

TEST_F(SettingsRegistry, LoadAndSaveOverTheRegistry)
{
    const char *s = section.c_str();
    snprintf(DataDirectory, sizeof DataDirectory, "C:\\data\\");
    SetRaw(HKEY_LOCAL_MACHINE, "FHsize", REG_SZ, "32");
    SetRaw(HKEY_LOCAL_MACHINE, "NFS3Write", REG_SZ, "18");
    LoadSettings(s);
    EXPECT_EQ(ServerSettings.FHsize, 32u);
    EXPECT_EQ(ServerSettings.NFS3WriteFlag, 16u);
    ServerSettingsRecord r = ServerSettings;
    r.Threads = 16;
    SaveSettings(s, &r);
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, "Threads"), "16");
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, "NFS3Write"), "18");
}

}  // namespace

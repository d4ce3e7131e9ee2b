#include "mount_fixture.h"

#include "support/data_directory.h"

#include <cstring>
#include <filesystem>

#include "fs/inode_table.h"
#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"

int FakeHostLookup(uint32_t address, char *name, size_t size)
{
    if (address == Addr("10.9.9.9"))
        return 0;
    char dotted[16];
    FormatAddress(address, dotted);
    std::string text = std::string("client-") + dotted;
    for (char &c : text)
        if (c == '.')
            c = '-';
    snprintf(name, size, "%s", text.c_str());
    return 1;
}

void MountTest::SetUp()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    ASSERT_TRUE(UseAsDataDirectory(dir));
    ServerSettings.Cache = 8;
    ServerSettings.Lowercase = 1;
    ServerSettings.FHsize = 32;
    ServerSettings.Version2 = ServerSettings.Version3 = ServerSettings.Mount = 1;
    ServerSettings.UDP = ServerSettings.TCP = 1;
    PortMapperRegistration = 0;
    SetHostNameResolver(HostTableResolver);
    SetHostAddressLookup(FakeHostLookup);
    MountTableFree();
    ExportTablesFree();
    ASSERT_TRUE(OpenInodeTableAt(dir.Win("inodes.nfs").c_str(), 1));
    for (const char *folder : {"data", "data/sub", "data/sub/deep", "other", "pub", "pub/docs"})
        std::filesystem::create_directories(dir.Native(folder));
    WriteFileBytes(dir.Native("data/file.txt"), "text");
}

void MountTest::TearDown()
{
    EXPECT_TRUE(MountWaitHostLookups(5000));
    MountTableFree();
    ExportTablesFree();
    CloseInodeTable();
    SetHostAddressLookup(nullptr);
    SetHostNameResolver(nullptr);
    CloseLog();
    SelectRegistrySettings();
}

std::string MountTest::Win(const std::string &relative) const
{
    return WindowsPathIn(dir, relative);
}

std::string MountTest::ClientForm(const std::string &windowsPath)
{
    char out[EXPORT_PATH_SIZE];
    EXPECT_TRUE(ToClientPath(windowsPath.c_str(), out, sizeof out));
    return out;
}

void MountTest::LoadExports(const std::string &text) { LoadExportsIn(dir, text); }

std::string MountTest::MountTab() const
{
    return WithoutCarriageReturns(ReadFileBytes(dir.Native("mounttab")));
}

void MountTest::WriteMountTab(const std::string &text)
{
    WriteFileBytes(dir.Native("mounttab"), text);
}

std::vector<MountRecord> MountTest::Records()
{
    std::vector<MountRecord> out;
    LockTake(&MountLock);
    for (MountRecord *r = MountTableHead(); r != nullptr; r = r->next)
        out.push_back(*r);
    LockGive(&MountLock);
    return out;
}

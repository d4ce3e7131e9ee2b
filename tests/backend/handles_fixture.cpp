#include "handles_fixture.h"

#include "support/data_directory.h"

#include <cstring>
#include <filesystem>

#include "backend/lookup.h"
#include "exports/exports.h"
#include "exports/mount_table.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

int NoHostName(uint32_t, char *, size_t) { return 0; }

} // namespace

void HandlesTest::SetUp()
{
    memset(&caller, 0, sizeof caller);
    caller.uid = 1000;
    caller.gid = 100;
    caller.gids = caller.gid_list;
    caller.machinename = caller.name;
    ASSERT_TRUE(UseAsDataDirectory(dir));
    ServerSettings.Cache = 8;
    ServerSettings.FHsize = 32;
    ServerSettings.HardLinks = ServerSettings.SoftLinks = 1;
    ServerSettings.Datasize = 32768;
    SetHostAddressLookup(NoHostName);
    MountTableFree();
    FsFindHardLinkApi();
    FsFindFileIdApi();
    ASSERT_TRUE(OpenInodeTableAt(dir.Win("inodes.nfs").c_str(), 1));
    MakeFolder("data");
}

void HandlesTest::TearDown()
{
    MountWaitHostLookups(5000);
    MountTableFree();
    CloseInodeTable();
    SetHostAddressLookup(nullptr);
    CloseLog();
    SelectRegistrySettings();
}

FileHandle HandlesTest::Mount(const std::string &windowsPath, uint32_t flags, uint32_t umask, ExportEntry **entryOut)
{
    entryPaths.push_back(windowsPath);
    entries.emplace_back();
    ExportEntry *entry = &entries.back();
    memset(entry, 0, sizeof *entry);
    entry->self = entry;
    entry->path = &entryPaths.back()[0];
    entry->flags = flags;
    entry->options.umask = umask;
    EXPECT_EQ(ProbeVolume(entry->path, &entry->volumeSerial, &entry->maxNameLength, &entry->flags), 1)
        << windowsPath;
    uint64_t inode = (entry->flags & EXPORT_FILEID_MODE) != 0 ? FileIdOfPath(entry->path) : AddPath(entry->path);
    EXPECT_NE(inode, 0u) << windowsPath;
    uint32_t mountId = 0;
    EXPECT_NE(MountAdd(0x0100007Fu, 17, entry->path, inode, entry, entry->volumeSerial, entry->maxNameLength,
                       entry->flags, &mountId),
              0);
    FileHandle handle;
    MakeHandle(inode, mountId, &handle);
    if (entryOut != nullptr)
        *entryOut = entry;
    return handle;
}

std::string HandlesTest::Win(const std::string &relative) const
{
    return WindowsPathIn(dir, relative);
}

void HandlesTest::MakeFile(const std::string &relative, const char *bytes)
{
    WriteFileBytes(dir.Native(relative), bytes);
}

void HandlesTest::MakeFolder(const std::string &relative)
{
    std::filesystem::create_directories(dir.Native(relative));
}

void HandlesTest::SetTimes(const std::string &relative, uint32_t accessTime, uint32_t modificationTime)
{
    HANDLE file = CreateFileA(Win(relative).c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << relative << " " << GetLastError();
    FILETIME access = FileTimeFromUnixSeconds(accessTime);
    FILETIME modification = FileTimeFromUnixSeconds(modificationTime);
    EXPECT_TRUE(SetFileTime(file, nullptr, &access, &modification));
    CloseHandle(file);
}

uint32_t HandlesTest::LookupName(const FileHandle &folder, const char *name, FileHandle *out,
                                 FileAttributes *attributes)
{
    FileAttributes discarded;
    AuthUnix who = caller;
    return Lookup(&folder, name, out, attributes != nullptr ? attributes : &discarded, 0x0100007Fu, &who);
}

uint32_t HandlesTest::Attributes(const FileHandle &handle, FileAttributes *attributes)
{
    AuthUnix who = caller;
    return GetAttrByHandle(&handle, attributes, &who);
}

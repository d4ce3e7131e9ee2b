#include "bench_setup.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backend/open_file_cache.h"
#include "exports/mount_table.h"
#include "fs/inode_table.h"
#include "platform/win32.h"
#include "settings/settings.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

int NoHostName(uint32_t, char *, size_t) { return 0; }

} // namespace

double BenchNow()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string BenchWindowsFolder(const std::string &native)
{
#ifdef _WIN32
    return native;
#else
    std::string path = "Z:" + native;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
#endif
}

std::string BenchFolder(const char *given, const char *name)
{
    std::string folder;
    if (given != nullptr) {
        folder = given;
    } else {
#ifdef _WIN32
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + name;
#else
        const char *tmp = getenv("TMPDIR");
        folder = std::string(tmp != nullptr ? tmp : "/var/tmp") + "/" + name;
#endif
    }
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
#ifdef _WIN32
    CreateDirectoryA(folder.c_str(), nullptr);
#else
    mkdir(folder.c_str(), 0755);
#endif
    return folder;
}

AuthUnix BenchCaller()
{
    AuthUnix auth;
    memset(&auth, 0, sizeof auth);
    auth.uid = 1000;
    auth.gid = 100;
    auth.gids = auth.gid_list;
    auth.machinename = auth.name;
    return auth;
}

bool OpenBenchExport(const std::string &native, BenchExport *bench)
{
    const std::string win = BenchWindowsFolder(native);
    snprintf(DataDirectory, sizeof DataDirectory, "%s", win.c_str());
    memset(&ServerSettings, 0, sizeof ServerSettings);
    ServerSettings.CharSet = ServerSettings.CharSetActive = 1;
    ServerSettings.Cache = 8;
    ServerSettings.FHsize = 32;
    ServerSettings.Datasize = 1 << 20;
    SetHostAddressLookup(NoHostName);
    if (!OpenInodeTableAt((win + "\\inodes.nfs").c_str(), 1)) {
        fprintf(stderr, "cannot open the inode table in %s\n", win.c_str());
        return false;
    }
    CacheStart();

    bench->path = win;
    memset(&bench->entry, 0, sizeof bench->entry);
    ExportEntry &entry = bench->entry;
    entry.self = &entry;
    entry.path = &bench->path[0];
    entry.options.umask = 022;
    entry.options.cacheSize = CACHE_MAX_ENTRIES;
    ProbeVolume(entry.path, &entry.volumeSerial, &entry.maxNameLength, &entry.flags);
    entry.flags &= ~static_cast<uint32_t>(EXPORT_FILEID_MODE);
    CacheAllocate(&entry.options);
    bench->mountId = 0;
    const uint64_t rootInode = AddPath(entry.path);
    MountAdd(0x0100007Fu, 17, entry.path, rootInode, &entry, entry.volumeSerial, entry.maxNameLength, entry.flags,
             &bench->mountId);
    MakeHandle(rootInode, bench->mountId, &bench->root);
    return true;
}

void CloseBenchExport(BenchExport *bench)
{
    CacheCloseAll();
    CacheFree(&bench->entry.options);
    MountTableFree();
    CloseInodeTable();
}

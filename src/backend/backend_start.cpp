#include "backend/backend_start.h"

#include "backend/backend_hooks.h"
#include "backend/directory_read.h"
#include "backend/open_file_cache.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

const char *CharSetName(uint32_t charSet)
{
    switch (charSet) {
    case 0:
        return "ASCII";
    case 1:
        return "ANSI";
    default:
        return "UTF-8";
    }
}

} // namespace

int StartNfsBackend()
{
    if (!OpenInodeTable(ServerSettings.InodeReset != 0 ? 1 : 0)) {
        if (LogLevel > 0) {
            LogStartup(1, "%s nfsd: Inode table initialization failed\n", LogTimestamp());
            FlushLog();
        }
        return NFS_BACKEND_NO_INODE_TABLE;
    }
    CacheStart();
    FsFindHardLinkApi();
    FsFindFileIdApi();

    const ServerSettingsRecord &s = ServerSettings;
    LogStartup(1, "%s nfsd   file handle cache size %u\n", LogTimestamp(), static_cast<unsigned>(s.Cache));
    LogStartup(1, "%s nfsd   client charset %s\n", LogTimestamp(), CharSetName(s.CharSetActive));
    LogStartup(1, "%s nfsd   maximum data size %u\n", LogTimestamp(), static_cast<unsigned>(s.Datasize));
    if (s.FHsize != 20)
        LogStartup(1, "%s nfsd   nfs3 handle size %u\n", LogTimestamp(), static_cast<unsigned>(s.FHsize));
    if (s.MapRoot != 0)
        LogStartup(1, "%s nfsd   client root mapped to root\n", LogTimestamp());
    if (s.FileId != 0 && FileIdApi)
        LogStartup(1, "%s nfsd   file id mode enabled\n", LogTimestamp());
    if ((s.HardLinks & 1) != 0 && HardLinkApi)
        LogStartup(1, "%s nfsd   NTFS hardlinks supported\n", LogTimestamp());
    if ((s.HardLinks & 2) != 0)
        LogStartup(1, "%s nfsd   hardlinks by copy enabled\n", LogTimestamp());

    InitDirectorySearchSlots();
    return 0;
}

void StopNfsBackend()
{
    // Handles first: a cached handle may still be written through, and the
    // inode table must outlive every request.
    CacheCloseAll();
    CloseDirectorySearchSlots();
    CloseInodeTable();
}

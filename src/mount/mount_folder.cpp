#include "mount/mount_folder.h"

#include <cstdio>
#include <cstring>

#include "backend/containment.h"
#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "mount/mount_status.h"
#include "platform/win32.h"

namespace {

// The folder really lies inside the export, where its path says: no link or
// junction on the way leads elsewhere.  A volume mounted in a folder of the
// export is judged by the folder that holds its mount point.
bool FolderInsideExport(const char *path, const ExportEntry *entry)
{
    ExportContext context;
    memset(&context, 0, sizeof context);
    context.flags = entry->flags;
    context.volumeSerial = entry->volumeSerial;
    context.exportEntry = const_cast<ExportEntry *>(entry);
    snprintf(context.path, sizeof context.path, "%s", entry->path);
    if (CheckRealContainment(path, &context, LINK_FOLLOWED) == 0)
        return true;
    if (!IsMountedVolumeRoot(path))
        return false;
    char parent[EXPORT_PATH_SIZE];
    snprintf(parent, sizeof parent, "%s", path);
    char *cut = strrchr(parent, '\\');
    if (cut == nullptr || cut == parent)
        return false;
    if (cut[-1] == ':')
        cut[1] = 0;  // a drive's root holds its mount points
    else
        *cut = 0;
    return CheckRealContainment(parent, &context, LINK_FOLLOWED) == 0;
}

} // namespace

uint64_t MountFolderInode(const char *path, uint32_t flags)
{
    if (flags & EXPORT_FILEID_MODE)
        return FileIdOfPath(path);
    return AddPath(path);
}

int ProbeMountFolder(const char *path, const ExportEntry *entry, MountFolder *folder)
{
    folder->volumeSerial = entry->volumeSerial;
    folder->maxNameLength = entry->maxNameLength;
    folder->flags = entry->flags;
    folder->inode = 0;
    if (!ProbeVolume(path, &folder->volumeSerial, &folder->maxNameLength, &folder->flags))
        return MNT3ERR_NODEV;
    DWORD attributes = FsGetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return MNT3ERR_NOENT;
    folder->inode = MountFolderInode(path, folder->flags);
    return folder->inode != 0 ? MNT3_OK : MNT3ERR_NOENT;
}

int MountFolderFor(uint32_t clientAddress, uint32_t kind, const char *path, ExportEntry *entry, uint64_t *inode,
                   uint32_t *rootId, int *added)
{
    // An automatic mount's folder was judged by the lookup that reached it
    // (its mount point lies inside the client's mount).  Judged before the
    // probe, which enters the folder's path in the inode table.
    if ((kind & MOUNT_KIND_AUTO) == 0 && !FolderInsideExport(path, entry))
        return MNT3ERR_ACCES;
    MountFolder folder;
    int status = ProbeMountFolder(path, entry, &folder);
    if (status != 0)
        return status;
    uint32_t id = 0;
    int result = MountAdd(clientAddress, kind, path, folder.inode, entry, folder.volumeSerial, folder.maxNameLength,
                          folder.flags, &id);
    if (result == MOUNT_ADD_LIMIT)
        return MNT3ERR_ACCES;
    if (result == MOUNT_ADD_FAILED)
        return MNT3ERR_NOENT;
    *inode = folder.inode;
    const bool ownVolume = (kind & MOUNT_KIND_AUTO) == 0 && folder.volumeSerial == entry->volumeSerial &&
                           entry->options.handleId != 0 && FindExportByHandleId(entry->options.handleId) == entry;
    *rootId = ownVolume ? entry->options.handleId : id;
    if (added != nullptr)
        *added = result;
    return MNT3_OK;
}

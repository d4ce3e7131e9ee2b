#include "mount/mount_folder.h"

#include "exports/export_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "mount/mount_status.h"
#include "mount/mount_table.h"
#include "platform/win32.h"

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
                   uint32_t *mountId, int *added)
{
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
    *mountId = id;
    if (added != nullptr)
        *added = result;
    return MNT3_OK;
}

// The automatic mount of a folder on another volume that a client reached
// from one of its mounts (a mount point inside an export).
#include <cstdio>

#include "exports/export_table.h"
#include "exports/exports_paths.h"
#include "exports/mount_table.h"
#include "exports/mount_text.h"
#include "log/log.h"
#include "mount/mount_folder.h"
#include "mount/mount_service.h"
#include "mount/mounttab_file.h"
#include "settings/settings.h"

int MountFolderAutomatically(uint32_t clientAddress, const char *windowsPath, const ExportContext *context,
                             uint64_t *inode, uint32_t *mountId)
{
    const uint32_t mode = ServerSettings.Automount;
    if (mode == 0 || context == nullptr || context->exportEntry == nullptr)
        return 0;
    const DottedAddress address = Dotted(clientAddress);
    LogEvent(2, "mountd: auto_mount request %s:%s\n", address.text, windowsPath);

    // Modes 1 and 2 ask the export table for the folder; mode 2 falls back to
    // the export the client came from, 3 and above use it without asking.
    char path[EXPORT_PATH_SIZE];
    if (!ToClientPath(windowsPath, path, sizeof path))
        return 0;
    ExportEntry *entry = context->exportEntry;
    bool found = false;
    if (mode <= 2) {
        ExportEntry *admitted = nullptr;
        if (FindExport(path, clientAddress, &admitted) == 0 && admitted != nullptr) {
            entry = admitted;
            found = true;
        } else if (mode == 1) {
            return 0;
        }
    }
    if (!found)
        snprintf(path, sizeof path, "%s", windowsPath);

    int added = 0;
    int status = MountFolderFor(clientAddress, (context->kind & MOUNT_KIND_TRANSPORT) | MOUNT_KIND_AUTO, path, entry,
                                inode, mountId, &added);
    if (status != 0) {
        if (status != 19)
            LogEvent(2, "mountd: auto_mount failed %s\n", path);
        return 0;
    }
    if (added == MOUNT_ADD_NEW) {
        LogEvent(1, "mount auto %s:%s\n", address.text, path);
        MountTabSave();
    } else {
        LogEvent(2, "mount auto %x %s:%s\n", *mountId, address.text, path);
    }
    return 1;
}

#include "backend/mode_attributes.h"

#include "backend/special_file.h"
#include "backend/unix_mode.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

uint32_t SetModeAttributes(const ExportContext *context, const char *path, bool setMode, uint32_t type,
                           uint32_t mode, const StoredUnixAttributes *record, bool *recorded)
{
    const bool stored = record != nullptr && WriteUnixAttributesAt(path, record);
    if (recorded != nullptr)
        *recorded = stored;
    if (stored && type == FILE_TYPE_DIRECTORY) {
        const DWORD dos = FsGetFileAttributes(path);
        if (dos != INVALID_FILE_ATTRIBUTES && (dos & FILE_ATTRIBUTE_READONLY) != 0) {
            const DWORD kept = dos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
            FsSetFileAttributes(path, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
        }
        return NFS_OK;
    }
    const uint32_t umask = context->exportEntry->options.umask;
    if (type != FILE_TYPE_REGULAR && type != FILE_TYPE_DIRECTORY) {
        if (type != FILE_TYPE_SYMLINK && setMode && !WriteSpecialRecordMode(path, mode & 07777u)) {
            LogLine(2, "nfs_setugmode %s error %u\n", path, static_cast<unsigned>(GetLastError()));
            return NFSERR_IO;
        }
        if (!FsSetFileAttributes(path, FILE_ATTRIBUTE_SYSTEM)) {
            DWORD error = GetLastError();
            LogLine(2, "nfs_setugmode %s error %u\n", path, static_cast<unsigned>(error));
            return NfsStatusFromWindowsError(error);
        }
        return NFS_OK;
    }
    if (!setMode)
        return NFS_OK;
    const bool execForAll = (context->flags & EXPORT_EXEC) != 0 || ServerSettings.SetExec != 0;
    if (!FsSetFileAttributes(path, DosAttributesForMode(type, mode, execForAll, umask))) {
        DWORD error = GetLastError();
        LogLine(2, "nfs_setugmode: %s error %u\n", path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    return NFS_OK;
}

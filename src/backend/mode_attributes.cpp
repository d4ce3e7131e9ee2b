#include "backend/mode_attributes.h"

#include "backend/special_file.h"
#include "backend/unix_mode.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

uint32_t SetModeAttributes(const ExportContext *context, const ChangeTarget &target, bool setMode, uint32_t type,
                           uint32_t mode, const StoredUnixAttributes *record, bool *recorded, DWORD current,
                           bool *changed)
{
    const char *path = target.path;
    bool touched = false;
    if (changed == nullptr)
        changed = &touched;
    // Every change of the target is told, a failed one too.
    const auto set = [&target, changed](DWORD attributes) {
        *changed = true;
        return SetChangeTargetAttributes(target, attributes);
    };
    const bool stored = record != nullptr && WriteUnixAttributesTo(target, record);
    *changed = record != nullptr;  // a record written, or tried
    if (recorded != nullptr)
        *recorded = stored;
    if (stored && type == FILE_TYPE_DIRECTORY) {
        const DWORD dos = ChangeTargetAttributes(target);
        if (dos != INVALID_FILE_ATTRIBUTES && (dos & FILE_ATTRIBUTE_READONLY) != 0) {
            const DWORD kept = dos & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
            set(kept);
        }
        return NFS_OK;
    }
    const uint32_t umask = context->exportEntry->options.umask;
    if (type != FILE_TYPE_REGULAR && type != FILE_TYPE_DIRECTORY) {
        *changed = *changed || (type != FILE_TYPE_SYMLINK && setMode);
        if (type != FILE_TYPE_SYMLINK && setMode && !WriteSpecialRecordMode(target, mode & 07777u)) {
            LogLine(2, "nfs_setugmode %s error %u\n", path, static_cast<unsigned>(GetLastError()));
            return NFSERR_IO;
        }
        // A link that is a reparse point is known as a link by that alone.
        const DWORD dos = type == FILE_TYPE_SYMLINK ? ChangeTargetAttributes(target) : 0;
        if (dos != INVALID_FILE_ATTRIBUTES && (dos & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return NFS_OK;
        if (!set(FILE_ATTRIBUTE_SYSTEM)) {
            DWORD error = GetLastError();
            LogLine(2, "nfs_setugmode %s error %u\n", path, static_cast<unsigned>(error));
            return NfsStatusFromWindowsError(error);
        }
        return NFS_OK;
    }
    if (!setMode)
        return NFS_OK;
    const bool execForAll = (context->flags & EXPORT_EXEC) != 0 || ServerSettings.SetExec != 0;
    const DWORD wanted = DosAttributesForMode(type, mode, execForAll, umask);
    // Only read-only, hidden and system carry the mode: a target that shows
    // the mode already keeps its attributes (archive and the like too).
    const DWORD modeBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD now = current != INVALID_FILE_ATTRIBUTES ? current : ChangeTargetAttributes(target);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        (now & modeBits) == (wanted & modeBits))
        return NFS_OK;
    if (!set(wanted)) {
        DWORD error = GetLastError();
        LogLine(2, "nfs_setugmode: %s error %u\n", path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    return NFS_OK;
}

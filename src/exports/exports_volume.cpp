// The volume probe of export paths, through the Windows file access layer.
#include <cstring>

#include "common/ascii_text.h"
#include "exports/export_table.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

void SetBit(uint32_t &flags, uint32_t bit, bool on)
{
    if (on)
        flags |= bit;
    else
        flags &= ~bit;
}

} // namespace

int ProbeVolume(const char *path, uint32_t *serial, uint32_t *maxNameLength, uint32_t *flags)
{
    uint32_t f = *flags;
    const char *rest = path;
    const bool longPrefix = path[0] == '\\' && path[1] == '\\' && path[2] == '?' && path[3] == '\\';
    if (longPrefix)
        rest += 4;
    SetBit(f, EXPORT_LONG_PREFIX, longPrefix);
    SetBit(f, EXPORT_VOLUME_GUID, StartsWithNoCase(rest, "Volume{"));
    *flags = f;

    char root[EXPORT_PATH_SIZE];
    if (!FsGetVolumePathName(path, root, sizeof(root)))
        return 0;
    const UINT driveType = FsGetDriveType(root);
    if (driveType <= 1)
        return 0;
    char volumeName[256];
    char fileSystem[256];
    DWORD volumeSerial = 0;
    DWORD maxComponent = 0;
    DWORD systemFlags = 0;
    volumeName[0] = 0;
    fileSystem[0] = 0;
    if (!FsGetVolumeInformation(root, volumeName, sizeof(volumeName), &volumeSerial, &maxComponent, &systemFlags,
                                fileSystem, sizeof(fileSystem)))
        return 0;
    *serial = volumeSerial;
    *maxNameLength = maxComponent;

    const bool ntfs = strcmp(fileSystem, "NTFS") == 0;
    const bool remote = driveType == DRIVE_REMOTE;
    SetBit(f, EXPORT_VOLUME_FIXED, driveType == DRIVE_FIXED);
    SetBit(f, EXPORT_VOLUME_NOCASE, (systemFlags & (FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES)) == 0);
    SetBit(f, EXPORT_VOLUME_NTFS, ntfs);
    SetBit(f, EXPORT_VOLUME_HARDLINKS,
           (HardLinkApi && (systemFlags & FILE_SUPPORTS_HARD_LINKS) != 0) || (ntfs && !remote));
    SetBit(f, EXPORT_FILEID_MODE,
           ServerSettings.FileId != 0 && FileIdApi && (f & EXPORT_CI) == 0 && ntfs && !remote);
    SetBit(f, EXPORT_VOLUME_REPARSE, (systemFlags & FILE_SUPPORTS_REPARSE_POINTS) != 0);
    *flags = f;
    LogLine(2, "%s serial %x type %u/%s/%x name %s\n", root, static_cast<unsigned>(volumeSerial),
            static_cast<unsigned>(maxComponent), fileSystem, static_cast<unsigned>(systemFlags), volumeName);
    return 1;
}

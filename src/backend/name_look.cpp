#include "backend/name_look.h"

#include "backend/file_attributes.h"
#include "fs/win_file_access.h"

LookOutcome LookAtName(HANDLE folder, const char *name, const char *path, DWORD volumeSerial, EntryLook *look)
{
    look->known = false;
    look->changeKnown = false;
    NtFileStatInformation stat;
    const bool told = folder != INVALID_HANDLE_VALUE ? FsGetFileStatIn(folder, name, &stat)
                                                     : FsGetFileStatByName(path, &stat);
    if (!told) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LOOK_GONE : LOOK_UNTOLD;
    }
    if ((stat.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return LOOK_UNTOLD;
    DWORD serial = volumeSerial;
    if (stat.NumberOfLinks > 1 && !VolumeSerialOfPath(path, &serial))
        serial = volumeSerial;
    FsInformationFromStat(&stat, serial, &look->info);
    look->changeTime = FsFileTimeOf(stat.ChangeTime);
    look->known = true;
    look->changeKnown = true;
    return LOOK_TOLD;
}

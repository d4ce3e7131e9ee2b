#include "backend/backend_hooks.h"

bool CachedFileHandle(const ExportContext *, uint64_t, HANDLE *, FileAttributes *)
{
    // No open-file cache yet: nothing is ever cached, so the caller opens the
    // file itself.
    return false;
}

void StartOpenFileCache()
{
    // No open-file cache yet: no lock to create, no sweeper to start.
}

void CloseOpenFileCaches()
{
    // No open-file cache yet: no handle is held.
}

SpecialRecord SpecialRecordOf(const char *)
{
    // Special files (devices, fifos, sockets) are not supported yet, so no
    // file is taken to hold a record: a system file is read by its
    // attributes alone.
    SpecialRecord none = {SPECIAL_NO_RECORD, 0, 0, 0};
    return none;
}

bool WriteSpecialRecordMode(const char *, uint32_t)
{
    // Special files are not supported yet: there is no record to write to.
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

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

void InitDirectorySearchSlots()
{
    // Directory reading is not built yet: it has no search slots.
}

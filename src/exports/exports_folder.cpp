// A folder that the administrator chose for a new export.
#include <cstring>

#include "exports/export_table.h"
#include "exports/exports_unc.h"
#include "platform/win32.h"

void ResolveExportFolder(char *path, size_t size)
{
    size_t length = strnlen(path, size);
    if (length >= size)
        return;
    if (length > 0 && path[length - 1] != '\\' && length + 2 <= size) {
        path[length++] = '\\';
        path[length] = 0;
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    char root[EXPORT_PATH_SIZE];
    if (!GetVolumePathNameA(path, root, sizeof(root)) || GetDriveTypeA(root) != DRIVE_REMOTE)
        return;
    char universal[EXPORT_PATH_SIZE];
    if (UniversalNameOf(path, universal, sizeof(universal)) && strlen(universal) < size)
        memcpy(path, universal, strlen(universal) + 1);
}

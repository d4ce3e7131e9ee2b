// Whether a path the backend built still lies inside the folder a client
// mounted.  File handles are forgeable (a file ID names any file of the
// volume, a damaged inode table any path), so every operation checks each
// path before it touches the file.
#include <cstring>

#include "exports/export_context.h"
#include "fs/win_file_access.h"

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A component ".." anywhere in the path (Windows would resolve it).
bool HasParentComponent(const char *path)
{
    const char *component = path;
    for (const char *p = path;; p++) {
        if (*p == '\\' || *p == '/' || *p == 0) {
            if (p - component == 2 && component[0] == '.' && component[1] == '.')
                return true;
            if (*p == 0)
                return false;
            component = p + 1;
        }
    }
}

} // namespace

int CheckContainment(const char *path, const ExportContext *context)
{
    const char *root = context->path;
    const size_t rootLength = strlen(root);
    if (rootLength == 0 || strlen(path) < rootLength)
        return 1;
    for (size_t i = 0; i < rootLength; i++)
        if (LowerAscii(path[i]) != LowerAscii(root[i]))
            return 1;
    // "C:\data" must not admit "C:\database".
    if (root[rootLength - 1] != '\\' && path[rootLength] != 0 && path[rootLength] != '\\')
        return 1;
    if (HasParentComponent(path))
        return 1;
    if ((context->flags & EXPORT_VOLUME_FIXED) == 0) {
        DWORD serial = 0;
        if (!VolumeSerialOfPath(path, &serial) || serial != context->volumeSerial)
            return 1;
    }
    return 0;
}

#include "exports/exports_file_io.h"

#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/win32.h"
#include "settings/settings.h"

namespace {

#ifndef _WIN32
// Host path of a Windows path (drive Z: is the root); 0 when there is none.
int HostPath(const char *windowsPath, char *out, size_t size)
{
    return PosixPathFromWindows(windowsPath, out, size);
}
#endif

} // namespace

int DataFilePath(const char *name, char *out, size_t size)
{
    int n = snprintf(out, size, "%s%s", DataDirectory, name);
    return n >= 0 && static_cast<size_t>(n) < size;
}

FILE *OpenDataFile(const char *windowsPath, const char *mode)
{
#ifdef _WIN32
    return fopen(windowsPath, mode);
#else
    char path[4096];
    if (!HostPath(windowsPath, path, sizeof(path)))
        return nullptr;
    return fopen(path, mode);
#endif
}

int RemoveDataFile(const char *windowsPath)
{
#ifdef _WIN32
    return remove(windowsPath) == 0;
#else
    char path[4096];
    return HostPath(windowsPath, path, sizeof(path)) && remove(path) == 0;
#endif
}

int RenameDataFile(const char *from, const char *to)
{
#ifdef _WIN32
    return rename(from, to) == 0;
#else
    char source[4096];
    char target[4096];
    if (!HostPath(from, source, sizeof(source)) || !HostPath(to, target, sizeof(target)))
        return 0;
    // rename() on Windows refuses an existing target; keep that here.
    if (access(target, F_OK) == 0)
        return 0;
    return rename(source, target) == 0;
#endif
}

int WriteTextLine(FILE *stream, const char *text, size_t length)
{
    if (length > 0 && text[length - 1] == '\n')
        length--;
    if (length > 0 && text[length - 1] == '\r')
        length--;
    if (length > 0 && fwrite(text, 1, length, stream) != length)
        return 0;
#ifdef _WIN32
    return fputc('\n', stream) != EOF;
#else
    return fputs("\r\n", stream) != EOF;
#endif
}

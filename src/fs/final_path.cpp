#include "fs/final_path.h"

#include <cstring>
#include <vector>

#include "fs/win_file_access.h"

namespace {

struct EntryPoints {
    FinalPathAFn ansi;
    FinalPathWFn wide;
};

const EntryPoints &Found()
{
    static const EntryPoints points = [] {
        EntryPoints p = {nullptr, nullptr};
        FinalPathEntryPoints(&p.ansi, &p.wide);
        return p;
    }();
    return points;
}

bool Starts(const char *text, const char *prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

} // namespace

DWORD FsFinalPathOfHandle(HANDLE handle, char *buffer, DWORD size, DWORD flags)
{
    const EntryPoints &points = Found();
    if (size == 0 || (FsWideMode() ? points.wide == nullptr : points.ansi == nullptr)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    DWORD length = 0;
    if (FsWideMode()) {
        std::vector<WCHAR> wide(FS_WIDE_PATH_UNITS);
        DWORD n = points.wide(handle, wide.data(), FS_WIDE_PATH_UNITS, flags);
        if (n == 0)
            return 0;
        int converted = n < FS_WIDE_PATH_UNITS ? FsFromWide(wide.data(), buffer, size) : -1;
        if (converted < 0) {
            buffer[0] = '\0';
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        length = static_cast<DWORD>(converted);
    } else {
        length = points.ansi(handle, buffer, size, flags);
        if (length == 0)
            return 0;
        if (length >= size) {
            buffer[0] = '\0';
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
    }
    buffer[length] = '\0';
    // "\\?\UNC\server\share" is "\\server\share"; "\\?\C:\x" is "C:\x";
    // "\\?\Volume{...}" keeps its prefix (no shorter form names it).
    if (Starts(buffer, "\\\\?\\UNC\\")) {
        memmove(buffer + 2, buffer + 8, length - 8 + 1);
        length -= 6;
    } else if (Starts(buffer, "\\\\?\\") && buffer[4] != 0 && buffer[5] == ':') {
        memmove(buffer, buffer + 4, length - 4 + 1);
        length -= 4;
    }
    return length;
}

#include "exports/exports_unc.h"

#include <cstdio>
#include <cstdlib>

#include "platform/win32.h"

#include <winnetwk.h>

int UniversalNameOf(const char *path, char *out, size_t size)
{
    DWORD bufferSize = 4096;
    void *buffer = malloc(bufferSize);
    if (buffer == nullptr)
        return 0;
    int ok = 0;
    if (WNetGetUniversalNameA(path, UNIVERSAL_NAME_INFO_LEVEL, buffer, &bufferSize) == NO_ERROR) {
        const UNIVERSAL_NAME_INFOA *info = static_cast<const UNIVERSAL_NAME_INFOA *>(buffer);
        if (info->lpUniversalName != nullptr) {
            int n = snprintf(out, size, "%s", info->lpUniversalName);
            ok = n >= 0 && static_cast<size_t>(n) < size;
        }
    }
    free(buffer);
    return ok;
}

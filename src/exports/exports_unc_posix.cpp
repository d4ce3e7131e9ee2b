#include "exports/exports_unc.h"

// The POSIX build has no drive letters mapped to network shares (its only
// drive is Z:, the local root), so no path has a universal name.
int UniversalNameOf(const char *path, char *out, size_t size)
{
    (void)path;
    if (size > 0)
        out[0] = 0;
    return 0;
}

#include "mount/mount_path.h"

#include <cstring>

#include "exports/export_entry.h"
#include "mount/mount_status.h"

bool IsDotsAndBlanks(const char *component, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++) {
        if (component[i] != '.' && component[i] != ' ')
            return false;
    }
    return true;
}

uint32_t CanonicalMountPath(char *path)
{
    const size_t length = strnlen(path, EXPORT_PATH_SIZE);
    if (length >= EXPORT_PATH_SIZE)
        return MNT3ERR_NAMETOOLONG;
    char work[EXPORT_PATH_SIZE];
    for (size_t i = 0; i <= length; i++)
        work[i] = path[i] == '\\' ? '/' : path[i];

    // The leading separators: "/", or the "//" of "//server/share" and
    // "//?/c:"; a path without one is left for the export table to refuse.
    char out[EXPORT_PATH_SIZE];
    size_t at = 0;
    size_t written = 0;
    while (at < length && work[at] == '/' && at < 2)
        out[written++] = work[at++];
    const bool longForm = written == 2 && work[at] == '?' && work[at + 1] == '/';

    size_t end = length;
    while (end > at && work[end - 1] == '/')
        end--;
    for (int component = 0; at < end; component++) {
        size_t stop = at;
        while (stop < end && work[stop] != '/')
            stop++;
        size_t kept = stop;
        while (kept > at && (work[kept - 1] == '.' || work[kept - 1] == ' '))
            kept--;
        if (kept == at)
            return MNT3ERR_INVAL;
        const char *colon = static_cast<const char *>(memchr(work + at, ':', stop - at));
        if (colon != nullptr && !(longForm && component == 1 && colon == work + at + 1 && stop - at == 2))
            return MNT3ERR_INVAL;
        memcpy(out + written, work + at, kept - at);
        written += kept - at;
        at = stop;
        if (at < end) {
            out[written++] = '/';
            at++;
        }
    }
    out[written] = '\0';
    memcpy(path, out, written + 1);
    return MNT3_OK;
}

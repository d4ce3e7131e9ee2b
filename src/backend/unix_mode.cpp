#include "backend/unix_mode.h"

#include "platform/win32.h"

namespace {

const uint32_t kPermissionAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

bool Has(uint32_t attributes, uint32_t bit) { return (attributes & bit) != 0; }

} // namespace

bool ModeNeedsSpecialRecord(uint32_t attributes)
{
    return !Has(attributes, FILE_ATTRIBUTE_DIRECTORY) && Has(attributes, FILE_ATTRIBUTE_SYSTEM) &&
           !Has(attributes, FILE_ATTRIBUTE_HIDDEN);
}

bool OnlySystemAttribute(uint32_t attributes)
{
    return (attributes & kPermissionAttributes) == FILE_ATTRIBUTE_SYSTEM;
}

void UnixModeFromDos(uint32_t attributes, const SpecialRecord *special, bool execForAll, uint32_t umask,
                     uint32_t *type, uint32_t *mode)
{
    const bool system = Has(attributes, FILE_ATTRIBUTE_SYSTEM);
    const bool hidden = Has(attributes, FILE_ATTRIBUTE_HIDDEN);
    uint32_t t;
    uint32_t m;
    if (Has(attributes, FILE_ATTRIBUTE_DIRECTORY)) {
        t = FILE_TYPE_DIRECTORY;
        m = UNIX_MODE_DIRECTORY | (hidden ? 0666u : 0777u) | (system ? UNIX_MODE_STICKY : 0u);
    } else if (system && !hidden) {
        const uint32_t recordType = special != nullptr ? special->type : SPECIAL_UNREADABLE;
        if (recordType == SPECIAL_UNREADABLE) {
            t = FILE_TYPE_NONE;
            m = UNIX_MODE_REGULAR | 0666u;
        } else if (recordType != SPECIAL_NO_RECORD) {
            t = recordType;
            m = special->mode;
        } else if (OnlySystemAttribute(attributes)) {
            // A symbolic link kept as a file: its mode is never masked.
            *type = FILE_TYPE_SYMLINK;
            *mode = UNIX_MODE_SYMLINK | 0777u;
            return;
        } else {
            // System and read-only: a read-only regular file without
            // execute bits (a setuid file is hidden as well).
            t = FILE_TYPE_REGULAR;
            m = UNIX_MODE_REGULAR | 0666u;
        }
    } else if (hidden) {
        t = FILE_TYPE_REGULAR;
        m = UNIX_MODE_REGULAR | 0777u | (system ? UNIX_MODE_SETUID : 0u);
    } else {
        t = FILE_TYPE_REGULAR;
        m = UNIX_MODE_REGULAR | 0666u | (execForAll ? 0111u : 0u);
    }
    if (Has(attributes, FILE_ATTRIBUTE_READONLY))
        m &= ~0222u;
    m &= ~(umask & 0777u);
    *type = t;
    *mode = m;
}

uint32_t DosAttributesForMode(uint32_t type, uint32_t mode, bool execForAll, uint32_t umask)
{
    uint32_t attributes = 0;
    if (type == FILE_TYPE_REGULAR) {
        if ((mode & ~umask & 0100u) != 0 && !execForAll)
            attributes |= FILE_ATTRIBUTE_HIDDEN;
        if ((mode & UNIX_MODE_SETUID) != 0)
            attributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    } else if (type == FILE_TYPE_DIRECTORY) {
        if ((mode & 0100u) == 0)
            attributes |= FILE_ATTRIBUTE_HIDDEN;
        if ((mode & UNIX_MODE_STICKY) != 0)
            attributes |= FILE_ATTRIBUTE_SYSTEM;
    } else {
        return FILE_ATTRIBUTE_SYSTEM;
    }
    if (mode != 0 && (mode & ~umask & 0200u) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

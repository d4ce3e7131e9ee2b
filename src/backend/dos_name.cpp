#include "backend/dos_name.h"

#include <cstring>

#include "common/ascii_text.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

namespace {

bool SameLetters(const char *a, const char *lowerWord, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (LowerAscii(a[i]) != lowerWord[i])
            return false;
    return true;
}

// The length of a name as the volume counts it: UTF-16 units of the UTF-8
// name when the wide functions are in use (a character of four bytes is two
// units, other sequences one), else bytes.
size_t VolumeLength(const char *name)
{
    if (!FsWideMode())
        return strlen(name);
    size_t units = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; p++) {
        if ((*p & 0xC0) != 0x80)
            units += *p >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace

bool IsDosDeviceName(const char *name)
{
    size_t base = strcspn(name, ".");
    // Windows drops trailing blanks of a name, so "nul " opens the device too.
    while (base > 0 && name[base - 1] == ' ')
        base--;
    if (base == 3) {
        static const char *const kDevices[] = {"aux", "con", "nul", "prn"};
        for (const char *device : kDevices)
            if (SameLetters(name, device, 3))
                return true;
        return false;
    }
    if (base == 4 && name[3] >= '1' && name[3] <= '9')
        return SameLetters(name, "com", 3) || SameLetters(name, "lpt", 3);
    return false;
}

uint32_t CheckDosName(const char *name, uint32_t maxNameLength)
{
    if (IsDosDeviceName(name) || strspn(name, ".") == strlen(name))
        return NFSERR_ACCES;
    const size_t length = strlen(name);
    // The volume's maximum component length is the longest name it takes,
    // so a name of exactly that length is still a valid long name.
    if (maxNameLength >= 13)
        return VolumeLength(name) <= maxNameLength ? NFS_OK : NFSERR_NAMETOOLONG;
    // A volume of short names only.
    if (strchr(name, ' ') != nullptr)
        return NFSERR_NOENT;
    const size_t base = strcspn(name, ".");
    const size_t extension = name[base] == '.' ? length - base - 1 : 0;
    if (base > 8 || extension > 3)
        return NFSERR_NAMETOOLONG;
    return NFS_OK;
}

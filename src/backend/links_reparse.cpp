// Symbolic links kept as reparse points (on the POSIX build: POSIX symbolic
// links), read through FSCTL_GET_REPARSE_POINT on the link itself.
#include "backend/links_reparse.h"

#include <cstring>

#include "fs/win_file_access.h"
#include "platform/win32.h"
#include "settings/settings.h"
#ifdef _WIN32
#include <winioctl.h>
#endif

namespace {

const uint32_t TAG_WINDOWS_NFS = 0x80000014u;
const uint32_t REPARSE_BUFFER_SIZE = 16384u;

uint32_t Get16(const uint8_t *at) { return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8; }

uint32_t Get32(const uint8_t *at) { return Get16(at) | Get16(at + 2) << 16; }

// The 8-bit form of units UTF-16 units; false when it does not fit.
bool NarrowText(const uint8_t *units, uint32_t count, char *buffer, uint32_t size)
{
    WCHAR wide[REPARSE_BUFFER_SIZE / 2 + 1];
    if (count > REPARSE_BUFFER_SIZE / 2)
        return false;
    for (uint32_t i = 0; i < count; i++)
        wide[i] = static_cast<WCHAR>(Get16(units + 2 * i));
    wide[count] = 0;
    if (FsWideMode())
        return FsFromWide(wide, buffer, size) >= 0;
    const int length = WideCharToMultiByte(ServerSettings.CodePage, 0, wide, -1, buffer, static_cast<int>(size),
                                           nullptr, nullptr);
    if (length <= 0) {
        buffer[0] = 0;
        return false;
    }
    return true;
}

} // namespace

uint32_t ReadReparseLink(const char *path, char *buffer, uint32_t size, bool strip)
{
    buffer[0] = 0;
    HANDLE link = FsCreateFile(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return REPARSE_LINK_NONE;
    static thread_local uint8_t data[REPARSE_BUFFER_SIZE];
    DWORD got = 0;
    const BOOL read = DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data, &got, nullptr);
    CloseHandle(link);
    if (!read || got < 8)
        return REPARSE_LINK_NONE;
    const uint32_t tag = Get32(data);
    if ((tag & 0x80000000u) == 0)
        return REPARSE_LINK_NONE;
    if (tag == TAG_WINDOWS_NFS) {
        const uint32_t length = Get16(data + 4);
        if (length < 9 || 8u + length > got || memcmp(data + 8, "LNK\x01", 4) != 0)
            return REPARSE_LINK_NONE;
        return NarrowText(data + 16, (length - 8) / 2, buffer, size) ? REPARSE_LINK_WINDOWS_NFS : REPARSE_LINK_NONE;
    }
    uint32_t kind, base;
    if (tag == IO_REPARSE_TAG_SYMLINK) {
        if (got < 20)
            return REPARSE_LINK_NONE;
        kind = Get32(data + 16) == 0 ? REPARSE_LINK_ABSOLUTE : REPARSE_LINK_RELATIVE;
        base = 20;
    } else if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
        if (got < 16)
            return REPARSE_LINK_NONE;
        kind = REPARSE_LINK_MOUNT_POINT;
        base = 16;
    } else {
        return REPARSE_LINK_NONE;
    }
    const uint32_t offset = Get16(data + 8), length = Get16(data + 10);
    if (base + offset + length > got || (length & 1u) != 0)
        return REPARSE_LINK_NONE;
    const uint8_t *name = data + base + offset;
    uint32_t units = length / 2;
    const bool prefixed = units >= 5 && Get16(name) == '\\' && Get16(name + 2) == '?' && Get16(name + 4) == '?' &&
                          Get16(name + 6) == '\\';
    uint8_t copy[REPARSE_BUFFER_SIZE];
    if (prefixed && strip && kind != REPARSE_LINK_RELATIVE) {
        name += 8;
        units -= 4;
    } else if (prefixed && !strip) {
        // "\??\" becomes "\\?\" for the caller's own use.
        memcpy(copy, name, length);
        copy[2] = '\\';
        copy[3] = 0;
        name = copy;
    }
    return NarrowText(name, units, buffer, size) ? kind : REPARSE_LINK_NONE;
}

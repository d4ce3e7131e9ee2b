// Making and removing the reparse data of symbolic links and mount points.
#include "backend/links_reparse.h"

#include <cctype>
#include <cstring>
#include <string>

#include "fs/win_file_access.h"
#include "platform/win32.h"
#include "settings/settings.h"
#ifdef _WIN32
#include <winioctl.h>
#endif

namespace {

const uint32_t REPARSE_BUFFER_SIZE = 16384u;
const uint32_t LINK_UNITS_MAX = 1024u;  // UTF-16 units of a name, prefix included
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const uint32_t FLAG_RELATIVE = 1u;  // symbolic-link flags: relative target
const DWORD LINK_FLAGS = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
#ifndef IO_REPARSE_TAG_MOUNT_POINT
const uint32_t IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003u;
#endif

void Put16(uint8_t *at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t *at, uint32_t value)
{
    Put16(at, value & 0xFFFFu);
    Put16(at + 2, value >> 16);
}

// The UTF-16 form of text (length bytes) into wide (capacity units, no
// terminator counted); the number of units, or -1.
int WideText(const char *text, uint32_t length, WCHAR *wide, int capacity)
{
    std::string copy(text, length);
    if (FsWideMode()) {
        // FsToWide tells success alone: the units are counted here.
        if (!FsToWide(copy.c_str(), wide, capacity + 1))
            return -1;
        int units = 0;
        while (wide[units] != 0)
            units++;
        return units;
    }
    const int units = MultiByteToWideChar(ServerSettings.CodePage, 0, copy.c_str(), -1, wide, capacity + 1);
    return units <= 0 ? -1 : units - 1;
}

// Asks for the restore privilege, which Windows wants for setting reparse
// data; a failure is left to the call that needs it.
void EnableRestorePrivilege()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES wanted;
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &wanted.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
    CloseHandle(token);
}

bool Control(const char *path, DWORD code, void *in, DWORD inSize, void *out, DWORD outSize)
{
    HANDLE link = FsCreateFile(path, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING, LINK_FLAGS,
                               nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    const BOOL done = DeviceIoControl(link, code, in, inSize, out, outSize, &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(link);
    SetLastError(done ? ERROR_SUCCESS : error);
    return done != 0;
}

} // namespace

bool WriteReparseLink(uint32_t kind, const char *path, const char *target, uint32_t length)
{
    if (kind < REPARSE_LINK_MOUNT_POINT || kind > REPARSE_LINK_RELATIVE || length == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    WCHAR print[LINK_UNITS_MAX + 1];
    const int printUnits = WideText(target, length, print, static_cast<int>(LINK_UNITS_MAX));
    const bool prefixed = kind != REPARSE_LINK_RELATIVE;
    const uint32_t prefixUnits = prefixed ? 4u : 0u;
    if (printUnits <= 0 || static_cast<uint32_t>(printUnits) + prefixUnits > LINK_UNITS_MAX) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const uint32_t subBytes = 2 * (static_cast<uint32_t>(printUnits) + prefixUnits);
    const uint32_t printBytes = 2 * static_cast<uint32_t>(printUnits);
    const bool symlink = kind != REPARSE_LINK_MOUNT_POINT;
    const uint32_t base = symlink ? 20u : 16u;
    const uint32_t dataLength = (base - 8) + subBytes + 2 + printBytes + 2;
    static thread_local uint8_t data[REPARSE_BUFFER_SIZE];
    memset(data, 0, 8 + dataLength);
    Put32(data, symlink ? IO_REPARSE_TAG_SYMLINK : IO_REPARSE_TAG_MOUNT_POINT);
    Put16(data + 4, dataLength);
    Put16(data + 8, 0);
    Put16(data + 10, subBytes);
    Put16(data + 12, subBytes + 2);
    Put16(data + 14, printBytes);
    if (symlink)
        Put32(data + 16, kind == REPARSE_LINK_RELATIVE ? FLAG_RELATIVE : 0u);
    uint8_t *name = data + base;
    if (prefixed) {
        const char prefix[4] = {'\\', '?', '?', '\\'};
        for (int i = 0; i < 4; i++)
            Put16(name + 2 * i, static_cast<uint8_t>(prefix[i]));
    }
    for (int i = 0; i < printUnits; i++) {
        Put16(name + 2 * (prefixUnits + i), print[i]);
        Put16(data + base + subBytes + 2 + 2 * i, print[i]);
    }
    EnableRestorePrivilege();
    return Control(path, FSCTL_SET_REPARSE_POINT, data, 8 + dataLength, nullptr, 0);
}

bool DeleteReparsePoint(const char *path)
{
    static thread_local uint8_t data[REPARSE_BUFFER_SIZE];
    HANDLE link = FsCreateFile(path, GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING, LINK_FLAGS,
                               nullptr);
    if (link == INVALID_HANDLE_VALUE)
        return false;
    DWORD got = 0;
    BOOL done = DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data, &got, nullptr);
    if (done && got < 8) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
        done = FALSE;
    }
    if (done) {
        // The header alone: the tag, no data.
        uint8_t header[8] = {data[0], data[1], data[2], data[3], 0, 0, 0, 0};
        done = DeviceIoControl(link, FSCTL_DELETE_REPARSE_POINT, header, sizeof header, nullptr, 0, &got, nullptr);
    }
    const DWORD error = GetLastError();
    CloseHandle(link);
    SetLastError(done ? ERROR_SUCCESS : error);
    return done != 0;
}

bool TargetIsDirectory(uint32_t kind, const char *target, const char *linkPath)
{
    if (kind == REPARSE_LINK_MOUNT_POINT)
        return true;
    std::string lookup;
    if (kind == REPARSE_LINK_ABSOLUTE) {
        lookup = target;
    } else {
        const char *slash = strrchr(linkPath, '\\');
        const size_t folder = slash != nullptr ? static_cast<size_t>(slash - linkPath) + 1 : 0;
        if (folder + strlen(target) < 2048)
            lookup.assign(linkPath, folder).append(target);
    }
    if (!lookup.empty()) {
        const DWORD attributes = FsGetFileAttributes(lookup.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    // Missing: the last name decides.
    const char *slash = strrchr(target, '\\');
    const char *last = slash != nullptr ? slash + 1 : target;
    const char *dot = strchr(last, '.');
    if (dot == nullptr)
        return true;
    return !(tolower(static_cast<unsigned char>(dot[1])) == 'd' && dot[2] == 0);
}

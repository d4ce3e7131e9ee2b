// The settings store: four primitive operations, machine-wide and per-user,
// over the settings file (INI syntax) or the registry.
#include <cstdio>
#include <cstring>

#include "platform/ranked_lock.h"
#include "platform/win32.h"
#include "settings/registry_store.h"
#include "settings/settings.h"

namespace {

// "<directory><section>.ini"; empty: no settings file, the registry serves.
// Room for a directory and section of up to 1023 characters together plus
// ".ini".
char SettingsFile[1024 + 8];
// Per-user values go to the file's [User] section (else HKEY_CURRENT_USER).
int PerUserInFile;

const char USER_SECTION[] = "User";

// Writes take this lock, so that an atomic change of the file (which copies
// it, changes the copy and puts the copy in its place) loses no write of
// another thread.
RankedLock WriteLock(LOCK_RANK_LEAF, "settings store");
// While this thread runs an atomic change: the copy its reads and writes go to.
thread_local const char *Redirect = nullptr;

const char *CurrentFile()
{
    return Redirect != nullptr ? Redirect : SettingsFile;
}

BOOL WriteProfile(const char *section, const char *key, const char *value)
{
    LockGuard guard(WriteLock);
    return WritePrivateProfileStringA(section, key, value, CurrentFile());
}

// Puts the finished copy in the file's place in one step.
bool PutCopyInPlace(const char *from, const char *to)
{
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#else
    char source[4096], target[4096];
    return PosixPathFromWindows(from, source, sizeof source) && PosixPathFromWindows(to, target, sizeof target) &&
           rename(source, target) == 0;
#endif
}

// The copy's data on the disk before it replaces the file.
bool FlushToDisk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return ok;
}

bool FileSelected()
{
    return SettingsFile[0] != '\0';
}

bool UserInFile()
{
    return FileSelected() && PerUserInFile != 0;
}

uint32_t FileReadString(const char *section, const char *key, const char *defaultValue, char *buffer,
                        uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    return GetPrivateProfileStringA(section, key, defaultValue != nullptr ? defaultValue : "", buffer, size,
                                    CurrentFile());
}

// The integer reading of the profile functions gives 0 for a value that is
// not a number ("Port=abc"); the store answers such a value with the default,
// as it does for a missing one.
bool StartsLikeNumber(const char *text)
{
    while (*text != '\0' && static_cast<unsigned char>(*text) <= ' ')
        text++;
    if (*text == '-' || *text == '+')
        text++;
    return *text >= '0' && *text <= '9';
}

int32_t FileReadInt(const char *section, const char *key, int32_t defaultValue)
{
    int32_t value = static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, CurrentFile()));
    if (value != 0 || defaultValue == 0)
        return value;
    char text[64];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, CurrentFile());
    return StartsLikeNumber(text) ? value : defaultValue;
}

int FileWriteInt(const char *section, const char *key, int32_t value, int32_t defaultValue)
{
    if (value == defaultValue)
        return WriteProfile(section, key, nullptr) != FALSE;
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return WriteProfile(section, key, text) != FALSE;
}

int RegistryWriteInt(int perUser, const char *section, const char *key, int32_t value, int32_t defaultValue)
{
    if (value == defaultValue)
        return RegistryWriteString(perUser, section, key, nullptr);
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return RegistryWriteString(perUser, section, key, text);
}

}  // namespace

int SelectSettingsFile(const char *directory, const char *section, int perUserInFile)
{
    if (directory == nullptr || section == nullptr)
        return 0;
    if (strlen(directory) + strlen(section) >= 1024)
        return 0;
    snprintf(SettingsFile, sizeof SettingsFile, "%s%s.ini", directory, section);
    PerUserInFile = perUserInFile;
    return 1;
}

uint32_t ReadString(const char *section, const char *key, const char *defaultValue, char *buffer,
                    uint32_t size)
{
    if (FileSelected())
        return FileReadString(section, key, defaultValue, buffer, size);
    return RegistryReadString(0, section, key, defaultValue, buffer, size);
}

uint32_t ReadUserString(const char *section, const char *key, const char *defaultValue, char *buffer,
                        uint32_t size)
{
    if (UserInFile())
        return FileReadString(USER_SECTION, key, defaultValue, buffer, size);
    return RegistryReadString(1, section, key, defaultValue, buffer, size);
}

int32_t ReadInt(const char *section, const char *key, int32_t defaultValue)
{
    if (FileSelected())
        return FileReadInt(section, key, defaultValue);
    return RegistryReadInt(0, section, key, defaultValue);
}

int32_t ReadUserInt(const char *section, const char *key, int32_t defaultValue)
{
    if (UserInFile())
        return FileReadInt(USER_SECTION, key, defaultValue);
    return RegistryReadInt(1, section, key, defaultValue);
}

int WriteString(const char *section, const char *key, const char *value)
{
    if (FileSelected())
        return WriteProfile(section, key, value) != FALSE;
    return RegistryWriteString(0, section, key, value);
}

int WriteUserString(const char *section, const char *key, const char *value)
{
    if (UserInFile())
        return WriteProfile(USER_SECTION, key, value) != FALSE;
    return RegistryWriteString(1, section, key, value);
}

int WriteInt(const char *section, const char *key, int32_t value, int32_t defaultValue)
{
    if (FileSelected())
        return FileWriteInt(section, key, value, defaultValue);
    return RegistryWriteInt(0, section, key, value, defaultValue);
}

int WriteUserInt(const char *section, const char *key, int32_t value, int32_t defaultValue)
{
    if (UserInFile())
        return FileWriteInt(USER_SECTION, key, value, defaultValue);
    return RegistryWriteInt(1, section, key, value, defaultValue);
}

void SelectRegistrySettings()
{
    SettingsFile[0] = '\0';
    PerUserInFile = 0;
}

int WriteSettingsAtomically(void (*change)(void *context), void *context)
{
    if (!FileSelected()) {
        change(context);
        return 1;
    }
    LockGuard guard(WriteLock);
    char copy[sizeof SettingsFile + 4];
    snprintf(copy, sizeof copy, "%s.new", SettingsFile);
    DeleteFileA(copy);
    if (GetFileAttributesA(SettingsFile) != INVALID_FILE_ATTRIBUTES) {
        if (!CopyFileA(SettingsFile, copy, FALSE))
            return 0;
    } else {
        HANDLE created = CreateFileA(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE)
            return 0;
        CloseHandle(created);
    }
    Redirect = copy;
    change(context);
    Redirect = nullptr;
    if (!FlushToDisk(copy) || !PutCopyInPlace(copy, SettingsFile)) {
        DeleteFileA(copy);
        return 0;
    }
    return 1;
}

// The settings store: four primitive operations, machine-wide and per-user,
// over the settings file (INI syntax) or the registry.
#include <cstdio>
#include <cstring>

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
                                    SettingsFile);
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
    int32_t value = static_cast<int32_t>(GetPrivateProfileIntA(section, key, defaultValue, SettingsFile));
    if (value != 0 || defaultValue == 0)
        return value;
    char text[64];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, SettingsFile);
    return StartsLikeNumber(text) ? value : defaultValue;
}

int FileWriteInt(const char *section, const char *key, int32_t value, int32_t defaultValue)
{
    if (value == defaultValue)
        return WritePrivateProfileStringA(section, key, nullptr, SettingsFile) != FALSE;
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    return WritePrivateProfileStringA(section, key, text, SettingsFile) != FALSE;
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
        return WritePrivateProfileStringA(section, key, value, SettingsFile) != FALSE;
    return RegistryWriteString(0, section, key, value);
}

int WriteUserString(const char *section, const char *key, const char *value)
{
    if (UserInFile())
        return WritePrivateProfileStringA(USER_SECTION, key, value, SettingsFile) != FALSE;
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

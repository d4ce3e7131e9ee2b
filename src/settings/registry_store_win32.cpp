// The registry back end of the settings store.
#include <cstring>

#include "platform/win32.h"
#include "settings/registry_store.h"

namespace {

HKEY RootKey(int perUser)
{
    return perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

uint32_t RegistryReadString(int perUser, const char *section, const char *key, const char *defaultValue,
                            char *buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    char path[1100];
    HKEY hkey;
    if (!RegistryKeyPath(section, path, sizeof path) ||
        RegOpenKeyExA(RootKey(perUser), path, 0, KEY_READ, &hkey) != ERROR_SUCCESS)
        return RegistryCopyDefault(defaultValue, buffer, size);
    // One byte is kept back so that a value stored without its terminating
    // zero still ends inside the buffer.
    DWORD type = 0;
    DWORD bytes = size - 1;
    LONG rc = RegQueryValueExA(hkey, key, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &bytes);
    RegCloseKey(hkey);
    if (rc != ERROR_SUCCESS)
        return RegistryCopyDefault(defaultValue, buffer, size);
    buffer[bytes] = '\0';
    if (type == REG_BINARY)
        return bytes;
    return static_cast<uint32_t>(strlen(buffer));
}

int32_t RegistryReadInt(int perUser, const char *section, const char *key, int32_t defaultValue)
{
    char text[65];
    RegistryReadString(perUser, section, key, "", text, sizeof text);
    int32_t value;
    if (text[0] == '\0' || !ParseDecimal(text, &value))
        return defaultValue;
    return value;
}

int RegistryWriteString(int perUser, const char *section, const char *key, const char *value)
{
    char path[1100];
    if (!RegistryKeyPath(section, path, sizeof path))
        return 0;
    HKEY hkey;
    if (value == nullptr) {
        if (RegOpenKeyExA(RootKey(perUser), path, 0, KEY_ALL_ACCESS, &hkey) != ERROR_SUCCESS)
            return 0;
        LONG rc = RegDeleteValueA(hkey, key);
        RegCloseKey(hkey);
        return rc == ERROR_SUCCESS;
    }
    DWORD disposition;
    if (RegCreateKeyExA(RootKey(perUser), path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &hkey, &disposition) != ERROR_SUCCESS)
        return 0;
    LONG rc = RegSetValueExA(hkey, key, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                             static_cast<DWORD>(strlen(value)));
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS;
}

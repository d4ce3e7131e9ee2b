// The POSIX build has no registry: every read gives its default and every
// write fails, as on a Windows system whose key cannot be opened.
#include "settings/registry_store.h"

#include <cstring>

uint32_t RegistryReadString(int perUser, const char *section, const char *key, const char *defaultValue,
                            char *buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    if (defaultValue == nullptr)
        defaultValue = "";
    size_t n = strlen(defaultValue);
    if (n > size - 1)
        n = size - 1;
    memcpy(buffer, defaultValue, n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

int32_t RegistryReadInt(int perUser, const char *section, const char *key, int32_t defaultValue)
{
    return defaultValue;
}

int RegistryWriteString(int perUser, const char *section, const char *key, const char *value)
{
    return 0;
}

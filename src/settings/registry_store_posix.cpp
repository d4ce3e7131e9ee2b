// The POSIX build has no registry: every read gives its default and every
// write fails, as on a Windows system whose key cannot be opened.
#include "settings/registry_store.h"

uint32_t RegistryReadString(int perUser, const char *section, const char *key, const char *defaultValue,
                            char *buffer, uint32_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    return RegistryCopyDefault(defaultValue, buffer, size);
}

int32_t RegistryReadInt(int perUser, const char *section, const char *key, int32_t defaultValue)
{
    return defaultValue;
}

int RegistryWriteString(int perUser, const char *section, const char *key, const char *value)
{
    return 0;
}

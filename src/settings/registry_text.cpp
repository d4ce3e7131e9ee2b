// Helpers of the registry back end that both builds share (and test).
#include <cstdio>
#include <cstring>

#include "settings/registry_store.h"

namespace {
const char REGISTRY_KEY[] = "Software\\Korvane\\nfsd";
}

int RegistryKeyPath(const char *section, char *buffer, uint32_t size)
{
    int n;
    if (section == nullptr || strcmp(section, "nfsd") == 0)
        n = snprintf(buffer, size, "%s", REGISTRY_KEY);
    else
        n = snprintf(buffer, size, "%s\\%s", REGISTRY_KEY, section);
    return n >= 0 && static_cast<uint32_t>(n) < size;
}

int ParseDecimal(const char *text, int32_t *value)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        p++;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        p++;
    }
    if (*p < '0' || *p > '9')
        return 0;
    uint32_t result = 0;
    for (; *p >= '0' && *p <= '9'; p++)
        result = result * 10u + static_cast<uint32_t>(*p - '0');
    *value = static_cast<int32_t>(negative ? 0u - result : result);
    return 1;
}

uint32_t RegistryCopyDefault(const char *defaultValue, char *buffer, uint32_t size)
{
    if (defaultValue == nullptr)
        defaultValue = "";
    size_t n = strlen(defaultValue);
    if (n > size - 1)
        n = size - 1;
    memcpy(buffer, defaultValue, n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

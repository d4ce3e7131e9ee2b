#include "exports/exports_address.h"

#include <atomic>
#include <cstdio>

char *FormatAddress(uint32_t address, char *buffer)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&address);
    snprintf(buffer, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return buffer;
}

int ParseAddress(const char *text, uint32_t *address)
{
    unsigned char bytes[4];
    const char *p = text;
    *address = 0;
    for (int part = 0; part < 4; part++) {
        if (part > 0) {
            if (*p != '.')
                return 0;
            p++;
        }
        if (*p < '0' || *p > '9')
            return 0;
        unsigned value = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + static_cast<unsigned>(*p - '0');
            if (value > 255)
                return 0;
            p++;
        }
        bytes[part] = static_cast<unsigned char>(value);
    }
    if (*p != 0)
        return 0;
    uint32_t result;
    unsigned char *r = reinterpret_cast<unsigned char *>(&result);
    for (int i = 0; i < 4; i++)
        r[i] = bytes[i];
    *address = result;
    return 1;
}

namespace {
std::atomic<HostNameResolver> hostNameResolver{nullptr};
}

HostNameResolver SetHostNameResolver(HostNameResolver resolver)
{
    return hostNameResolver.exchange(resolver);
}

int ResolveClient(const char *word, uint32_t *address)
{
    if (ParseAddress(word, address) && *address != 0 && *address != 0xFFFFFFFFu)
        return 1;
    HostNameResolver resolver = hostNameResolver.load();
    if (resolver == nullptr)
        resolver = ResolveHostName;
    *address = 0;
    return resolver(word, address) ? 1 : 0;
}

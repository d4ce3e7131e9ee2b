// The host-name look-up of client words, the exports module's one use of the
// name service.
#include <cstring>

#include "exports/exports_address.h"
#include "platform/win32.h"

int ResolveHostName(const char *name, uint32_t *address)
{
    const struct hostent *host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 || host->h_addr_list == nullptr ||
        host->h_addr_list[0] == nullptr)
        return 0;
    memcpy(address, host->h_addr_list[0], 4);
    return 1;
}

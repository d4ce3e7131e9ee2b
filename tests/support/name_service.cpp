#include "support/name_service.h"

#include <cstring>

#include "platform/win32.h"

bool SystemResolvesName(const char *name)
{
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0)
        return false;
    freeaddrinfo(found);
    return true;
}

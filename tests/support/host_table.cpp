#include "support/host_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "exports/exports_address.h"

uint32_t Addr(const char *dotted)
{
    uint32_t address = 0;
    EXPECT_TRUE(ParseAddress(dotted, &address)) << dotted;
    return address;
}

int HostTableResolver(const char *name, uint32_t *address)
{
    if (strncmp(name, "host", 4) == 0 && name[4] >= '1' && name[4] <= '9' && name[5] == 0) {
        std::string dotted = "192.168.1." + std::string(1, name[4]);
        return ParseAddress(dotted.c_str(), address);
    }
    if (strcmp(name, "server") == 0)
        return ParseAddress("10.1.2.3", address);
    return 0;
}

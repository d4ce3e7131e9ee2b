// Client names and addresses for the tests of the export table and the mount
// service, answered from a fixed table instead of the network.
#pragma once

#include <cstdint>

// Network-order address of a dotted text.
uint32_t Addr(const char *dotted);
// The host-name resolver of the tests: "host1" .. "host9" are 192.168.1.1
// .. 9, "server" is 10.1.2.3; every other name is unknown.
int HostTableResolver(const char *name, uint32_t *address);

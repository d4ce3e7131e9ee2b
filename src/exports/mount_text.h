// Small text helpers of the mount service.
#pragma once

#include <cstddef>
#include <cstdint>

// The address in dotted form, for log lines ("%u.%u.%u.%u").
struct DottedAddress {
    char text[16];
};
DottedAddress Dotted(uint32_t address);

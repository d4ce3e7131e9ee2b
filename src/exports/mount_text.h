// Small text helpers of the mount service.  Windows paths and names compare
// without regard to the case of ASCII letters.
#pragma once

#include <cstddef>
#include <cstdint>

// True when a and b are equal apart from the case of ASCII letters.
bool SameTextNoCase(const char *a, const char *b);
// True when the first length bytes of text equal prefix (same rule); text
// shorter than length never matches.
bool SamePrefixNoCase(const char *text, const char *prefix, size_t length);
// The address in dotted form, for log lines ("%u.%u.%u.%u").
struct DottedAddress {
    char text[16];
};
DottedAddress Dotted(uint32_t address);

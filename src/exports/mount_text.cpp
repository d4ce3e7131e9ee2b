#include "exports/mount_text.h"

#include "exports/exports_address.h"

namespace {

int FoldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

}  // namespace

bool SameTextNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        if (FoldAscii(static_cast<unsigned char>(*a)) != FoldAscii(static_cast<unsigned char>(*b)))
            return false;
        if (*a == '\0')
            return true;
    }
}

bool SamePrefixNoCase(const char *text, const char *prefix, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        if (text[i] == '\0' ||
            FoldAscii(static_cast<unsigned char>(text[i])) != FoldAscii(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

DottedAddress Dotted(uint32_t address)
{
    DottedAddress result;
    FormatAddress(address, result.text);
    return result;
}

#include "exports/mount_text.h"

#include "exports/exports_address.h"

DottedAddress Dotted(uint32_t address)
{
    DottedAddress result;
    FormatAddress(address, result.text);
    return result;
}

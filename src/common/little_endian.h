// 32-bit words in little-endian order, as the small records kept in files
// (special files' "specdata", the Unix attribute record) hold them.
#pragma once

#include <cstdint>

inline void PutLittleEndian32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t GetLittleEndian32(const uint8_t *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// The bytes the durability writer writes, so that the test can tell what an
// acknowledged write left in a file.
#pragma once

#include <cstdint>

inline uint8_t DurabilityByte(uint32_t key, uint64_t index)
{
    return static_cast<uint8_t>((key * 2654435761u + index * 131u) % 251u + 1u);
}

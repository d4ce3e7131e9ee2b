// The two checksums shared by several subsystems, each computed four bits at
// a time from a 16-entry table, with no final inversion.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32, reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF
// (export ids, mount ids).  "abc" gives 0xCADBBE3D.
uint32_t Crc32(const void *data, size_t length);
uint32_t Crc32Update(uint32_t crc, const void *data, size_t length);

// CRC-16, reflected polynomial 0x8408, initial value 0xFFFF; a zero byte
// counts as a blank (exclusive-create verifiers).
uint16_t Crc16(const void *data, size_t length);

#include "common/checksum.h"

namespace {

// Table entry i is the CRC register after shifting the four bits i through.
constexpr uint32_t kCrc32Nibbles[16] = {
    0x00000000u, 0x1DB71064u, 0x3B6E20C8u, 0x26D930ACu, 0x76DC4190u, 0x6B6B51F4u, 0x4DB26158u, 0x5005713Cu,
    0xEDB88320u, 0xF00F9344u, 0xD6D6A3E8u, 0xCB61B38Cu, 0x9B64C2B0u, 0x86D3D2D4u, 0xA00AE278u, 0xBDBDF21Cu,
};

constexpr uint16_t MakeCrc16Nibble(unsigned n)
{
    uint16_t crc = static_cast<uint16_t>(n);
    for (int bit = 0; bit < 4; bit++)
        crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0x8408u : crc >> 1);
    return crc;
}

constexpr uint16_t kCrc16Nibbles[16] = {
    MakeCrc16Nibble(0),  MakeCrc16Nibble(1),  MakeCrc16Nibble(2),  MakeCrc16Nibble(3),
    MakeCrc16Nibble(4),  MakeCrc16Nibble(5),  MakeCrc16Nibble(6),  MakeCrc16Nibble(7),
    MakeCrc16Nibble(8),  MakeCrc16Nibble(9),  MakeCrc16Nibble(10), MakeCrc16Nibble(11),
    MakeCrc16Nibble(12), MakeCrc16Nibble(13), MakeCrc16Nibble(14), MakeCrc16Nibble(15),
};

} // namespace

uint32_t Crc32Update(uint32_t crc, const void *data, size_t length)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < length; i++) {
        crc ^= p[i];
        crc = (crc >> 4) ^ kCrc32Nibbles[crc & 15];
        crc = (crc >> 4) ^ kCrc32Nibbles[crc & 15];
    }
    return crc;
}

uint32_t Crc32(const void *data, size_t length) { return Crc32Update(0xFFFFFFFFu, data, length); }

uint16_t Crc16(const void *data, size_t length)
{
    const uint8_t *p = static_cast<const uint8_t *>(data);
    uint16_t crc = 0xFFFFu;
    for (size_t i = 0; i < length; i++) {
        uint8_t byte = p[i] == 0 ? static_cast<uint8_t>(' ') : p[i];
        crc ^= byte;
        crc = static_cast<uint16_t>((crc >> 4) ^ kCrc16Nibbles[crc & 15]);
        crc = static_cast<uint16_t>((crc >> 4) ^ kCrc16Nibbles[crc & 15]);
    }
    return crc;
}

#include <gtest/gtest.h>

#include <cstring>

#include "common/checksum.h"

TEST(Checksum, Crc32WithoutFinalInversion)
{
    EXPECT_EQ(Crc32("abc", 3), 0xCADBBE3Du);
    // The standard check value 0xCBF43926 is the inverted register.
    EXPECT_EQ(Crc32("123456789", 9), ~0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Update(Crc32("12345", 5), "6789", 4), Crc32("123456789", 9));
}

TEST(Checksum, Crc16CountsZeroBytesAsBlanks)
{
    // CRC-16/X-25 has the same register with a final inversion: check 0x906E.
    EXPECT_EQ(Crc16("123456789", 9), static_cast<uint16_t>(~0x906Eu));
    const char withZero[3] = {'a', '\0', 'b'};
    EXPECT_EQ(Crc16(withZero, 3), Crc16("a b", 3));
    EXPECT_EQ(Crc16("", 0), 0xFFFFu);
}

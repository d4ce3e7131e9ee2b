#include <gtest/gtest.h>

#include "backend/file_attributes.h"

namespace {

FILETIME Ticks(uint64_t ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

} // namespace

TEST(FileTimes, WindowsTicksToUnixSeconds)
{
    FILETIME epoch = Ticks(116444736000000000ull);
    EXPECT_EQ(UnixSecondsFromFileTime(&epoch), 0u);
    // Parts of a second are cut off.
    FILETIME later = Ticks(116444736000000000ull + 1600000000ull * 10000000ull + 9999999ull);
    EXPECT_EQ(UnixSecondsFromFileTime(&later), 1600000000u);
    // Beyond 2106 the seconds wrap at 32 bits.
    FILETIME wrapped = Ticks(116444736000000000ull + (0x100000000ull + 5) * 10000000ull);
    EXPECT_EQ(UnixSecondsFromFileTime(&wrapped), 5u);
    // Before 1970 the (negative) count is truncated to 32 bits.
    FILETIME before = Ticks(116444736000000000ull - 10000000ull);
    EXPECT_EQ(UnixSecondsFromFileTime(&before), 0xFFFFFFFFu);
}

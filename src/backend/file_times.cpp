// Windows file times (100-nanosecond units since 1601-01-01) and Unix seconds.
#include "backend/file_attributes.h"

namespace {

const int64_t kUnixEpochAsFileTime = 116444736000000000LL;
const uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
const int64_t kTicksPerSecond = 10000000LL;

} // namespace

uint32_t UnixSecondsFromFileTime(const FILETIME *time)
{
    const uint64_t ticks = static_cast<uint64_t>(time->dwHighDateTime) << 32 | time->dwLowDateTime;
    const int64_t seconds = (static_cast<int64_t>(ticks) - kUnixEpochAsFileTime) / kTicksPerSecond;
    return static_cast<uint32_t>(seconds);
}

FILETIME FileTimeFromUnixSeconds(uint32_t seconds)
{
    const uint64_t ticks = (seconds + kSecondsFrom1601To1970) * static_cast<uint64_t>(kTicksPerSecond);
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

FILETIME FileTimeFromUnixTime(uint32_t seconds, uint32_t nanoseconds)
{
    if (nanoseconds > 999999999u)
        nanoseconds = 999999999u;
    const uint64_t ticks = (seconds + kSecondsFrom1601To1970) * static_cast<uint64_t>(kTicksPerSecond) + nanoseconds / 100u;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

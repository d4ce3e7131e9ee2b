// Windows file times (100-nanosecond units since 1601-01-01) and Unix seconds.
#include "backend/file_attributes.h"

#include "fs/win_file_access.h"

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

void UnixTimeFromFileTime(const FILETIME *time, uint32_t *seconds, uint32_t *nanoseconds)
{
    const uint64_t ticks = static_cast<uint64_t>(time->dwHighDateTime) << 32 | time->dwLowDateTime;
    const int64_t sinceEpoch = static_cast<int64_t>(ticks) - kUnixEpochAsFileTime;
    // Floor division: a time before 1970 keeps a fraction from 0 up.
    int64_t whole = sinceEpoch / kTicksPerSecond;
    int64_t fraction = sinceEpoch % kTicksPerSecond;
    if (fraction < 0) {
        whole -= 1;
        fraction += kTicksPerSecond;
    }
    *seconds = static_cast<uint32_t>(whole);
    *nanoseconds = static_cast<uint32_t>(fraction * 100);
}

bool ChangeTimeOf(HANDLE handle, FILETIME *changeTime)
{
    FILE_BASIC_INFO basic;
    if (!FsGetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return false;
    const uint64_t ticks = static_cast<uint64_t>(basic.ChangeTime.QuadPart);
    changeTime->dwLowDateTime = static_cast<DWORD>(ticks);
    changeTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    // A volume that keeps no change time (FAT) tells 0.
    return ticks != 0;
}

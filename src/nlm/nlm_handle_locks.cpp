// Windows locks of the lock table on a handle.
#include "nlm/nlm_handle_locks.h"

namespace {

const uint64_t LARGEST_OFFSET = 0x7FFFFFFFFFFFFFFFull;

// The Windows range of first..last: false when nothing of it can be locked.
bool WindowsRange(uint64_t first, uint64_t last, DWORD parts[4])
{
    if (first > LARGEST_OFFSET)
        return false;
    if (last > LARGEST_OFFSET)
        last = LARGEST_OFFSET;
    uint64_t length = last - first + 1;
    parts[0] = static_cast<DWORD>(first);
    parts[1] = static_cast<DWORD>(first >> 32);
    parts[2] = static_cast<DWORD>(length);
    parts[3] = static_cast<DWORD>(length >> 32);
    return true;
}

}  // namespace

bool NlmLockHandleRange(HANDLE handle, uint64_t first, uint64_t last)
{
    DWORD p[4];
    return !WindowsRange(first, last, p) || LockFile(handle, p[0], p[1], p[2], p[3]) != FALSE;
}

void NlmUnlockHandleRange(HANDLE handle, uint64_t first, uint64_t last)
{
    DWORD p[4];
    if (WindowsRange(first, last, p))
        UnlockFile(handle, p[0], p[1], p[2], p[3]);
}

// The Windows byte-range locks under the lock table, taken through an open
// handle: the file operations a binding of the table to open files uses.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// An exclusive lock of bytes first..last (inclusive).  Windows file offsets
// end at 2^63 - 1: a range is cut there, and one that begins beyond it needs
// no lock.  False when Windows refuses (another handle or program holds a
// byte of the range).
bool NlmLockHandleRange(HANDLE handle, uint64_t first, uint64_t last);
// Drops a lock taken with NlmLockHandleRange for the same range.
void NlmUnlockHandleRange(HANDLE handle, uint64_t first, uint64_t last);

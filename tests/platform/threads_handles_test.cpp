// Conformance of threads, events, critical sections and handles: the same
// expectations hold for Win32 (under Wine) and for our POSIX layer.
#include <gtest/gtest.h>

#include <cstring>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

struct Counter {
    CRITICAL_SECTION lock;
    long value;
};

DWORD WINAPI AddMany(LPVOID parameter)
{
    Counter *c = static_cast<Counter *>(parameter);
    for (int i = 0; i < 10000; i++) {
        EnterCriticalSection(&c->lock);
        // Critical sections are recursive on Windows.
        EnterCriticalSection(&c->lock);
        c->value++;
        LeaveCriticalSection(&c->lock);
        LeaveCriticalSection(&c->lock);
    }
    return 7;
}

DWORD WINAPI WaitThenReturn(LPVOID parameter)
{
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 42;
}

} // namespace

TEST(PlatformThreads, CriticalSectionsSerialiseAndThreadsReturnExitCodes)
{
    Counter c;
    InitializeCriticalSection(&c.lock);
    c.value = 0;
    HANDLE threads[4];
    for (HANDLE &t : threads) {
        t = CreateThread(nullptr, 0, AddMany, &c, 0, nullptr);
        ASSERT_NE(t, nullptr);
    }
    for (HANDLE t : threads) {
        EXPECT_EQ(WaitForSingleObject(t, 10000), (DWORD)WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(t, &code));
        EXPECT_EQ(code, 7u);
        EXPECT_TRUE(CloseHandle(t));
    }
    EXPECT_EQ(c.value, 40000);
    DeleteCriticalSection(&c.lock);
}

TEST(PlatformThreads, EventsReleaseWaitersAndTimeOut)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 20), (DWORD)WAIT_TIMEOUT);
    HANDLE t = CreateThread(nullptr, 0, WaitThenReturn, event, 0, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 50), (DWORD)WAIT_TIMEOUT);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, (DWORD)STILL_ACTIVE);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(t, 10000), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    // A manual-reset event stays signalled until reset.
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(t);
    CloseHandle(event);

    HANDLE autoReset = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(autoReset);
}

// A null handle and a closed one fail with error 6, and a closed handle is
// never taken for a newer object.  INVALID_HANDLE_VALUE is the current
// process's pseudo-handle: closing it is allowed and does nothing.
TEST(PlatformHandles, NullAndClosedHandlesFailWithError6)
{
    EXPECT_FAILS_WITH(CloseHandle(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FAILS_WITH(SetEvent(event), ERROR_INVALID_HANDLE);
    EXPECT_FAILS_WITH(CloseHandle(event), ERROR_INVALID_HANDLE);
}

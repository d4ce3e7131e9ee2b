// Handles as Win32 gives them, the same under Wine and in our POSIX layer: a
// null handle and a closed one fail with error 6, and a closed handle is
// never taken for a newer object.  INVALID_HANDLE_VALUE is the current
// process's pseudo-handle: closing it is allowed and does nothing.
#include <gtest/gtest.h>

#include "file_test_util.h"
#include "platform/win32.h"

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

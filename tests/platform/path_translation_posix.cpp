// The POSIX layer's drive Z: (the same view of the host that Wine gives);
// other drives and shares do not exist, and a result must fit its buffer.
#include <gtest/gtest.h>

#include "platform/win32.h"

TEST(PosixPaths, DriveZIsTheRootAndNothingElseExists)
{
    const struct {
        const char *windows, *posix;  // posix null: refused with error
        DWORD error;
    } rows[] = {{"Z:\\srv\\data", "/srv/data", 0},        {"z:", "/", 0},
                {"\\\\?\\Z:\\long\\name", "/long/name", 0}, {"relative\\x", "relative/x", 0},
                {"C:\\Windows", nullptr, ERROR_PATH_NOT_FOUND}, {"\\\\server\\share", nullptr, ERROR_BAD_NETPATH},
                {"Z:\\abcdefgh\\ijklmnop", nullptr, ERROR_FILENAME_EXCED_RANGE}};
    for (const auto &row : rows) {
        char buffer[16];
        EXPECT_EQ(PosixPathFromWindows(row.windows, buffer, sizeof buffer), row.posix != nullptr) << row.windows;
        if (row.posix != nullptr) {
            EXPECT_STREQ(buffer, row.posix);
        } else {
            EXPECT_EQ(GetLastError(), row.error) << row.windows;
        }
    }
    char buffer[8];
    EXPECT_FALSE(WindowsPathFromPosix("/abcdefg", buffer, sizeof(buffer)));
    ASSERT_TRUE(WindowsPathFromPosix("/abcd", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "Z:\\abcd");
}

// The POSIX layer's drive Z: (the same view of the host that Wine gives).
#include <gtest/gtest.h>

#include "platform/win32.h"

TEST(PosixPaths, DriveZIsTheRoot)
{
    char buffer[64];
    ASSERT_TRUE(PosixPathFromWindows("Z:\\srv\\data", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "/srv/data");
    ASSERT_TRUE(PosixPathFromWindows("z:\\", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "/");
    ASSERT_TRUE(PosixPathFromWindows("Z:", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "/");
    ASSERT_TRUE(PosixPathFromWindows("\\\\?\\Z:\\long\\name", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "/long/name");
    ASSERT_TRUE(PosixPathFromWindows("relative\\x", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "relative/x");
}

TEST(PosixPaths, OtherDrivesAndSharesDoNotExist)
{
    char buffer[64];
    EXPECT_FALSE(PosixPathFromWindows("C:\\Windows", buffer, sizeof(buffer)));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(PosixPathFromWindows("\\\\server\\share", buffer, sizeof(buffer)));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BAD_NETPATH);
}

TEST(PosixPaths, TooLongResultsFail)
{
    char buffer[8];
    EXPECT_FALSE(PosixPathFromWindows("Z:\\abcdefgh", buffer, sizeof(buffer)));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    EXPECT_TRUE(PosixPathFromWindows("Z:\\abcdef", buffer, sizeof(buffer)));
    EXPECT_FALSE(WindowsPathFromPosix("/abcdefg", buffer, sizeof(buffer)));
    ASSERT_TRUE(WindowsPathFromPosix("/abcd", buffer, sizeof(buffer)));
    EXPECT_STREQ(buffer, "Z:\\abcd");
}

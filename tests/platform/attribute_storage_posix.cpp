// Where the POSIX build keeps the DOS attributes: the places Wine reads them
// from, so both builds see one folder alike.  How the attributes show as
// modes stays checked through the layer by HandlesTest
// ModesFollowTheDosAttributes and ModesSetThroughTheAttributes (tests/backend).
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

DWORD Attr(const std::string &path) { return GetFileAttributesA(path.c_str()); }

const DWORD A = FILE_ATTRIBUTE_ARCHIVE, R = FILE_ATTRIBUTE_READONLY, H = FILE_ATTRIBUTE_HIDDEN,
            S = FILE_ATTRIBUTE_SYSTEM;

} // namespace

// Where the attributes are kept: the places Wine reads them from.
TEST(FileAttributes, KeptWhereWineKeepsThem)
{
    TempDir dir;
    std::string f = dir.Win("f");
    ASSERT_TRUE(Make(f));
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), H | S | R));
    char value[32] = {};
    ssize_t n = getxattr(dir.Native("f").c_str(), "user.DOSATTRIB", value, sizeof(value) - 1);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(value, "0x6");
    struct stat st;
    ASSERT_EQ(stat(dir.Native("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), 0));
    EXPECT_LT(getxattr(dir.Native("f").c_str(), "user.DOSATTRIB", value, sizeof(value)), 0);
    ASSERT_EQ(stat(dir.Native("f").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);

    // Values written by Wine (or by hand) are read the same way: only the
    // hidden and system bits of a "0x" text count.
    WriteFileBytes(dir.Native("w"), "");
    ASSERT_EQ(setxattr(dir.Native("w").c_str(), "user.DOSATTRIB", "0x27", 4, 0), 0);
    EXPECT_EQ(Attr(dir.Win("w")), A | H | S);
    ASSERT_EQ(setxattr(dir.Native("w").c_str(), "user.DOSATTRIB", "junk", 4, 0), 0);
    EXPECT_EQ(Attr(dir.Win("w")), A);
    ASSERT_EQ(chmod(dir.Native("w").c_str(), 0444), 0);
    EXPECT_EQ(Attr(dir.Win("w")), A | R);
}

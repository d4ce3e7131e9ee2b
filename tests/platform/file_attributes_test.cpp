// DOS attributes: what is reported, what is kept, and where the POSIX build
// keeps it (the same place as Wine, so both builds see one folder alike).
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/win32.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#endif

namespace {

bool Make(const std::string &path, DWORD attributes = 0)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

DWORD Attr(const std::string &path) { return GetFileAttributesA(path.c_str()); }

const DWORD A = FILE_ATTRIBUTE_ARCHIVE, R = FILE_ATTRIBUTE_READONLY, H = FILE_ATTRIBUTE_HIDDEN,
            S = FILE_ATTRIBUTE_SYSTEM, D = FILE_ATTRIBUTE_DIRECTORY;

struct SetRead {
    DWORD set, read;
};

// Sets each row's attributes on path in turn and reads them back.
void ExpectSetsRead(const std::string &path, std::initializer_list<SetRead> rows)
{
    for (const SetRead &row : rows) {
        EXPECT_TRUE(SetFileAttributesA(path.c_str(), row.set)) << path << " " << row.set;
        EXPECT_EQ(Attr(path), row.read) << path << " " << row.set;
    }
}

} // namespace

TEST(FileAttributes, FilesAndFolders)
{
    TempDir dir;
    std::string f = dir.Win("f"), d = dir.Win("d");
    ASSERT_TRUE(Make(f));
    ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    EXPECT_EQ(Attr(f), A);
    EXPECT_EQ(Attr(d), D);

    const DWORD N = FILE_ATTRIBUTE_NORMAL;
    ExpectSetsRead(f, {{H | S, A | H | S}, {H, A | H}, {N, A}, {R, A | R}, {N, A}});
    ExpectSetsRead(d, {{H | S, D | H | S}, {0, D}});

    ASSERT_TRUE(Make(dir.Win("hs"), H | S));
    EXPECT_EQ(Attr(dir.Win("hs")), A | H | S);
    ASSERT_TRUE(Make(dir.Win("ro"), R));
    EXPECT_EQ(Attr(dir.Win("ro")), A | R);
}

#ifndef _WIN32
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
#endif

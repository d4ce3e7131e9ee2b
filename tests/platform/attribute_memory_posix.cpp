// HIDDEN and SYSTEM as another program changes them (the extended attribute
// written directly): every query shows the change at once, also for an
// object whose attributes were read and remembered before.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/xattr.h>
#include <unistd.h>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

const DWORD kStored = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The stored bits as each query reports them: by name, by handle, listed.
void ExpectBits(const std::string &win, DWORD bits, const char *round)
{
    EXPECT_EQ(GetFileAttributesA(win.c_str()) & kStored, bits) << round;
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(InfoOf(win, &info)) << round;
    EXPECT_EQ(info.dwFileAttributes & kStored, bits) << round;
    WIN32_FIND_DATAA data;
    ASSERT_TRUE(FindOne(win.substr(0, win.size() - 3) + "*", &data)) << round;
    EXPECT_EQ(data.dwFileAttributes & kStored, bits) << round;
}

} // namespace

TEST(PosixAttributes, ChangesByOtherProgramsShowAtOnce)
{
    TempDir dir;
    const std::string win = dir.Win("file.txt");
    ASSERT_TRUE(Make(win, "x"));
    char posix[4096];
    ASSERT_TRUE(PosixPathFromWindows(win.c_str(), posix, sizeof posix));
    if (setxattr(posix, "user.DOSATTRIB", "0x0", 3, 0) != 0 && errno == ENOTSUP)
        GTEST_SKIP() << "this file system keeps no user extended attributes";
    const struct {
        const char *text; // null: the attribute removed
        DWORD bits;
    } rounds[] = {{"0x2", FILE_ATTRIBUTE_HIDDEN}, {"0x4", FILE_ATTRIBUTE_SYSTEM}, {nullptr, 0}, {"0x6", kStored}};
    usleep(30000);
    ExpectBits(win, 0, "before");
    for (const auto &round : rounds) {
        const int rc = round.text != nullptr ? setxattr(posix, "user.DOSATTRIB", round.text, 3, 0)
                                             : removexattr(posix, "user.DOSATTRIB");
        ASSERT_EQ(rc, 0);
        const char *name = round.text != nullptr ? round.text : "removed";
        ExpectBits(win, round.bits, name);
        // Once more when the answer is old enough to be remembered.
        usleep(30000);
        ExpectBits(win, round.bits, name);
    }
}

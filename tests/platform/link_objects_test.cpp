// Symbolic links as objects of their own (the last component not followed
// where a call says so) and GetFinalPathNameByHandle: where a handle's object
// really lies, links on the way resolved.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/host_link.h"
#include "support/temp_dir.h"

namespace {

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The final path of the object at path, "" when it cannot be opened.
std::string FinalPath(const std::string &path, DWORD flags = FILE_FLAG_BACKUP_SEMANTICS)
{
    HANDLE h = Open(path, 0, kShareAll, OPEN_EXISTING, flags);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    char buffer[1024];
    DWORD n = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, 0);
    CloseHandle(h);
    return n > 0 && n < sizeof buffer ? Lower(std::string(buffer, n)) : "<failed>";
}

} // namespace

TEST(FinalPath, NamesTheObjectWithTheLongPrefix)
{
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("file.txt"), "x"));
    ASSERT_TRUE(CreateDirectoryA(dir.Win("sub").c_str(), nullptr));
    EXPECT_EQ(FinalPath(dir.Win("file.txt")), Lower("\\\\?\\" + dir.Win("file.txt")));
    EXPECT_EQ(FinalPath(dir.Win("sub")), Lower("\\\\?\\" + dir.Win("sub")));
    EXPECT_EQ(FinalPath(dir.Win("sub\\..\\FILE.TXT")), Lower("\\\\?\\" + dir.Win("file.txt")));

}

TEST(FinalPath, ResolvesAFolderLinkOnTheWay)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("target").c_str(), nullptr));
    ASSERT_TRUE(Make(dir.Win("target\\file.txt"), "x"));
    ScopedHostLink link(dir.Win("target"), dir.Win("link"), true);
    if (!link.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    EXPECT_EQ(FinalPath(dir.Win("link\\file.txt")), Lower("\\\\?\\" + dir.Win("target\\file.txt")));
    EXPECT_EQ(FinalPath(dir.Win("link\\file.txt"), FILE_FLAG_OPEN_REPARSE_POINT),
              Lower("\\\\?\\" + dir.Win("target\\file.txt")));
    EXPECT_EQ(FinalPath(dir.Win("link")), Lower("\\\\?\\" + dir.Win("target")));
}

// GetFileAttributes, FindFirstFile and CreateFile with
// FILE_FLAG_OPEN_REPARSE_POINT see the link itself.
TEST(LinkObjects, TheLastComponentIsTheLinkItself)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("target").c_str(), nullptr));
    ASSERT_TRUE(Make(dir.Win("target\\file.txt"), "12345"));
    ScopedHostLink folder(dir.Win("target"), dir.Win("folder"), true);
    ScopedHostLink file(dir.Win("target\\file.txt"), dir.Win("file"), false);
    if (!folder.made || !file.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    const DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(GetFileAttributesA(dir.Win("folder").c_str()) & (kLink | FILE_ATTRIBUTE_DIRECTORY),
              kLink | FILE_ATTRIBUTE_DIRECTORY);
    // Wine 8 shows a host link to a file as the file itself.
    const bool fileLinksShown = !RunningUnderWine();
    EXPECT_EQ(GetFileAttributesA(dir.Win("folder\\file.txt").c_str()) & kLink, 0u);

    WIN32_FIND_DATAA data;
    ASSERT_TRUE(FindOne(dir.Win(fileLinksShown ? "fil*" : "fold*"), &data));
    EXPECT_EQ(data.dwFileAttributes & kLink, kLink);
    // Wine 8 lists a host link as a reparse point without its tag.
    if (!RunningUnderWine()) {
        EXPECT_STREQ(data.cFileName, "file");
        EXPECT_EQ(data.dwReserved0, static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK));
        EXPECT_EQ(data.nFileSizeLow, 0u);
    }

    // Wine 8 opens what a host link leads to even when asked for the link.
    if (RunningUnderWine())
        return;
    for (const char *name : {"folder", "file"}) {
        BY_HANDLE_FILE_INFORMATION info;
        ASSERT_TRUE(InfoOf(dir.Win(name), &info, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)) << name;
        EXPECT_EQ(info.dwFileAttributes & kLink, kLink) << name;
        EXPECT_EQ(FinalPath(dir.Win(name), FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT),
                  Lower("\\\\?\\" + dir.Win(name)));
    }
}

// A link as the last component: followed by CreateFile unless asked not to,
// shown as itself by GetFileAttributes(Ex), also when its target is gone and
// when the name is spelt in another case.
TEST(LinkObjects, AFileLinkIsFollowedOnlyWhereWindowsFollowsIt)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine 8 shows a host link to a file as the file itself";
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("target.txt"), "12345"));
    ASSERT_TRUE(Make(dir.Win("doomed.txt"), "x"));
    ScopedHostLink file(dir.Win("target.txt"), dir.Win("file"), false);
    ScopedHostLink dangling(dir.Win("doomed.txt"), dir.Win("gone"), false);
    if (!file.made || !dangling.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    ASSERT_TRUE(DeleteFileA(dir.Win("doomed.txt").c_str()));
    const DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;

    BY_HANDLE_FILE_INFORMATION target, followed;
    ASSERT_TRUE(InfoOf(dir.Win("target.txt"), &target));
    HANDLE h = Open(dir.Win("file"), GENERIC_READ, kShareAll, OPEN_EXISTING); // a data open follows the link
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(GetFileInformationByHandle(h, &followed));
    CloseHandle(h);
    EXPECT_EQ(followed.dwFileAttributes & kLink, 0u);
    EXPECT_EQ(followed.nFileSizeLow, 5u);
    EXPECT_EQ(followed.nFileIndexLow, target.nFileIndexLow);

    for (const char *name : {"file", "FILE", "gone", "GONE"}) {
        EXPECT_EQ(GetFileAttributesA(dir.Win(name).c_str()), kLink | FILE_ATTRIBUTE_ARCHIVE) << name;
        if (name[0] == 'g' || name[0] == 'G')
            continue; // a dangling link has no target to describe
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(dir.Win(name).c_str(), GetFileExInfoStandard, &data)) << name;
        EXPECT_EQ(data.dwFileAttributes & kLink, kLink) << name;
        EXPECT_EQ(data.nFileSizeLow, 0u) << name;
    }
    SetLastError(0);
    EXPECT_EQ(Open(dir.Win("gone"), GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(dir.Win("gone"), GENERIC_WRITE, kShareAll, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

// GetFinalPathNameByHandle: where a handle's object really lies, with the
// long prefix and links on the way resolved (what the server's containment
// checks rely on).
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

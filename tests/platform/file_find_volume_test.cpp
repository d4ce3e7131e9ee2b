// Directory search: patterns and single names as the server asks them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

std::vector<WIN32_FIND_DATAA> List(const std::string &pattern, DWORD *error)
{
    std::vector<WIN32_FIND_DATAA> out;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return out;
    }
    do
        out.push_back(data);
    while (FindNextFileA(find, &data));
    *error = GetLastError();
    FindClose(find);
    return out;
}

} // namespace

TEST(FileFind, PatternsAndSingleNames)
{
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("One.TXT")));
    ASSERT_TRUE(Make(dir.Win("two.log")));
    ASSERT_TRUE(Make(dir.Win("three")));
    DWORD error = 0;
    std::vector<WIN32_FIND_DATAA> found = List(dir.Win("*.txt"), &error);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].cFileName, "One.TXT");
    // A name without wildcards is one entry, spelt as on disk.
    found = List(dir.Win("ONE.txt"), &error);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].cFileName, "One.TXT");
    EXPECT_EQ(error, (DWORD)ERROR_NO_MORE_FILES);

    WIN32_FIND_DATAA data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(dir.Win("none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(dir.Win("*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA(dir.Win("nodir\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirstFileA((dir.win()).c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

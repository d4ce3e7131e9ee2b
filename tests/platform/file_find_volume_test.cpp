// Directory search and volume questions.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
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

TEST(FileFind, ListsEveryEntryWithDotsFirst)
{
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("Alpha.txt"), "12345"));
    ASSERT_TRUE(Make(dir.Win("beta")));
    ASSERT_TRUE(CreateDirectoryA(dir.Win("Sub").c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesA(dir.Win("beta").c_str(), FILE_ATTRIBUTE_HIDDEN));
    DWORD error = 0;
    std::vector<WIN32_FIND_DATAA> all = List(dir.Win("*"), &error);
    EXPECT_EQ(error, (DWORD)ERROR_NO_MORE_FILES);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_STREQ(all[0].cFileName, ".");
    EXPECT_STREQ(all[1].cFileName, "..");
    EXPECT_EQ(all[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    // Each name as on disk with its attributes and size, in any order.
    std::map<std::string, std::pair<DWORD, DWORD>> listed, expected = {
        {"Alpha.txt", {FILE_ATTRIBUTE_ARCHIVE, 5}},
        {"beta", {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, 0}},
        {"Sub", {FILE_ATTRIBUTE_DIRECTORY, 0}},
    };
    for (size_t i = 2; i < all.size(); i++)
        listed[all[i].cFileName] = {all[i].dwFileAttributes, all[i].nFileSizeLow};
    EXPECT_EQ(listed, expected);

    // An empty folder holds only the dots.
    all = List(dir.Win("sub\\*"), &error);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(error, (DWORD)ERROR_NO_MORE_FILES);
}

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

TEST(FileVolume, RootSerialAndSpace)
{
    TempDir dir;
    char root[2048];
    ASSERT_TRUE(GetVolumePathNameA(dir.Win("file-that-does-not-exist").c_str(), root, sizeof(root)));
    std::string r = root;
    ASSERT_GE(r.size(), 3u);
    EXPECT_EQ(r.back(), '\\');
    EXPECT_EQ(dir.win().compare(0, r.size(), r), 0) << r << " is not a prefix of " << dir.win();
    ASSERT_TRUE(GetVolumePathNameA(("\\\\?\\" + dir.win()).c_str(), root, sizeof(root)));
    EXPECT_EQ(std::string(root), "\\\\?\\" + r);

    char name[256] = "untouched", fs[256] = "untouched";
    DWORD serial = 0, maxComponent = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationA(r.c_str(), name, sizeof(name), &serial, &maxComponent, &flags, fs, sizeof(fs)));
    EXPECT_EQ(maxComponent, 255u);
    EXPECT_TRUE(flags & FILE_CASE_PRESERVED_NAMES);
    EXPECT_GT(strlen(fs), 0u);
    DWORD again = 0;
    ASSERT_TRUE(GetVolumeInformationA(r.c_str(), nullptr, 0, &again, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(again, serial);
    EXPECT_FALSE(GetVolumeInformationA(r.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fs, 2));

    UINT type = GetDriveTypeA(r.c_str());
    EXPECT_GT(type, (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA("Q:\\"), (UINT)DRIVE_NO_ROOT_DIR);

    ULARGE_INTEGER freeToCaller, total, totalFree;
    ASSERT_TRUE(GetDiskFreeSpaceExA(dir.win().c_str(), &freeToCaller, &total, &totalFree));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(freeToCaller.QuadPart, total.QuadPart);
    EXPECT_LE(totalFree.QuadPart, total.QuadPart);
    ASSERT_TRUE(Make(dir.Win("f")));
    SetLastError(0);
    EXPECT_FALSE(GetDiskFreeSpaceExA(dir.Win("f").c_str(), &freeToCaller, &total, &totalFree));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
}

TEST(FileVolume, WineDeviation_OnlyRootsAreVolumes)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine reports a fixed drive for any folder given to GetDriveType";
    TempDir dir;
    EXPECT_EQ(GetDriveTypeA(dir.win().c_str()), (UINT)DRIVE_NO_ROOT_DIR);
    SetLastError(0);
    EXPECT_FALSE(GetVolumeInformationA(dir.win().c_str(), nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_ROOT);
}

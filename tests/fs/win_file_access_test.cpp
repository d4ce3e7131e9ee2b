// The file access layer in UTF-8 mode: invalid UTF-8 never reaches another
// file, and a name too long for the ANSI find record is never cut.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/win_file_access.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

class FileAccessTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override { ServerSettings.CharSetActive = 1; }
    void TearDown() override { ServerSettings.CharSetActive = 1; }
    bool Touch(const std::string &path)
    {
        HANDLE h = FsCreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }
};

const char kEuroUtf8[] = "\xE2\x82\xAC";

TEST_F(FileAccessTest, InvalidUtf8NeverReachesAnotherFile)
{
    ServerSettings.CharSetActive = 2;
    // A file whose name holds U+FFFD, the character a lenient conversion
    // would put in place of the invalid byte.
    std::string replacement = dir.win() + "a\xEF\xBF\xBD";
    ASSERT_TRUE(Touch(replacement));
    std::string invalid = dir.win() + "a\xFF";
    SetLastError(0);
    EXPECT_EQ(FsGetFileAttributes(invalid.c_str()), INVALID_FILE_ATTRIBUTES);
    DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
        << error;
    EXPECT_FALSE(FsDeleteFile(invalid.c_str()));
    EXPECT_FALSE(FsSetFileAttributes(invalid.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(FsMoveFile(invalid.c_str(), (dir.win() + "moved").c_str()));
    EXPECT_EQ(FsCreateFile(invalid.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Touch(invalid));  // CREATE_NEW of an empty name fails as well
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FsFindFirstFile(invalid.c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FsGetFileAttributes(replacement.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(FsGetFileAttributes(replacement.c_str()), INVALID_FILE_ATTRIBUTES);
    if (!RunningOnWindows()) {
        EXPECT_TRUE(FileExists(dir.Native("a\xEF\xBF\xBD")));
    }
    // A path whose wide form does not fit 4096 units fails the same way.
    std::string huge = dir.win() + std::string(5000, 'x');
    EXPECT_EQ(FsGetFileAttributes(huge.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileAccessTest, NamesTooLongForTheAnsiRecordAreNotCut)
{
    ServerSettings.CharSetActive = 2;
    // 90 euro signs: 90 UTF-16 units, 270 UTF-8 bytes, more than the 260
    // bytes of cFileName.  Host file systems that keep names as UTF-8 with a
    // 255-byte limit cannot hold such a name at all.
    std::string name;
    for (int i = 0; i < 90; i++)
        name += kEuroUtf8;
    if (!Touch(dir.win() + name))
        GTEST_SKIP() << "the host file system cannot hold a 270-byte name";
    WIN32_FIND_DATAA data;
    HANDLE find = FsFindFirstFile((dir.win() + "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    int entries = 0;
    int empty = 0;
    do {
        if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0)
            continue;
        entries++;
        if (data.cFileName[0] == '\0')
            empty++;
        // Never a cut name that could be another file's: what is delivered
        // is a whole name of this folder.
        if (data.cFileName[0] != '\0') {
            EXPECT_NE(FsGetFileAttributes((dir.win() + data.cFileName).c_str()), INVALID_FILE_ATTRIBUTES);
        }
    } while (FsFindNextFile(find, &data));
    FindClose(find);
    if (entries == 1 && empty == 0 && RunningUnderWine())
        GTEST_SKIP() << "Wine stored the long name cut to 255 bytes";
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(empty, 1);
}

}  // namespace

// The file access layer in UTF-8 mode: a name too long for the ANSI find
// record is never cut.  (Invalid UTF-8 never reaching another file: NfsWire
// CallTable on the running server.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/win_file_access.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

TEST(FileAccessTest, NamesTooLongForTheAnsiRecordAreNotCut)
{
    TempDir dir;
    ServerSettings.CharSetActive = 2;
    // 90 euro signs: 90 UTF-16 units, 270 UTF-8 bytes, more than the 260
    // bytes of cFileName.  Host file systems that keep names as UTF-8 with a
    // 255-byte limit cannot hold such a name at all.
    std::string name;
    for (int i = 0; i < 90; i++)
        name += "\xE2\x82\xAC";
    HANDLE made = FsCreateFile((dir.win() + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (made == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "the host file system cannot hold a 270-byte name";
    CloseHandle(made);
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
    ServerSettings.CharSetActive = 1;
}

TEST(FileAccessTest, LooksInAnOpenFolderGoWhereTheFolderIsNotWhereItsPathLeads)
{
    TempDir dir;
    const std::string held = dir.win() + "held";
    ASSERT_TRUE(FsCreateDirectory(held.c_str(), nullptr));
    HANDLE file = FsCreateFile((held + "\\File").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    CloseHandle(file);
    HANDLE folder = FsCreateFile(held.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    // The folder moves away and another takes its path, with a file of the
    // same name: the look still finds the held folder's file.
    ASSERT_TRUE(FsMoveFile(held.c_str(), (dir.win() + "moved").c_str()));
    ASSERT_TRUE(FsCreateDirectory(held.c_str(), nullptr));
    file = FsCreateFile((held + "\\File").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    NtFileStatInformation stat = {};
    if (!FsGetFileStatIn(folder, "file", &stat) && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
        CloseHandle(folder);
        GTEST_SKIP() << "no look by name on this system";
    }
    EXPECT_EQ(stat.EndOfFile.QuadPart, 3);  // found without regard to case
    EXPECT_FALSE(FsGetFileStatIn(folder, "none", &stat));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FsGetFileStatIn(folder, "..\\held\\File", &stat));
    CloseHandle(folder);
}

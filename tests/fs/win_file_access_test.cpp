// The file access layer: ANSI or wide by the character set, UTF-8 paths,
// find data in the ANSI layout, volume questions and run-time entry points.
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

TEST_F(FileAccessTest, AnsiModePassesHighBytesUnchanged)
{
    ServerSettings.CharSetActive = 1;
    ASSERT_TRUE(Touch(dir.win() + "caf\xE9.txt"));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir.win() + "*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    EXPECT_STREQ(data.cFileName, "caf\xE9.txt");
    EXPECT_NE(FsGetFileAttributes((dir.win() + "caf\xE9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    if (GetACP() == 1252) {
        // The ANSI name is é in code page 1252; in UTF-8 mode the same file
        // is reached by its UTF-8 spelling.
        ServerSettings.CharSetActive = 2;
        EXPECT_NE(FsGetFileAttributes((dir.win() + "caf\xC3\xA9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(FsGetFileAttributes((dir.win() + "caf\xE9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

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

TEST_F(FileAccessTest, Utf8NamesRoundTripThroughWideCalls)
{
    ServerSettings.CharSetActive = 2;
    std::string name = std::string(kEuroUtf8) + "-\xC3\xA9.txt";
    std::string path = dir.win() + name;
    ASSERT_TRUE(Touch(path));
    if (!RunningOnWindows()) {
        EXPECT_TRUE(FileExists(dir.Native(name)));  // the host keeps names as UTF-8
    }
    WIN32_FIND_DATAA data;
    memset(&data, 0x55, sizeof(data));
    HANDLE find = FsFindFirstFile((dir.win() + "*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    bool seen = false;
    do {
        if (strcmp(data.cFileName, name.c_str()) == 0) {
            seen = true;
            EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
            EXPECT_EQ(data.nFileSizeLow, 0u);
            EXPECT_EQ(data.nFileSizeHigh, 0u);
        }
    } while (FsFindNextFile(find, &data));
    FindClose(find);
    EXPECT_TRUE(seen);
    std::string copy = dir.win() + kEuroUtf8 + "copy";
    std::string moved = dir.win() + kEuroUtf8 + "moved";
    std::string folder = dir.win() + kEuroUtf8 + "dir";
    EXPECT_TRUE(FsCopyFile(path.c_str(), copy.c_str(), TRUE));
    EXPECT_FALSE(FsCopyFile(path.c_str(), copy.c_str(), TRUE));
    EXPECT_TRUE(FsMoveFile(copy.c_str(), moved.c_str()));
    EXPECT_TRUE(FsSetFileAttributes(moved.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(FsGetFileAttributes(moved.c_str()) & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FsSetFileAttributes(moved.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(FsDeleteFile(moved.c_str()));
    EXPECT_TRUE(FsCreateDirectory(folder.c_str(), nullptr));
    EXPECT_NE(FsGetFileAttributes(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(FsRemoveDirectory(folder.c_str()));
    EXPECT_EQ(FsGetFileAttributes(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileAccessTest, VolumeNamesOnlyWhereBuffersAreGiven)
{
    for (uint32_t charset : {1u, 2u}) {
        ServerSettings.CharSetActive = charset;
        char root[2048];
        ASSERT_TRUE(FsGetVolumePathName((dir.win() + "x").c_str(), root, sizeof(root))) << charset;
        EXPECT_EQ(root[strlen(root) - 1], '\\');
        DWORD serial = 0, maximum = 0, flags = 0;
        EXPECT_TRUE(FsGetVolumeInformation(root, nullptr, 0, &serial, &maximum, &flags, nullptr, 0));
        EXPECT_GE(maximum, 12u);
        char system[64];
        memset(system, 'Q', sizeof(system));
        DWORD serial2 = 0;
        EXPECT_TRUE(FsGetVolumeInformation(root, nullptr, 0, &serial2, nullptr, nullptr, system, sizeof(system)));
        EXPECT_EQ(serial2, serial);
        EXPECT_GT(strlen(system), 0u);
        EXPECT_LT(strlen(system), sizeof(system));
        // A handle reports the same serial (the attributes of a hard-linked
        // file take it from there).
        HANDLE folder = FsCreateFile(dir.win().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(folder, INVALID_HANDLE_VALUE);
        BY_HANDLE_FILE_INFORMATION info;
        EXPECT_TRUE(GetFileInformationByHandle(folder, &info));
        CloseHandle(folder);
        EXPECT_EQ(info.dwVolumeSerialNumber, serial);
        // A name buffer too small for the name is not overrun.
        char small[8];
        memset(small, 'Q', sizeof(small));
        if (!FsGetVolumeInformation(root, nullptr, 0, nullptr, nullptr, nullptr, small, 2)) {
            EXPECT_EQ(memcmp(small + 2, "QQQQQQ", 6), 0);
        }
    }
    DWORD serial = 0;
    EXPECT_FALSE(VolumeSerialOfPath("Q:\\no\\such\\drive", &serial));
}

TEST_F(FileAccessTest, ProgramDirectoryEndsAtABackslashInAnyBuffer)
{
    char buffer[1024];
    uint32_t n = FsProgramDirectory(buffer, sizeof(buffer));
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, strlen(buffer));
    EXPECT_EQ(buffer[n - 1], '\\');
    char module[1024];
    ASSERT_GT(GetModuleFileNameA(nullptr, module, sizeof(module)), n);
    EXPECT_EQ(std::string(module, n), std::string(buffer));
    EXPECT_EQ(strchr(module + n, '\\'), nullptr);
    // A name that fills the buffer is cut by one byte and still ends at a backslash.
    char tiny[4];
    uint32_t m = FsProgramDirectory(tiny, sizeof(tiny));
    EXPECT_LT(m, sizeof(tiny));
    EXPECT_EQ(m, strlen(tiny));
    if (m > 0) {
        EXPECT_EQ(tiny[m - 1], '\\');
    }
}

TEST_F(FileAccessTest, RunTimeEntryPoints)
{
    EXPECT_TRUE(FsFindHardLinkApi());
    EXPECT_TRUE(HardLinkApi);
    for (uint32_t charset : {1u, 2u}) {
        ServerSettings.CharSetActive = charset;
        std::string suffix = charset == 2 ? std::string(kEuroUtf8) : std::string("a");
        std::string original = dir.win() + "orig" + suffix;
        std::string link = dir.win() + "link" + suffix;
        ASSERT_TRUE(Touch(original));
        ASSERT_TRUE(FsCreateHardLink(link.c_str(), original.c_str(), nullptr)) << GetLastError();
        HANDLE h = FsCreateFile(link.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        BY_HANDLE_FILE_INFORMATION info;
        ASSERT_TRUE(GetFileInformationByHandle(h, &info));
        EXPECT_EQ(info.nNumberOfLinks, 2u);
        if (FsFindFileIdApi()) {
            char path[2048];
            DWORD n = FsGetFinalPathNameByHandle(h, path, sizeof(path), 0);
            ASSERT_GT(n, 0u);
            EXPECT_EQ(n, strlen(path));
            std::string text(path);
            std::string tail = "link" + suffix;
            std::string orig = "orig" + suffix;
            EXPECT_TRUE(text.size() > tail.size() &&
                        (text.compare(text.size() - tail.size(), tail.size(), tail) == 0 ||
                         text.compare(text.size() - orig.size(), orig.size(), orig) == 0))
                << text;
            char small[4];
            EXPECT_EQ(FsGetFinalPathNameByHandle(h, small, sizeof(small), 0) >= sizeof(small) ||
                          FsGetFinalPathNameByHandle(h, small, sizeof(small), 0) == 0,
                      true);
        }
        CloseHandle(h);
    }
    if (!RunningOnWindows()) {
        // The POSIX layer offers no file ids: file id mode stays off.
        EXPECT_FALSE(FsFindFileIdApi());
        EXPECT_FALSE(FileIdApi);
        char descriptor[24] = {24};
        EXPECT_EQ(FsOpenFileById(nullptr, descriptor, 0, 0, nullptr, 0), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    } else {
        EXPECT_TRUE(FsFindFileIdApi());
    }
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

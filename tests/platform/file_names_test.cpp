// Names as on a Windows volume: never replaced by a move, created once
// however many threads race for one name in different spellings, and found
// without regard to case also after other programs' changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

TEST(FileNames, MoveNeverReplaces)
{
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("a"), "A"));
    ASSERT_TRUE(Make(dir.Win("b"), "B"));
    ASSERT_TRUE(CreateDirectoryA(dir.Win("d").c_str(), nullptr));
    EXPECT_FAILS_WITH(MoveFileA(dir.Win("a").c_str(), dir.Win("b").c_str()), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS_WITH(MoveFileA(dir.Win("a").c_str(), dir.Win("B").c_str()), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS_WITH(MoveFileA(dir.Win("a").c_str(), dir.Win("d").c_str()), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadAll(dir.Win("b")), "B");
}

namespace {

struct RaceArgs {
    std::string folder;
    int thread;
    int created;
};

// Every thread creates the same 200 names, each thread in its own spelling:
// exactly one spelling of each name may win.
DWORD WINAPI CreateSpellings(LPVOID parameter)
{
    RaceArgs *args = static_cast<RaceArgs *>(parameter);
    for (int i = 0; i < 200; i++) {
        std::string name = "name" + std::to_string(i);
        for (size_t k = 0; k < name.size(); k++)
            if ((args->thread >> (k % 2)) & 1)
                name[k] = (char)toupper((unsigned char)name[k]);
        HANDLE h = Open(args->folder + name, GENERIC_WRITE, 7, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE) {
            args->created++;
            CloseHandle(h);
        } else if (GetLastError() != ERROR_FILE_EXISTS) {
            args->created = -100000;
        }
    }
    return 0;
}

} // namespace

TEST(FileNames, WineDeviation_ConcurrentCreatesOfOneNameInManySpellings)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine lets concurrent creates of one name in different spellings all succeed";
    TempDir dir;
    RaceArgs args[4];
    HANDLE threads[4];
    for (int t = 0; t < 4; t++) {
        args[t] = RaceArgs{dir.win(), t, 0};
        threads[t] = CreateThread(nullptr, 0, CreateSpellings, &args[t], 0, nullptr);
        ASSERT_NE(threads[t], nullptr);
    }
    int total = 0;
    for (int t = 0; t < 4; t++) {
        WaitForSingleObject(threads[t], INFINITE);
        CloseHandle(threads[t]);
        total += args[t].created;
    }
    EXPECT_EQ(total, 200);
    auto names = std::filesystem::directory_iterator(dir.native());
    EXPECT_EQ(std::distance(names, std::filesystem::directory_iterator()), 200);
}

#ifndef _WIN32
#include "platform/posix/win32_file_internal.h"

namespace {

// The name a folder holds for a spelling (as FindFirstFile reports it).
std::string NameOnDisk(const std::string &path)
{
    WIN32_FIND_DATAA data;
    return FindOne(path, &data) ? data.cFileName : "<none>";
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

} // namespace

// The per-folder name tables of the POSIX layer: a run of creates reads the
// folder once, and changes by other programs are seen, with inotify watches
// and with the folder times alone (network file systems).
class FileNameTables : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { NameCacheUseWatches(GetParam()); }
    void TearDown() override { NameCacheUseWatches(1); }
};

TEST_P(FileNameTables, OtherProgramsChangesAreSeen)
{
    TempDir dir;
    for (int i = 0; i < 20; i++)
        ASSERT_TRUE(Make(dir.Win("f" + std::to_string(i))));
    EXPECT_FALSE(Exists(dir.Win("OUTSIDE")));
    // Without watches a change shows through the folder's times, which move
    // in clock ticks: the change comes a tick after this layer's own.
    if (!GetParam())
        Sleep(30);
    WriteFileBytes(dir.Native("Outside"), "x");
    EXPECT_TRUE(Exists(dir.Win("OUTSIDE")));
    EXPECT_FALSE(Make(dir.Win("outSIDE")));
    if (!GetParam())
        Sleep(30);
    std::rename(dir.Native("f3").c_str(), dir.Native("Renamed").c_str());
    EXPECT_TRUE(Exists(dir.Win("RENAMED")));
    EXPECT_FALSE(Exists(dir.Win("F3")));
    EXPECT_TRUE(Make(dir.Win("F3")));
}

// Another program creates a name between a change of this layer's own and
// its look at the folder's times: the name is found all the same.
TEST_P(FileNameTables, ChangesAtTheMomentOfOwnChangesAreSeen)
{
    TempDir dir;
    ASSERT_TRUE(Make(dir.Win("first")));
    static std::string outside;
    outside = dir.Native("Outside");
    NameCacheRefreshHook = [](const char *) { WriteFileBytes(outside, "x"); };
    EXPECT_TRUE(Make(dir.Win("own")));
    NameCacheRefreshHook = nullptr;
    if (!FileExists(outside))
        WriteFileBytes(outside, "x");  // watched folders learn of changes by events
    EXPECT_TRUE(Exists(dir.Win("OUTSIDE")));
    EXPECT_EQ(NameOnDisk(dir.Win("outside")), "Outside");
}

INSTANTIATE_TEST_SUITE_P(WatchedAndByTimes, FileNameTables, ::testing::Values(1, 0));
#endif

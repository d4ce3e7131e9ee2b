// File handles as Windows gives them: dispositions and their errors, data
// transfer and the file position, sharing between handles, the read-only
// rules, file information and times.  The same cases run against the POSIX
// layer and, in the Windows build under Wine, against kernel32; a case where
// Wine differs from Windows names the difference and is skipped under Wine.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

// Each row opens for writing: the last error after the call (the open fails
// unless a size is expected), the size found; an open file gets "abc" at
// its start, so a truncation shows in the next row.
TEST(FileHandles, DispositionsAndTheirErrors)
{
    TempDir dir;
    std::string f = dir.Win("f.txt");
    ASSERT_TRUE(Make(f, "0123456789"));
    const int kFails = -1;
    const struct {
        std::string path;
        DWORD disposition, error;
        int size;
    } rows[] = {
        {f, CREATE_NEW, ERROR_FILE_EXISTS, kFails},
        {dir.Win("missing"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND, kFails},
        {dir.Win("nodir\\x"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND, kFails},
        {dir.Win("nodir\\x"), CREATE_NEW, ERROR_PATH_NOT_FOUND, kFails},
        {f + "\\x", OPEN_EXISTING, ERROR_PATH_NOT_FOUND, kFails},
        {f + "\\", OPEN_EXISTING, ERROR_INVALID_NAME, kFails},
        {f, 0, ERROR_INVALID_PARAMETER, kFails},
        // OPEN_ALWAYS and CREATE_ALWAYS report an existing file with 183.
        {f, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, 10},
        {dir.Win("new1"), OPEN_ALWAYS, 0, 0},
        {f, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, 0},
        {dir.Win("new2"), CREATE_ALWAYS, 0, 0},
    };
    for (const auto &row : rows) {
        SetLastError(12345);
        HANDLE h = Open(row.path, GENERIC_WRITE, 0, row.disposition);
        EXPECT_EQ(GetLastError(), row.error) << row.path << " " << row.disposition;
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, row.size != kFails) << row.path << " " << row.disposition;
        if (h == INVALID_HANDLE_VALUE)
            continue;
        EXPECT_EQ(GetFileSize(h, nullptr), (DWORD)row.size) << row.path << " " << row.disposition;
        DWORD n;
        EXPECT_TRUE(WriteFile(h, "abc", 3, &n, nullptr));
        CloseHandle(h);
    }
}

TEST(FileHandles, FoldersNeedBackupSemantics)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("sub").c_str(), nullptr));
    std::string sub = dir.Win("sub");
    EXPECT_OPEN_FAILS(Open(sub, GENERIC_READ, 7, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    HANDLE h = Open(sub, 0, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_TRUE(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    DWORD got;
    char buffer[4];
    EXPECT_FALSE(ReadFile(h, buffer, 4, &got, nullptr));
    EXPECT_FAILS_WITH(FlushFileBuffers(h), ERROR_ACCESS_DENIED);
    CloseHandle(h);
    // Opened for writing, a folder's entries can be flushed to the disk.
    h = Open(sub, GENERIC_WRITE, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);
    EXPECT_OPEN_FAILS(Open(sub, GENERIC_READ, 7, CREATE_NEW), ERROR_FILE_EXISTS);
    EXPECT_OPEN_FAILS(Open(sub, GENERIC_WRITE, 7, CREATE_ALWAYS), ERROR_ACCESS_DENIED);
}

TEST(FileHandles, ReadWriteAndThePosition)
{
    TempDir dir;
    std::string f = dir.Win("data");
    HANDLE h = Open(f, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
    char buffer[32] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof(buffer), &n, nullptr));
    EXPECT_EQ(std::string(buffer, n), "world");
    // At the end a synchronous read succeeds with no bytes.
    n = 99;
    EXPECT_TRUE(ReadFile(h, buffer, 4, &n, nullptr));
    EXPECT_EQ(n, 0u);
    // An OVERLAPPED offset on a synchronous handle: past the end is EOF.
    OVERLAPPED ov = {};
    ov.Offset = 100;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(h, buffer, 4, &n, &ov));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_HANDLE_EOF);
    ov.Offset = 20;
    ASSERT_TRUE(WriteFile(h, "xy", 2, &n, &ov));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 22u); // moved past the transfer
    EXPECT_EQ(GetFileSize(h, nullptr), 22u);
    LARGE_INTEGER to, now;
    to.QuadPart = 5;
    ASSERT_TRUE(SetFilePointerEx(h, to, &now, FILE_BEGIN));
    EXPECT_EQ(now.QuadPart, 5);
    ASSERT_TRUE(SetEndOfFile(h));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 5);
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);
    EXPECT_EQ(ReadAll(f), "hello");
    // A gap written past the end reads as zeros.
    h = Open(f, GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetFilePointer(h, 8, nullptr, FILE_BEGIN);
    ASSERT_TRUE(WriteFile(h, "!", 1, &n, nullptr));
    CloseHandle(h);
    EXPECT_EQ(ReadAll(f), std::string("hello\0\0\0!", 9));
}

TEST(FileHandles, AccessOfTheHandleIsChecked)
{
    TempDir dir;
    std::string f = dir.Win("f");
    ASSERT_TRUE(Make(f, "abc"));
    char buffer[4];
    DWORD n;
    HANDLE w = Open(f, GENERIC_WRITE, 7, OPEN_EXISTING);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    EXPECT_FAILS_WITH(ReadFile(w, buffer, 4, &n, nullptr), ERROR_ACCESS_DENIED);
    CloseHandle(w);
    HANDLE r = Open(f, GENERIC_READ, 7, OPEN_EXISTING);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    EXPECT_FAILS_WITH(WriteFile(r, "x", 1, &n, nullptr), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(FlushFileBuffers(r), ERROR_ACCESS_DENIED);
    CloseHandle(r);
    EXPECT_FAILS_WITH(ReadFile(INVALID_HANDLE_VALUE, buffer, 1, &n, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(ReadAll(f), "abc");
}

TEST(FileHandles, WineDeviation_ReadHandleCannotSetEndOrTimes)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine: SetEndOfFile on a read handle fails with 87 and SetFileTime succeeds";
    TempDir dir;
    std::string f = dir.Win("f");
    ASSERT_TRUE(Make(f, "abc"));
    HANDLE r = Open(f, GENERIC_READ, 7, OPEN_EXISTING);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    EXPECT_FAILS_WITH(SetEndOfFile(r), ERROR_ACCESS_DENIED);
    FILETIME t = {0x12345678u, 0x01D00000u};
    EXPECT_FAILS_WITH(SetFileTime(r, nullptr, nullptr, &t), ERROR_ACCESS_DENIED);
    CloseHandle(r);
    HANDLE none = Open(f, 0, 7, OPEN_EXISTING);
    ASSERT_NE(none, INVALID_HANDLE_VALUE);
    EXPECT_FAILS_WITH(SetFileTime(none, nullptr, nullptr, &t), ERROR_ACCESS_DENIED);
    CloseHandle(none);
}

TEST(FileHandles, SharingBetweenHandles)
{
    TempDir dir;
    std::string f = dir.Win("shared");
    HANDLE first = Open(f, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    // A reader must allow the writer that is already there.
    EXPECT_TRUE(Opens(f, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    EXPECT_OPEN_FAILS(Open(f, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    EXPECT_OPEN_FAILS(Open(f, GENERIC_WRITE, 7, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    EXPECT_OPEN_FAILS(Open(f, GENERIC_WRITE, 7, CREATE_ALWAYS), ERROR_SHARING_VIOLATION);
    // Handles for attributes only never conflict.
    EXPECT_TRUE(Opens(f, FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING));
    EXPECT_TRUE(Opens(f, 0, 0, OPEN_EXISTING));
    // Deleting and renaming ask for DELETE, which the first handle does not share.
    EXPECT_FAILS_WITH(DeleteFileA(f.c_str()), ERROR_SHARING_VIOLATION);
    EXPECT_FAILS_WITH(MoveFileA(f.c_str(), dir.Win("moved").c_str()), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL));
    CloseHandle(first);

    // With FILE_SHARE_DELETE the name can move and go while the handle is open.
    first = Open(f, GENERIC_READ, kShareAll, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(MoveFileA(f.c_str(), dir.Win("moved").c_str()));
    EXPECT_TRUE(DeleteFileA(dir.Win("moved").c_str()));
    CloseHandle(first);
    EXPECT_EQ(GetFileAttributesA(dir.Win("moved").c_str()), INVALID_FILE_ATTRIBUTES);

    // An exclusive open (no sharing) refuses every other data open.
    HANDLE only = Open(f, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(only, INVALID_HANDLE_VALUE);
    EXPECT_OPEN_FAILS(Open(f, GENERIC_READ, 7, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    CloseHandle(only);
    EXPECT_TRUE(Opens(f, GENERIC_READ, 7, OPEN_EXISTING));
}

TEST(FileHandles, WineDeviation_DeletedNameGoesAtOnce)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine keeps a deleted name that is still open (delete pending), "
                        "current Windows removes it at once";
    TempDir dir;
    std::string f = dir.Win("gone");
    HANDLE h = Open(f, GENERIC_READ, 7, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileA(f.c_str()));
    EXPECT_EQ(GetFileAttributesA(f.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(Opens(f, GENERIC_WRITE, 7, CREATE_NEW));
    CloseHandle(h);
}

TEST(FileHandles, ReadOnlyFilesRefuseWritingAndDeleting)
{
    TempDir dir;
    std::string f = dir.Win("ro");
    ASSERT_TRUE(Make(f, "keep"));
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_OPEN_FAILS(Open(f, GENERIC_WRITE, 7, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    EXPECT_OPEN_FAILS(Open(f, GENERIC_WRITE, 7, CREATE_ALWAYS), ERROR_ACCESS_DENIED);
    EXPECT_FAILS_WITH(DeleteFileA(f.c_str()), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Opens(f, DELETE, 7, OPEN_EXISTING));
    EXPECT_TRUE(Opens(f, GENERIC_READ, 7, OPEN_EXISTING));
    // Renaming a read-only file is allowed.
    EXPECT_TRUE(MoveFileA(f.c_str(), dir.Win("ro2").c_str()));
    EXPECT_EQ(ReadAll(dir.Win("ro2")), "keep");
    ASSERT_TRUE(SetFileAttributesA(dir.Win("ro2").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(dir.Win("ro2").c_str()));
}

TEST(FileHandles, WineDeviation_ReadOnlyFileOpensForAttributes)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine refuses FILE_WRITE_ATTRIBUTES on a read-only file";
    TempDir dir;
    std::string f = dir.Win("ro");
    ASSERT_TRUE(Make(f, "x"));
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE h = Open(f, FILE_WRITE_ATTRIBUTES, 7, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME t = {0x12345678u, 0x01D00000u}, back;
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &back));
    EXPECT_EQ(back.dwLowDateTime, t.dwLowDateTime);
    CloseHandle(h);
}

TEST(FileHandles, InformationAndTimes)
{
    TempDir dir;
    std::string a = dir.Win("a"), b = dir.Win("b");
    ASSERT_TRUE(Make(a, "12345"));
    ASSERT_TRUE(CreateHardLinkA(b.c_str(), a.c_str(), nullptr));
    ASSERT_TRUE(Make(dir.Win("c")));
    BY_HANDLE_FILE_INFORMATION ia, ib, ic;
    ASSERT_TRUE(InfoOf(a, &ia));
    ASSERT_TRUE(InfoOf(b, &ib));
    ASSERT_TRUE(InfoOf(dir.Win("c"), &ic));
    EXPECT_EQ(ia.nNumberOfLinks, 2u);
    EXPECT_EQ(ia.nFileIndexLow, ib.nFileIndexLow);
    EXPECT_EQ(ia.nFileIndexHigh, ib.nFileIndexHigh);
    EXPECT_TRUE(ia.nFileIndexLow != ic.nFileIndexLow || ia.nFileIndexHigh != ic.nFileIndexHigh);
    EXPECT_EQ(ia.nFileSizeLow, 5u);
    EXPECT_EQ(ia.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(ia.dwVolumeSerialNumber, ic.dwVolumeSerialNumber);
    char root[2048];
    DWORD serial = 0;
    ASSERT_TRUE(GetVolumePathNameA(a.c_str(), root, sizeof(root)));
    ASSERT_TRUE(GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(serial, ia.dwVolumeSerialNumber);

    // Write and access times round-trip at 100 ns; a zero time is left alone.
    HANDLE h = Open(a, GENERIC_WRITE, 7, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME write = {0x9ABCDEF0u, 0x01D20000u}, access = {0x11111110u, 0x01D30000u}, zero = {0, 0};
    ASSERT_TRUE(SetFileTime(h, nullptr, &access, &write));
    ASSERT_TRUE(SetFileTime(h, nullptr, &zero, &zero));
    FILETIME c, at, wt;
    ASSERT_TRUE(GetFileTime(h, &c, &at, &wt));
    EXPECT_EQ(wt.dwLowDateTime, write.dwLowDateTime);
    EXPECT_EQ(wt.dwHighDateTime, write.dwHighDateTime);
    EXPECT_EQ(at.dwLowDateTime, access.dwLowDateTime);
    EXPECT_EQ(at.dwHighDateTime, access.dwHighDateTime);
    CloseHandle(h);
}

#ifndef _WIN32
#include <sys/stat.h>

// Unix objects without a Windows counterpart in a shared folder: a FIFO
// opened for data would block the caller until a writer comes.
TEST(FileHandles, FifosAreNotOpenedForData)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.Native("pipe").c_str(), 0666), 0);
    EXPECT_OPEN_FAILS(Open(dir.Win("pipe"), GENERIC_READ, 7, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    EXPECT_OPEN_FAILS(Open(dir.Win("pipe"), GENERIC_WRITE, 7, CREATE_ALWAYS), ERROR_ACCESS_DENIED);
    BY_HANDLE_FILE_INFORMATION info;
    EXPECT_TRUE(InfoOf(dir.Win("PIPE"), &info, FILE_FLAG_BACKUP_SEMANTICS));
}
#endif

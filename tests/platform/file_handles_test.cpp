// File handles as Windows gives them, where the server relies on more than
// the wire shows: folders flushed through a handle, sharing between handles,
// and Unix objects never opened for data.  The same cases run against the
// POSIX layer and, in the Windows build under Wine, against kernel32.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

// Namespace changes are made durable by flushing the changed folder through
// a handle opened for writing with backup semantics.
TEST(FileHandles, FoldersOpenWithBackupSemanticsAndFlush)
{
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryA(dir.Win("sub").c_str(), nullptr));
    std::string sub = dir.Win("sub");
    EXPECT_OPEN_FAILS(Open(sub, GENERIC_READ, 7, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    HANDLE h = Open(sub, GENERIC_WRITE, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(FlushFileBuffers(h));
    CloseHandle(h);
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
    // Handles for attributes only never conflict.
    EXPECT_TRUE(Opens(f, FILE_READ_ATTRIBUTES, 0, OPEN_EXISTING));
    // Deleting and renaming ask for DELETE, which the first handle does not share.
    EXPECT_FAILS_WITH(DeleteFileA(f.c_str()), ERROR_SHARING_VIOLATION);
    EXPECT_FAILS_WITH(MoveFileA(f.c_str(), dir.Win("moved").c_str()), ERROR_SHARING_VIOLATION);
    CloseHandle(first);

    // With FILE_SHARE_DELETE the name can move and go while the handle is open.
    first = Open(f, GENERIC_READ, kShareAll, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(MoveFileA(f.c_str(), dir.Win("moved").c_str()));
    EXPECT_TRUE(DeleteFileA(dir.Win("moved").c_str()));
    CloseHandle(first);
    EXPECT_EQ(GetFileAttributesA(dir.Win("moved").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A handle opened again from one without access is judged as an open by
// name: it may write where the file allows it.
TEST(FileHandles, AReopenedHandleIsJudgedAsAnOpenByName)
{
    TempDir dir;
    const std::string f = dir.Win("f");
    ASSERT_TRUE(Make(f, "0123456789"));
    HANDLE judged = Open(f, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(judged, INVALID_HANDLE_VALUE);
    HANDLE writer = ReOpenFile(judged, GENERIC_WRITE, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 4;
    EXPECT_TRUE(SetFilePointerEx(writer, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer));
    CloseHandle(writer);
    EXPECT_EQ(ReadAll(f), "0123");
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_OPEN_FAILS(ReOpenFile(judged, GENERIC_WRITE, kShareAll, 0), ERROR_ACCESS_DENIED);
    CloseHandle(judged);
    SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// It is the object the first handle names, not what has its name now.
TEST(FileHandles, WineDeviation_AReopenedHandleIsTheOpenedObject)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine opens the handle's name again, whatever has it now";
    TempDir dir;
    const std::string f = dir.Win("f"), moved = dir.Win("moved");
    ASSERT_TRUE(Make(f, "0123456789"));
    HANDLE judged = Open(f, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    ASSERT_TRUE(MoveFileA(f.c_str(), moved.c_str()) && Make(f, "abc"));
    HANDLE reader = ReOpenFile(judged, GENERIC_READ, kShareAll, 0);
    char data[4] = {};
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(reader, data, 3, &got, nullptr) && got == 3 && std::string(data) == "012");
    CloseHandle(reader);
    CloseHandle(judged);
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

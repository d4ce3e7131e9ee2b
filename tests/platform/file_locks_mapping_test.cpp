// Byte-range locks between handles, and file mapping with growth by
// remapping (the way the inode table grows).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

TEST(FileLocks, HandlesConflict)
{
    TempDir dir;
    std::string f = dir.Win("locked");
    HANDLE a = Open(f, GENERIC_READ | GENERIC_WRITE, kShareAll, CREATE_NEW);
    HANDLE b = Open(f, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    HANDLE reader = Open(f, GENERIC_READ, kShareAll, OPEN_EXISTING);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    // Every offset a file can have, from 0: 2^63 bytes.
    EXPECT_TRUE(LockFile(a, 0, 0, 0, 0x80000000u));
    EXPECT_FAILS_WITH(LockFile(b, 0xFFFFFFFFu, 0x7FFFFFFFu, 1, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(UnlockFile(a, 0, 0, 0, 0x80000000u));
    EXPECT_TRUE(LockFile(a, 0, 0, 10, 0));
    EXPECT_FAILS_WITH(LockFile(b, 5, 0, 10, 0), ERROR_LOCK_VIOLATION);
    EXPECT_FAILS_WITH(LockFile(reader, 9, 0, 1, 0), ERROR_LOCK_VIOLATION);
    // The same handle cannot lock an overlapping range twice either.
    EXPECT_FAILS_WITH(LockFile(a, 5, 0, 10, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(LockFile(b, 10, 0, 10, 0));   // adjacent
    EXPECT_TRUE(LockFile(reader, 100, 0, 1, 0)); // a read handle locks too, past the end of file
    // Whole 64-bit ranges, as the lock manager asks for them.
    EXPECT_TRUE(LockFile(a, 0, 1, 0xFFFFFFFFu, 0xFFFFFFFEu));
    EXPECT_FAILS_WITH(LockFile(b, 0, 0x80000000u, 1, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(UnlockFile(a, 0, 1, 0xFFFFFFFFu, 0xFFFFFFFEu));
    EXPECT_TRUE(UnlockFile(a, 0, 0, 10, 0));
    EXPECT_TRUE(LockFile(b, 5, 0, 5, 0));
    // Closing a handle releases its locks.
    CloseHandle(b);
    EXPECT_TRUE(LockFile(a, 0, 0, 30, 0));
    CloseHandle(reader);
    CloseHandle(a);
}

TEST(FileMapping, GrowsByRemapping)
{
    TempDir dir;
    std::string f = dir.Win("table");
    HANDLE h = CreateFileA(f.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_EQ(CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_INVALID); // empty file, no size given

    HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 65536, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetFileSize(h, nullptr), 65536u); // the mapping grew the file
    char *view = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    memcpy(view, "header", 6);
    view[65535] = 'Z';
    EXPECT_TRUE(FlushViewOfFile(view, 0));
    // The file cannot be cut below a live mapping.
    SetFilePointer(h, 100, nullptr, FILE_BEGIN);
    EXPECT_FAILS_WITH(SetEndOfFile(h), ERROR_USER_MAPPED_FILE);
    EXPECT_TRUE(UnmapViewOfFile(view));
    CloseHandle(mapping);

    mapping = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 4 * 65536, nullptr);
    ASSERT_NE(mapping, nullptr);
    EXPECT_EQ(GetFileSize(h, nullptr), 4u * 65536u);
    view = static_cast<char *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, 6), "header");
    EXPECT_EQ(view[65535], 'Z');
    EXPECT_EQ(view[65536], 0);
    view[3 * 65536] = 'Q';
    // Views outlive their mapping and file handles.
    CloseHandle(mapping);
    CloseHandle(h);
    EXPECT_EQ(view[0], 'h');
    EXPECT_TRUE(FlushViewOfFile(view + 3 * 65536, 1));
    EXPECT_TRUE(UnmapViewOfFile(view));

    h = CreateFileA(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD n;
    char c = 0;
    SetFilePointer(h, 3 * 65536, nullptr, FILE_BEGIN);
    ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(c, 'Q');
    CloseHandle(h);
}

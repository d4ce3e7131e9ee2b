// Byte-range locks between handles.
#include <gtest/gtest.h>

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

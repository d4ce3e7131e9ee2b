#include <gtest/gtest.h>

#include <cstring>

#include "fs/file_handle.h"

TEST(FileHandleLayout, BytesOnTheWire)
{
    FileHandle handle;
    MakeHandle(0x0000000500000040ull, 0xA1B2C3D4u, &handle);
    uint8_t bytes[FILE_HANDLE_SIZE];
    memset(bytes, 0xEE, sizeof bytes);
    EncodeHandle(&handle, bytes);
    const uint8_t expected[FILE_HANDLE_SIZE] = {
        20, 0, 0, 0,                          // mark
        0xD4, 0xC3, 0xB2, 0xA1,               // mount id
        0x40, 0, 0, 0, 5, 0, 0, 0,            // inode, low word first
        0x14, 0xC4, 0xB2, 0xA1,               // check: 0x40 + 0xA1B2C3D4, low 32 bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // zero
    EXPECT_EQ(0, memcmp(bytes, expected, sizeof bytes));
    // The record itself has the same layout on this (little-endian) server.
    EXPECT_EQ(0, memcmp(&handle, expected, sizeof expected));
}

TEST(FileHandleLayout, CheckWordWrapsModulo32Bits)
{
    EXPECT_EQ(HandleCheck(0xFFFFFFF0u, 0x20u), 0x10u);
    EXPECT_EQ(HandleCheck(0x1234567800000000ull, 7u), 7u);
    FileHandle handle;
    MakeHandle(0xFFFFFFF0u, 0x20u, &handle);
    EXPECT_EQ(handle.check, 0x10u);
    EXPECT_TRUE(HandleIsWellFormed(&handle));
}

TEST(FileHandleLayout, CheckOffByOneOrWrongMarkIsStale)
{
    FileHandle handle;
    MakeHandle(4096, 77, &handle);
    ASSERT_TRUE(HandleIsWellFormed(&handle));
    FileHandle bad = handle;
    bad.check += 1;
    EXPECT_FALSE(HandleIsWellFormed(&bad));
    bad = handle;
    bad.check -= 1;
    EXPECT_FALSE(HandleIsWellFormed(&bad));
    bad = handle;
    bad.mark = 32;
    EXPECT_FALSE(HandleIsWellFormed(&bad));
    bad = handle;
    bad.inode += 1;  // a guessed neighbour without a matching check
    EXPECT_FALSE(HandleIsWellFormed(&bad));
    FileHandle zero;
    memset(&zero, 0, sizeof zero);  // the public (all-zero) handle
    EXPECT_FALSE(HandleIsWellFormed(&zero));
}

TEST(FileHandleLayout, DecodesShortAndFullHandles)
{
    FileHandle handle;
    MakeHandle(0x123456789ull, 0xCAFEu, &handle);
    uint8_t bytes[FILE_HANDLE_SIZE];
    EncodeHandle(&handle, bytes);

    FileHandle full;
    ASSERT_EQ(DecodeHandle(bytes, 32, &full), 1);
    EXPECT_EQ(0, memcmp(&full, &handle, sizeof handle));

    // A version 3 handle of 20 bytes carries everything that matters.
    FileHandle shortened;
    memset(bytes + 20, 0x55, 12);  // whatever follows on the wire is not read
    ASSERT_EQ(DecodeHandle(bytes, 20, &shortened), 1);
    EXPECT_EQ(0, memcmp(&shortened, &handle, sizeof handle));
    EXPECT_TRUE(HandleIsWellFormed(&shortened));

    EXPECT_EQ(DecodeHandle(bytes, 0, &shortened), 0);
    EXPECT_EQ(DecodeHandle(bytes, 19, &shortened), 0);
    EXPECT_EQ(DecodeHandle(bytes, 24, &shortened), 0);
    EXPECT_EQ(DecodeHandle(bytes, 64, &shortened), 0);
}

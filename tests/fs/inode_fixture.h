// A fresh inode table in a temporary folder for each test, and helpers to
// look at the bytes of its file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/little_endian.h"
#include "fs/inode_table.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

inline uint32_t LE32(const std::string &bytes, size_t off)
{
    return GetLittleEndian32(reinterpret_cast<const uint8_t *>(&bytes[off]));
}
inline void PutLE32(std::string &bytes, size_t off, uint32_t value)
{
    PutLittleEndian32(reinterpret_cast<uint8_t *>(&bytes[off]), value);
}

class InodeTableTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string winPath;
    std::string nativePath;

    void SetUp() override
    {
        ServerSettings.CharSetActive = 1;
        ServerSettings.InodeCheck = 0;
        SetInodeTableSizeLimit(0);
        winPath = dir.Win("inodes.nfs");
        nativePath = dir.Native("inodes.nfs");
        ASSERT_TRUE(OpenInodeTableAt(winPath.c_str(), 1));
    }
    void TearDown() override
    {
        CloseInodeTable();
        SetInodeTableSizeLimit(0);
    }
    // The file as it is on disk: the table is closed for the read (it is
    // opened without sharing) and loaded again afterwards.
    std::string Bytes()
    {
        CloseInodeTable();
        std::string bytes = ReadFileBytes(nativePath);
        EXPECT_TRUE(OpenInodeTableAt(winPath.c_str(), 0));
        return bytes;
    }
    // Replaces the file's bytes and loads it.
    bool LoadBytes(const std::string &bytes)
    {
        CloseInodeTable();
        WriteFileBytes(nativePath, bytes);
        return OpenInodeTableAt(winPath.c_str(), 0);
    }
    static std::string Consistency()
    {
        char reason[256] = "";
        return InodeTableConsistent(reason, sizeof(reason)) ? std::string() : std::string(reason);
    }
    static std::string Path(uint32_t inode)
    {
        char buffer[INODE_PATH_SIZE];
        return PathOfInode(inode, buffer) != nullptr ? std::string(buffer) : std::string("<none>");
    }
};

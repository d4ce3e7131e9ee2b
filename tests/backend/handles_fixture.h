// Real folders and files on disk, exported and mounted, for the tests of
// attributes, handles and lookup: an inode table, a settings file and a log of
// their own in a fresh folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>

#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "rpc/rpc_message.h"
#include "support/temp_dir.h"

class HandlesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Exports the folder (a Windows path) with these option flags and umask,
    // the volume bits found by the volume probe, and mounts it for a client.
    // Returns the handle of the mounted folder; *entryOut gets the export.
    FileHandle Mount(const std::string &windowsPath, uint32_t flags, uint32_t umask,
                     ExportEntry **entryOut = nullptr);
    // Windows path below the test folder, without a trailing backslash.
    std::string Win(const std::string &relative) const;
    // Creates a file holding bytes, or a folder.
    void MakeFile(const std::string &relative, const char *bytes);
    void MakeFolder(const std::string &relative);
    // Sets the modification and access times (Unix seconds).
    void SetTimes(const std::string &relative, uint32_t accessTime, uint32_t modificationTime);

    // Lookup of name in the folder, attributes discarded unless asked for.
    uint32_t LookupName(const FileHandle &folder, const char *name, FileHandle *out,
                        FileAttributes *attributes = nullptr);
    // GetAttrByHandle with the caller below.
    uint32_t Attributes(const FileHandle &handle, FileAttributes *attributes);

    TempDir dir;
    AuthUnix caller;  // uid 1000, gid 100
    std::deque<ExportEntry> entries;
    std::deque<std::string> entryPaths;
};

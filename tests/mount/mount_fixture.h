// A data directory of its own for each mount test: exports file, mounttab,
// inode table and log, with host names and client addresses answered from
// fixed tables instead of the network.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exports/exports.h"
#include "exports/mount_table.h"
#include "support/data_directory.h"
#include "support/host_table.h"
#include "support/temp_dir.h"

class MountTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the exports file and loads it.  "@" in text stands for the test
    // folder's Windows path without its last backslash.
    void LoadExports(const std::string &text);
    // Windows path of a folder below the test folder ("data\\sub").
    std::string Win(const std::string &relative) const;
    // The client form of a Windows path ("/z/tmp/.../data").
    static std::string ClientForm(const std::string &windowsPath);
    // mounttab as stored, with "\n" line ends; "" when absent.
    std::string MountTab() const;
    void WriteMountTab(const std::string &text);
    // The records of the table, newest first.
    static std::vector<MountRecord> Records();

    TempDir dir;
};

// The fake reverse look-up: "client-A-B-C-D" for every address but
// 10.9.9.9, which has no name.
int FakeHostLookup(uint32_t address, char *name, size_t size);

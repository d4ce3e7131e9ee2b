// A data folder of its own for each test of the control window, the language
// files of the source tree.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/host_table.h"
#include "support/temp_dir.h"
#include "ui/main_view.h"

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the exports file (lines joined by "\n"; "@" stands for the test
    // folder's Windows path without its last backslash) and loads it.
    void LoadExports(const std::string &text);
    std::string Path(const std::string &relative) const;
    // Chooses a language file of the source tree ("" for the built-in texts).
    void UseLanguage(const char *file);
    // Adds a mount of the first export by a client.
    void Mount(const char *dotted, uint32_t kind);

    TempDir dir;
};

// The source tree's src/ui folder as a Windows path, ending in a backslash.
std::string UiSourceFolder();

// A data directory of its own for each test: the exports file, nfsd.ini with
// "ExportsError"/"ExportsLine", and the log file, with host names answered
// from a fixed table instead of the network.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exports/exports.h"
#include "support/data_directory.h"
#include "support/host_table.h"
#include "support/temp_dir.h"

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the exports file (bytes as given) and loads it.
    void Load(const std::string &text);
    void WriteExports(const std::string &text);
    std::string ReadExports() const;

    // "ExportsError" and "ExportsLine" as stored (absent keys are 0).
    static int StoredError();
    static int StoredLine();
    // Everything the log holds so far, with "\n" line ends.
    std::string LogText() const;

    TempDir dir;
};

// Client list of an entry as dotted texts.
std::vector<std::string> Clients(const ExportEntry *entry);

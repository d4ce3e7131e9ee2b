// A temporary folder as the server's data folder: settings file, log folder
// and a known settings record, as the service tests start from.
#pragma once

#include <string>
#include <vector>

#include "exports/export_entry.h"

#include "support/temp_dir.h"

// Makes dir the data folder (nfsd.ini and the log there, a cleared settings
// record with a verbose log in ANSI mode); false when that cannot be done.
bool UseAsDataDirectory(const TempDir &dir);

// The month's log file in dir as text (CR LF turned into LF), after a flush;
// empty when there is none.
std::string LogFileText(const TempDir &dir);

// dir.win() + relative as a Windows path: '/' becomes '\\' and a trailing
// backslash is dropped ("" names the folder itself, without the backslash).
std::string WindowsPathIn(const TempDir &dir, const std::string &relative);

// Writes dir's exports file, "@" standing for dir.win() without its last
// backslash, and loads it.
void LoadExportsIn(const TempDir &dir, const std::string &text);

// The export table's entries, in order.
std::vector<ExportEntry *> ExportEntries();

// Text of a file written in text mode: CR LF pairs become LF.
std::string WithoutCarriageReturns(const std::string &bytes);

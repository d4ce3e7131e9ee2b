// The exports file editor's decisions: the text it shows, and saving it so
// that the previous file stays as exports.old, the new one replaces it in one
// step, and a file changed on disk since it was opened is not overwritten
// unasked.
#pragma once

#include <string>
#include <vector>

#include "exports/exports_file_io.h"

// The exports file as the editor opened it.
struct ExportsSnapshot {
    DataFileFingerprint fingerprint;
    std::string text;  // lines ending in CR LF
};
// Reads DataDirectory\exports: each line cut at its first CR or LF and ended
// with CR LF.  A missing file gives an empty text.
ExportsSnapshot OpenExportsFile();

enum SaveOutcome { SAVE_DONE, SAVE_CHANGED_ON_DISK, SAVE_FAILED };
// Writes text as the new exports file (bytes as they stand), keeping the
// previous file as exports.old, and reloads the export table.  When the file
// on disk is no longer the one opened, nothing is written unless overwrite
// is set.  A missing file is created.
SaveOutcome SaveExportsText(const std::string &text, const ExportsSnapshot &opened, bool overwrite);

// Replaces DataDirectory\exports by these lines (each ended by a line end),
// after the leading comment lines of the current file, keeping the previous
// file as exports.old; then reloads the export table.  Refuses (without
// overwrite) when the file on disk is not the one the table was loaded from.
SaveOutcome SaveExportsLines(const std::vector<std::string> &lines, bool overwrite);

// The export dialog's decisions: the options text and its check boxes, the
// checks before a save, and the exports file rebuilt from the exported-
// folders view with the dialog's entry in its place.
#pragma once

#include <string>
#include <vector>

// The check boxes of the dialog, in the order in which the options text is
// brought in line with them.
struct OptionBox {
    int id;            // control id
    const char *word;  // "-alldirs", ..., "-name:" (a word with a colon takes an argument)
};
extern const OptionBox OptionBoxes[10];

// Which boxes the options text checks (by substring; "-ro" checks -readonly).
std::vector<bool> BoxesFromOptions(const std::string &options);
// The options text after the boxes changed: a checked word missing from the
// text is appended with a blank before it; a clear word found in the text is
// removed with its argument and one blank or tab before it; "-ro" always
// goes; "-range" goes when there are no clients.
std::string SyncOptions(std::string options, const std::vector<bool> &boxes, bool clientsEmpty);

enum OptionsCheck { OPTIONS_VALID, OPTIONS_INVALID, OPTIONS_MISSING_ARGUMENT };
// Trailing white space is cut from options.  A text ending in ':' or holding
// ": " misses an argument; every word after a '-' must begin with a known
// option.
OptionsCheck CheckOptions(std::string &options);

enum FolderCheck {
    FOLDER_OK,          // an existing folder
    FOLDER_EMPTY,       // nothing entered
    FOLDER_BAD_SYNTAX,  // no drive, share or volume path
    FOLDER_IS_FILE,     // an existing file
    FOLDER_MISSING,     // does not exist (the administrator may go on)
};
// Cuts trailing white space, checks the path form and normalises it (drive
// letter upper-cased, trailing backslash only on a root), then looks at what
// is there.
FolderCheck CheckFolder(std::string &folder);

// One entry of the exports file: the folder (quoted when it holds a blank or
// tab), the options, the clients, each separated by a blank; no line end.
std::string ExportLine(const std::string &folder, const std::string &options, const std::string &clients);

// A row of the exported-folders view: its three texts, and whether it stands
// for an export (the empty last row does not).
struct ExportViewRow {
    std::string folder, options, clients;
    bool isExport;
};
// The lines of the exports file rebuilt from the view, with the dialog's
// entry written before row `row`; an edit (replace true) skips that row.
std::vector<std::string> ExportLinesFromView(const std::vector<ExportViewRow> &view, int row, bool replace,
                                             const std::string &entry);

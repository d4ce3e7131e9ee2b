// What the log viewer lists and shows, and how a log file is laid out on
// printed pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line of a log file as the viewer shows it.
struct LogRow {
    std::string date;  // "2026-12-31", empty for a line without time stamp
    std::string time;  // "23:59:58"
    std::string text;
    bool error;        // shown with the error icon
};

// Splits a line (without its line end): "YYYY-MM-DD HH:MM:SS text" into its
// parts, an error when the line contains " error "; any other line is text
// alone, an error when it contains "mountd: Line " (an exports complaint).
LogRow SplitLogLine(const std::string &line);

// The rows of a log file in the log folder: lines of at most 1023
// characters (a longer line goes on in the next rows), lines shorter than 3
// characters with their line end skipped.  Empty when it cannot be read.
std::vector<LogRow> ReadLogRows(const std::string &folder, const std::string &name);

// The log files ("nfsd*.log") in the folder, or the current month's name
// alone when there is none.
std::vector<std::string> ListLogFiles(const std::string &folder, const std::string &currentName);

// The current month's log file name of the local time ("nfsd2612.log").
std::string CurrentLogName();

// Printing: which file lines go on which printed page.
struct PrintedPage {
    unsigned number;     // counted from 1, in the header
    size_t firstLine;    // index of the page's first line
    size_t lineCount;
};
// The pages of a document of `lines` lines with `perPage` lines a page, in
// the order they are printed: collated, the whole document once per copy;
// not collated, each page `copies` times in a row.
std::vector<PrintedPage> PrintOrder(size_t lines, size_t perPage, unsigned copies, bool collate);
// Lines a page holds: the printable height over the line height, less the
// header's two lines; at least 1.
size_t LinesPerPage(int pageHeight, int lineHeight);
// The lines of a log file as they are printed (at most maxLines, each at
// most 1023 characters, without line ends).
std::vector<std::string> ReadPrintLines(const std::string &path, size_t maxLines);

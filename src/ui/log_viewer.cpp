// Log viewer rows, log file list and print layout.
#include "ui/log_viewer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "exports/exports_file_io.h"
#include "log/log.h"
#include "platform/win32.h"

namespace {

// Reads the lines of a file as fgets gives them: at most 1023 characters
// each, with their line end when it fits.
std::vector<std::string> RawLines(const std::string &path)
{
    std::vector<std::string> lines;
    FILE *file = OpenDataFile(path.c_str(), "r");
    if (file == nullptr)
        return lines;
    char line[1024];
    while (fgets(line, sizeof(line), file) != nullptr) {
        std::string text = line;
#ifndef _WIN32
        // The POSIX build reads the CR LF of the file as it stands.
        if (text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n')
            text.erase(text.size() - 2, 1);
#endif
        lines.push_back(text);
    }
    fclose(file);
    return lines;
}

std::string WithoutLineEnd(const std::string &line)
{
    return !line.empty() && line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
}

}  // namespace

LogRow SplitLogLine(const std::string &line)
{
    if (line.size() >= 19 && line[4] == '-' && line[13] == ':')
        return {line.substr(0, 10), line.substr(11, 8), line.size() > 20 ? line.substr(20) : "",
                line.find(" error ") != std::string::npos};
    return {"", "", line, line.find("mountd: Line ") != std::string::npos};
}

std::vector<LogRow> ReadLogRows(const std::string &folder, const std::string &name)
{
    FlushLog();
    std::vector<LogRow> rows;
    for (const std::string &line : RawLines(folder + name)) {
        if (line.size() < 3)
            continue;
        rows.push_back(SplitLogLine(WithoutLineEnd(line)));
    }
    return rows;
}

std::vector<std::string> ListLogFiles(const std::string &folder, const std::string &currentName)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "nfsd*.log").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (names.empty())
        names.push_back(currentName);
    std::sort(names.begin(), names.end());
    return names;
}

std::string CurrentLogName()
{
    time_t now = time(nullptr);
    struct tm local = *localtime(&now);
    char name[32];
    LogFileName(&local, name, sizeof(name));
    return name;
}

size_t LinesPerPage(int pageHeight, int lineHeight)
{
    if (lineHeight <= 0)
        return 1;
    int lines = pageHeight / lineHeight - 2;
    return lines < 1 ? 1 : (size_t)lines;
}

std::vector<PrintedPage> PrintOrder(size_t lines, size_t perPage, unsigned copies, bool collate)
{
    std::vector<PrintedPage> order;
    if (perPage == 0)
        perPage = 1;
    size_t pages = lines == 0 ? 1 : (lines + perPage - 1) / perPage;
    if (copies == 0)
        copies = 1;
    auto page = [&](size_t p) {
        size_t first = p * perPage;
        return PrintedPage{(unsigned)(p + 1), first, std::min(perPage, lines - std::min(lines, first))};
    };
    if (collate) {
        for (unsigned c = 0; c < copies; c++)
            for (size_t p = 0; p < pages; p++)
                order.push_back(page(p));
    } else {
        for (size_t p = 0; p < pages; p++)
            for (unsigned c = 0; c < copies; c++)
                order.push_back(page(p));
    }
    return order;
}

std::vector<std::string> ReadPrintLines(const std::string &path, size_t maxLines)
{
    std::vector<std::string> lines;
    for (const std::string &line : RawLines(path)) {
        if (lines.size() >= maxLines)
            break;
        lines.push_back(WithoutLineEnd(line));
    }
    return lines;
}

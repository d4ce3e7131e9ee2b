// Export dialog logic.
#include "ui/export_dialog.h"

#include <cstring>

#include "exports/exports_paths.h"
#include "platform/win32.h"
#include "ui/resource.h"

const OptionBox OptionBoxes[10] = {
    {IDC_OPT_ALLDIRS, "-alldirs"}, {IDC_OPT_EXEC, "-exec"},       {IDC_OPT_LOWERCASE, "-lowercase"},
    {IDC_OPT_PUBLIC, "-public"},   {IDC_OPT_READONLY, "-readonly"}, {IDC_OPT_NAME, "-name:"},
    {IDC_OPT_MAPROOT, "-maproot:"}, {IDC_OPT_MAPALL, "-mapall:"},  {IDC_OPT_UMASK, "-umask:"},
    {IDC_OPT_RANGE, "-range"},
};

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void CutTrailingSpace(std::string &text)
{
    while (!text.empty() && IsSpace(text.back()))
        text.pop_back();
}

// Where the word stands as a whole option: at the start or after white
// space, and ending where the text ends, a blank follows, or (for words with
// a colon) anywhere.
size_t FindWord(const std::string &text, const std::string &word)
{
    bool takesArgument = word.back() == ':';
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        bool startOk = at == 0 || IsSpace(text[at - 1]);
        size_t end = at + word.size();
        bool endOk = takesArgument || end == text.size() || IsSpace(text[end]);
        if (startOk && endOk)
            return at;
    }
    return std::string::npos;
}

// Removes the word with its argument (up to the next blank or tab) and one
// blank or tab before it.
bool RemoveWord(std::string &text, const std::string &word)
{
    size_t at = FindWord(text, word);
    if (at == std::string::npos)
        return false;
    size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        end++;
    if (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t'))
        at--;
    text.erase(at, end - at);
    return true;
}

const char *const KNOWN_OPTIONS[] = {"ci",        "hide",   "cache",    "uid:",     "sub:",
                                     "alldirs",   "exec",   "lowercase", "public",  "readonly",
                                     "maproot:",  "mapall:", "umask:",  "name:",    "range"};

}  // namespace

std::vector<bool> BoxesFromOptions(const std::string &options)
{
    std::vector<bool> boxes;
    for (const OptionBox &box : OptionBoxes) {
        bool on = FindWord(options, box.word) != std::string::npos;
        if (box.id == IDC_OPT_READONLY)
            on = on || FindWord(options, "-ro") != std::string::npos;
        boxes.push_back(on);
    }
    return boxes;
}

std::string SyncOptions(std::string options, const std::vector<bool> &boxes, bool clientsEmpty)
{
    for (size_t i = 0; i < 10; i++) {
        const std::string word = OptionBoxes[i].word;
        bool present = FindWord(options, word) != std::string::npos;
        if (boxes[i] && !present)
            options += " " + word;
        else if (!boxes[i] && present)
            RemoveWord(options, word);
    }
    while (RemoveWord(options, "-ro")) {
    }
    if (clientsEmpty)
        RemoveWord(options, "-range");
    return options;
}

OptionsCheck CheckOptions(std::string &options)
{
    CutTrailingSpace(options);
    if ((!options.empty() && options.back() == ':') || options.find(": ") != std::string::npos ||
        options.find(":\t") != std::string::npos)
        return OPTIONS_MISSING_ARGUMENT;
    size_t at = 0;
    while (at < options.size() && IsSpace(options[at]))
        at++;
    if (at == options.size())
        return OPTIONS_VALID;
    if (options[at] != '-')
        return OPTIONS_INVALID;
    for (size_t dash = options.find('-', at); dash != std::string::npos; dash = options.find('-', dash + 1)) {
        if (dash > 0 && !IsSpace(options[dash - 1]))
            continue;  // a dash inside an argument (-mapall:-2)
        bool known = false;
        for (const char *option : KNOWN_OPTIONS)
            known = known || options.compare(dash + 1, strlen(option), option) == 0;
        if (!known)
            return OPTIONS_INVALID;
    }
    return OPTIONS_VALID;
}

FolderCheck CheckFolder(std::string &folder)
{
    CutTrailingSpace(folder);
    if (folder.empty())
        return FOLDER_EMPTY;
    if (!CheckPathSyntax(folder.c_str()))
        return FOLDER_BAD_SYNTAX;
    char path[2048 + 4];
    snprintf(path, sizeof(path), "%s", folder.c_str());
    if (NormaliseRoot(path, sizeof(path)) == 0)
        return FOLDER_BAD_SYNTAX;
    folder = path;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FOLDER_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FOLDER_OK : FOLDER_IS_FILE;
}

std::string ExportLine(const std::string &folder, const std::string &options, const std::string &clients)
{
    std::string line = folder.find_first_of(" \t") != std::string::npos ? "\"" + folder + "\"" : folder;
    auto trimmed = [](const std::string &text) {
        size_t b = text.find_first_not_of(" \t");
        size_t e = text.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
    };
    std::string o = trimmed(options);
    std::string c = trimmed(clients);
    if (!o.empty())
        line += " " + o;
    if (!c.empty())
        line += " " + c;
    return line;
}

std::vector<std::string> ExportLinesFromView(const std::vector<ExportViewRow> &view, int row, bool replace,
                                             const std::string &entry)
{
    std::vector<std::string> lines;
    bool written = false;
    for (size_t i = 0; i < view.size(); i++) {
        if ((int)i == row) {
            lines.push_back(entry);
            written = true;
            if (replace)
                continue;
        }
        if (!view[i].isExport)
            break;
        lines.push_back(ExportLine(view[i].folder, view[i].options, view[i].clients));
    }
    // A row beyond the view (the table changed meanwhile) still gets its entry.
    if (!written)
        lines.push_back(entry);
    return lines;
}

// Saving the exports file from the editors.
#include "ui/exports_editor.h"

#include <cstdio>
#include <cstring>

#include "exports/export_table.h"

namespace {

std::string ExportsPath(const char *name)
{
    char path[1200];
    return DataFilePath(name, path, sizeof(path)) ? path : "";
}

int WriteBytes(FILE *out, void *context)
{
    const std::string *text = static_cast<const std::string *>(context);
    return fwrite(text->data(), 1, text->size(), out) == text->size();
}

struct LinesContext {
    const std::vector<std::string> *lines;
    std::string current;  // the file being replaced, for its leading comments
};

int WriteLines(FILE *out, void *context)
{
    LinesContext *c = static_cast<LinesContext *>(context);
    FILE *old = OpenDataFile(c->current.c_str(), "r");
    if (old != nullptr) {
        int ok = CopyLeadingCommentLines(old, out);
        fclose(old);
        if (!ok)
            return 0;
    }
    for (const std::string &line : *c->lines)
        if (!WriteTextLine(out, line.c_str(), line.size()))
            return 0;
    return 1;
}

SaveOutcome Replace(const char *mode, int (*write)(FILE *, void *), void *context)
{
    std::string path = ExportsPath("exports");
    std::string backup = ExportsPath("exports.old");
    if (path.empty() || backup.empty() || !ReplaceDataFile(path.c_str(), backup.c_str(), mode, write, context))
        return SAVE_FAILED;
    ExportsLoad();
    return SAVE_DONE;
}

}  // namespace

ExportsSnapshot OpenExportsFile()
{
    ExportsSnapshot snapshot;
    std::string path = ExportsPath("exports");
    snapshot.fingerprint = FingerprintDataFile(path.c_str());
    FILE *file = OpenDataFile(path.c_str(), "rb");
    if (file == nullptr)
        return snapshot;
    std::string line;
    int c;
    bool cut = false;
    while ((c = fgetc(file)) != EOF) {
        if (c == '\n') {
            snapshot.text += line + "\r\n";
            line.clear();
            cut = false;
        } else if (c == '\r' || cut) {
            cut = true;  // the rest of the line after a lone CR is dropped
        } else {
            line += (char)c;
        }
    }
    if (!line.empty())
        snapshot.text += line + "\r\n";
    fclose(file);
    return snapshot;
}

SaveOutcome SaveExportsText(const std::string &text, const ExportsSnapshot &opened, bool overwrite)
{
    std::string path = ExportsPath("exports");
    if (!overwrite && !(FingerprintDataFile(path.c_str()) == opened.fingerprint))
        return SAVE_CHANGED_ON_DISK;
    std::string bytes = text;
    return Replace("wb", WriteBytes, &bytes);
}

SaveOutcome SaveExportsLines(const std::vector<std::string> &lines, bool overwrite)
{
    if (!overwrite && !ExportsFileUnchanged())
        return SAVE_CHANGED_ON_DISK;
    LinesContext context{&lines, ExportsPath("exports")};
    return Replace("w", WriteLines, &context);
}

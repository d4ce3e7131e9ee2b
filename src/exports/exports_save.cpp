// Writing the export table back into the exports file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "exports/export_table.h"
#include "exports/export_table_internal.h"
#include "exports/exports_file_io.h"

namespace {

// Reads one whole line, its "\n" included when there is one, into a buffer
// that grows as needed.  Returns its length; 0 at the end of the file.
size_t ReadLine(FILE *file, char **buffer, size_t *size)
{
    size_t length = 0;
    for (;;) {
        if (*size - length < 2) {
            size_t grown = *size == 0 ? 2048 : *size * 2;
            char *bigger = static_cast<char *>(realloc(*buffer, grown));
            if (bigger == nullptr)
                return length;
            *buffer = bigger;
            *size = grown;
        }
        if (fgets(*buffer + length, static_cast<int>(*size - length), file) == nullptr)
            return length;
        length += strlen(*buffer + length);
        if (length > 0 && (*buffer)[length - 1] == '\n')
            return length;
    }
}

// Copies the comment lines at the head of the old file.  A line is copied
// whole however long it is, and ends with a line end, so that nothing written
// after it can join the comment.
bool CopyLeadingComments(FILE *old, FILE *out)
{
    char *line = nullptr;
    size_t size = 0;
    bool ok = true;
    size_t length;
    while ((length = ReadLine(old, &line, &size)) > 0 && line[0] == '#')
        if (!WriteTextLine(out, line, length)) {
            ok = false;
            break;
        }
    free(line);
    return ok;
}

} // namespace

int ExportsSave()
{
    std::lock_guard<std::recursive_mutex> guard(ExportTableWriterLock());
    char exportsPath[1200];
    char oldPath[1200];
    if (!DataFilePath("exports", exportsPath, sizeof(exportsPath)) ||
        !DataFilePath("exports.old", oldPath, sizeof(oldPath)))
        return 0;
    RemoveDataFile(oldPath);
    if (!RenameDataFile(exportsPath, oldPath))
        return 0;
    // When either file cannot be opened the old file goes back in place, so
    // that a failed save never leaves the server without its exports file.
    FILE *old = OpenDataFile(oldPath, "r");
    if (old == nullptr) {
        RenameDataFile(oldPath, exportsPath);
        return 0;
    }
    FILE *out = OpenDataFile(exportsPath, "w");
    if (out == nullptr) {
        fclose(old);
        RenameDataFile(oldPath, exportsPath);
        return 0;
    }
    bool ok = CopyLeadingComments(old, out);
    fclose(old);

    char line[8192];
    for (ExportEntry *entry = ExportFirst(); ok && entry != nullptr; entry = ExportNext(entry)) {
        int needed = FormatExportText(line, sizeof(line), entry, 0);
        if (needed < 0)
            continue;
        if (static_cast<size_t>(needed) < sizeof(line)) {
            ok = WriteTextLine(out, line, static_cast<size_t>(needed)) != 0;
        } else {
            char *big = static_cast<char *>(malloc(static_cast<size_t>(needed) + 1));
            if (big == nullptr) {
                ok = false;
                break;
            }
            FormatExportText(big, static_cast<size_t>(needed) + 1, entry, 0);
            ok = WriteTextLine(out, big, static_cast<size_t>(needed)) != 0;
            free(big);
        }
    }
    if (ferror(out))
        ok = false;
    if (fclose(out) != 0)
        ok = false;
    return ok ? 1 : 0;
}

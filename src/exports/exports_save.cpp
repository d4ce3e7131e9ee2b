// Writing the export table back into the exports file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exports/export_table.h"
#include "exports/export_table_internal.h"
#include "exports/exports_file_io.h"
#include "platform/win32.h"

namespace {

// What was last read from or written to the exports file.
DataFileFingerprint TableFile;

// The new file: the leading comments of the file it replaces, then the table.
int WriteTable(FILE *out, void *context)
{
    FILE *old = OpenDataFile(static_cast<const char *>(context), "r");
    if (old == nullptr)
        return 0;
    int ok = CopyLeadingCommentLines(old, out);
    fclose(old);
    char line[8192];
    for (ExportEntry *entry = ExportFirst(); ok && entry != nullptr; entry = ExportNext(entry)) {
        int needed = FormatExportText(line, sizeof(line), entry, 0);
        if (needed < 0)
            continue;
        if (static_cast<size_t>(needed) < sizeof(line)) {
            ok = WriteTextLine(out, line, static_cast<size_t>(needed));
        } else {
            char *big = static_cast<char *>(malloc(static_cast<size_t>(needed) + 1));
            if (big == nullptr)
                return 0;
            FormatExportText(big, static_cast<size_t>(needed) + 1, entry, 0);
            ok = WriteTextLine(out, big, static_cast<size_t>(needed));
            free(big);
        }
    }
    return ok;
}

} // namespace

void NoteExportsFileLoaded()
{
    char path[1200];
    if (DataFilePath("exports", path, sizeof(path)))
        TableFile = FingerprintDataFile(path);
}

int ExportsFileUnchanged()
{
    LockGuard guard(ExportTableWriterLock);
    char path[1200];
    return DataFilePath("exports", path, sizeof(path)) && FingerprintDataFile(path) == TableFile;
}

int ExportsSave()
{
    LockGuard guard(ExportTableWriterLock);
    char exportsPath[1200];
    char oldPath[1200];
    if (!DataFilePath("exports", exportsPath, sizeof(exportsPath)) ||
        !DataFilePath("exports.old", oldPath, sizeof(oldPath)))
        return 0;
    // The table came from the file; without one there is nothing to replace.
    if (GetFileAttributesA(exportsPath) == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (!ReplaceDataFile(exportsPath, oldPath, "w", WriteTable, exportsPath))
        return 0;
    TableFile = FingerprintDataFile(exportsPath);
    return 1;
}

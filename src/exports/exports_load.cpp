// Reading the exports file into a new current table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exports/export_table.h"
#include "exports/export_table_internal.h"
#include "exports/exports_address.h"
#include "exports/exports_backend.h"
#include "exports/exports_errors.h"
#include "exports/exports_file_io.h"
#include "exports/exports_names.h"
#include "exports/exports_options.h"
#include "exports/exports_paths.h"
#include "exports/exports_tokenizer.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

// After an entry was dropped: the rest of its line goes, unless the token in
// hand already begins the next entry or ends the line.
ExportsTokenKind SkipAfterDrop(ExportsTokenizer *t, ExportsTokenKind kind)
{
    if (kind == TOKEN_PATH || kind == TOKEN_LINE_END || kind == TOKEN_END)
        return kind;
    SkipRestOfLine(t);
    return NextToken(t);
}

ExportsTokenKind DropAndSkipLine(ExportsTokenizer *t, ExportEntry *entry)
{
    FreeExportEntry(entry);
    SkipRestOfLine(t);
    return NextToken(t);
}

void LogEntry(const ExportEntry *entry)
{
    if (LogLevel <= 0)
        return;
    char line[8192];
    int needed = FormatExportText(line, sizeof(line), entry, LogLevel > 1);
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof(line)) {
        LogStartup(1, "%s", line);
        return;
    }
    char *big = static_cast<char *>(malloc(static_cast<size_t>(needed) + 1));
    if (big != nullptr) {
        FormatExportText(big, static_cast<size_t>(needed) + 1, entry, LogLevel > 1);
        LogStartup(1, "%s", big);
        free(big);
    }
}

// Reads one export: the path in t->token, then its options and clients.
// Returns the token that ended it, which the caller handles next.
ExportsTokenKind ReadEntry(ExportsTokenizer *t)
{
    const uint32_t entryLine = t->tokenLine;
    char path[EXPORT_PATH_SIZE];
    snprintf(path, sizeof(path), "%s", t->token);

    ExportEntry *entry = NewExportEntry();
    if (entry == nullptr) {
        SkipRestOfLine(t);
        return NextToken(t);
    }
    if (ServerSettings.CharSetActive == 2)
        ConvertCodePage(1, ServerSettings.CodePage, path, sizeof(path));
    const uint32_t rootLength = NormaliseRoot(path, sizeof(path));
    if (rootLength < 2 || !CheckPathSyntax(path)) {
        RecordExportsError(EXPORTS_EXPECTED_PATH, entryLine, nullptr);
        return DropAndSkipLine(t, entry);
    }
    entry->path = static_cast<char *>(malloc(strlen(path) + 1));
    if (entry->path == nullptr)
        return DropAndSkipLine(t, entry);
    memcpy(entry->path, path, strlen(path) + 1);
    entry->options.rootLength = rootLength;
    entry->options.umask = 022;
    entry->options.cacheSize = ServerSettings.Cache;
    entry->cacheOption = EXPORT_NO_CACHE_OPTION;

    // Options, over as many lines as they take.
    ExportsTokenKind kind = NextToken(t);
    while (kind == TOKEN_OPTION || kind == TOKEN_LINE_END) {
        if (kind == TOKEN_OPTION && !ApplyExportOption(entry, t->token)) {
            char word[EXPORTS_TOKEN_MAX + 2];
            snprintf(word, sizeof(word), "-%s", t->token);
            RecordExportsError(EXPORTS_BAD_OPTION, t->tokenLine, word);
            return DropAndSkipLine(t, entry);
        }
        kind = NextToken(t);
    }

    // Clients; one line end between two of them continues the list.
    uint32_t addresses[EXPORT_MAX_CLIENTS];
    int32_t count = 0;
    while (kind == TOKEN_CLIENT) {
        uint32_t address;
        if (!ResolveClient(t->token, &address)) {
            RecordExportsError(EXPORTS_BAD_CLIENT, t->tokenLine, t->token);
            return DropAndSkipLine(t, entry);
        }
        if (count < EXPORT_MAX_CLIENTS)
            addresses[count] = address;
        if (count <= EXPORT_MAX_CLIENTS)
            count++;
        kind = NextToken(t);
        if (kind == TOKEN_LINE_END)
            kind = NextToken(t);
    }
    // A word that cannot be a client, where the first client would stand,
    // must not leave the export open to every client.
    if (kind == TOKEN_INVALID && count == 0) {
        RecordExportsError(EXPORTS_BAD_CLIENT, t->tokenLine, t->token);
        return DropAndSkipLine(t, entry);
    }

    if (entry->flags & EXPORT_RANGE) {
        if (count == 0) {
            RecordExportsError(EXPORTS_BAD_CLIENT, entryLine, "-range");
            FreeExportEntry(entry);
            return SkipAfterDrop(t, kind);
        }
        if ((count & 1) != 0 && count < EXPORT_MAX_CLIENTS) {
            addresses[count] = addresses[count - 1];
            count++;
        }
    }
    if (count > EXPORT_MAX_CLIENTS) {
        RecordExportsError(EXPORTS_TOO_MANY_CLIENTS, entryLine, nullptr);
        count = EXPORT_MAX_CLIENTS;
    }
    if (count > 0) {
        entry->options.clients = static_cast<uint32_t *>(malloc(sizeof(uint32_t) * static_cast<size_t>(count)));
        if (entry->options.clients == nullptr) {
            FreeExportEntry(entry);
            return kind;
        }
        memcpy(entry->options.clients, addresses, sizeof(uint32_t) * static_cast<size_t>(count));
        entry->options.clientCount = count;
    }

    // A volume that cannot be examined leaves its facts zero; the two bits
    // that describe the path itself stay.
    if (!ProbeVolume(entry->path, &entry->volumeSerial, &entry->maxNameLength, &entry->flags)) {
        entry->volumeSerial = 0;
        entry->maxNameLength = 0;
        entry->flags &= ~(static_cast<uint32_t>(EXPORT_VOLUME_BITS) & ~(EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID));
    }

    entry->options.exportId = ComputeExportId(entry);
    entry->options.handleId = ExportHandleId(entry->path);
    if (ExportTableHasId(entry->options.exportId)) {
        RecordExportsError(EXPORTS_DUPLICATE, entryLine, nullptr);
        FreeExportEntry(entry);
        return kind;
    }
    // The same export in the table before this load goes on as it was, with
    // its root inode, open-file cache and mounts.
    ExportEntry *old = ExportTableTakePrevious(entry->options.exportId);
    if (old != nullptr) {
        FreeExportEntry(entry);
        entry = old;
    } else {
        entry->options.rootInode = ExportRootInode(entry);
        ExportCreateCache(entry);
    }
    LogEntry(entry);
    ExportTableAppend(entry);
    return kind;
}

} // namespace

void ExportsLoad()
{
    LockGuard guard(ExportTableWriterLock);
    ExportTableStartLoad();
    BeginExportsErrors();
    NoteExportsFileLoaded();

    char path[1200];
    FILE *file = nullptr;
    if (DataFilePath("exports", path, sizeof(path)))
        file = OpenDataFile(path, "r");
    if (file == nullptr) {
        RecordExportsError(EXPORTS_CANNOT_OPEN, 0, nullptr);
        EndExportsErrors();
        return;
    }
    LogStartup(1, "\n------ Exported file systems ------\n");

    ExportsTokenizer *t = static_cast<ExportsTokenizer *>(malloc(sizeof(ExportsTokenizer)));
    if (t != nullptr) {
        TokenizerOpenFile(t, file);
        ExportsTokenKind kind = NextToken(t);
        while (kind != TOKEN_END) {
            if (kind == TOKEN_LINE_END) {
                kind = NextToken(t);
            } else if (kind == TOKEN_PATH) {
                kind = ReadEntry(t);
            } else {
                RecordExportsError(EXPORTS_EXPECTED_PATH, t->tokenLine, nullptr);
                SkipRestOfLine(t);
                kind = NextToken(t);
            }
        }
        free(t);
    }
    fclose(file);
    EndExportsErrors();
    LogStartup(1, "-----------------------------------\n\n");
    FlushLog();
}

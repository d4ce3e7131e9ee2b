// Saving and loading the mount table through the file "mounttab".
#include "mount/mounttab_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "common/ascii_text.h"
#include "exports/export_table.h"
#include "exports/exports_file_io.h"
#include "exports/exports_paths.h"
#include "mount/mount_folder.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

namespace {

// Serialises the writers of the file and guards what is known of it;
// MountLock is held only while the changes are taken from the table, so NFS
// requests do not wait for the disk.
RankedLock SaveLock(LOCK_RANK_MOUNTTAB_SAVE, "mounttab save");
// Lines the file holds, and records that have a line in it.
size_t FileLines = 0;
size_t RecordsInFile = 0;

// A growing text buffer.
struct Text {
    char *data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    size_t lines = 0;
    bool failed = false;

    ~Text() { free(data); }

    void Append(const char *bytes, size_t count)
    {
        if (failed)
            return;
        if (length + count + 1 > capacity) {
            size_t wanted = capacity == 0 ? 4096 : capacity * 2;
            while (wanted < length + count + 1)
                wanted *= 2;
            char *grown = static_cast<char *>(realloc(data, wanted));
            if (grown == nullptr) {
                failed = true;
                return;
            }
            data = grown;
            capacity = wanted;
        }
        memcpy(data + length, bytes, count);
        length += count;
        data[length] = '\0';
        lines++;
    }
};

// Replaces target by source in one step.
int ReplaceDataFile(const char *source, const char *target)
{
#ifdef _WIN32
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
#else
    char from[4096];
    char to[4096];
    if (!PosixPathFromWindows(source, from, sizeof from) || !PosixPathFromWindows(target, to, sizeof to))
        return 0;
    return rename(from, to) == 0 ? 1 : 0;
#endif
}

void StripLineEnd(char *line)
{
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
}

// Reads a hex number of one to eight digits.
const char *ParseHex(const char *text, uint32_t *value)
{
    uint32_t result = 0;
    int digits = 0;
    for (;; text++) {
        char c = *text;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (++digits > 8)
            return nullptr;
        result = (result << 4) | static_cast<uint32_t>(digit);
    }
    if (digits == 0)
        return nullptr;
    *value = result;
    return text;
}

void AppendRemoval(Text *text, uint32_t clientAddress, uint32_t mountId)
{
    char line[32];
    int length = snprintf(line, sizeof line, "-%x:%8.8x\n", static_cast<unsigned>(ntohl(clientAddress)), mountId);
    text->Append(line, static_cast<size_t>(length));
}

// The lines of the changes noted since the last save (MountLock held).
// False when the file must be written whole instead.
bool ChangedLines(Text *text)
{
    MountTabChange changes[256];
    for (;;) {
        bool overflowed = false;
        size_t count = MountTakeChanges(changes, 256, &overflowed);
        if (overflowed)
            return false;
        if (count == 0)
            return true;
        char line[MOUNTTAB_LINE_SIZE];
        for (size_t i = 0; i < count; i++) {
            const MountTabChange &change = changes[i];
            if (change.removed) {
                if (change.wasInFile) {
                    AppendRemoval(text, change.clientAddress, change.mountId);
                    RecordsInFile--;
                }
                continue;
            }
            MountRecord *record = MountFindLocked(change.mountId);
            if (record == nullptr)
                continue;  // gone again; its removal follows
            size_t length = FormatMountTabLine(record, line, sizeof line);
            if (length > 0 && (!record->inMountTab || record->lineStale)) {
                text->Append(line, length);
                if (!record->inMountTab)
                    RecordsInFile++;
                record->inMountTab = 1;
            } else if (length == 0 && record->inMountTab) {
                AppendRemoval(text, record->clientAddress, record->mountId);
                record->inMountTab = 0;
                RecordsInFile--;
            }
            record->lineStale = 0;
        }
    }
}

// Every record's line, oldest first (MountLock held).
void AllLines(Text *text)
{
    MountRecord *oldest = MountTableHead();
    while (oldest != nullptr && oldest->next != nullptr)
        oldest = oldest->next;
    char line[MOUNTTAB_LINE_SIZE];
    RecordsInFile = 0;
    for (MountRecord *record = oldest; record != nullptr; record = record->prev) {
        size_t length = FormatMountTabLine(record, line, sizeof line);
        record->inMountTab = length > 0 ? 1 : 0;
        record->lineStale = 0;
        if (length > 0) {
            text->Append(line, length);
            RecordsInFile++;
        }
    }
    MountForgetChanges();
}

bool WriteLines(FILE *file, const Text &text)
{
    bool written = true;
    size_t start = 0;
    while (written && start < text.length) {
        const char *end = static_cast<const char *>(memchr(text.data + start, '\n', text.length - start));
        size_t stop = end != nullptr ? static_cast<size_t>(end - text.data) + 1 : text.length;
        written = WriteTextLine(file, text.data + start, stop - start) != 0;
        start = stop;
    }
    return fclose(file) == 0 && written;
}

// Writes the file whole (SaveLock held, MountLock not).
int WriteWhole(const Text &text, const char *path, const char *temporary)
{
    if (text.failed)
        return 0;
    FILE *file = OpenDataFile(temporary, "w");
    if (file == nullptr)
        return 0;
    int saved = WriteLines(file, text) ? ReplaceDataFile(temporary, path) : 0;
    if (!saved)
        RemoveDataFile(temporary);
    return saved;
}

// Saves with SaveLock held: the changes, or the whole file when asked,
// when they were lost, or when the file has grown to more than twice the
// lines it needs.
int SaveLocked(bool whole)
{
    char path[2048];
    char temporary[2048];
    if (!DataFilePath(MOUNTTAB_FILE_NAME, path, sizeof path) ||
        !DataFilePath(MOUNTTAB_FILE_NAME ".new", temporary, sizeof temporary))
        return 0;

    Text text;
    LockTake(&MountLock);
    if (!whole)
        whole = !ChangedLines(&text) || text.failed || FileLines + text.lines > 2 * RecordsInFile + 64;
    if (whole) {
        text.length = 0;
        text.lines = 0;
        text.failed = false;
        AllLines(&text);
    }
    LockGive(&MountLock);

    int saved;
    if (whole) {
        saved = WriteWhole(text, path, temporary);
        if (saved)
            FileLines = text.lines;
    } else if (text.lines == 0) {
        saved = 1;
    } else {
        FILE *file = OpenDataFile(path, "a");
        saved = file != nullptr && WriteLines(file, text) ? 1 : 0;
        if (saved)
            FileLines += text.lines;
    }
    if (!saved) {
        // What the file holds is unknown now: the next save writes it whole.
        LockTake(&MountLock);
        MountLoseChanges();
        LockGive(&MountLock);
    }
    return saved;
}

// Mounts the folder of one record line again.  1 when a record was added
// or refreshed, and *added is the MountAdd result.
int LoadRecord(const MountTabLine &line, uint32_t wantedId, int *added)
{
    char clientPath[EXPORT_PATH_SIZE];
    if (!ToClientPath(line.exportPath, clientPath, sizeof clientPath))
        return 0;
    ExportEntry *entry = nullptr;
    if (FindExport(clientPath, line.clientAddress, &entry) != 0 || entry == nullptr)
        return 0;

    // The mounted folder must still lie where the export allows mounts: the
    // export's folder itself, or with -alldirs a folder below it.
    char folder[EXPORT_PATH_SIZE];
    if (snprintf(folder, sizeof folder, "%s", line.mountedPath) >= static_cast<int>(sizeof folder))
        return 0;
    size_t rootLength = strlen(entry->path);
    if (!SameTextNoCase(folder, entry->path)) {
        if ((entry->flags & EXPORT_ALLDIRS) == 0 || !SamePrefixNoCase(folder, entry->path, rootLength))
            return 0;
        if (folder[rootLength] != '\\' && (rootLength == 0 || entry->path[rootLength - 1] != '\\'))
            return 0;
    }

    MountFolder probe;
    if (ProbeMountFolder(folder, entry, &probe) != 0)
        return 0;
    uint32_t mountId = 0;
    *added = MountAddWithId(line.clientAddress, MOUNT_KIND_UDP, folder, probe.inode, entry, probe.volumeSerial,
                            probe.maxNameLength, probe.flags, wantedId, &mountId);
    return *added == MOUNT_ADD_NEW || *added == MOUNT_ADD_REFRESHED ? 1 : 0;
}

// Reads the lines of the file; false when it cannot be opened.
bool ReadLines(std::vector<char *> *lines)
{
    char path[2048];
    if (!DataFilePath(MOUNTTAB_FILE_NAME, path, sizeof path))
        return false;
    FILE *file = OpenDataFile(path, "r");
    if (file == nullptr)
        return false;
    char *buffer = static_cast<char *>(malloc(MOUNTTAB_LINE_SIZE));
    bool inLongLine = false;
    while (buffer != nullptr && lines->size() < MOUNTTAB_MAX_LINES &&
           fgets(buffer, MOUNTTAB_LINE_SIZE, file) != nullptr) {
        size_t length = strlen(buffer);
        bool hasEnd = length > 0 && buffer[length - 1] == '\n';
        if (inLongLine) {
            // The rest of an over-long line, which is no line of this file.
            inLongLine = !hasEnd;
            continue;
        }
        if (!hasEnd && length == MOUNTTAB_LINE_SIZE - 1) {
            inLongLine = true;
            continue;
        }
        // A complete line, or the last line of a file without a final line end.
        StripLineEnd(buffer);
        char *copy = static_cast<char *>(malloc(strlen(buffer) + 1));
        if (copy == nullptr)
            break;
        strcpy(copy, buffer);
        try {
            lines->push_back(copy);
        } catch (...) {
            free(copy);
            break;
        }
    }
    free(buffer);
    fclose(file);
    return true;
}

}  // namespace

size_t FormatMountTabLine(const MountRecord *record, char *buffer, size_t size)
{
    if ((record->kind & MOUNT_KIND_TRANSPORT) != MOUNT_KIND_UDP || record->exportEntry == nullptr)
        return 0;
    unsigned host = static_cast<unsigned>(ntohl(record->clientAddress));
    int length;
    if (record->path != nullptr && record->path[0] != '\0')
        length = snprintf(buffer, size, "%x:%8.8x %s|%s\n", host, record->mountId, record->path,
                          record->exportEntry->path);
    else
        length = snprintf(buffer, size, "%x:%8.8x %s\n", host, record->mountId, record->exportEntry->path);
    if (length < 0 || static_cast<size_t>(length) >= size)
        return 0;
    return static_cast<size_t>(length);
}

int ParseMountTabLine(char *line, MountTabLine *out)
{
    bool removal = line[0] == '-';
    uint32_t host = 0;
    const char *at = ParseHex(removal ? line + 1 : line, &host);
    if (at == nullptr)
        return MOUNTTAB_BAD;
    out->clientAddress = htonl(host);
    out->mountId = 0;
    bool withId = *at == ':';
    if (withId && ((at = ParseHex(at + 1, &out->mountId)) == nullptr))
        return MOUNTTAB_BAD;
    if (removal)
        return withId && *at == '\0' ? MOUNTTAB_REMOVED : MOUNTTAB_BAD;
    if (*at != ' ')
        return MOUNTTAB_BAD;
    char *text = line + (at - line);
    while (*text == ' ')
        text++;
    if (*text == '\0')
        return MOUNTTAB_BAD;
    char *bar = strchr(text, '|');
    if (bar != nullptr) {
        *bar = '\0';
        if (text[0] == '\0' || bar[1] == '\0')
            return MOUNTTAB_BAD;
        out->mountedPath = text;
        out->exportPath = bar + 1;
    } else {
        out->mountedPath = text;
        out->exportPath = text;
    }
    return withId ? MOUNTTAB_RECORD : MOUNTTAB_OLD_RECORD;
}

int MountTabSave()
{
    LockTake(&SaveLock);
    int saved = SaveLocked(false);
    LockGive(&SaveLock);
    return saved;
}

int MountTabLoad()
{
    std::vector<char *> lines;
    int loaded = 0;
    if (ReadLines(&lines)) {
        std::vector<MountTabLine> parsed(lines.size());
        std::vector<int> kinds(lines.size());
        for (size_t i = 0; i < lines.size(); i++)
            kinds[i] = ParseMountTabLine(lines[i], &parsed[i]);

        // Lines without ids came from a file that listed the newest record
        // first; their records took the ids of a counter from 0, oldest
        // first, and take them again.
        uint32_t counter = 0;
        for (size_t i = lines.size(); i > 0; i--) {
            const MountTabLine &line = parsed[i - 1];
            if (kinds[i - 1] != MOUNTTAB_OLD_RECORD)
                continue;
            int added = 0;
            loaded += LoadRecord(line, MountIdOf(counter, line.clientAddress, line.mountedPath), &added);
            if (added == MOUNT_ADD_NEW)
                counter++;
        }

        // Then the records with ids: the last line of an id counts, unless
        // a removal followed it.
        std::unordered_map<uint32_t, size_t> latest;
        std::vector<bool> live(lines.size(), false);
        for (size_t i = 0; i < lines.size(); i++) {
            if (kinds[i] != MOUNTTAB_RECORD && kinds[i] != MOUNTTAB_REMOVED)
                continue;
            auto found = latest.find(parsed[i].mountId);
            if (found != latest.end()) {
                live[found->second] = false;
                latest.erase(found);
            }
            if (kinds[i] == MOUNTTAB_RECORD) {
                latest[parsed[i].mountId] = i;
                live[i] = true;
            }
        }
        for (size_t i = 0; i < lines.size(); i++) {
            int added = 0;
            if (live[i])
                loaded += LoadRecord(parsed[i], parsed[i].mountId, &added);
        }
        for (char *line : lines)
            free(line);
        // The file is written whole now: without the lines that no longer
        // hold, and in the form with ids.
        LockTake(&SaveLock);
        SaveLocked(true);
        LockGive(&SaveLock);
    }
    return loaded;
}

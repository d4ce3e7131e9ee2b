// Saving and loading the mount table through the file "mounttab".
#include "mount/mounttab_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exports/export_table.h"
#include "exports/exports_file_io.h"
#include "exports/exports_paths.h"
#include "mount/mount_folder.h"
#include "mount/mount_text.h"
#include "platform/win32.h"

namespace {

// Serialises the writers of the file; MountLock is held only while the
// table is copied, so NFS requests do not wait for the disk.
CRITICAL_SECTION SaveLock;
volatile LONG SaveLockState = 0;

void InitSaveLock()
{
    for (;;) {
        LONG state = InterlockedCompareExchange(&SaveLockState, 1, 0);
        if (state == 2)
            return;
        if (state == 0) {
            InitializeCriticalSection(&SaveLock);
            InterlockedExchange(&SaveLockState, 2);
            return;
        }
        Sleep(0);
    }
}

// A growing text buffer.
struct Text {
    char *data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    bool failed = false;

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

// Mounts the folder of one line again.  1 when a record was added or
// refreshed.
int LoadLine(char *line)
{
    uint32_t address = 0;
    const char *mounted = nullptr;
    const char *exported = nullptr;
    if (!ParseMountTabLine(line, &address, &mounted, &exported))
        return 0;

    char clientPath[EXPORT_PATH_SIZE];
    if (!ToClientPath(exported, clientPath, sizeof clientPath))
        return 0;
    ExportEntry *entry = nullptr;
    if (FindExport(clientPath, address, &entry) != 0 || entry == nullptr)
        return 0;

    // The mounted folder must still lie where the export allows mounts: the
    // export's folder itself, or with -alldirs a folder below it.
    char folder[EXPORT_PATH_SIZE];
    if (snprintf(folder, sizeof folder, "%s", mounted) >= static_cast<int>(sizeof folder))
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
    return MountAdd(address, MOUNT_KIND_UDP, folder, probe.inode, entry, probe.volumeSerial, probe.maxNameLength,
                    probe.flags, &mountId) != MOUNT_ADD_FAILED
               ? 1
               : 0;
}

}  // namespace

size_t FormatMountTabLine(const MountRecord *record, char *buffer, size_t size)
{
    if ((record->kind & MOUNT_KIND_TRANSPORT) != MOUNT_KIND_UDP || record->exportEntry == nullptr)
        return 0;
    uint32_t host = ntohl(record->clientAddress);
    int length;
    if (record->path != nullptr && record->path[0] != '\0')
        length = snprintf(buffer, size, "%x %s|%s\n", host, record->path, record->exportEntry->path);
    else
        length = snprintf(buffer, size, "%x %s\n", host, record->exportEntry->path);
    if (length < 0 || static_cast<size_t>(length) >= size)
        return 0;
    return static_cast<size_t>(length);
}

int ParseMountTabLine(char *line, uint32_t *clientAddress, const char **mountedPath, const char **exportPath)
{
    char *text = line;
    uint32_t host = 0;
    int digits = 0;
    for (;; text++) {
        char c = *text;
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            break;
        if (++digits > 8)
            return 0;
        host = (host << 4) | static_cast<uint32_t>(value);
    }
    if (digits == 0 || *text != ' ')
        return 0;
    while (*text == ' ')
        text++;
    if (*text == '\0')
        return 0;
    char *bar = strchr(text, '|');
    if (bar != nullptr) {
        *bar = '\0';
        *mountedPath = text;
        *exportPath = bar + 1;
        if (text[0] == '\0' || bar[1] == '\0')
            return 0;
    } else {
        *mountedPath = text;
        *exportPath = text;
    }
    *clientAddress = htonl(host);
    return 1;
}

int MountTabSave()
{
    InitSaveLock();
    MountTableInit();
    char path[2048];
    char temporary[2048];
    if (!DataFilePath(MOUNTTAB_FILE_NAME, path, sizeof path) ||
        !DataFilePath(MOUNTTAB_FILE_NAME ".new", temporary, sizeof temporary))
        return 0;

    EnterCriticalSection(&SaveLock);
    Text text;
    EnterCriticalSection(&MountLock);
    char line[MOUNTTAB_LINE_SIZE];
    for (const MountRecord *record = MountTableHead(); record != nullptr; record = record->next) {
        size_t length = FormatMountTabLine(record, line, sizeof line);
        if (length > 0)
            text.Append(line, length);
    }
    LeaveCriticalSection(&MountLock);

    int saved = 0;
    if (!text.failed) {
        FILE *file = OpenDataFile(temporary, "w");
        if (file != nullptr) {
            bool written = true;
            size_t start = 0;
            while (written && start < text.length) {
                const char *end = static_cast<const char *>(memchr(text.data + start, '\n', text.length - start));
                size_t stop = end != nullptr ? static_cast<size_t>(end - text.data) + 1 : text.length;
                written = WriteTextLine(file, text.data + start, stop - start) != 0;
                start = stop;
            }
            if (fclose(file) != 0)
                written = false;
            if (written)
                saved = ReplaceDataFile(temporary, path);
            if (!saved)
                RemoveDataFile(temporary);
        }
    }
    free(text.data);
    LeaveCriticalSection(&SaveLock);
    return saved;
}

int MountTabLoad()
{
    char path[2048];
    if (!DataFilePath(MOUNTTAB_FILE_NAME, path, sizeof path))
        return 0;
    FILE *file = OpenDataFile(path, "r");
    if (file == nullptr)
        return 0;

    // The whole file first: the newest record is on the first line, and the
    // oldest must be mounted first to come back in the same order.
    char **lines = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    char *buffer = static_cast<char *>(malloc(MOUNTTAB_LINE_SIZE));
    bool inLongLine = false;
    while (buffer != nullptr && count < MOUNTTAB_MAX_LINES && fgets(buffer, MOUNTTAB_LINE_SIZE, file) != nullptr) {
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
        if (count == capacity) {
            size_t grown = capacity == 0 ? 64 : capacity * 2;
            char **bigger = static_cast<char **>(realloc(lines, grown * sizeof(char *)));
            if (bigger == nullptr)
                break;
            lines = bigger;
            capacity = grown;
        }
        length = strlen(buffer);
        char *copy = static_cast<char *>(malloc(length + 1));
        if (copy == nullptr)
            break;
        memcpy(copy, buffer, length + 1);
        lines[count++] = copy;
    }
    free(buffer);
    fclose(file);

    int loaded = 0;
    for (size_t i = count; i > 0; i--) {
        loaded += LoadLine(lines[i - 1]);
        free(lines[i - 1]);
    }
    free(lines);
    return loaded;
}

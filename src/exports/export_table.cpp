// The current and previous export tables, and the searches in them.
#include "exports/export_table.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/ascii_text.h"
#include "common/checksum.h"
#include "exports/export_table_internal.h"
#include "exports/exports_backend.h"
#include "exports/exports_paths.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

// Head of the current table.  Readers walk it without a lock; every link is
// published with release order so that a reader never sees half an entry.
std::atomic<ExportEntry *> currentHead{nullptr};
ExportEntry *currentTail = nullptr;  // writers only

// Entries of the last table that a load did not carry over and entries
// removed from the current table.
std::vector<ExportEntry *> previousTable;
// Entries that have left the previous table.  They are kept (and reachable)
// because mount records and file handles may still point at them.
std::vector<ExportEntry *> retiredEntries;

ExportEntry *LoadNext(const ExportEntry *entry)
{
    return std::atomic_ref<ExportEntry *>(const_cast<ExportEntry *&>(entry->next)).load(std::memory_order_acquire);
}

void StoreNext(ExportEntry *entry, ExportEntry *next)
{
    std::atomic_ref<ExportEntry *>(entry->next).store(next, std::memory_order_release);
}

// Keeps an entry reachable; when even that fails the entry is left alone
// rather than freed.
void Retire(ExportEntry *entry)
{
    try {
        retiredEntries.push_back(entry);
    } catch (...) {
    }
}

void KeepAsPrevious(ExportEntry *entry)
{
    try {
        previousTable.push_back(entry);
    } catch (...) {
        Retire(entry);
    }
}

uint32_t HostOrder(uint32_t networkOrder)
{
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&networkOrder);
    return (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | b[3];
}

// Length of prefix when text begins with it (ASCII letters without regard to
// case) and goes on with the end, or with '/' when subfolders are allowed;
// else -1.
int MatchPrefix(const char *text, const char *prefix, bool subfolders)
{
    size_t n = 0;
    for (; prefix[n]; n++)
        if (LowerAscii(text[n]) != LowerAscii(prefix[n]))
            return -1;
    if (text[n] == 0 || (subfolders && text[n] == '/'))
        return static_cast<int>(n);
    return -1;
}

bool HasLongPrefix(const char *p) { return p[0] == '\\' && p[1] == '\\' && p[2] == '?' && p[3] == '\\'; }

// The Windows path of a client path that matched entry's visible path over
// matched characters: the entry's own path followed by the rest, so that the
// export's root reads exactly as the entry has it.
bool WindowsPathOfMatch(const ExportEntry *entry, const char *rest, char *out, size_t size)
{
    size_t pathLength = strlen(entry->path);
    if (*rest == '/' && pathLength > 0 && entry->path[pathLength - 1] == '\\')
        rest++;
    size_t restLength = strlen(rest);
    if (pathLength + restLength + 1 > size)
        return false;
    memcpy(out, entry->path, pathLength);
    for (size_t i = 0; i <= restLength; i++)
        out[pathLength + i] = rest[i] == '/' ? '\\' : rest[i];
    return true;
}

} // namespace

RankedLock ExportTableWriterLock(LOCK_RANK_EXPORT_WRITER, "export table writers");

ExportEntry *ExportFirst() { return currentHead.load(std::memory_order_acquire); }

ExportEntry *ExportNext(const ExportEntry *entry) { return entry != nullptr ? LoadNext(entry) : nullptr; }

ExportEntry *NewExportEntry()
{
    ExportEntry *entry = static_cast<ExportEntry *>(calloc(1, sizeof(ExportEntry)));
    if (entry != nullptr)
        entry->self = entry;
    return entry;
}

void FreeExportEntry(ExportEntry *entry)
{
    if (entry == nullptr)
        return;
    ExportReleaseCache(entry);
    free(entry->path);
    free(entry->name);
    free(entry->options.clients);
    free(entry);
}

void ExportTableStartLoad()
{
    for (ExportEntry *entry : previousTable)
        Retire(entry);
    previousTable.clear();
    for (ExportEntry *entry = currentHead.load(std::memory_order_acquire); entry != nullptr; entry = LoadNext(entry))
        KeepAsPrevious(entry);
    // The old entries keep their links, so a reader in the middle of the old
    // table walks on to its end.
    currentHead.store(nullptr, std::memory_order_release);
    currentTail = nullptr;
}

bool ExportTableHasId(uint32_t exportId)
{
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = LoadNext(entry))
        if (entry->options.exportId == exportId)
            return true;
    return false;
}

ExportEntry *ExportTableTakePrevious(uint32_t exportId)
{
    for (size_t i = 0; i < previousTable.size(); i++) {
        ExportEntry *entry = previousTable[i];
        if (entry->options.exportId == exportId) {
            previousTable.erase(previousTable.begin() + static_cast<std::ptrdiff_t>(i));
            return entry;
        }
    }
    return nullptr;
}

void ExportTableAppend(ExportEntry *entry)
{
    StoreNext(entry, nullptr);
    if (currentTail == nullptr)
        currentHead.store(entry, std::memory_order_release);
    else
        StoreNext(currentTail, entry);
    currentTail = entry;
}

int ExportRemove(ExportEntry *entry)
{
    LockGuard guard(ExportTableWriterLock);
    ExportEntry *before = nullptr;
    ExportEntry *e = ExportFirst();
    while (e != nullptr && e != entry) {
        before = e;
        e = LoadNext(e);
    }
    if (e == nullptr)
        return 0;
    // The entry keeps its own link, so a reader standing on it walks on into
    // the current table.
    ExportEntry *after = LoadNext(entry);
    if (before == nullptr)
        currentHead.store(after, std::memory_order_release);
    else
        StoreNext(before, after);
    if (currentTail == entry)
        currentTail = before;
    KeepAsPrevious(entry);
    ExportsSave();
    return 1;
}

ExportEntry *FindExportById(uint32_t exportId)
{
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = LoadNext(entry))
        if (entry->options.exportId == exportId)
            return entry;
    return nullptr;
}

uint32_t ExportHandleId(const char *path)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (const char *p = path; *p != 0; p++) {
        const char c = LowerAscii(*p);
        crc = Crc32Update(crc, &c, 1);
    }
    return crc;
}

ExportEntry *FindExportByHandleId(uint32_t handleId)
{
    for (ExportEntry *entry = ExportFirst(); entry != nullptr; entry = LoadNext(entry))
        if (entry->options.handleId == handleId)
            return entry;
    return nullptr;
}

int ExportAdmits(const ExportEntry *entry, uint32_t clientAddress)
{
    const int32_t count = entry->options.clientCount;
    const uint32_t *clients = entry->options.clients;
    if (count <= 0 || clients == nullptr)
        return 1;
    if (entry->flags & EXPORT_RANGE) {
        const uint32_t address = HostOrder(clientAddress);
        for (int32_t i = 0; i < count; i += 2) {
            uint32_t low = HostOrder(clients[i]);
            uint32_t high = i + 1 < count ? HostOrder(clients[i + 1]) : low;
            if (low <= address && address <= high)
                return 1;
        }
        return 0;
    }
    for (int32_t i = 0; i < count; i++)
        if (clients[i] == clientAddress)
            return 1;
    return 0;
}

int FindExport(char *path, uint32_t clientAddress, ExportEntry **entry)
{
    char work[EXPORT_PATH_SIZE];
    char compared[EXPORT_PATH_SIZE];
    char visible[EXPORT_PATH_SIZE];
    size_t length = strnlen(path, EXPORT_PATH_SIZE);
    if (length >= EXPORT_PATH_SIZE)
        return 2;
    memcpy(work, path, length + 1);
    if (length > 0 && work[length - 1] == '/')
        work[--length] = 0;

    int result = 2;
    for (ExportEntry *e = ExportFirst(); e != nullptr; e = LoadNext(e)) {
        if (!ToClientPath(e->path, visible, sizeof(visible)))
            continue;
        const bool subfolders = (e->flags & EXPORT_ALLDIRS) != 0;
        const size_t visibleLength = strlen(visible);

        // A visible name stands for the visible path.
        if (e->name != nullptr) {
            int n = MatchPrefix(work, e->name, subfolders);
            if (n >= 0) {
                size_t restLength = strlen(work + n);
                if (visibleLength + restLength >= EXPORT_PATH_SIZE)
                    break;
                memmove(work + visibleLength, work + n, restLength + 1);
                memcpy(work, visible, visibleLength);
                LogLine(2, "mountd: name %s --> %s\n", e->name + 1, work);
            }
        }

        // "//?/c:/dir" is compared as "/c/dir" unless the export itself is
        // named with the "\\?\" prefix.
        const char *candidate = work;
        if (work[0] == '/' && work[1] == '/' && work[2] == '?' && work[3] == '/' &&
            ((work[4] >= 'A' && work[4] <= 'Z') || (work[4] >= 'a' && work[4] <= 'z')) && work[5] == ':' &&
            !HasLongPrefix(e->path)) {
            compared[0] = '/';
            compared[1] = ServerSettings.Lowercase ? LowerAscii(work[4]) : work[4];
            snprintf(compared + 2, sizeof(compared) - 2, "%s", work + 6);
            candidate = compared;
        }

        int n = MatchPrefix(candidate, visible, subfolders);
        if (n < 0)
            continue;
        *entry = e;
        result = 13;
        if (!ExportAdmits(e, clientAddress))
            continue;
        char windowsPath[EXPORT_PATH_SIZE];
        if (!WindowsPathOfMatch(e, candidate + n, windowsPath, sizeof(windowsPath)))
            return 2;
        memcpy(path, windowsPath, strlen(windowsPath) + 1);
        return 0;
    }
    return result;
}

uint32_t ComputeExportId(const ExportEntry *entry)
{
    const ExportOptions &o = entry->options;
    char text[160];
    uint32_t crc = 0xFFFFFFFFu;
    if (entry->path != nullptr)
        crc = Crc32Update(crc, entry->path, strlen(entry->path));
    int n = snprintf(text, sizeof(text), "/%8.8x/%u/%x/%x/%u,%u/%u,%u/%u,%u", entry->volumeSerial,
                     entry->maxNameLength, entry->flags, o.umask, o.subColon, o.subQuestion, o.maprootUid,
                     o.maprootGid, o.mapallUid, o.mapallGid);
    crc = Crc32Update(crc, text, static_cast<size_t>(n));
    if (o.uid != 0) {
        n = snprintf(text, sizeof(text), "%u,%u", o.uid, o.gid);
        crc = Crc32Update(crc, text, static_cast<size_t>(n));
    }
    if (entry->name != nullptr)
        crc = Crc32Update(crc, entry->name, strlen(entry->name));
    if (o.clientCount > 0 && o.clients != nullptr)
        crc = Crc32Update(crc, o.clients, sizeof(uint32_t) * static_cast<size_t>(o.clientCount));
    return crc;
}

void ExportTablesFree()
{
    LockGuard guard(ExportTableWriterLock);
    ExportEntry *entry = currentHead.exchange(nullptr);
    currentTail = nullptr;
    while (entry != nullptr) {
        ExportEntry *next = entry->next;
        FreeExportEntry(entry);
        entry = next;
    }
    for (ExportEntry *e : previousTable)
        FreeExportEntry(e);
    previousTable.clear();
    for (ExportEntry *e : retiredEntries)
        FreeExportEntry(e);
    retiredEntries.clear();
}

// The mount table: records, stable mount ids, the indexes by id and by
// client, the bounds, and the changes mounttab is told of.
#include "exports/mount_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ascii_text.h"
#include "common/checksum.h"
#include "exports/mount_text.h"
#include "log/log.h"
#include "platform/ranked_lock.h"
#include "settings/settings.h"

RankedLock MountLock(LOCK_RANK_MOUNT, "mount table");

namespace {

// The list, newest first, and its size.
MountRecord *Head = nullptr;
uint32_t Count = 0;

// Two hash indexes over the records, each an array of chains whose size is
// a power of two and grows with the table (at most one record per chain on
// average): by mount id, and by client address (which also counts a
// client's records).
struct Index {
    MountRecord **chains = nullptr;
    uint32_t size = 0;
};
Index ById;
Index ByClient;

uint32_t Mix(uint32_t value)
{
    value ^= value >> 16;
    value *= 0x45D9F3Bu;
    value ^= value >> 16;
    return value;
}

MountRecord *&IdChain(uint32_t mountId) { return ById.chains[Mix(mountId) & (ById.size - 1)]; }
MountRecord *&ClientChain(uint32_t address) { return ByClient.chains[Mix(address) & (ByClient.size - 1)]; }

void LinkIndexes(MountRecord *record)
{
    MountRecord *&byId = IdChain(record->mountId);
    record->idNext = byId;
    byId = record;
    MountRecord *&byClient = ClientChain(record->clientAddress);
    record->clientNext = byClient;
    byClient = record;
}

void UnlinkIndexes(MountRecord *record)
{
    for (MountRecord **link = &IdChain(record->mountId); *link != nullptr; link = &(*link)->idNext) {
        if (*link == record) {
            *link = record->idNext;
            break;
        }
    }
    for (MountRecord **link = &ClientChain(record->clientAddress); *link != nullptr; link = &(*link)->clientNext) {
        if (*link == record) {
            *link = record->clientNext;
            break;
        }
    }
}

// Makes room for one more record: the indexes double when the table would
// outgrow them.  False only when there is no index at all.
bool EnsureIndexes()
{
    if (ById.size != 0 && Count < ById.size)
        return true;
    uint32_t size = ById.size == 0 ? 64 : ById.size * 2;
    MountRecord **ids = static_cast<MountRecord **>(calloc(size, sizeof(MountRecord *)));
    MountRecord **clients = static_cast<MountRecord **>(calloc(size, sizeof(MountRecord *)));
    if (ids == nullptr || clients == nullptr) {
        free(ids);
        free(clients);
        return ById.size != 0;  // longer chains, still correct
    }
    free(ById.chains);
    free(ByClient.chains);
    ById = {ids, size};
    ByClient = {clients, size};
    for (MountRecord *record = Head; record != nullptr; record = record->next)
        LinkIndexes(record);
    return true;
}

MountRecord *FindByIdLocked(uint32_t mountId)
{
    LockAssertHeld(&MountLock);
    if (ById.size == 0)
        return nullptr;
    for (MountRecord *record = IdChain(mountId); record != nullptr; record = record->idNext) {
        if (record->mountId == mountId)
            return record;
    }
    return nullptr;
}

const char *RecordPath(const MountRecord *record)
{
    return record->path[0] != '\0' ? record->path : record->exportEntry->path;
}

// The client's record of a folder, and the number of its records.
MountRecord *FindClientRecordLocked(uint32_t clientAddress, const char *path, uint32_t *clientRecords)
{
    LockAssertHeld(&MountLock);
    MountRecord *found = nullptr;
    *clientRecords = 0;
    if (ByClient.size == 0)
        return nullptr;
    for (MountRecord *record = ClientChain(clientAddress); record != nullptr; record = record->clientNext) {
        if (record->clientAddress != clientAddress)
            continue;
        (*clientRecords)++;
        if (found == nullptr && SameTextNoCase(RecordPath(record), path))
            found = record;
    }
    return found;
}

// --- Changes for mounttab --------------------------------------------------------

// Noted changes, oldest first.  When more pile up than the file's saves
// take (nobody saves), they are dropped and the next save writes the file
// whole.
const size_t kMaxChanges = 4096;
MountTabChange *Changes = nullptr;
size_t ChangeCount = 0;
// Set at start (the first save of a process writes the whole file) and when
// changes were dropped.
bool ChangesLost = true;

void NoteChange(const MountRecord *record, bool removed)
{
    if (removed && !record->inMountTab)
        return;  // the file never heard of it
    if (Changes == nullptr && !ChangesLost)
        Changes = static_cast<MountTabChange *>(malloc(kMaxChanges * sizeof(MountTabChange)));
    if (Changes == nullptr || ChangeCount == kMaxChanges) {
        ChangeCount = 0;
        ChangesLost = true;
        return;
    }
    if (ChangesLost)
        return;  // the whole file is written next anyway
    MountTabChange &change = Changes[ChangeCount++];
    change.mountId = record->mountId;
    change.clientAddress = record->clientAddress;
    change.removed = removed ? 1 : 0;
    change.wasInFile = record->inMountTab;
}

// The line mounttab holds of a record depends on the export, the own path
// and the transport.
void RecordChanged(MountRecord *record)
{
    if (record->inMountTab)
        record->lineStale = 1;
    NoteChange(record, false);
}

// The record's own path: a copy of path when it differs from the export's,
// else an empty string.  Null when out of memory.
char *OwnPath(const char *path, const ExportEntry *exportEntry)
{
    const char *own = SameTextNoCase(path, exportEntry->path) ? "" : path;
    size_t length = strlen(own);
    char *copy = static_cast<char *>(malloc(length + 1));
    if (copy != nullptr)
        memcpy(copy, own, length + 1);
    return copy;
}

// What a mount (new or refreshed) knows of the mounted folder.  True when
// the transport changed.
bool SetMountFacts(MountRecord *record, uint32_t kind, uint64_t inode, uint32_t volumeSerial,
                   uint32_t maxNameLength, uint32_t flags)
{
    bool transportChanged = (record->kind & MOUNT_KIND_TRANSPORT) != (kind & MOUNT_KIND_TRANSPORT);
    record->kind = kind;
    record->inode = inode;
    record->volumeSerial = volumeSerial;
    record->maxNameLength = maxNameLength;
    record->flags = flags;
    return transportChanged;
}

void ReleaseExport(ExportEntry *exportEntry)
{
    if (exportEntry != nullptr && exportEntry->options.mountCount > 0)
        exportEntry->options.mountCount--;
}

// Takes the record out of the list and the indexes and frees it.
void RemoveRecordLocked(MountRecord *record)
{
    LockAssertHeld(&MountLock);
    NoteChange(record, true);
    UnlinkIndexes(record);
    if (record->prev != nullptr)
        record->prev->next = record->next;
    else
        Head = record->next;
    if (record->next != nullptr)
        record->next->prev = record->prev;
    Count--;
    ReleaseExport(record->exportEntry);
    free(record->path);
    free(record);
}

// The record may be gone already: compared by address only (the window's
// removals are rare enough for a walk).
bool IsListedLocked(const MountRecord *record)
{
    for (const MountRecord *listed = Head; listed != nullptr; listed = listed->next) {
        if (listed == record)
            return true;
    }
    return false;
}

// A refused mount is logged, since the administrator cannot see it else.
void LogLimit(uint32_t clientAddress, uint32_t clientRecords)
{
    const DottedAddress address = Dotted(clientAddress);
    if (clientRecords >= static_cast<uint32_t>(MountsPerClient))
        LogEvent(1, "mountd: %s has %u mounts, no more are taken\n", address.text, clientRecords);
    else
        LogEvent(1, "mountd: the mount table is full (%u mounts), %s refused\n", Count, address.text);
}

// --- Host-name look-ups ------------------------------------------------------

volatile LONG LookupsRunning = 0;
HostAddressLookup Lookup = LookUpHostAddress;

struct HostLookupJob {
    MountRecord *record;
    uint32_t mountId;
    uint32_t address;
    HostAddressLookup lookup;
};

DWORD WINAPI HostLookupThread(LPVOID parameter)
{
    HostLookupJob *job = static_cast<HostLookupJob *>(parameter);
    char name[MOUNT_HOST_NAME_SIZE];
    name[0] = '\0';
    if (job->lookup(job->address, name, sizeof name) && name[0] != '\0') {
        LockTake(&MountLock);
        // The record may have been removed (and its memory reused) meanwhile:
        // only a record that is still listed with the same id and client
        // gets the name.
        MountRecord *record = FindByIdLocked(job->mountId);
        if (record == job->record && record->clientAddress == job->address)
            snprintf(record->hostName, sizeof record->hostName, "%s", name);
        LockGive(&MountLock);
    }
    free(job);
    InterlockedDecrement(&LookupsRunning);
    return 0;
}

void StartHostLookup(MountRecord *record, uint32_t mountId, uint32_t address, HostAddressLookup lookup)
{
    // A burst of mounts must not turn into a burst of threads that each wait
    // for a slow name server.
    if (InterlockedIncrement(&LookupsRunning) > MOUNT_MAX_HOST_LOOKUPS) {
        InterlockedDecrement(&LookupsRunning);
        return;
    }
    HostLookupJob *job = static_cast<HostLookupJob *>(malloc(sizeof(HostLookupJob)));
    if (job != nullptr) {
        job->record = record;
        job->mountId = mountId;
        job->address = address;
        job->lookup = lookup;
        HANDLE thread = CreateThread(nullptr, 0, HostLookupThread, job, 0, nullptr);
        if (thread != nullptr) {
            CloseHandle(thread);
            return;
        }
        free(job);
    }
    InterlockedDecrement(&LookupsRunning);
}

}  // namespace

MountRecord *MountTableHead()
{
    return Head;
}

uint32_t MountCount()
{
    LockTake(&MountLock);
    uint32_t count = Count;
    LockGive(&MountLock);
    return count;
}

uint32_t MountIdOf(uint32_t counter, uint32_t clientAddress, const char *path)
{
    char text[16 + EXPORT_PATH_SIZE + 1];
    int length = snprintf(text, sizeof text, "%8.8x%8.8x%s", counter, clientAddress, path);
    if (length < 0)
        length = 0;
    if (static_cast<size_t>(length) >= sizeof text)
        length = static_cast<int>(sizeof text - 1);
    return Crc32(text, static_cast<size_t>(length));
}

uint32_t StableMountId(uint32_t clientAddress, const char *path)
{
    char folded[EXPORT_PATH_SIZE];
    size_t length = 0;
    for (; path[length] != '\0' && length + 1 < sizeof folded; length++) {
        folded[length] = LowerAscii(path[length]);
    }
    folded[length] = '\0';
    return MountIdOf(0, clientAddress, folded);
}

int MountAddWithId(uint32_t clientAddress, uint32_t kind, const char *path, uint64_t inode, ExportEntry *exportEntry,
                   uint32_t volumeSerial, uint32_t maxNameLength, uint32_t flags, uint32_t wantedId,
                   uint32_t *mountId)
{
    if (path == nullptr || exportEntry == nullptr || exportEntry->path == nullptr)
        return MOUNT_ADD_FAILED;
    LockTake(&MountLock);

    int result = MOUNT_ADD_FAILED;
    uint32_t clientRecords = 0;
    MountRecord *record = FindClientRecordLocked(clientAddress, path, &clientRecords);
    if (record != nullptr) {
        bool changed = false;
        if (record->exportEntry != exportEntry) {
            // The folder is now reached through another export (the table was
            // reloaded): the own path is relative to that export's path.
            char *own = OwnPath(path, exportEntry);
            if (own == nullptr) {
                LockGive(&MountLock);
                return MOUNT_ADD_FAILED;
            }
            free(record->path);
            record->path = own;
            ReleaseExport(record->exportEntry);
            exportEntry->options.mountCount++;
            record->exportEntry = exportEntry;
            changed = true;
        }
        if (SetMountFacts(record, kind, inode, volumeSerial, maxNameLength, flags))
            changed = true;
        if (changed)
            RecordChanged(record);
        record->hostName[0] = '\0';
        result = MOUNT_ADD_REFRESHED;
    } else if (clientRecords >= static_cast<uint32_t>(MountsPerClient) || Count >= static_cast<uint32_t>(MountsMax)) {
        LockGive(&MountLock);
        LogLimit(clientAddress, clientRecords);
        return MOUNT_ADD_LIMIT;
    } else {
        record = static_cast<MountRecord *>(calloc(1, sizeof(MountRecord)));
        char *own = record != nullptr ? OwnPath(path, exportEntry) : nullptr;
        if (own == nullptr || !EnsureIndexes()) {
            free(own);
            free(record);
            LockGive(&MountLock);
            return MOUNT_ADD_FAILED;
        }
        uint32_t id = wantedId;
        while (FindByIdLocked(id) != nullptr)
            id += 13;
        record->self = record;
        record->clientAddress = clientAddress;
        SetMountFacts(record, kind, inode, volumeSerial, maxNameLength, flags);
        record->mountId = id;
        record->exportEntry = exportEntry;
        record->path = own;
        exportEntry->options.mountCount++;
        record->next = Head;
        if (Head != nullptr)
            Head->prev = record;
        Head = record;
        Count++;
        LinkIndexes(record);
        RecordChanged(record);
        result = MOUNT_ADD_NEW;
    }
    uint32_t id = record->mountId;
    HostAddressLookup lookup = Lookup;
    LockGive(&MountLock);

    if (mountId != nullptr)
        *mountId = id;
    StartHostLookup(record, id, clientAddress, lookup);
    return result;
}

int MountAdd(uint32_t clientAddress, uint32_t kind, const char *path, uint64_t inode, ExportEntry *exportEntry,
             uint32_t volumeSerial, uint32_t maxNameLength, uint32_t flags, uint32_t *mountId)
{
    if (path == nullptr)
        return MOUNT_ADD_FAILED;
    return MountAddWithId(clientAddress, kind, path, inode, exportEntry, volumeSerial, maxNameLength, flags,
                          StableMountId(clientAddress, path), mountId);
}

int MountRemove(MountRecord *record)
{
    LockTake(&MountLock);
    int removed = IsListedLocked(record) ? 1 : 0;
    if (removed)
        RemoveRecordLocked(record);
    LockGive(&MountLock);
    return removed;
}

int MountRemoveClient(uint32_t clientAddress, const char *path, uint32_t kind)
{
    LockTake(&MountLock);
    int removed = 0;
    if (ByClient.size != 0) {
        MountRecord *record = ClientChain(clientAddress);
        while (record != nullptr) {
            MountRecord *next = record->clientNext;
            bool match = record->clientAddress == clientAddress &&
                         (kind == 0 || (record->kind & MOUNT_KIND_TRANSPORT) == kind) &&
                         (path == nullptr || SameTextNoCase(RecordPath(record), path));
            if (match) {
                RemoveRecordLocked(record);
                removed++;
                if (path != nullptr)
                    break;
            }
            record = next;
        }
    }
    LockGive(&MountLock);
    return removed;
}

AutoMountFunction AutoMountWork = nullptr;

int AutoMount(uint32_t clientAddress, const char *windowsPath, const ExportContext *context, uint64_t *inode,
              uint32_t *mountId)
{
    return AutoMountWork != nullptr && AutoMountWork(clientAddress, windowsPath, context, inode, mountId);
}

int ExportContextById(uint32_t mountId, ExportContext *context)
{
    LockTake(&MountLock);
    MountRecord *record = FindByIdLocked(mountId);
    if (record != nullptr) {
        context->maxNameLength = record->maxNameLength;
        context->volumeSerial = record->volumeSerial;
        context->flags = record->flags;
        context->kind = record->kind;
        context->exportEntry = record->exportEntry;
        // Every request comes here under the lock: a plain copy, no format.
        const char *root = RecordPath(record);
        size_t length = strlen(root);
        if (length >= sizeof context->path)
            length = sizeof context->path - 1;
        memcpy(context->path, root, length);
        context->path[length] = '\0';
    }
    LockGive(&MountLock);
    return record != nullptr ? 1 : 0;
}

void MarkMountTcp(uint32_t clientAddress, const ExportEntry *exportEntry)
{
    LockTake(&MountLock);
    if (ByClient.size != 0) {
        for (MountRecord *record = ClientChain(clientAddress); record != nullptr; record = record->clientNext) {
            if (record->clientAddress == clientAddress && record->exportEntry == exportEntry &&
                (record->kind & MOUNT_KIND_TRANSPORT) != MOUNT_KIND_TCP) {
                record->kind = (record->kind & ~MOUNT_KIND_TRANSPORT) | MOUNT_KIND_TCP;
                RecordChanged(record);
            }
        }
    }
    LockGive(&MountLock);
}

MountRecord *MountFindLocked(uint32_t mountId)
{
    return FindByIdLocked(mountId);
}

size_t MountTakeChanges(MountTabChange *out, size_t max, bool *overflowed)
{
    LockAssertHeld(&MountLock);
    *overflowed = ChangesLost;
    size_t taken = ChangeCount < max ? ChangeCount : max;
    if (taken > 0)
        memcpy(out, Changes, taken * sizeof(MountTabChange));
    if (taken < ChangeCount)
        memmove(Changes, Changes + taken, (ChangeCount - taken) * sizeof(MountTabChange));
    ChangeCount -= taken;
    return taken;
}

void MountForgetChanges()
{
    LockAssertHeld(&MountLock);
    ChangeCount = 0;
    ChangesLost = false;
}

void MountLoseChanges()
{
    LockAssertHeld(&MountLock);
    ChangeCount = 0;
    ChangesLost = true;
}

void MountTableFree()
{
    LockTake(&MountLock);
    while (Head != nullptr) {
        MountRecord *record = Head;
        Head = record->next;
        free(record->path);
        free(record);
    }
    Count = 0;
    free(ById.chains);
    free(ByClient.chains);
    ById = Index();
    ByClient = Index();
    free(Changes);
    Changes = nullptr;
    ChangeCount = 0;
    ChangesLost = true;
    LockGive(&MountLock);
}

// --- Host names ------------------------------------------------------------------

HostAddressLookup SetHostAddressLookup(HostAddressLookup lookup)
{
    LockTake(&MountLock);
    HostAddressLookup previous = Lookup;
    Lookup = lookup != nullptr ? lookup : LookUpHostAddress;
    LockGive(&MountLock);
    return previous;
}

int LookUpHostAddress(uint32_t address, char *name, size_t size)
{
    if (size == 0)
        return 0;
    struct hostent *host = gethostbyaddr(reinterpret_cast<const char *>(&address), 4, AF_INET);
    if (host == nullptr || host->h_name == nullptr || host->h_name[0] == '\0')
        return 0;
    snprintf(name, size, "%s", host->h_name);
    return 1;
}

int MountHostLookupsRunning()
{
    return static_cast<int>(InterlockedCompareExchange(&LookupsRunning, 0, 0));
}

int MountWaitHostLookups(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (MountHostLookupsRunning() > 0) {
        if (GetTickCount() - start >= milliseconds)
            return 0;
        Sleep(5);
    }
    return 1;
}

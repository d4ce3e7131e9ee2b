// The mount table: records, mount ids, the id cache and the containment check.
#include "mount/mount_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/checksum.h"
#include "mount/mount_text.h"

CRITICAL_SECTION MountLock;

namespace {

// 0 not initialised, 1 being initialised, 2 ready.
volatile LONG LockState = 0;

MountRecord *Head = nullptr;
MountRecord *IdCache[MOUNT_ID_CACHE_SLOTS];
// Source of new mount ids; starts at 0 with every process.
uint32_t IdCounter = 0;

const char *RecordPath(const MountRecord *record)
{
    return record->path[0] != '\0' ? record->path : record->exportEntry->path;
}

MountRecord *FindByIdLocked(uint32_t mountId)
{
    MountRecord *cached = IdCache[mountId & 0xFFu];
    if (cached != nullptr && cached->mountId == mountId)
        return cached;
    for (MountRecord *record = Head; record != nullptr; record = record->next) {
        if (record->mountId == mountId) {
            IdCache[mountId & 0xFFu] = record;
            return record;
        }
    }
    return nullptr;
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

// What a mount (new or refreshed) knows of the mounted folder.
void SetMountFacts(MountRecord *record, uint32_t kind, uint64_t inode, uint32_t volumeSerial,
                   uint32_t maxNameLength, uint32_t flags)
{
    record->kind = kind;
    record->inode = inode;
    record->volumeSerial = volumeSerial;
    record->maxNameLength = maxNameLength;
    record->flags = flags;
}

void ReleaseExport(ExportEntry *exportEntry)
{
    if (exportEntry != nullptr && exportEntry->options.mountCount > 0)
        exportEntry->options.mountCount--;
}

// Unlinks nothing: the caller has taken the record out of the list.
void FreeRecordLocked(MountRecord *record)
{
    ReleaseExport(record->exportEntry);
    if (IdCache[record->mountId & 0xFFu] == record)
        IdCache[record->mountId & 0xFFu] = nullptr;
    free(record->path);
    free(record);
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
        EnterCriticalSection(&MountLock);
        // The record may have been removed (and its memory reused) meanwhile:
        // only a record that is still listed with the same id and client
        // gets the name.
        for (MountRecord *record = Head; record != nullptr; record = record->next) {
            if (record == job->record && record->mountId == job->mountId && record->clientAddress == job->address) {
                snprintf(record->hostName, sizeof record->hostName, "%s", name);
                break;
            }
        }
        LeaveCriticalSection(&MountLock);
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

void MountTableInit()
{
    for (;;) {
        LONG state = InterlockedCompareExchange(&LockState, 1, 0);
        if (state == 2)
            return;
        if (state == 0) {
            InitializeCriticalSection(&MountLock);
            InterlockedExchange(&LockState, 2);
            return;
        }
        Sleep(0);
    }
}

MountRecord *MountTableHead()
{
    return Head;
}

uint32_t MountCount()
{
    MountTableInit();
    uint32_t count = 0;
    EnterCriticalSection(&MountLock);
    for (MountRecord *record = Head; record != nullptr; record = record->next)
        count++;
    LeaveCriticalSection(&MountLock);
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

int MountAdd(uint32_t clientAddress, uint32_t kind, const char *path, uint64_t inode, ExportEntry *exportEntry,
             uint32_t volumeSerial, uint32_t maxNameLength, uint32_t flags, uint32_t *mountId)
{
    if (path == nullptr || exportEntry == nullptr || exportEntry->path == nullptr)
        return MOUNT_ADD_FAILED;
    MountTableInit();
    EnterCriticalSection(&MountLock);

    int result = MOUNT_ADD_FAILED;
    MountRecord *record = nullptr;
    for (record = Head; record != nullptr; record = record->next) {
        if (record->clientAddress == clientAddress && SameTextNoCase(RecordPath(record), path))
            break;
    }
    if (record != nullptr) {
        if (record->exportEntry != exportEntry) {
            // The folder is now reached through another export (the table was
            // reloaded): the own path is relative to that export's path.
            char *own = OwnPath(path, exportEntry);
            if (own == nullptr) {
                LeaveCriticalSection(&MountLock);
                return MOUNT_ADD_FAILED;
            }
            free(record->path);
            record->path = own;
            ReleaseExport(record->exportEntry);
            exportEntry->options.mountCount++;
            record->exportEntry = exportEntry;
        }
        SetMountFacts(record, kind, inode, volumeSerial, maxNameLength, flags);
        record->hostName[0] = '\0';
        IdCache[record->mountId & 0xFFu] = record;
        result = MOUNT_ADD_REFRESHED;
    } else {
        record = static_cast<MountRecord *>(calloc(1, sizeof(MountRecord)));
        char *own = record != nullptr ? OwnPath(path, exportEntry) : nullptr;
        if (own == nullptr) {
            free(record);
            LeaveCriticalSection(&MountLock);
            return MOUNT_ADD_FAILED;
        }
        uint32_t id = MountIdOf(IdCounter++, clientAddress, path);
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
        Head = record;
        IdCache[id & 0xFFu] = record;
        result = MOUNT_ADD_NEW;
    }
    uint32_t id = record->mountId;
    HostAddressLookup lookup = Lookup;
    LeaveCriticalSection(&MountLock);

    if (mountId != nullptr)
        *mountId = id;
    StartHostLookup(record, id, clientAddress, lookup);
    return result;
}

int MountRemove(MountRecord *record)
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
    int removed = 0;
    for (MountRecord **link = &Head; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            FreeRecordLocked(record);
            removed = 1;
            break;
        }
    }
    LeaveCriticalSection(&MountLock);
    return removed;
}

int MountRemoveClient(uint32_t clientAddress, const char *path, uint32_t kind)
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
    int removed = 0;
    MountRecord **link = &Head;
    while (*link != nullptr) {
        MountRecord *record = *link;
        bool match = record->clientAddress == clientAddress &&
                     (kind == 0 || (record->kind & MOUNT_KIND_TRANSPORT) == kind) &&
                     (path == nullptr || SameTextNoCase(RecordPath(record), path));
        if (!match) {
            link = &record->next;
            continue;
        }
        *link = record->next;
        FreeRecordLocked(record);
        removed++;
        if (path != nullptr)
            break;
    }
    LeaveCriticalSection(&MountLock);
    return removed;
}

int ExportContextById(uint32_t mountId, ExportContext *context)
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
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
    LeaveCriticalSection(&MountLock);
    return record != nullptr ? 1 : 0;
}

void MarkMountTcp(uint32_t mountId)
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
    for (MountRecord *record = Head; record != nullptr; record = record->next) {
        if (record->mountId == mountId)
            record->kind = (record->kind & ~MOUNT_KIND_TRANSPORT) | MOUNT_KIND_TCP;
    }
    LeaveCriticalSection(&MountLock);
}

void MountTableFree()
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
    while (Head != nullptr) {
        MountRecord *record = Head;
        Head = record->next;
        free(record->path);
        free(record);
    }
    memset(IdCache, 0, sizeof IdCache);
    IdCounter = 0;
    LeaveCriticalSection(&MountLock);
}

// --- Host names ------------------------------------------------------------------

HostAddressLookup SetHostAddressLookup(HostAddressLookup lookup)
{
    MountTableInit();
    EnterCriticalSection(&MountLock);
    HostAddressLookup previous = Lookup;
    Lookup = lookup != nullptr ? lookup : LookUpHostAddress;
    LeaveCriticalSection(&MountLock);
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

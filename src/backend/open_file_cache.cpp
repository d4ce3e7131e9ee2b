// The open-file cache.
//
// One process-wide lock guards the busy flags, the choice of entries, the
// lock counts and the list of caches; no file operation runs under it.  An
// entry is used by one request at a time: the request that set busy uses the
// handle outside the lock and ends with CacheRelease or CacheClose.  Whoever
// finds the entry busy waits (yielding) until it is free again.
//
// Entries with locks: closing a handle drops the Windows locks taken through
// it, so an entry whose lock count is not 0 keeps its handle until the lock
// manager lowers the count (unlock, free-all) or the service stops.  The
// sweeper skips it, an invalidation leaves its handle open and only forgets
// its attributes (the handle shares read, write and delete, so Windows can
// still rename, delete or resize the file), and CacheClose hands it to the
// lock manager's release hook before closing.
#include "backend/open_file_cache.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "log/log.h"
#include "platform/ranked_lock.h"

namespace {

// How long an entry without locks may stay idle, and how often the sweeper
// looks (an idle handle is closed after one to two seconds).
const uint32_t kIdleLimit = 1000;
const uint32_t kSweepPeriod = 1000;

struct CacheState {
    RankedLock lock{LOCK_RANK_LEAF, "open-file cache"};
    std::vector<ExportOptions *> caches;  // every allocated cache
    bool closing;                         // CacheCloseAll is running or has run
    HANDLE sweeper;
    HANDLE wake;                          // set to stop the sweeper
    volatile LONG stop;
    CacheLockRelease release;
};

CacheState &State()
{
    static CacheState *state = [] {
        CacheState *s = new CacheState();
        s->closing = false;
        s->sweeper = nullptr;
        s->wake = nullptr;
        s->stop = 0;
        s->release = nullptr;
        return s;
    }();
    return *state;
}

struct Locked : LockGuard {
    Locked() : LockGuard(State().lock) {}
};

// A last use of 0 means "none", so a tick count of 0 is taken as 1.
uint32_t Now()
{
    uint32_t now = GetTickCount();
    return now != 0 ? now : 1;
}

bool Holds(const CacheEntry &e, uint64_t inode) { return e.inode == inode && e.handle != INVALID_HANDLE_VALUE; }

// Yields while another request has an entry busy.  Called without the lock.
void WaitABit(unsigned *rounds)
{
    Sleep(++*rounds < 64 ? 0 : 1);
}

void EmptyEntry(CacheEntry *e)
{
    memset(&e->attributes, 0, sizeof e->attributes);
    e->inode = 0;
    e->handle = INVALID_HANDLE_VALUE;
    e->lockCount = 0;
    e->lastUse = 0;
    e->level = 0;
    e->dirty = 0;
    e->busy = 0;
}

// Makes the entry of inode busy, waiting while another request holds it.
// With the lock held on entry and on return; null when no entry holds inode.
CacheEntry *TakeEntryOf(ExportOptions *options, uint64_t inode)
{
    unsigned rounds = 0;
    for (;;) {
        if (options->cache == nullptr)
            return nullptr;
        CacheEntry *found = nullptr;
        for (uint32_t i = 0; i < options->cacheSize; i++) {
            if (Holds(options->cache[i], inode)) {
                found = &options->cache[i];
                break;
            }
        }
        if (found == nullptr)
            return nullptr;
        if (!found->busy) {
            found->busy = 1;
            return found;
        }
        LockGive(&State().lock);
        WaitABit(&rounds);
        LockTake(&State().lock);
    }
}

DWORD SweeperThread(LPVOID)
{
    CacheState &s = State();
    while (InterlockedCompareExchange(&s.stop, 0, 0) == 0) {
        WaitForSingleObject(s.wake, kSweepPeriod);
        if (InterlockedCompareExchange(&s.stop, 0, 0) != 0)
            break;
        CacheSweep(GetTickCount());
    }
    return 0;
}

} // namespace

void CacheAllocate(ExportOptions *options)
{
    uint32_t size = options->cacheSize > CACHE_MAX_ENTRIES ? CACHE_MAX_ENTRIES : options->cacheSize;
    CacheEntry *entries = size != 0 ? static_cast<CacheEntry *>(calloc(size, sizeof(CacheEntry))) : nullptr;
    if (entries == nullptr)
        size = 0;
    for (uint32_t i = 0; i < size; i++)
        EmptyEntry(&entries[i]);
    Locked held;
    options->cacheSize = size;
    options->cacheCursor = 0;
    options->cache = entries;
    if (entries != nullptr)
        State().caches.push_back(options);
}

void CacheFree(ExportOptions *options)
{
    CacheEntry *entries = nullptr;
    {
        Locked held;
        std::vector<ExportOptions *> &list = State().caches;
        for (size_t i = 0; i < list.size(); i++) {
            if (list[i] == options) {
                list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
        entries = options->cache;
    }
    if (entries == nullptr)
        return;
    for (uint32_t i = 0; i < options->cacheSize; i++) {
        LockTake(&State().lock);
        CacheEntry *e = TakeEntryOf(options, entries[i].inode);
        LockGive(&State().lock);
        if (e != nullptr)
            CacheClose(e);
    }
    Locked held;
    options->cache = nullptr;
    free(entries);
}

CacheEntry *CacheLookup(ExportOptions *options, uint64_t inode, uint32_t level, HANDLE *handle,
                        FileAttributes *attributes)
{
    if (inode == 0)
        return nullptr;
    HANDLE stale = INVALID_HANDLE_VALUE;
    {
        Locked held;
        if (State().closing)
            return nullptr;
        CacheEntry *e = TakeEntryOf(options, inode);
        if (e == nullptr)
            return nullptr;
        if (e->level >= level) {
            e->lastUse = Now();
            *handle = e->handle;
            if (attributes != nullptr)
                *attributes = e->attributes;
            return e;
        }
        if (e->lockCount != 0) {
            // Opened for reading and holding locks: it keeps its handle; the
            // caller opens one of its own for writing.
            e->busy = 0;
            return nullptr;
        }
        stale = e->handle;
        EmptyEntry(e);
    }
    // Opened for reading, writing wanted: the read handle goes.
    CloseHandle(stale);
    return nullptr;
}

CacheEntry *CacheInsert(ExportOptions *options, uint64_t inode, HANDLE handle, uint32_t level)
{
    if (inode == 0 || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    Locked held;
    if (State().closing || options->cache == nullptr || options->cacheSize == 0)
        return nullptr;
    // Another request may have cached the file meanwhile: then this handle
    // stays the caller's own, so one file never has two entries.
    for (uint32_t i = 0; i < options->cacheSize; i++) {
        if (Holds(options->cache[i], inode))
            return nullptr;
    }
    for (uint32_t step = 0; step < options->cacheSize; step++) {
        uint32_t at = options->cacheCursor;
        options->cacheCursor = at + 1 < options->cacheSize ? at + 1 : 0;
        CacheEntry *e = &options->cache[at];
        if (e->busy || e->inode != 0 || e->handle != INVALID_HANDLE_VALUE)
            continue;
        e->busy = 1;
        e->inode = inode;
        e->handle = handle;
        e->level = static_cast<uint8_t>(level);
        e->lockCount = 0;
        e->dirty = 0;
        e->lastUse = Now();
        e->judgedAt = GetTickCount();
        memset(&e->attributes, 0, sizeof e->attributes);
        return e;
    }
    return nullptr;
}

void CacheRelease(CacheEntry *entry, const FileAttributes *attributes)
{
    Locked held;
    if (attributes != nullptr)
        entry->attributes = *attributes;
    entry->lastUse = Now();
    entry->busy = 0;
}

void CacheClose(CacheEntry *entry)
{
    CacheLockRelease release = nullptr;
    {
        Locked held;
        if (entry->lockCount != 0)
            release = State().release;
    }
    // The lock manager takes its own lock: never under the cache lock.
    if (release != nullptr)
        release(entry);
    HANDLE handle = entry->handle;
    // Data written without a flush reaches the disk before its handle goes,
    // so a later COMMIT that finds no handle has nothing left to flush.
    if (entry->dirty && handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(handle))
        LogLine(1, "nfs_cache flush error %u %llu\n", static_cast<unsigned>(GetLastError()),
                static_cast<unsigned long long>(entry->inode));
    {
        Locked held;
        EmptyEntry(entry);
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

bool CacheCloseUnlessLocked(CacheEntry *entry, const FileAttributes *attributes)
{
    {
        Locked held;
        if (entry->lockCount != 0) {
            if (attributes != nullptr)
                entry->attributes = *attributes;
            else
                memset(&entry->attributes, 0, sizeof entry->attributes);
            entry->lastUse = Now();
            entry->busy = 0;
            return false;
        }
    }
    CacheClose(entry);
    return true;
}

void CacheInvalidate(ExportOptions *options, uint64_t inode)
{
    if (inode == 0)
        return;
    CacheEntry *e = nullptr;
    {
        Locked held;
        e = TakeEntryOf(options, inode);
        if (e == nullptr)
            return;
    }
    CacheCloseUnlessLocked(e, nullptr);
}

int16_t CacheAdjustLockCount(CacheEntry *entry, int delta)
{
    Locked held;
    int count = entry->lockCount + delta;
    entry->lockCount = static_cast<int16_t>(count < 0 ? 0 : count > 0x7FFF ? 0x7FFF : count);
    entry->lastUse = Now();
    return entry->lockCount;
}

uint32_t CacheSweep(uint32_t now)
{
    std::vector<CacheEntry *> idle;
    {
        Locked held;
        for (ExportOptions *options : State().caches) {
            for (uint32_t i = 0; i < options->cacheSize; i++) {
                CacheEntry *e = &options->cache[i];
                if (e->inode == 0 || e->handle == INVALID_HANDLE_VALUE || e->busy || e->lastUse == 0 ||
                    e->lockCount != 0)
                    continue;
                if (static_cast<uint32_t>(now - e->lastUse) <= kIdleLimit)
                    continue;
                e->busy = 1;
                idle.push_back(e);
            }
        }
    }
    // Every write through these handles has returned (each was released), so
    // closing them drops nothing.
    for (CacheEntry *e : idle)
        CacheClose(e);
    return static_cast<uint32_t>(idle.size());
}

void CacheStart()
{
    CacheState &s = State();
    {
        Locked held;
        s.closing = false;
        if (s.sweeper != nullptr)
            return;
        InterlockedExchange(&s.stop, 0);
        if (s.wake == nullptr)
            s.wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        else
            ResetEvent(s.wake);
        s.sweeper = CreateThread(nullptr, 0, SweeperThread, nullptr, 0, nullptr);
    }
}

void CacheCloseAll()
{
    CacheState &s = State();
    HANDLE sweeper = nullptr;
    {
        Locked held;
        s.closing = true;
        sweeper = s.sweeper;
        s.sweeper = nullptr;
    }
    if (sweeper != nullptr) {
        InterlockedExchange(&s.stop, 1);
        SetEvent(s.wake);
        WaitForSingleObject(sweeper, INFINITE);
        CloseHandle(sweeper);
    }
    // No new entries from here on; wait for each request still using one.
    std::vector<ExportOptions *> caches;
    {
        Locked held;
        caches = s.caches;
    }
    for (ExportOptions *options : caches) {
        for (uint32_t i = 0; i < options->cacheSize; i++) {
            CacheEntry *e = nullptr;
            {
                Locked held;
                e = TakeEntryOf(options, options->cache[i].inode);
                if (e != nullptr && e != &options->cache[i]) {
                    // Cannot happen (one entry per inode); keep it busy-free.
                    e->busy = 0;
                    e = nullptr;
                }
            }
            if (e != nullptr)
                CacheClose(e);
        }
    }
}

void CacheSetLockRelease(CacheLockRelease release)
{
    Locked held;
    State().release = release;
}

uint32_t CacheOpenHandles(const ExportOptions *options)
{
    Locked held;
    uint32_t count = 0;
    for (uint32_t i = 0; options->cache != nullptr && i < options->cacheSize; i++) {
        if (options->cache[i].handle != INVALID_HANDLE_VALUE)
            count++;
    }
    return count;
}

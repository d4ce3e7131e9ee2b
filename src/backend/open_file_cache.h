// The open-file cache: per export, a small table of open Windows handles keyed
// by inode, shared by reads, writes, commits, attribute reads and the lock
// manager (which holds byte-range locks through these handles).  A sweeper
// thread closes handles that have been idle for a second; a handle through
// which locks are held stays open until the locks are gone or the service
// stops (closing it would drop them).
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "exports/export_entry.h"
#include "platform/win32.h"

// Entries one export's cache can have.
#define CACHE_MAX_ENTRIES 256u

// A cached handle was judged inside its export when it was opened (by a
// request that judged the object on disk first); a request that uses it
// looks again where it lies once this long has passed since.
#define CACHE_JUDGED_MS 1000u

// Access an entry's handle was opened with.
enum CacheLevel : uint32_t {
    CACHE_LEVEL_READ = 0,   // reading
    CACHE_LEVEL_WRITE = 1,  // reading and writing
};

// One open Windows handle of an export's cache.  Only the request that made
// the entry busy may use, release or close it.
struct CacheEntry {
    uint64_t inode;             // inode (file ID in file id mode) of the open file; 0 = empty
    HANDLE handle;              // INVALID_HANDLE_VALUE = none
    int16_t lockCount;          // lock manager slots that refer to this entry (CacheAdjustLockCount)
    uint8_t busy;               // in use by one request
    uint8_t level;              // CacheLevel of the handle
    uint8_t dirty;              // written since the last flush; touched only by the busy holder
    uint32_t lastUse;           // GetTickCount of the last use; 0 = none
    uint32_t judgedAt;          // GetTickCount when the handle was last found inside its export
    FileAttributes attributes;  // as of the last use; type 0 = not known
};

// Gives an export's options record its cache of options->cacheSize entries
// (cut to CACHE_MAX_ENTRIES); without memory the size becomes 0 and the
// export runs without cache.  CacheFree closes and frees it.
void CacheAllocate(ExportOptions *options);
void CacheFree(ExportOptions *options);

// The busy entry holding inode with a handle opened at least at level, with
// the handle and a copy of the attributes; null when there is none.  The
// caller ends its use with CacheRelease or CacheClose.
CacheEntry *CacheLookup(ExportOptions *options, uint64_t inode, uint32_t level, HANDLE *handle,
                        FileAttributes *attributes);
// Puts a handle the caller opened into the cache as a busy entry; null when
// the cache has no room (the caller then closes the handle after use).
CacheEntry *CacheInsert(ExportOptions *options, uint64_t inode, HANDLE handle, uint32_t level);
// Stores the attributes and ends the caller's use of the entry.
void CacheRelease(CacheEntry *entry, const FileAttributes *attributes);
// Releases the entry's locks (through the lock release hook), closes its
// handle and empties it.
void CacheClose(CacheEntry *entry);
// Ends the caller's use of an entry whose handle should go (an error, an
// invalidation): an entry holding locks keeps its handle (closing it would
// drop the locks) and is released with attributes (none known when null);
// any other is closed.  True when it was closed.
bool CacheCloseUnlessLocked(CacheEntry *entry, const FileAttributes *attributes);
// Closes the cached handle of inode, so that Windows can rename, delete or
// change the file; called before every change of the namespace or of
// attributes.  An entry holding locks keeps its handle (it shares read,
// write and delete, so the change still succeeds) and forgets its
// attributes.
void CacheInvalidate(ExportOptions *options, uint64_t inode);
// For the lock manager, which holds the entry busy: adds delta to its lock
// count (kept between 0 and 32767) under the cache lock and marks it used.
// Returns the new count.  An entry with locks is never closed by the
// sweeper or an invalidation.
int16_t CacheAdjustLockCount(CacheEntry *entry, int delta);
// One pass of the sweeper at tick count now: closes every entry without
// locks that nobody uses and that has been idle for more than a second.
// Returns the number closed.
uint32_t CacheSweep(uint32_t now);
// The entries of an export's cache that hold a handle.
uint32_t CacheOpenHandles(const ExportOptions *options);

// Starts the sweeper thread (a pass every second); CacheCloseAll stops it,
// waits for every request still using an entry and closes every entry of
// every export (at the service stop).  From CacheCloseAll until the next
// CacheStart nothing is cached: requests use handles of their own.
void CacheStart();
void CacheCloseAll();

// The lock manager's release of every lock held through an entry that is
// being closed.  Set by the lock manager when it starts (null = no locks).
typedef void (*CacheLockRelease)(CacheEntry *entry);
void CacheSetLockRelease(CacheLockRelease release);

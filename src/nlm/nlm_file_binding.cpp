// The lock table's files are entries of the open-file cache.
//
// A request holds its entry busy from acquire to release, so the handle
// stays open while the table works with it; locks the table keeps beyond
// that raise the entry's lock count (the table's refer), which the sweeper
// and every invalidation respect, and whoever closes an entry with locks
// calls NlmReleaseFile first.  The table's own lock is taken before the
// cache lock (refer), never the other way round.
#include "nlm/nlm_file_binding.h"

#include <cstring>

#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "backend/file_data.h"
#include "backend/open_file_cache.h"
#include "backend/unix_mode.h"
#include "exports/export_context.h"
#include "exports/export_table.h"
#include "fs/file_handle.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "nlm/nlm_handle_locks.h"

namespace {

CacheEntry *EntryOf(void *file)
{
    return static_cast<CacheEntry *>(file);
}

// The caller's identity: AUTH_UNIX as sent, anything else nobody.
void CallerOf(const AuthUnix *from, AuthUnix *caller)
{
    memset(caller, 0, sizeof *caller);
    if (from != nullptr) {
        caller->stamp = from->stamp;
        caller->uid = from->uid;
        caller->gid = from->gid;
        caller->gid_count = from->gid_count <= AUTH_UNIX_MAX_GROUPS ? from->gid_count : AUTH_UNIX_MAX_GROUPS;
        memcpy(caller->gid_list, from->gid_list, caller->gid_count * sizeof(uint32_t));
        memcpy(caller->name, from->name, sizeof caller->name);
        caller->name[sizeof caller->name - 1] = '\0';
    } else {
        caller->uid = NOBODY_ID;
        caller->gid = NOBODY_ID;
    }
    caller->machinename = caller->name;
    caller->gids = caller->gid_list;
}

// The handle of a request: versions 1 and 3 carry an NFS version 2 handle
// (32 bytes), version 4 an NFS version 3 handle.
bool HandleOf(const NlmFileRequest *request, FileHandle *handle)
{
    const NlmLock *lock = request->lock;
    if (request->version != 4 && lock->fhLength != FILE_HANDLE_SIZE)
        return false;
    return DecodeHandle(lock->fh, lock->fhLength, handle) != 0;
}

// Opens the file for a lock, for reading and writing: only a caller that may
// write the file may lock it (root and the owner whatever the mode).  On a
// read-only export (shared locks only) for reading, by a caller that may read.
HANDLE OpenForLock(const char *path, uint32_t mode, uint32_t bits, bool readOnly)
{
    const bool ownerOrRoot = bits > 070u;
    if (readOnly && (bits & mode & 0444u) != 0)
        return FsCreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (readOnly || (!ownerOrRoot && (bits & mode & 0222u) == 0)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return OpenFileForWriting(path, ownerOrRoot, "nlm_lock");
}

// A file without an entry: checked, opened and put into the cache.
uint32_t OpenEntry(ExportContext *context, uint64_t inode, const NlmFileRequest *request, CacheEntry **entry)
{
    const bool readOnly = (context->flags & EXPORT_READONLY) != 0;
    char *path = new char[EXPORT_PATH_SIZE];
    uint32_t stat = NLM_GRANTED;
    AuthUnix caller;
    CallerOf(request->credentials, &caller);
    FileAttributes attributes;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Inside the export as the file really lies on disk: no link on the way.
    if (PathOfHandle(context, inode, path) == nullptr || CheckContainment(path, context) != 0 ||
        CheckRealContainment(path, context, LINK_FOLLOWED) != 0) {
        stat = NLM_STALE_FH;
    } else {
        MapCredentials(context, &caller);
        if (GetAttributes(inode, context, path, &attributes, &caller) != 0 || attributes.type != FILE_TYPE_REGULAR) {
            stat = NLM_FAILED;
        } else {
            handle = OpenForLock(path, attributes.mode, AccessBits(context, &caller), readOnly);
            if (handle == INVALID_HANDLE_VALUE) {
                LogLine(2, "%s nlm_lock open error %u %llu path %s\n", LogTimestamp(),
                        static_cast<unsigned>(GetLastError()), static_cast<unsigned long long>(inode), path);
                stat = NLM_FAILED;
            } else if (CheckOpenedContainment(handle, path, context) != 0) {
                // A folder on the way was swapped since the check: what was
                // opened lies elsewhere, and is never locked.
                CloseHandle(handle);
                handle = INVALID_HANDLE_VALUE;
                stat = NLM_STALE_FH;
            }
        }
    }
    delete[] path;
    if (stat != NLM_GRANTED)
        return stat;
    ExportOptions *options = &context->exportEntry->options;
    const CacheLevel level = readOnly ? CACHE_LEVEL_READ : CACHE_LEVEL_WRITE;
    *entry = CacheInsert(options, inode, handle, level);
    if (*entry != nullptr)
        return NLM_GRANTED;
    // Another request cached the file meanwhile (its entry is the one locks
    // go through), or the cache has no room: locks cannot be kept without
    // an entry, since closing this handle would drop them.
    CloseHandle(handle);
    HANDLE cached;
    *entry = CacheLookup(options, inode, level, &cached, nullptr);
    return *entry != nullptr ? static_cast<uint32_t>(NLM_GRANTED) : static_cast<uint32_t>(NLM_DENIED_NOLOCKS);
}

uint32_t Acquire(const NlmFileRequest *request, bool open, void **file)
{
    *file = nullptr;
    FileHandle handle;
    ExportContext *context = new ExportContext;
    uint32_t stat = NLM_GRANTED;
    if (!HandleOf(request, &handle) || !HandleContext(&handle, context) || context->exportEntry == nullptr) {
        stat = NLM_STALE_FH;
    } else if (!ExportAdmits(context->exportEntry, request->client)) {
        stat = NLM_FAILED;
    } else {
        uint64_t inode = ResolveHandle(&handle, context);
        // A file removed while locked is no entry of the inode table any
        // more, but its cache entry (keyed by the handle's inode) still
        // holds the locks: TEST, UNLOCK and CANCEL find it that way.
        if (inode == 0 && !open && HandleContext(&handle, context) && context->exportEntry != nullptr)
            inode = handle.inode;
        const bool readOnly = (context->flags & EXPORT_READONLY) != 0;
        if (inode == 0) {
            stat = NLM_STALE_FH;
        } else if (open && readOnly && request->exclusive) {
            stat = NLM_ROFS;  // a read-only export takes shared locks only
        } else {
            // Locks are taken through a handle open for writing, so that the
            // NFS service's writes, which use the same cached handle, pass
            // them (a cached handle for reading only is closed for a new
            // one).  TEST, UNLOCK and CANCEL take whatever entry there is: a
            // file without one holds no locks.
            HANDLE cached;
            CacheEntry *entry = CacheLookup(&context->exportEntry->options, inode,
                                            open && !readOnly ? CACHE_LEVEL_WRITE : CACHE_LEVEL_READ, &cached,
                                            nullptr);
            if (entry == nullptr && open)
                stat = OpenEntry(context, inode, request, &entry);
            *file = entry;
        }
    }
    delete context;
    return stat;
}

void Release(void *file)
{
    if (file != nullptr)
        CacheRelease(EntryOf(file), nullptr);
}

// The table calls these under its lock while the entry is busy or holds
// locks, so its handle is open.
bool LockRange(void *file, uint64_t first, uint64_t last)
{
    return NlmLockHandleRange(EntryOf(file)->handle, first, last);
}

void UnlockRange(void *file, uint64_t first, uint64_t last)
{
    NlmUnlockHandleRange(EntryOf(file)->handle, first, last);
}

void Refer(void *file, int delta)
{
    CacheAdjustLockCount(EntryOf(file), delta);
}

void ReleaseEntry(CacheEntry *entry)
{
    NlmReleaseFile(entry);
}

const NlmFileBinding Binding = {Acquire, Release, {LockRange, UnlockRange, Refer}};

}  // namespace

const NlmFileBinding *NlmOpenFileBinding(void)
{
    return &Binding;
}

void NlmBindOpenFileCache(void)
{
    NlmSetFileBinding(&Binding);
    CacheSetLockRelease(ReleaseEntry);
}

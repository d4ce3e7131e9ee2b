// READ, WRITE and COMMIT through the open-file cache.
//
// Every request checks type and access, on a cache hit as on a miss: the
// cached attributes carry the mode, so a hit costs no extra system call.
// Transfers name their offset in an OVERLAPPED record (one positioned call
// instead of a seek and a transfer).  Data written without a flush is
// flushed before its handle closes (see CacheClose), so a COMMIT that finds
// no open handle has nothing left to flush.
#include <cstring>

#include "backend/credentials.h"
#include "backend/file_data.h"
#include "backend/file_data_internal.h"
#include "backend/open_file_cache.h"
#include "backend/posix_access.h"
#include "backend/unix_mode.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The handle a request works through: a busy cache entry's, or its own.
struct RequestFile {
    CacheEntry *entry;
    HANDLE handle;
    bool dirty;  // written through an uncached handle and not flushed
};

ExportOptions *OptionsOf(DataRequest *request) { return &request->context.exportEntry->options; }

// Ends the request's use of the handle, keeping it cached.
void Finish(RequestFile *file, const FileAttributes *attributes)
{
    if (file->entry != nullptr) {
        CacheRelease(file->entry, attributes);
        return;
    }
    if (file->dirty && !FlushFileBuffers(file->handle))
        LogLine(1, "nfs_write flush error %u\n", static_cast<unsigned>(GetLastError()));
    CloseHandle(file->handle);
}

// Ends the use after an error: the handle goes (unless locks are held
// through it, which closing would drop).
void Discard(RequestFile *file)
{
    if (file->entry != nullptr)
        CacheCloseUnlessLocked(file->entry, nullptr);
    else
        CloseHandle(file->handle);
}

void SetOffset(OVERLAPPED *overlapped, uint64_t offset)
{
    memset(overlapped, 0, sizeof *overlapped);
    overlapped->Offset = static_cast<DWORD>(offset);
    overlapped->OffsetHigh = static_cast<DWORD>(offset >> 32);
}

// The attributes of a cache hit whose entry has none (just inserted, or
// forgotten by an invalidation): read through the entry's own handle.
uint32_t KnownAttributes(DataRequest *request, const RequestFile *file, FileAttributes *attributes,
                         const AuthUnix *credentials)
{
    if (attributes->type != 0 && attributes->stored != 0)
        return NFS_OK;
    if (attributes->type != 0) {
        // The owner shown is the caller (or the export's fixed owner).
        attributes->uid = OwnerUid(&request->context, credentials);
        attributes->gid = OwnerGid(&request->context, credentials);
        return NFS_OK;
    }
    uint32_t status = NeedDataPath(request);
    if (status != NFS_OK)
        return status;
    return GetAttributesThrough(file->handle, request->inode, &request->context, request->path, attributes,
                                credentials);
}

// The access of the handle a transfer at level works through.
DWORD AccessOfLevel(uint32_t level)
{
    return level == CACHE_LEVEL_WRITE ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
}

// The file of a transfer and its attributes: the cached handle when the
// cache holds one at level (the entry stays busy for the caller), else the
// attributes of the object judged on disk, where the file allows it through
// a handle opened for the transfer (TakeJudgedHandle), and no handle yet.
uint32_t FindTransferFile(DataRequest *request, ExportOptions *options, uint32_t level, RequestFile *file,
                          FileAttributes *attributes, const AuthUnix *credentials)
{
    file->entry = CacheLookup(options, request->inode, level, &file->handle, attributes);
    if (file->entry != nullptr) {
        uint32_t status = CachedIsInside(request, file->entry);
        if (status == NFS_OK)
            status = KnownAttributes(request, file, attributes, credentials);
        if (status != NFS_OK) {
            CacheCloseUnlessLocked(file->entry, nullptr);
            file->entry = nullptr;
        }
        return status;
    }
    if (NeedDataPath(request, AccessOfLevel(level)) != NFS_OK)
        return NFSERR_STALE;
    return JudgedAttributes(request, attributes, credentials);
}

bool OwnerOrRoot(uint32_t bits) { return bits >= 071u; }

uint32_t WriteErrorStatus(DWORD error)
{
    // Beyond the largest file the volume can hold.
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NEGATIVE_SEEK || error == 223)
        return NFSERR_FBIG;
    return NfsStatusFromWindowsError(error);
}

} // namespace

uint32_t ReadFileData(const FileHandle *handle, uint64_t offset, uint32_t *count, uint8_t *buffer,
                      FileAttributes *attributes, AuthUnix *credentials)
{
    const uint32_t asked = *count;
    *count = 0;
    DataRequest request;
    if (BeginDataRequest(handle, &request) != NFS_OK)
        return NFSERR_STALE;
    MapCredentials(&request.context, credentials);
    ExportOptions *options = OptionsOf(&request);

    RequestFile file = {nullptr, INVALID_HANDLE_VALUE, false};
    FileAttributes a;
    uint32_t status = FindTransferFile(&request, options, CACHE_LEVEL_READ, &file, &a, credentials);
    if (status != NFS_OK)
        return status;
    status = RegularFileStatus(&a);
    if (status == NFS_OK && (CallerPermissions(&request.context, credentials, &a) & PERMIT_READ) == 0)
        status = NFSERR_ACCES;
    if (status != NFS_OK) {
        if (file.entry != nullptr)
            CacheRelease(file.entry, &a);
        return status;
    }
    if (file.entry == nullptr)
        file.handle = TakeJudgedHandle(&request, GENERIC_READ);
    if (file.entry == nullptr && file.handle == INVALID_HANDLE_VALUE) {
        file.handle = FsCreateFile(request.path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file.handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            LogLine(2, "nfs_read: open error %u %u path %s\n", static_cast<unsigned>(error),
                    static_cast<unsigned>(request.inode), request.path);
            return NfsStatusFromWindowsError(error);
        }
        if (OpenedIsJudged(&request, &file.handle) != NFS_OK)
            return NFSERR_STALE;
    }
    if (file.entry == nullptr)
        file.entry = CacheInsert(options, request.inode, file.handle, CACHE_LEVEL_READ);

    // Nothing lies at or beyond the largest offset: zero bytes, end of file.
    DWORD got = 0;
    if (offset < FILE_DATA_MAX_END && asked > 0) {
        uint64_t room = FILE_DATA_MAX_END - offset;
        DWORD want = room < asked ? static_cast<DWORD>(room) : asked;
        OVERLAPPED at;
        SetOffset(&at, offset);
        if (!ReadFile(file.handle, buffer, want, &got, &at)) {
            const DWORD error = GetLastError();
            if (error != ERROR_HANDLE_EOF) {
                LogLine(2, "nfs_read %u error %u\n", static_cast<unsigned>(request.inode),
                        static_cast<unsigned>(error));
                Discard(&file);
                return NfsStatusFromWindowsError(error);
            }
            got = 0;
        }
    }
    // The size decides the client's end of file: read it fresh, as another
    // program may have changed the file since the attributes were kept.
    LARGE_INTEGER size;
    if (GetFileSizeEx(file.handle, &size))
        a.size = static_cast<uint64_t>(size.QuadPart);
    a.atime = UnixNow();
    a.atimeNsec = 0;
    Finish(&file, &a);
    *attributes = a;
    *count = got;
    return NFS_OK;
}

uint32_t WriteFileData(const FileHandle *handle, uint64_t offset, uint32_t *count, uint32_t *stability,
                       const uint8_t *buffer, FileAttributes *attributes, FileAttributes *before,
                       AuthUnix *credentials)
{
    const uint32_t asked = *count;
    const uint32_t askedStability = *stability;
    *count = 0;
    *stability = WRITE_UNSTABLE;
    DataRequest request;
    if (BeginDataRequest(handle, &request) != NFS_OK)
        return NFSERR_STALE;
    if ((request.context.flags & EXPORT_READONLY) != 0)
        return NFSERR_ROFS;
    MapCredentials(&request.context, credentials);
    ExportOptions *options = OptionsOf(&request);
    const uint32_t bits = AccessBits(&request.context, credentials);

    RequestFile file = {nullptr, INVALID_HANDLE_VALUE, false};
    FileAttributes a;
    uint32_t status = FindTransferFile(&request, options, CACHE_LEVEL_WRITE, &file, &a, credentials);
    if (status != NFS_OK)
        return status;
    status = RegularFileStatus(&a);
    const bool mayWrite = a.stored != 0 ? (CallerPermissions(&request.context, credentials, &a) & PERMIT_WRITE) != 0
                                        : OwnerOrRoot(bits) || (bits & a.mode & 0222u) != 0;
    if (status == NFS_OK && !mayWrite)
        status = NFSERR_ACCES;
    // The end of the transfer must be a valid file size: never wrap.
    if (status == NFS_OK && asked > 0 && (offset > FILE_DATA_MAX_END || asked > FILE_DATA_MAX_END - offset))
        status = NFSERR_FBIG;
    if (status != NFS_OK) {
        if (file.entry != nullptr)
            CacheRelease(file.entry, &a);
        return status;
    }
    if (file.entry == nullptr)
        file.handle = TakeJudgedHandle(&request, GENERIC_READ | GENERIC_WRITE);
    if (file.entry == nullptr && file.handle == INVALID_HANDLE_VALUE) {
        // A stored mode's read-only attribute only mirrors the owner's write bit.
        const bool lift = a.stored != 0 || (OwnerOrRoot(bits) && (a.mode & 0200u) == 0);
        file.handle = OpenFileForWriting(request.path, lift, "nfs_write");
        if (file.handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            LogLine(2, "nfs_write open error %u %u path %s\n", static_cast<unsigned>(error),
                    static_cast<unsigned>(request.inode), request.path);
            return NfsStatusFromWindowsError(error);
        }
        if (OpenedIsJudged(&request, &file.handle) != NFS_OK)
            return NFSERR_STALE;
    }
    if (file.entry == nullptr)
        file.entry = CacheInsert(options, request.inode, file.handle, CACHE_LEVEL_WRITE);
    if (before != nullptr)
        *before = a;

    DWORD written = 0;
    if (asked > 0) {
        OVERLAPPED at;
        SetOffset(&at, offset);
        if (file.entry != nullptr)
            file.entry->dirty = 1;
        else
            file.dirty = true;
        if (!WriteFile(file.handle, buffer, asked, &written, &at)) {
            const DWORD error = GetLastError();
            LogLine(2, "nfs_write error %u %u bytes %u/%u\n", static_cast<unsigned>(error),
                    static_cast<unsigned>(request.inode), static_cast<unsigned>(asked),
                    static_cast<unsigned>(written));
            Discard(&file);
            return WriteErrorStatus(error);
        }
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle, &size)) {
        const DWORD error = GetLastError();
        LogLine(2, "nfs_write size error %u %u\n", static_cast<unsigned>(error), static_cast<unsigned>(request.inode));
        Discard(&file);
        return NfsStatusFromWindowsError(error);
    }
    a.size = static_cast<uint64_t>(size.QuadPart);
    const uint32_t now = UnixNow();
    a.atime = a.mtime = a.ctime = now;
    a.atimeNsec = a.mtimeNsec = a.ctimeNsec = 0;

    // Data sync and file sync both flush data and size; the reply tells what
    // was reached, so a failed flush is reported as an unstable write (the
    // client's COMMIT then meets the error).
    uint32_t reached = WRITE_UNSTABLE;
    if (askedStability >= WRITE_DATA_SYNC || file.entry == nullptr) {
        if (FlushFileBuffers(file.handle)) {
            reached = WRITE_FILE_SYNC;
            if (file.entry != nullptr)
                file.entry->dirty = 0;
            file.dirty = false;
        } else {
            LogLine(1, "nfs_write flush error %u %u\n", static_cast<unsigned>(GetLastError()),
                    static_cast<unsigned>(request.inode));
        }
    }
    // A write by another than the owner or root drops set-user-id (and
    // set-group-id where the group may execute), as POSIX writes do.
    const uint32_t dropped = UNIX_MODE_SETUID | ((a.mode & 0010u) != 0 ? 02000u : 0u);
    if (a.stored != 0 && (a.mode & dropped) != 0 && !IsRoot(credentials) && credentials->uid != a.uid) {
        const StoredUnixAttributes record = {a.mode & 07777u & ~dropped, a.uid, a.gid};
        if (NeedDataPath(&request) == NFS_OK && WriteUnixAttributesTo(ChangeTarget{request.path, &request.kept}, &record))
            a.mode &= ~dropped;
    }
    Finish(&file, &a);
    *attributes = a;
    *count = written;
    *stability = reached;
    return NFS_OK;
}

uint32_t CommitFile(const FileHandle *handle, uint64_t, uint32_t, FileAttributes *attributes, AuthUnix *credentials)
{
    DataRequest request;
    if (BeginDataRequest(handle, &request) != NFS_OK)
        return NFSERR_STALE;
    MapCredentials(&request.context, credentials);
    RequestFile file = {nullptr, INVALID_HANDLE_VALUE, false};
    FileAttributes a;
    file.entry = CacheLookup(OptionsOf(&request), request.inode, CACHE_LEVEL_WRITE, &file.handle, &a);
    if (file.entry != nullptr && CachedIsInside(&request, file.entry) != NFS_OK) {
        CacheCloseUnlessLocked(file.entry, nullptr);
        return NFSERR_STALE;
    }
    if (file.entry == nullptr) {
        // No open handle: whatever was written through one was flushed when
        // it closed.
        if ((request.context.flags & EXPORT_READONLY) != 0)
            return NFSERR_ROFS;
        if (NeedDataPath(&request) != NFS_OK)
            return NFSERR_STALE;
        return JudgedAttributes(&request, attributes, credentials);
    }
    if (!FlushFileBuffers(file.handle)) {
        const DWORD error = GetLastError();
        LogLine(1, "nfs_commit flush error %u %u\n", static_cast<unsigned>(error),
                static_cast<unsigned>(request.inode));
        CacheRelease(file.entry, nullptr);
        return NfsStatusFromWindowsError(error);
    }
    file.entry->dirty = 0;
    uint32_t status = KnownAttributes(&request, &file, &a, credentials);
    CacheRelease(file.entry, status == NFS_OK ? &a : nullptr);
    if (status == NFS_OK)
        *attributes = a;
    return status;
}

// Opens the file for writing.  Root and the owner may write a file whose mode
// lacks the owner write bit: its read-only attribute is lifted for the open
// and put back at once (access is checked when a handle is opened, so the
// handle stays writable).
HANDLE OpenFileForWriting(const char *path, bool mayLiftReadOnly, const char *what)
{
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE handle = FsCreateFile(path, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, flags,
                                 nullptr);
    if (handle != INVALID_HANDLE_VALUE || !mayLiftReadOnly || GetLastError() != ERROR_ACCESS_DENIED)
        return handle;
    const DWORD dos = FsGetFileAttributes(path);
    if (dos == INVALID_FILE_ATTRIBUTES || (dos & FILE_ATTRIBUTE_READONLY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD lifted = dos & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!FsSetFileAttributes(path, lifted != 0 ? lifted : FILE_ATTRIBUTE_NORMAL))
        return INVALID_HANDLE_VALUE;
    handle = FsCreateFile(path, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    const DWORD error = GetLastError();
    if (!FsSetFileAttributes(path, dos))
        LogLine(1, "%s cannot restore attributes %u path %s\n", what, static_cast<unsigned>(GetLastError()), path);
    SetLastError(error);
    return handle;
}

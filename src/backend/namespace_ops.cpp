#include "backend/namespace_ops.h"

#include <cstring>

#include "backend/change_target.h"
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "backend/links_reparse.h"
#include "backend/mode_attributes.h"
#include "backend/namespace_ops_internal.h"
#include "backend/unix_mode.h"
#include "common/checksum.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

// Midnight of 1 January 1980 as FILETIME seconds since 1601.
const uint64_t SECONDS_1601_TO_1980 = 11960006400ull;
const uint64_t FILETIME_PER_SECOND = 10000000ull;

bool IsDotName(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Sets the size of the file through an open handle.
bool SetSizeOfHandle(HANDLE file, uint64_t size)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size);
    return size <= 0x7FFFFFFFFFFFFFFFull && SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) &&
           SetEndOfFile(file);
}

uint32_t ExclusiveRetry(const char *path, const ExclusiveTimes *wanted)
{
    // Only a plain file made by the same verifier is the caller's own.
    HANDLE file = FsCreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return NFSERR_EXIST;
    BY_HANDLE_FILE_INFORMATION data;
    const BOOL known = GetFileInformationByHandle(file, &data);
    CloseHandle(file);
    if (!known || (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return NFSERR_EXIST;
    if (!SameTime(data.ftLastWriteTime, wanted->lastWrite) ||
        (wanted->withAccess && !SameTime(data.ftLastAccessTime, wanted->lastAccess)))
        return NFSERR_EXIST;
    return NFS_OK;
}

FILETIME SecondsAfter1980(uint64_t seconds)
{
    const uint64_t value = (SECONDS_1601_TO_1980 + seconds) * FILETIME_PER_SECOND;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

} // namespace

ExclusiveTimes ExclusiveVerifierTimes(const uint8_t verifier[8], bool ntfs)
{
    ExclusiveTimes times = {};
    times.withAccess = ntfs;
    if (ntfs) {
        uint32_t low = 0, high = 0;
        for (int i = 0; i < 4; i++) {
            low |= static_cast<uint32_t>(verifier[i]) << (8 * i);
            high |= static_cast<uint32_t>(verifier[4 + i]) << (8 * i);
        }
        times.lastWrite = SecondsAfter1980(low);
        times.lastAccess = SecondsAfter1980(high);
    } else {
        // Two-second steps from 1980: exact on FAT, which has no room for
        // more of the verifier.
        times.lastWrite = SecondsAfter1980(2ull * Crc16(verifier, 8));
    }
    return times;
}

namespace {

uint32_t CreateFileIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, uint32_t how,
                      const SetAttr *request, const uint8_t verifier[8], FileHandle *handle, FileAttributes *attributes,
                      AuthUnix *credentials)
{
    if (how > CREATE_HOW_EXCLUSIVE)
        return NFSERR_INVAL_STATUS;
    scope.filesOnly = true;  // a folder of that name is never replaced
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return IsDotName(name) ? NFSERR_EXIST : status;
    const uint64_t known = CurrentInodeOfName(&scope);
    InvalidateCached(&scope.context, known);

    SetAttr wanted = {};
    if (request != nullptr)
        wanted = *request;
    if (ServerSettings.CreateAccess != 0 && wanted.setMode && (wanted.mode & 07777u) == 0)
        wanted.setMode = 0;
    const ExclusiveTimes verifierTimes =
        ExclusiveVerifierTimes(verifier, (scope.context.flags & EXPORT_VOLUME_NTFS) != 0);

    // A new name first (the common case: one look at the name, the
    // create's own).  A name that exists is opened as itself, never through
    // a link.
    bool created = false;
    BeginScopeFileChange(&scope);
    HANDLE file = FsCreateFile(scope.path, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0,
                               nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        created = true;
        scope.changed = true;
    } else {
        const DWORD error = GetLastError();
        // Whatever refused the create (a name that exists, or a folder that
        // Windows will not open as a file), an existing name is judged as
        // such; made by someone else meanwhile, or a link without target,
        // only an exclusive retry or an unchecked open may go on.
        const DWORD existing = FsGetFileAttributes(scope.path);
        if (existing == INVALID_FILE_ATTRIBUTES)
            return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NFSERR_EXIST
                                                                                : NfsStatusFromWindowsError(error);
        if (how == CREATE_HOW_GUARDED || (existing & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return NFSERR_EXIST;
        if ((existing & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return how == CREATE_HOW_EXCLUSIVE ? NFSERR_EXIST : NFSERR_ISDIR;
    }

    if (!created) {
        if (how == CREATE_HOW_EXCLUSIVE) {
            status = ExclusiveRetry(scope.path, &verifierTimes);
            if (status != NFS_OK)
                return status;
        } else if (wanted.setSize) {
            // An unchecked create of an existing file keeps its contents
            // unless a size is asked for.
            // Opened as itself: a link put in the file's place since the
            // look above is refused, never followed.
            file = FsCreateFile(scope.path, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return NfsStatusFromWindowsError(GetLastError());
            BY_HANDLE_FILE_INFORMATION now;
            if (!GetFileInformationByHandle(file, &now) ||
                (now.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
                CloseHandle(file);
                return NFSERR_EXIST;
            }
            const bool sized = SetSizeOfHandle(file, wanted.size) && FlushFileBuffers(file);
            const DWORD error = GetLastError();
            CloseHandle(file);
            if (!sized)
                return NfsStatusFromWindowsError(error);
        }
        return FinishName(&scope, known, directoryHandle->mountId, handle, attributes, credentials);
    }

    // A new file: its verifier or size, and its record, through the handle
    // that made it; its attributes through that handle too.
    bool ok = true;
    if (how == CREATE_HOW_EXCLUSIVE)
        ok = SetFileTime(file, nullptr, verifierTimes.withAccess ? &verifierTimes.lastAccess : nullptr,
                         &verifierTimes.lastWrite) != 0;
    else if (wanted.setSize && wanted.size != 0)
        ok = SetSizeOfHandle(file, wanted.size);
    if (!ok) {
        // Not left half made: a retry must not find a file without its
        // verifier or size.
        const DWORD error = GetLastError();
        CloseHandle(file);
        FsDeleteFile(scope.path);
        return NfsStatusFromWindowsError(error);
    }
    // An exclusive create's mode comes with the client's SETATTR after it.
    const uint32_t umask = scope.context.exportEntry->options.umask;
    StoredUnixAttributes record;
    const bool recorded = NewObjectRecordIn(&scope, FILE_TYPE_REGULAR, how == CREATE_HOW_EXCLUSIVE ? SetAttr{} : wanted,
                                            0666u & ~umask, credentials, &record) &&
                          WriteUnixAttributes(file, &record);
    record.mode &= 07777u;
    // One look through the handle once the record is in: it tells the
    // attributes the mode needs and, when they need no change, the reply's.
    MadeLook look;
    look.record = recorded ? &record : nullptr;
    const bool seen = InformationThrough(file, &look.info, &look.changeTime, &look.changeKnown);
    KeptObject made{};
    made.handle = file;
    made.access = GENERIC_READ | GENERIC_WRITE;
    bool changed = false;
    status = SetModeAttributes(&scope.context, ChangeTarget{scope.path, &made},
                               how != CREATE_HOW_EXCLUSIVE && wanted.setMode != 0, FILE_TYPE_REGULAR, wanted.mode,
                               nullptr, nullptr, seen ? look.info.dwFileAttributes : INVALID_FILE_ATTRIBUTES, &changed);
    // The new file's record is on the disk with its name.
    if (status == NFS_OK)
        status = ChangeDurable(ChangeTarget{scope.path, &made});
    if (status == NFS_OK)
        status = FinishName(&scope, known, directoryHandle->mountId, handle, attributes, credentials, file,
                            seen && !changed ? &look : nullptr);
    CloseHandle(file);
    return status;
}

} // namespace

uint32_t CreateFileOp(const FileHandle *directoryHandle, const char *name, uint32_t how, const SetAttr *request,
                      const uint8_t verifier[8], FileHandle *handle, FileAttributes *attributes,
                      AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return CreateFileIn(scope, directoryHandle, name, how, request, verifier, handle, attributes, credentials);
    });
}

namespace {

uint32_t MakeDirectoryIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                         FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials)
{
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return IsDotName(name) ? NFSERR_EXIST : status;
    // A link of that name (even one without target) is an existing name.
    if (FsGetFileAttributes(scope.path) != INVALID_FILE_ATTRIBUTES)
        return NFSERR_EXIST;
    if (!FsCreateDirectory(scope.path, nullptr)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            LogLine(2, "nfs_mkdir: %s error %u\n", scope.path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    scope.changed = true;
    // Without the store a folder's mode request is not kept.
    const SetAttr wanted = request != nullptr ? *request : SetAttr{};
    StoredUnixAttributes record;
    if (NewObjectRecordIn(&scope, FILE_TYPE_DIRECTORY, wanted, 0777u & ~scope.context.exportEntry->options.umask,
                          credentials, &record))
        SetModeAttributes(&scope.context, PathTarget(scope.path), false, FILE_TYPE_DIRECTORY, 0, &record);
    status = ChangeDurable(PathTarget(scope.path));
    if (status != NFS_OK)
        return status;
    return FinishName(&scope, 0, directoryHandle->mountId, handle, attributes, credentials);
}

} // namespace

uint32_t MakeDirectory(const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                       FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return MakeDirectoryIn(scope, directoryHandle, name, request, handle, attributes, credentials);
    });
}

namespace {

uint32_t RemoveFileIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, AuthUnix *credentials)
{
    scope.filesOnly = true;  // until a link listed as a folder is found
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return status;
    const uint64_t inode = CurrentInodeOfName(&scope);
    InvalidateCached(&scope.context, inode);
    const bool table = !FileIdMode(&scope.context);
    const DWORD attributes = FsGetFileAttributes(scope.path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (table && inode != 0 && IsGone(error))
            DeleteInode(static_cast<uint32_t>(inode));
        return NFSERR_NOENT;
    }
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return NFSERR_ISDIR;
    status = StickyCheck(&scope, credentials);
    if (status != NFS_OK)
        return status;
    ClearedAttributes cleared;
    status = ClearForChange(scope.path, attributes, &scope.context, credentials, &cleared);
    if (status != NFS_OK)
        return status;
    if (table && inode != 0)
        SetPending(static_cast<uint32_t>(inode), 1);
    // The name itself goes: a link, never what it leads to.  Links kept as
    // reparse points lose their reparse data first, leaving a plain empty
    // file or folder.
    const bool reparseFirst = link && (ServerSettings.SoftLinks & 2u) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        BeginScopeSubdirChange(&scope);
    else
        BeginScopeFileChange(&scope);
    const bool removed = (!reparseFirst || DeleteReparsePoint(scope.path)) &&
                         (link && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FsRemoveDirectory(scope.path) != 0
                                                                               : FsDeleteFile(scope.path) != 0);
    if (!removed) {
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_FILE_NOT_FOUND)
            LogLine(2, "nfs_unlink %s error %u\n", scope.path, static_cast<unsigned>(error));
        RestoreAttributes(scope.path, &cleared);
        if (table && inode != 0)
            SetPending(static_cast<uint32_t>(inode), 0);
        return NfsStatusFromWindowsError(error);
    }
    scope.changed = true;
    scope.tableKept = false;
    if (table && inode != 0) {
        const uint32_t canonical = CanonicalInode(static_cast<uint32_t>(inode));
        // A name of a hard-linked file leaves its file's other names in
        // the table's link ring, which must not keep a name that is gone.
        scope.tableKept = canonical != 0 && canonical != inode;
        DeleteInodeClearPending(static_cast<uint32_t>(inode));
        // Another name of a hard-linked file keeps the file's attributes.
        if (cleared.changed && canonical != 0 && canonical != inode) {
            char other[INODE_PATH_SIZE];
            if (PathOfInode(canonical, other) != nullptr)
                RestoreAttributes(other, &cleared);
        }
    }
    return NFS_OK;
}

} // namespace

uint32_t RemoveFile(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return RemoveFileIn(scope, directoryHandle, name, credentials);
    });
}

namespace {

uint32_t RemoveDirIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, AuthUnix *credentials)
{
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return IsDotName(name) ? NFSERR_ACCES : status;
    const bool table = !FileIdMode(&scope.context);
    const DWORD attributes = FsGetFileAttributes(scope.path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NFSERR_NOENT;
    // A link to a folder is no folder of its own.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return NFSERR_NOTDIR;
    status = StickyCheck(&scope, credentials);
    if (status != NFS_OK)
        return status;
    ClearedAttributes cleared = {attributes, false};
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && IsRoot(credentials)) {
        if (FsSetFileAttributes(scope.path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY) &
                                                (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                 FILE_ATTRIBUTE_ARCHIVE)) ||
            FsSetFileAttributes(scope.path, FILE_ATTRIBUTE_NORMAL))
            cleared.changed = true;
    }
    const uint32_t inode = table ? FindChild(static_cast<uint32_t>(scope.directory), scope.name) : 0;
    if (inode != 0)
        SetPending(inode, 1);
    if (!FsRemoveDirectory(scope.path)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_FILE_NOT_FOUND && error != ERROR_DIR_NOT_EMPTY)
            LogLine(2, "nfs_rmdir %s error %u\n", scope.path, static_cast<unsigned>(error));
        RestoreAttributes(scope.path, &cleared);
        if (inode != 0)
            SetPending(inode, 0);
        return NfsStatusFromWindowsError(error);
    }
    scope.changed = true;
    scope.tableKept = false;
    if (inode != 0)
        DeleteInodeClearPending(inode);
    return NFS_OK;
}

} // namespace

uint32_t RemoveDir(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return RemoveDirIn(scope, directoryHandle, name, credentials);
    });
}

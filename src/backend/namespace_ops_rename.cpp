#include <cstdio>
#include <cstring>

#include "backend/lookup.h"
#include "backend/namespace_ops.h"
#include "backend/namespace_ops_internal.h"
#include "common/checksum.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "platform/win32.h"

namespace {

bool IsDotName(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool SameIgnoringCase(const char *a, const char *b)
{
    for (; *a && *b; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return *a == *b;
}

// A folder proper (a link to a folder counts as a file here, as in POSIX).
bool IsFolder(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool RemoveName(const char *path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return FsRemoveDirectory(path) != 0;
    return FsDeleteFile(path) != 0;
}

// A free name beside path for the target while it is replaced.
bool AsideName(const char *path, char *aside)
{
    static volatile LONG counter = 0;
    for (int attempt = 0; attempt < 16; attempt++) {
        const LONG n = InterlockedIncrement(&counter);
        const uint32_t tag = Crc32(path, strlen(path)) ^ static_cast<uint32_t>(n) ^ GetTickCount();
        if (snprintf(aside, EXPORT_PATH_SIZE, "%s.nfs-replaced-%08x", path, tag) >= EXPORT_PATH_SIZE)
            return false;
        if (FsGetFileAttributes(aside) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    return false;
}

// Replaces the existing target with the source so that a failed rename
// never loses the target.  A file target moves aside and comes back when the
// source cannot take its name.  A folder target must be empty: it is removed
// (which fails when it is not) and made again when the move fails.
DWORD ReplaceName(const char *source, const char *target, DWORD targetAttributes)
{
    if ((targetAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (targetAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        if (!FsRemoveDirectory(target))
            return GetLastError();
        if (!FsMoveFile(source, target)) {
            const DWORD error = GetLastError();
            if (!FsCreateDirectory(target, nullptr))
                LogLine(2, "nfs_rename restore error %u %s\n", static_cast<unsigned>(GetLastError()), target);
            return error;
        }
        return ERROR_SUCCESS;
    }
    char aside[EXPORT_PATH_SIZE];
    if (!AsideName(target, aside))
        return ERROR_FILENAME_EXCED_RANGE;
    if (!FsMoveFile(target, aside))
        return GetLastError();
    if (!FsMoveFile(source, target)) {
        const DWORD error = GetLastError();
        if (!FsMoveFile(aside, target))
            LogLine(2, "nfs_rename restore error %u %s %s\n", static_cast<unsigned>(GetLastError()), aside, target);
        return error;
    }
    if (!RemoveName(aside, targetAttributes))
        LogLine(2, "nfs_rename del error %u %s\n", static_cast<unsigned>(GetLastError()), aside);
    return ERROR_SUCCESS;
}

} // namespace

namespace {

uint32_t RenameIn(NameScope &from, NameScope &to, const FileHandle *fromDirectory, const char *fromName,
                  const FileHandle *toDirectory, const char *toName, AuthUnix *credentials)
{
    if (fromDirectory->mountId != toDirectory->mountId)
        return NFSERR_XDEV_STATUS;
    // "." and ".." are never renamed nor replaced.
    if (IsDotName(fromName) || IsDotName(toName))
        return NFSERR_ACCES;
    uint32_t status = DirectoryPreamble(fromDirectory, fromName, credentials, &from);
    if (status != NFS_OK)
        return status;
    status = DirectoryPreamble(toDirectory, toName, credentials, &to);
    if (status != NFS_OK)
        return status;
    // Two mounts of one export share the mount id check above; two exports
    // never share a root.
    if (from.context.exportEntry != to.context.exportEntry)
        return NFSERR_XDEV_STATUS;
    const bool table = !FileIdMode(&from.context);

    const DWORD sourceAttributes = FsGetFileAttributes(from.path);
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES) {
        LogLine(2, "nfs_rename %s %s error %u\n", from.path, to.path, static_cast<unsigned>(GetLastError()));
        return NFSERR_NOENT;
    }
    if (strcmp(from.path, to.path) == 0)
        return NFS_OK;  // the name stays as it is
    const bool sameName = SameIgnoringCase(from.path, to.path);
    const DWORD targetAttributes = sameName ? INVALID_FILE_ATTRIBUTES : FsGetFileAttributes(to.path);
    const bool targetExists = targetAttributes != INVALID_FILE_ATTRIBUTES;
    if (targetExists) {
        if (IsFolder(sourceAttributes) && !IsFolder(targetAttributes))
            return NFSERR_NOTDIR;
        if (!IsFolder(sourceAttributes) && IsFolder(targetAttributes))
            return NFSERR_ISDIR;
    }
    // A folder never moves below itself.
    const size_t fromLength = strlen(from.path);
    if (IsFolder(sourceAttributes) && strlen(to.path) > fromLength && to.path[fromLength] == '\\') {
        char head[EXPORT_PATH_SIZE];
        memcpy(head, to.path, fromLength);
        head[fromLength] = 0;
        if (SameIgnoringCase(head, from.path))
            return NFSERR_INVAL_STATUS;
    }

    const uint64_t sourceInode = CurrentInodeOfName(&from);
    InvalidateCached(&from.context, sourceInode);
    status = StickyCheck(&from, credentials);
    if (status == NFS_OK && targetExists)
        status = StickyCheck(&to, credentials);
    if (status != NFS_OK)
        return status;
    ClearedAttributes sourceCleared;
    status = ClearForChange(from.path, sourceAttributes, &from.context, credentials, &sourceCleared);
    if (status != NFS_OK)
        return status;

    uint64_t targetInode = 0;
    ClearedAttributes targetCleared = {targetAttributes, false};
    if (targetExists) {
        status = ClearForChange(to.path, targetAttributes, &to.context, credentials, &targetCleared);
        if (status != NFS_OK) {
            RestoreAttributes(from.path, &sourceCleared);
            return status;
        }
        targetInode = CurrentInodeOfName(&to);
        InvalidateCached(&to.context, targetInode);
    }
    if (table && sourceInode != 0)
        SetPending(static_cast<uint32_t>(sourceInode), 1);

    DWORD error = ERROR_SUCCESS;
    if (!targetExists) {
        if (!FsMoveFile(from.path, to.path))
            error = GetLastError();
    } else {
        error = ReplaceName(from.path, to.path, targetAttributes);
    }
    if (error != ERROR_SUCCESS) {
        LogLine(2, "nfs_rename error %u %s %s\n", static_cast<unsigned>(error), from.path, to.path);
        RestoreAttributes(from.path, &sourceCleared);
        RestoreAttributes(to.path, &targetCleared);
        if (table && sourceInode != 0)
            SetPending(static_cast<uint32_t>(sourceInode), 0);
        if (error == ERROR_DIR_NOT_EMPTY || error == ERROR_ALREADY_EXISTS)
            return NFSERR_NOTEMPTY;
        return NfsStatusFromWindowsError(error);
    }
    from.changed = true;
    to.changed = true;
    RestoreAttributes(to.path, &sourceCleared);
    if (table) {
        if (sourceInode != 0) {
            SetPending(static_cast<uint32_t>(sourceInode), 0);
            // The number follows the file; the replaced target's entry goes
            // with it (the old file is gone now).
            MoveInode(static_cast<uint32_t>(sourceInode), static_cast<uint32_t>(to.directory), to.name);
        } else if (targetInode != 0) {
            DeleteInode(static_cast<uint32_t>(targetInode));
        }
    }
    return NFS_OK;
}

} // namespace

uint32_t RenameOp(const FileHandle *fromDirectory, const char *fromName, const FileHandle *toDirectory,
                  const char *toName, AuthUnix *credentials, FolderWcc *fromWcc, FolderWcc *toWcc)
{
    NameScope from;
    BeginNameScope(&from, fromWcc);
    NameScope to;
    BeginNameScope(&to, toWcc);
    uint32_t status = RenameIn(from, to, fromDirectory, fromName, toDirectory, toName, credentials);
    from.pins.Unpin();
    to.pins.Unpin();
    if (from.changed) {
        const bool apart = strcmp(from.directoryPath, to.directoryPath) != 0;
        const uint32_t durable = MakeNamesDurable(from.directoryPath, apart ? to.directoryPath : nullptr, true,
                                                  FlushHandleOf(from), FlushHandleOf(to));
        if (status == NFS_OK)
            status = durable;
    }
    // Both ends before either folder is read again.
    EndScopeSubdirChange(&from);
    EndScopeSubdirChange(&to);
    EndNameScope(&from);
    EndNameScope(&to);
    return status;
}

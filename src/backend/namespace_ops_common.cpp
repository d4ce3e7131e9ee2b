#include <cstring>

#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "backend/lookup.h"
#include "backend/namespace_ops_internal.h"
#include "backend/open_file_cache.h"
#include "backend/posix_access.h"
#include "backend/unix_mode.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

bool FileIdMode(const ExportContext *context) { return (context->flags & EXPORT_FILEID_MODE) != 0; }

bool PathCrossesLink(const ExportContext *context, const char *path)
{
    const size_t rootLength = strlen(context->path);
    const size_t length = strlen(path);
    if (length <= rootLength)
        return false;
    char prefix[EXPORT_PATH_SIZE];
    memcpy(prefix, path, length + 1);
    // Every component after the root, the last one included.
    for (size_t at = rootLength + 1; at <= length; at++) {
        if (at < length && path[at] != '\\')
            continue;
        prefix[at] = 0;
        const DWORD attributes = FsGetFileAttributes(prefix);
        prefix[at] = path[at];
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return true;
    }
    return false;
}

namespace {

// The folder's record as attributes (stored 0 when it has none).
// The stored record of the folder at path, through open when it is open.
void FolderUnixAttributes(HANDLE open, const char *path, FileAttributes *folder)
{
    memset(folder, 0, sizeof *folder);
    StoredUnixAttributes record;
    if (!(open != INVALID_HANDLE_VALUE ? ReadUnixAttributes(open, path, &record) : ReadUnixAttributesAt(path, &record)))
        return;
    folder->type = FILE_TYPE_DIRECTORY;
    folder->mode = UNIX_MODE_DIRECTORY | record.mode;
    folder->uid = record.uid;
    folder->gid = record.gid;
    folder->stored = 1;
}

} // namespace

uint32_t StickyCheck(const NameScope *scope, const AuthUnix *caller)
{
    if (scope->folderUnix.stored == 0 || (scope->folderUnix.mode & UNIX_MODE_STICKY) == 0)
        return NFS_OK;
    FileAttributes entry;
    FolderUnixAttributes(INVALID_HANDLE_VALUE, scope->path, &entry);
    return StickyAllows(caller, &scope->folderUnix, &entry) ? NFS_OK : static_cast<uint32_t>(NFSERR_PERM);
}

bool NewObjectRecordIn(const NameScope *scope, uint32_t type, const SetAttr &wanted, uint32_t defaultMode,
                       const AuthUnix *caller, StoredUnixAttributes *record)
{
    if (!UnixStoreEnabled())
        return false;
    const bool directory = type == FILE_TYPE_DIRECTORY;
    *record = NewObjectRecord(caller, &scope->folderUnix, directory,
                              wanted.setMode != 0 ? wanted.mode : defaultMode);
    if (wanted.setUid != 0 && IsRoot(caller))
        record->uid = wanted.uid;
    if (wanted.setGid != 0 && (IsRoot(caller) || CallerInGroup(&scope->context, caller, wanted.gid)))
        record->gid = wanted.gid;
    return true;
}

uint32_t ResolveWritableDirectory(const FileHandle *directoryHandle, AuthUnix *credentials, ExportContext *context,
                                  uint64_t *directory, char *path, KeptObject *keep, FileAttributes *folderUnix,
                                  bool *throughKept)
{
    // The check on disk proves every folder on the way free of links; the
    // folder itself is judged by what it read through its handle.
    KeptObject kept;
    uint32_t status = ResolveHandlePathKept(directoryHandle, context, path, directory, &kept);
    if (status != NFS_OK)
        return status;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    FileAttributes folder;
    bool folderRead = false;
    if (kept.handle != INVALID_HANDLE_VALUE) {
        if (kept.known)
            attributes = kept.info.dwFileAttributes;
        // The folder's record through the handle that judged it.
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            FolderUnixAttributes(kept.handle, path, &folder);
            folderRead = true;
        }
        if (keep != nullptr)
            *keep = kept;
        else
            CloseHandle(kept.handle);
    }
    if ((context->flags & EXPORT_READONLY) != 0)
        return NFSERR_ROFS;
    MapCredentials(context, credentials);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = FsGetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NFSERR_STALE;
    // Never act inside a folder that a link leads to: the server does not
    // follow links for its clients.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && strlen(path) > strlen(context->path))
        return NFSERR_NOTDIR;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return NFSERR_NOTDIR;
    if (!folderRead)
        FolderUnixAttributes(INVALID_HANDLE_VALUE, path, &folder);
    if (folderUnix != nullptr)
        *folderUnix = folder;
    if (throughKept != nullptr)
        *throughKept = folderRead && keep != nullptr;
    if (folder.stored != 0) {
        // Writing a name needs write and search permission on the folder.
        const uint32_t needed = PERMIT_WRITE | PERMIT_EXECUTE;
        return (CallerPermissions(context, credentials, &folder) & needed) == needed ? NFS_OK
                                                                                     : static_cast<uint32_t>(NFSERR_ACCES);
    }
    if ((AccessBits(context, credentials) & 0222u) == 0)
        return NFSERR_ACCES;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !IsRoot(credentials))
        return NFSERR_ACCES;
    return NFS_OK;
}

HANDLE FlushHandleOf(const NameScope &scope)
{
    return (scope.folder.access & GENERIC_WRITE) != 0 ? scope.folder.handle : INVALID_HANDLE_VALUE;
}

void BeginNameScope(NameScope *scope, FolderWcc *wcc)
{
    scope->wcc = wcc;
    scope->folder.handle = INVALID_HANDLE_VALUE;
    scope->folder.known = false;
    scope->caller = nullptr;
    scope->changed = false;
    scope->folderFlushed = false;
    scope->filesOnly = false;
    scope->subdirChange = false;
    scope->fileChange = false;
    scope->tableKept = true;
    memset(&scope->folderUnix, 0, sizeof scope->folderUnix);
    if (wcc != nullptr)
        wcc->reached = false;
}

void BeginScopeSubdirChange(NameScope *scope)
{
    if (!scope->subdirChange) {
        scope->subdirChange = true;
        BeginSubdirChange(scope->directoryPath);
    }
}

void EndScopeSubdirChange(NameScope *scope)
{
    if (scope->subdirChange) {
        scope->subdirChange = false;
        EndSubdirChange(scope->directoryPath);
    }
}

void BeginScopeFileChange(NameScope *scope)
{
    if (!scope->fileChange) {
        scope->fileChange = true;
        BeginFileNameChange(scope->directoryPath);
    }
}

void EndNameScope(NameScope *scope)
{
    EndScopeSubdirChange(scope);
    if (scope->fileChange) {
        scope->fileChange = false;
        EndFileNameChange(scope->directoryPath, scope->changed);
    }
    FolderWcc *wcc = scope->wcc;
    if (wcc != nullptr && wcc->reached) {
        // Read again: the change has moved the folder's times.
        scope->folder.known = false;
        wcc->afterPresent = ReadKeptAttributes(&scope->folder, scope->directory, &scope->context,
                                               scope->directoryPath, &wcc->after, scope->caller) == NFS_OK;
    }
    if (scope->folder.handle != INVALID_HANDLE_VALUE) {
        if (!scope->folderFlushed)
            CloseHandle(scope->folder.handle);
        scope->folder.handle = INVALID_HANDLE_VALUE;
    }
    scope->pins.Unpin();
}

uint32_t DirectoryPreamble(const FileHandle *directoryHandle, const char *name, AuthUnix *credentials,
                           NameScope *scope)
{
    // The judged folder stays open until it is pinned, even when its
    // attributes are not asked for.
    KeptObject *keep = &scope->folder;
    bool recordKept = false;
    uint32_t status = ResolveWritableDirectory(directoryHandle, credentials, &scope->context, &scope->directory,
                                               scope->directoryPath, keep, &scope->folderUnix, &recordKept);
    // Once the folder is found and the export writable, the credentials are
    // mapped: the folder's attributes are read as the caller sees them,
    // whether the caller may then change it or not.  Without a handle (the
    // export's root) they are read by path.
    if (scope->wcc != nullptr && status != NFSERR_ROFS && status != NFSERR_STALE) {
        scope->wcc->reached = true;
        scope->caller = credentials;
        // The folder's record as the check just read it through the handle.
        const StoredUnixAttributes record = {scope->folderUnix.mode & 07777u, scope->folderUnix.uid,
                                             scope->folderUnix.gid};
        const bool recordRead = recordKept && scope->folderUnix.stored != 0;
        scope->wcc->beforePresent = ReadKeptAttributes(&scope->folder, scope->directory, &scope->context,
                                                       scope->directoryPath, &scope->wcc->before, credentials,
                                                       recordRead ? &record : nullptr) == NFS_OK;
    }
    if (status != NFS_OK)
        return status;
    // Held from here until the change is made: the folder's path cannot be
    // led out of the export by a folder swapped on its way since its check,
    // and it still names the folder that was judged.
    KeptObject &folder = scope->folder;
    const bool known = folder.handle != INVALID_HANDLE_VALUE &&
                       (folder.known || GetFileInformationByHandle(folder.handle, &folder.info));
    if (scope->wcc == nullptr && folder.handle != INVALID_HANDLE_VALUE) {
        CloseHandle(folder.handle);
        folder.handle = INVALID_HANDLE_VALUE;
    }
    status = PinFolderPath(scope->context.path, scope->directoryPath, &scope->pins, known ? &folder.info : nullptr);
    if (status != NFS_OK)
        return status;
    if (!scope->filesOnly)
        BeginScopeSubdirChange(scope);
    const size_t nameLength = strlen(name);
    if (nameLength == 0)
        return NFSERR_NOENT;
    if (nameLength >= sizeof scope->name)
        return NFSERR_NAMETOOLONG;
    memcpy(scope->name, name, nameLength + 1);
    memcpy(scope->path, scope->directoryPath, sizeof scope->path);
    return ChildPath(&scope->context, scope->path, scope->name);
}

uint64_t CurrentInodeOfName(const NameScope *scope)
{
    if (FileIdMode(&scope->context))
        return FileIdOfPath(scope->path);
    return FindChild(static_cast<uint32_t>(scope->directory), scope->name);
}

uint64_t InodeForName(const NameScope *scope)
{
    if (FileIdMode(&scope->context))
        return FileIdOfPath(scope->path);
    const uint32_t child = AddChild(static_cast<uint32_t>(scope->directory), scope->name);
    return child != 0 ? CanonicalInode(child) : 0;
}

void InvalidateCached(const ExportContext *context, uint64_t inode)
{
    if (inode != 0)
        CacheInvalidate(&context->exportEntry->options, inode);
}

uint32_t ClearForChange(const char *path, DWORD attributes, const ExportContext *context,
                        const AuthUnix *credentials, ClearedAttributes *cleared)
{
    cleared->former = attributes;
    cleared->changed = false;
    const DWORD guarded = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & guarded) == 0)
        return NFS_OK;
    DWORD wanted = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // A stored record's read-only attribute only mirrors its mode: the
        // folder's permissions decide.
        StoredUnixAttributes record;
        if ((AccessBits(context, credentials) & 0700u) == 0 && !ReadUnixAttributesAt(path, &record))
            return NFSERR_ACCES;
        wanted &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    }
    // Only the attributes SetFileAttributes takes.
    wanted &= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    if (!FsSetFileAttributes(path, wanted))
        return NfsStatusFromWindowsError(GetLastError());
    cleared->changed = true;
    return NFS_OK;
}

void RestoreAttributes(const char *path, const ClearedAttributes *cleared)
{
    if (!cleared->changed)
        return;
    const DWORD error = GetLastError();
    DWORD restored = cleared->former & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                        FILE_ATTRIBUTE_ARCHIVE);
    FsSetFileAttributes(path, restored != 0 ? restored : FILE_ATTRIBUTE_NORMAL);
    SetLastError(error);
}

uint32_t FinishName(NameScope *scope, uint64_t inode, uint32_t mountId, FileHandle *handle,
                    FileAttributes *attributes, const AuthUnix *credentials, HANDLE made, const MadeLook *look)
{
    if (inode == 0)
        inode = InodeForName(scope);
    if (inode == 0)
        return NFSERR_NOENT;
    if (handle != nullptr)
        MakeHandle(inode, mountId, handle);
    if (attributes == nullptr)
        return NFS_OK;
    if (made != INVALID_HANDLE_VALUE && look != nullptr)
        return GetAttributesFromInformation(&look->info, look->changeKnown ? &look->changeTime : nullptr, inode,
                                            &scope->context, scope->path, attributes, credentials,
                                            INVALID_HANDLE_VALUE, nullptr, made, look->record);
    if (made != INVALID_HANDLE_VALUE)
        return GetAttributesThrough(made, inode, &scope->context, scope->path, attributes, credentials);
    return GetAttributes(inode, &scope->context, scope->path, attributes, credentials);
}

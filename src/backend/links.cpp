#include "backend/links.h"

#include "backend/containment.h"
#include "backend/change_target.h"

#include <cstring>
#include <string>

#include "backend/links_reparse.h"
#include "exports/exports_paths.h"

#include "backend/credentials.h"
#include "backend/link_copy.h"
#include "backend/lookup.h"
#include "backend/mode_attributes.h"
#include "backend/namespace_ops_internal.h"
#include "backend/special_file.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes the whole of data into a new file at path (which must not exist).
DWORD WriteNewFile(const char *path, const void *data, uint32_t length)
{
    HANDLE file = FsCreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, data, length, &written, nullptr);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (ok && written != length)
        error = ERROR_HANDLE_DISK_FULL;
    CloseHandle(file);
    if (error != ERROR_SUCCESS)
        FsDeleteFile(path);
    return error;
}

// The inode of the file whose handle the caller gave, registered as one name
// of a hard-linked file, and the new name joined to it.
uint64_t JoinHardLink(NameScope *scope, uint64_t fileInode)
{
    if (FileIdMode(&scope->context))
        return FileIdOfPath(scope->path);
    const uint32_t name = AddChild(static_cast<uint32_t>(scope->directory), scope->name);
    if (name == 0)
        return 0;
    HANDLE file = FsCreateFile(scope->path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(file, &info)) {
            RegisterHardLink(static_cast<uint32_t>(fileInode), info.nFileIndexLow, info.nFileIndexHigh,
                             info.dwVolumeSerialNumber);
            RegisterHardLink(name, info.nFileIndexLow, info.nFileIndexHigh, info.dwVolumeSerialNumber);
        }
        CloseHandle(file);
    }
    return CanonicalInode(name);
}

// Symbolic links become reparse points on volumes that take them, when the
// settings ask for it.
bool UsesReparseLinks(const ExportContext *context)
{
    if ((context->flags & EXPORT_VOLUME_REPARSE) == 0)
        return false;
    const uint32_t soft = ServerSettings.SoftLinks;
    return ((soft & 2u) != 0 && WindowsMajorVersion() >= 6) || (soft & 4u) != 0;
}

// The link as a reparse point: an empty file or folder, marked as a link,
// then given the link's reparse data.  The object is removed again when any
// step fails.
uint32_t MakeReparseSymlink(NameScope *scope, const SetAttr &wanted, const char *target, uint32_t targetLength,
                            uint32_t mountId, FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials)
{
    const std::string text(target, targetLength);
    if (text.find('\0') != std::string::npos)
        return NFSERR_INVAL_STATUS;
    char windows[EXPORT_PATH_SIZE];
    if (!ToWindowsPath(text.c_str(), windows, sizeof windows))
        return NFSERR_NAMETOOLONG;
    uint32_t kind;
    if (WindowsMajorVersion() < 6)
        kind = REPARSE_LINK_MOUNT_POINT;
    else if (windows[0] == '\\')
        kind = REPARSE_LINK_RELATIVE;
    else if (windows[0] != 0 && windows[1] == ':')
        kind = REPARSE_LINK_ABSOLUTE;
    else
        kind = REPARSE_LINK_RELATIVE;
    const bool folder = TargetIsDirectory(kind, windows, scope->path);
    bool made;
    if (folder) {
        made = FsCreateDirectory(scope->path, nullptr) != 0;
    } else {
        HANDLE file = FsCreateFile(scope->path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        made = file != INVALID_HANDLE_VALUE;
        if (made)
            CloseHandle(file);
    }
    if (!made) {
        const DWORD error = GetLastError();
        LogLine(2, "nfs_symlink: %s error %u\n", scope->path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    scope->changed = true;
    // The mark goes on the object before it becomes a link, so that nothing
    // is ever set through the link on what it leads to.
    StoredUnixAttributes record;
    const bool store = NewObjectRecordIn(scope, FILE_TYPE_SYMLINK, wanted, 0777u, credentials, &record);
    uint32_t status = SetModeAttributes(&scope->context, PathTarget(scope->path), true, FILE_TYPE_SYMLINK,
                                        UNIX_MODE_SYMLINK | 0777u, store ? &record : nullptr);
    if (status == NFS_OK && !WriteReparseLink(kind, scope->path, windows, static_cast<uint32_t>(strlen(windows)))) {
        const DWORD error = GetLastError();
        LogLine(2, "nfs_symlink %s error %u\n", scope->path, static_cast<unsigned>(error));
        status = NfsStatusFromWindowsError(error);
    }
    if (status == NFS_OK)
        status = ChangeDurable(PathTarget(scope->path));
    if (status != NFS_OK) {
        FsSetFileAttributes(scope->path, FILE_ATTRIBUTE_NORMAL);
        if (folder)
            FsRemoveDirectory(scope->path);
        else
            FsDeleteFile(scope->path);
        return status;
    }
    if (handle == nullptr && attributes == nullptr)
        return NFS_OK;
    return FinishName(scope, 0, mountId, handle, attributes, credentials);
}

} // namespace

namespace {

uint32_t MakeLinkIn(NameScope &scope, const FileHandle *fileHandle, const FileHandle *directoryHandle, const char *name,
                    FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials)
{
    if (fileHandle->mountId != directoryHandle->mountId)
        return NFSERR_XDEV_STATUS;
    ExportContext fileContext;
    char filePath[EXPORT_PATH_SIZE];
    uint64_t fileInode = 0;
    uint32_t status = ResolveHandlePath(fileHandle, &fileContext, filePath, &fileInode);
    if (status != NFS_OK)
        return status;
    if ((fileContext.flags & EXPORT_READONLY) != 0)
        return NFSERR_ROFS;
    MapCredentials(&fileContext, credentials);
    if ((AccessBits(&fileContext, credentials) & 0222u) == 0)
        return NFSERR_ACCES;
    // The file's folders are held until its second name is made: the check
    // below stays true of the path while the link or copy is made.
    char fileFolder[EXPORT_PATH_SIZE];
    strcpy(fileFolder, filePath);
    char *cut = strrchr(fileFolder, '\\');
    if (cut == nullptr)
        return NFSERR_STALE;
    if (static_cast<size_t>(cut - fileFolder) < strlen(fileContext.path))
        cut[1] = 0;
    else
        cut[0] = 0;
    PinnedPath filePins;
    status = PinFolderPath(fileContext.path, fileFolder, &filePins);
    if (status != NFS_OK)
        return status;
    const DWORD fileAttributes = FsGetFileAttributes(filePath);
    if (fileAttributes == INVALID_FILE_ATTRIBUTES)
        return NFSERR_NOENT;
    if ((fileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return NFSERR_ISDIR;
    // A second name for a link would be made for what it leads to.
    if ((fileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || PathCrossesLink(&fileContext, filePath))
        return NFSERR_ACCES;

    scope.filesOnly = true;
    status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return status;
    if (FsGetFileAttributes(scope.path) != INVALID_FILE_ATTRIBUTES)
        return NFSERR_EXIST;
    InvalidateCached(&fileContext, fileInode);

    uint64_t result = 0;
    BeginScopeFileChange(&scope);
    if ((ServerSettings.HardLinks & 1u) != 0 && (scope.context.flags & EXPORT_VOLUME_HARDLINKS) != 0) {
        if (!FsCreateHardLink(scope.path, filePath, nullptr))
            return NfsStatusFromWindowsError(GetLastError());
        scope.changed = true;
        result = JoinHardLink(&scope, fileInode);
        // The file's count of links.
        status = ChangeDurable(PathTarget(filePath));
    } else if ((ServerSettings.HardLinks & 2u) != 0) {
        status = CopyJudgedFile(&fileContext, filePath, scope.path,
                                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE);
        if (status != NFS_OK)
            return status;
        scope.changed = true;
        // A copy is a file of its own: it gets a number of its own.
        result = InodeForName(&scope);
        status = ChangeDurable(PathTarget(scope.path));
    } else {
        return NFSERR_ACCES;
    }
    if (status != NFS_OK)
        return status;
    if (handle == nullptr && attributes == nullptr)
        return NFS_OK;
    return FinishName(&scope, result, directoryHandle->mountId, handle, attributes, credentials);
}

} // namespace

uint32_t MakeLink(const FileHandle *fileHandle, const FileHandle *directoryHandle, const char *name,
                  FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return MakeLinkIn(scope, fileHandle, directoryHandle, name, handle, attributes, credentials);
    });
}

namespace {

uint32_t MakeSymlinkIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                       const char *target, uint32_t targetLength, FileHandle *handle, FileAttributes *attributes,
                       AuthUnix *credentials)
{
    if (ServerSettings.SoftLinks == 0)
        return NFSERR_ACCES;
    if (targetLength == 0)
        return NFSERR_NOENT;
    if (targetLength > SYMLINK_TEXT_MAX)
        return NFSERR_NAMETOOLONG;
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return status == NFSERR_ISDIR ? NFSERR_EXIST : status;
    if (FsGetFileAttributes(scope.path) != INVALID_FILE_ATTRIBUTES)
        return NFSERR_EXIST;
    const bool reparse = UsesReparseLinks(&scope.context);
    if (!reparse && (ServerSettings.SoftLinks & 1u) == 0)
        return NFSERR_ACCES;
    const SetAttr none = {};
    const SetAttr &wanted = request != nullptr ? *request : none;
    if (reparse)
        return MakeReparseSymlink(&scope, wanted, target, targetLength, directoryHandle->mountId, handle, attributes,
                                  credentials);
    // The text is kept exactly as sent; the server never resolves it.
    const DWORD error = WriteNewFile(scope.path, target, targetLength);
    if (error != ERROR_SUCCESS) {
        LogLine(2, "nfs_symlink %s error %u\n", scope.path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    scope.changed = true;
    StoredUnixAttributes record;
    const bool store = NewObjectRecordIn(&scope, FILE_TYPE_SYMLINK, wanted, 0777u, credentials, &record);
    status = SetModeAttributes(&scope.context, PathTarget(scope.path), true, FILE_TYPE_SYMLINK, UNIX_MODE_SYMLINK | 0777u,
                               store ? &record : nullptr);
    if (status == NFS_OK)
        status = ChangeDurable(PathTarget(scope.path));
    if (status != NFS_OK) {
        FsDeleteFile(scope.path);
        return status;
    }
    if (handle == nullptr && attributes == nullptr)
        return NFS_OK;
    return FinishName(&scope, 0, directoryHandle->mountId, handle, attributes, credentials);
}

} // namespace

uint32_t MakeSymlink(const FileHandle *directoryHandle, const char *name, const SetAttr *request,
                     const char *target, uint32_t targetLength, FileHandle *handle, FileAttributes *attributes,
                     AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return MakeSymlinkIn(scope, directoryHandle, name, request, target, targetLength, handle, attributes,
                             credentials);
    });
}

namespace {

// The text of the link at path, which its handle's resolution judged
// (through kept, when it kept the object open).
uint32_t ReadLinkText(const ExportContext &context, const char *path, uint64_t inode, const KeptObject *kept,
                      char *buffer, uint32_t size, uint32_t *length)
{
    const DWORD attributes = FsGetFileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return NFSERR_NOENT;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // The link's own text, turned into the client's form; nothing is
        // resolved.
        char text[EXPORT_PATH_SIZE];
        const uint32_t kind = ReadReparseLink(path, text, sizeof text, true);
        if (kind == REPARSE_LINK_NONE)
            return NFSERR_NOENT;
        char client[EXPORT_PATH_SIZE];
        const bool absolute = kind == REPARSE_LINK_MOUNT_POINT || kind == REPARSE_LINK_ABSOLUTE;
        if (absolute) {
            if (!ToClientPath(text, client, sizeof client))
                return NFSERR_NAMETOOLONG;
        } else {
            strcpy(client, text);
            for (char *c = client; *c; c++)
                if (*c == '\\')
                    *c = '/';
        }
        const size_t clientLength = strlen(client);
        if (clientLength == 0)
            return NFSERR_IO;
        if (clientLength > size)
            return NFSERR_NAMETOOLONG;
        memcpy(buffer, client, clientLength + 1);
        *length = static_cast<uint32_t>(clientLength);
        return NFS_OK;
    }
    // Only a link kept as a file is read here; opening anything else could
    // read what a link leads to.
    const DWORD kinds = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if ((attributes & kinds) != FILE_ATTRIBUTE_SYSTEM || PathCrossesLink(&context, path))
        return NFSERR_IO;
    // The judged object itself, opened again; another object that has taken
    // the name since is never read.
    const ChangeTarget judged = {path, kept};
    HANDLE file = OpenChangeTarget(judged, GENERIC_READ);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_INVALID)
            return NFSERR_STALE;
        if (!FileIdMode(&context) && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
            DeleteInode(static_cast<uint32_t>(inode));
        return NFSERR_NOENT;
    }
    // Still such a link; opened by path (nothing kept), it must also lie
    // where the path says.
    const bool reopened = kept != nullptr && kept->handle != INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION opened;
    if (!GetFileInformationByHandle(file, &opened) || (opened.dwFileAttributes & kinds) != FILE_ATTRIBUTE_SYSTEM ||
        (!reopened && CheckOpenedContainment(file, path, &context) != 0)) {
        CloseHandle(file);
        return NFSERR_STALE;
    }
    DWORD got = 0;
    const BOOL ok = ReadFile(file, buffer, size, &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok || got == 0 || buffer[0] == 0) {
        LogLine(2, "nfs_readlink %s error %u\n", path, static_cast<unsigned>(ok ? 0 : error));
        buffer[0] = 0;
        return NFSERR_IO;
    }
    buffer[got] = 0;
    *length = got;
    return NFS_OK;
}

}  // namespace

uint32_t ReadLink(const FileHandle *handle, char *buffer, uint32_t size, uint32_t *length, AuthUnix *credentials,
                  OptionalAttributes *attributes)
{
    *length = 0;
    buffer[0] = 0;
    if (attributes != nullptr)
        attributes->present = 0;
    if (ServerSettings.SoftLinks == 0)
        return NFSERR_ACCES;
    ExportContext context;
    char path[EXPORT_PATH_SIZE];
    uint64_t inode = 0;
    // The link itself: its text is read wherever it points.
    KeptObject kept;
    uint32_t status = ResolveLinkHandlePath(handle, &context, path, &inode, &kept);
    if (status == NFS_OK)
        status = ReadLinkText(context, path, inode, &kept, buffer, size, length);
    if (status == NFS_OK && attributes != nullptr) {
        MapCredentials(&context, credentials);
        attributes->present =
            ReadKeptAttributes(&kept, inode, &context, path, &attributes->attributes, credentials) == NFS_OK;
    }
    if (kept.handle != INVALID_HANDLE_VALUE)
        CloseHandle(kept.handle);
    return status;
}

namespace {

uint32_t MakeNodeIn(NameScope &scope, const FileHandle *directoryHandle, const char *name, uint32_t type,
                    const SetAttr *request, uint32_t major, uint32_t minor, FileHandle *handle,
                    FileAttributes *attributes, AuthUnix *credentials)
{
    if (type != FILE_TYPE_BLOCK && type != FILE_TYPE_CHARACTER && type != FILE_TYPE_SOCKET &&
        type != FILE_TYPE_FIFO)
        return NFSERR_INVAL_STATUS;
    scope.filesOnly = true;
    uint32_t status = DirectoryPreamble(directoryHandle, name, credentials, &scope);
    if (status != NFS_OK)
        return status == NFSERR_ISDIR ? NFSERR_EXIST : status;
    if (FsGetFileAttributes(scope.path) != INVALID_FILE_ATTRIBUTES)
        return NFSERR_EXIST;
    uint8_t record[SPECIAL_RECORD_SIZE];
    EncodeSpecialRecord(type, major, minor, 0, record);
    BeginScopeFileChange(&scope);
    const DWORD error = WriteNewFile(scope.path, record, sizeof record);
    if (error != ERROR_SUCCESS) {
        LogLine(2, "nfs_mknod %s error %u\n", scope.path, static_cast<unsigned>(error));
        return NfsStatusFromWindowsError(error);
    }
    scope.changed = true;
    const SetAttr none = {};
    const SetAttr &wanted = request != nullptr ? *request : none;
    StoredUnixAttributes owners;
    const bool store = NewObjectRecordIn(&scope, type, wanted, 0666u & ~scope.context.exportEntry->options.umask,
                                         credentials, &owners);
    status = SetModeAttributes(&scope.context, PathTarget(scope.path), wanted.setMode != 0, type, wanted.mode,
                               store ? &owners : nullptr);
    if (status == NFS_OK)
        status = ChangeDurable(PathTarget(scope.path));
    if (status != NFS_OK) {
        FsDeleteFile(scope.path);
        return status;
    }
    return FinishName(&scope, 0, directoryHandle->mountId, handle, attributes, credentials);
}

} // namespace

uint32_t MakeNode(const FileHandle *directoryHandle, const char *name, uint32_t type, const SetAttr *request,
                  uint32_t major, uint32_t minor, FileHandle *handle, FileAttributes *attributes,
                  AuthUnix *credentials, FolderWcc *wcc)
{
    return InNameScope(wcc, [&](NameScope &scope) {
        return MakeNodeIn(scope, directoryHandle, name, type, request, major, minor, handle, attributes, credentials);
    });
}

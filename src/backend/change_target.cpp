#include "backend/change_target.h"

#include <string>

#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Kept(const ChangeTarget &target) { return target.kept != nullptr && target.kept->handle != INVALID_HANDLE_VALUE; }

}  // namespace

HANDLE OpenChangeTarget(const ChangeTarget &target, DWORD access)
{
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    if (!Kept(target))
        return FsCreateFile(target.path, access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    const KeptObject *kept = target.kept;
    HANDLE file = ReOpenFile(kept->handle, access, kShareAll, flags);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    BY_HANDLE_FILE_INFORMATION read;
    const bool known = kept->known || GetFileInformationByHandle(kept->handle, &read);
    if (!known || !SameObject(file, kept->known ? &kept->info : &read)) {
        CloseHandle(file);
        SetLastError(ERROR_FILE_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

DWORD ChangeTargetAttributes(const ChangeTarget &target)
{
    if (!Kept(target))
        return FsGetFileAttributes(target.path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(target.kept->handle, &info))
        return INVALID_FILE_ATTRIBUTES;
    return info.dwFileAttributes;
}

BOOL SetChangeTargetAttributes(const ChangeTarget &target, DWORD attributes)
{
    HANDLE file = OpenChangeTarget(target, FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = OpenChangeTarget(target, SYNCHRONIZE);  // see FsSetAttributesAndClose
    return FsSetAttributesAndClose(file, attributes);
}

namespace {

// FlushFileBuffers of the handle, which is closed; its error kept.
BOOL FlushAndClose(HANDLE handle)
{
    const BOOL flushed = FlushFileBuffers(handle);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return flushed;
}

// A handle for writing of a read-only target: its attribute lifted for the
// open, and put back.
HANDLE OpenReadOnlyForFlush(const ChangeTarget &target)
{
    const DWORD attributes = ChangeTargetAttributes(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!SetChangeTargetAttributes(target, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return INVALID_HANDLE_VALUE;
    HANDLE file = OpenChangeTarget(target, GENERIC_WRITE);
    const DWORD error = GetLastError();
    if (!SetChangeTargetAttributes(target, attributes)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(error);
    return file;
}

// The folder that holds path (the path itself when it has none).
BOOL FlushFolderOf(const char *path)
{
    std::string folder(path);
    const size_t cut = folder.find_last_of('\\');
    if (cut != std::string::npos && cut + 1 < folder.size())
        folder.resize(cut == 0 || folder[cut - 1] == ':' ? cut + 1 : cut);
    return FlushFolderAt(folder.c_str());
}

}  // namespace

BOOL FlushFolderAt(const char *folder)
{
    HANDLE handle = FsCreateFile(folder, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return handle != INVALID_HANDLE_VALUE && FlushAndClose(handle);
}

BOOL FlushChangeTarget(const ChangeTarget &target)
{
    // A kept handle opened for writing (the one that made the object) takes
    // the flush itself.
    if (Kept(target) && (target.kept->access & GENERIC_WRITE) != 0 && FlushFileBuffers(target.kept->handle))
        return TRUE;
    HANDLE file = OpenChangeTarget(target, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = OpenReadOnlyForFlush(target);
    if (file != INVALID_HANDLE_VALUE) {
        if (FlushAndClose(file))
            return TRUE;
        // A link that the platform opens only as a name takes no flush.
        if (GetLastError() != ERROR_ACCESS_DENIED)
            return FALSE;
    }
    // Refused for writing, or held by a program that shares it with no
    // writer: its folder.
    return FlushFolderOf(target.path);
}

uint32_t ChangeDurable(const ChangeTarget &target)
{
    if (FlushChangeTarget(target))
        return NFS_OK;
    LogLine(1, "nfs flush of %s error %u\n", target.path, static_cast<unsigned>(GetLastError()));
    return NFSERR_IO;
}

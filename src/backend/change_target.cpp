#include "backend/change_target.h"

#include "fs/win_file_access.h"

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

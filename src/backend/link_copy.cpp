#include "backend/link_copy.h"

#include <vector>

#include "backend/containment.h"
#include "backend/unix_attributes_store.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kChunk = 64 * 1024;

DWORD CopyBytes(HANDLE from, HANDLE to)
{
    std::vector<char> buffer(kChunk);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer.data(), kChunk, &got, nullptr))
            return GetLastError();
        if (got == 0)
            return ERROR_SUCCESS;
        DWORD written = 0;
        if (!WriteFile(to, buffer.data(), got, &written, nullptr))
            return GetLastError();
        if (written != got)
            return ERROR_HANDLE_DISK_FULL;
    }
}

} // namespace

uint32_t CopyJudgedFile(const ExportContext *context, const char *from, const char *to, uint32_t keep)
{
    HANDLE source = FsCreateFile(from, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE)
        return NfsStatusFromWindowsError(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    uint32_t status = NFS_OK;
    if (!GetFileInformationByHandle(source, &info))
        status = NfsStatusFromWindowsError(GetLastError());
    else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        status = NFSERR_ACCES;
    else if (CheckOpenedContainment(source, from, context) != 0)
        status = NFSERR_STALE;
    if (status != NFS_OK) {
        CloseHandle(source);
        return status;
    }
    HANDLE copy = FsCreateFile(to, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(source);
        return NfsStatusFromWindowsError(error);
    }
    DWORD error = CopyBytes(source, copy);
    if (error == ERROR_SUCCESS && !SetFileTime(copy, nullptr, nullptr, &info.ftLastWriteTime))
        error = GetLastError();
    // The copy shows the file's mode, owner and group, as a second name would.
    StoredUnixAttributes record;
    if (error == ERROR_SUCCESS && ReadUnixAttributes(source, nullptr, &record))
        WriteUnixAttributes(copy, &record);
    CloseHandle(source);
    CloseHandle(copy);
    if (error != ERROR_SUCCESS) {
        FsDeleteFile(to);
        return NfsStatusFromWindowsError(error);
    }
    FsSetFileAttributes(to, info.dwFileAttributes & keep);
    return NFS_OK;
}

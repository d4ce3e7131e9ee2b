#include "backend/pinned_path.h"

#include <cstring>

#include "backend/containment.h"
#include "exports/export_entry.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

namespace {

const int kSharingRetries = 5;

// Holds the folder at path, whose information goes to *info.  NFS_OK, or
// the status that refuses it.
uint32_t Pin(const char *path, bool root, PinnedPath *pins, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE folder = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; attempt++) {
        folder = FsCreateFile(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (folder != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt + 1 >= kSharingRetries)
            break;
        Sleep(1);
    }
    if (folder == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? static_cast<uint32_t>(NFSERR_STALE)
                                                                              : NfsStatusFromWindowsError(error);
    }
    pins->folders.push_back(folder);
    if (!GetFileInformationByHandle(folder, info) || (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (!root && (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
        return NFSERR_STALE;
    return NFS_OK;
}

}  // namespace

void PinnedPath::Unpin()
{
    for (HANDLE folder : folders)
        CloseHandle(folder);
    folders.clear();
}

uint32_t PinFolderPath(const char *rootPath, const char *folderPath, PinnedPath *pins,
                       const BY_HANDLE_FILE_INFORMATION *judged)
{
    pins->Unpin();
    const char *rest = BelowRoot(folderPath, rootPath);
    const size_t length = strlen(folderPath);
    if (rest == nullptr || length >= EXPORT_PATH_SIZE)
        return NFSERR_STALE;
    char prefix[EXPORT_PATH_SIZE];
    const size_t rootLength = strlen(rootPath);
    memcpy(prefix, folderPath, rootLength);
    prefix[rootLength] = 0;
    BY_HANDLE_FILE_INFORMATION info;
    uint32_t status = Pin(prefix, true, pins, &info);
    // Each further component of the rest, one folder deeper.
    for (const char *at = rest; status == NFS_OK && *at != 0;) {
        const char *end = strchr(at, '\\');
        if (end == nullptr)
            end = at + strlen(at);
        if (end > at) {
            const size_t upTo = static_cast<size_t>(end - folderPath);
            memcpy(prefix, folderPath, upTo);
            prefix[upTo] = 0;
            status = Pin(prefix, false, pins, &info);
        }
        at = *end != 0 ? end + 1 : end;
    }
    if (status == NFS_OK && judged != nullptr && !SameFile(info, *judged))
        status = NFSERR_STALE;
    if (status != NFS_OK)
        pins->Unpin();
    return status;
}

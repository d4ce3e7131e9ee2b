#include "backend/pinned_path.h"

#include <cstring>

#include "backend/containment.h"
#include "exports/export_entry.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"

namespace {

const int kSharingRetries = 5;

bool SamePrefixIgnoringAsciiCase(const char *text, const char *prefix, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        char b = prefix[i] >= 'A' && prefix[i] <= 'Z' ? static_cast<char>(prefix[i] - 'A' + 'a') : prefix[i];
        if (a != b)
            return false;
    }
    return true;
}

// Holds the folder at path.  NFS_OK, or the status that refuses it.
uint32_t Pin(const char *path, bool root, PinnedPath *pins)
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
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (!root && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
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
    const size_t rootLength = strlen(rootPath);
    const size_t length = strlen(folderPath);
    if (rootLength == 0 || length < rootLength || length >= EXPORT_PATH_SIZE ||
        !SamePrefixIgnoringAsciiCase(folderPath, rootPath, rootLength) ||
        (length > rootLength && folderPath[rootLength] != '\\' && rootPath[rootLength - 1] != '\\'))
        return NFSERR_STALE;
    char prefix[EXPORT_PATH_SIZE];
    memcpy(prefix, folderPath, rootLength);
    prefix[rootLength] = 0;
    uint32_t status = Pin(prefix, true, pins);
    for (size_t at = rootLength; status == NFS_OK && at < length;) {
        size_t begin = at;
        while (begin < length && folderPath[begin] == '\\')
            begin++;
        size_t end = begin;
        while (end < length && folderPath[end] != '\\')
            end++;
        if (end > begin) {
            memcpy(prefix, folderPath, end);
            prefix[end] = 0;
            status = Pin(prefix, false, pins);
        }
        at = end;
    }
    if (status == NFS_OK && judged != nullptr && !SameObject(pins->folders.back(), judged))
        status = NFSERR_STALE;
    if (status != NFS_OK)
        pins->Unpin();
    return status;
}

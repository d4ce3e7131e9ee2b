#include "backend/pinned_path.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "backend/containment.h"
#include "common/ascii_text.h"
#include "exports/export_entry.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "platform/ranked_lock.h"

namespace {

const int kSharingRetries = 5;

// The folders held now, by their paths, each with its holders' count.
RankedLock HeldLock(LOCK_RANK_LEAF, "held folders");
std::unordered_map<std::string, HeldFolder *> Held;

}  // namespace

struct HeldFolder {
    std::string path;
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION info;  // as it stays while held
    int holders;
};

namespace {

// Opens the folder at path for holding: NFS_OK, or the status that refuses it.
uint32_t OpenHeld(const char *path, HANDLE *folder, BY_HANDLE_FILE_INFORMATION *info)
{
    bool looked = false;
    FILETIME changeTime;
    bool changeKnown;
    for (int attempt = 0;; attempt++) {
        *folder = FsOpenAndLook(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, info, &changeTime,
                                &changeKnown, &looked);
        if (*folder != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt + 1 >= kSharingRetries)
            break;
        Sleep(1);
    }
    if (*folder == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? static_cast<uint32_t>(NFSERR_STALE)
                                                                              : NfsStatusFromWindowsError(error);
    }
    if (!(looked || GetFileInformationByHandle(*folder, info)) ||
        (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(*folder);
        *folder = INVALID_HANDLE_VALUE;
        return NFSERR_STALE;
    }
    return NFS_OK;
}

// Holds the folder at path (held already, or opened now), whose information
// goes to *info.  NFS_OK, or the status that refuses it.
uint32_t Pin(const char *path, bool root, PinnedPath *pins, BY_HANDLE_FILE_INFORMATION *info)
{
    HeldFolder *held = nullptr;
    {
        LockGuard guard(HeldLock);
        auto found = Held.find(path);
        if (found != Held.end()) {
            held = found->second;
            held->holders++;
        }
    }
    if (held == nullptr) {
        HANDLE folder;
        BY_HANDLE_FILE_INFORMATION opened;
        const uint32_t status = OpenHeld(path, &folder, &opened);
        if (status != NFS_OK)
            return status;
        bool shared = false;
        {
            LockGuard guard(HeldLock);
            auto found = Held.find(path);
            if (found != Held.end()) {
                // Another request held it meanwhile: both opens are of the
                // folder now at the path, which cannot move while either is
                // open.
                held = found->second;
                held->holders++;
                shared = true;
            } else {
                held = new HeldFolder{path, folder, opened, 1};
                Held.emplace(held->path, held);
            }
        }
        if (shared)
            CloseHandle(folder);
    }
    pins->folders.push_back(held);
    *info = held->info;
    // The root may be a link or junction; a folder below it never.
    if (!root && (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return NFSERR_STALE;
    return NFS_OK;
}

}  // namespace

void PinnedPath::Unpin()
{
    std::vector<HANDLE> closing;
    {
        LockGuard guard(HeldLock);
        for (HeldFolder *held : folders) {
            if (--held->holders > 0)
                continue;
            Held.erase(held->path);
            closing.push_back(held->handle);
            delete held;
        }
    }
    folders.clear();
    for (HANDLE folder : closing)
        CloseHandle(folder);
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

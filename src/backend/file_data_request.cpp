#include "backend/containment.h"
#include "backend/file_data_internal.h"

#include "backend/credentials.h"
#include "backend/unix_mode.h"
#include "fs/nfs_status.h"
#include "platform/win32.h"

DataRequest::~DataRequest()
{
    if (kept.handle != INVALID_HANDLE_VALUE)
        CloseHandle(kept.handle);
}

uint32_t BeginDataRequest(const FileHandle *handle, DataRequest *request)
{
    request->havePath = false;
    request->path[0] = 0;
    request->inode = ResolveHandle(handle, &request->context);
    return request->inode != 0 ? NFS_OK : NFSERR_STALE;
}

uint32_t NeedDataPath(DataRequest *request, DWORD dataAccess)
{
    if (request->havePath)
        return NFS_OK;
    if (PathOfHandle(&request->context, request->inode, request->path) == nullptr)
        return NFSERR_STALE;
    if (CheckContainment(request->path, &request->context) != 0 ||
        CheckRealContainmentKept(request->path, &request->context, LINK_ITSELF, &request->kept, dataAccess) != 0)
        return NFSERR_STALE;
    request->havePath = true;
    return NFS_OK;
}

uint32_t JudgedAttributes(DataRequest *request, FileAttributes *attributes, const AuthUnix *credentials)
{
    const KeptObject &kept = request->kept;
    if (kept.handle == INVALID_HANDLE_VALUE)
        return GetAttributes(request->inode, &request->context, request->path, attributes, credentials);
    FILETIME changed = kept.changeTime;
    if (kept.known)
        return GetAttributesFromInformation(&kept.info,
                                            kept.changeKnown || ChangeTimeOf(kept.handle, &changed) ? &changed
                                                                                                    : nullptr,
                                            request->inode, &request->context, request->path, attributes,
                                            credentials, INVALID_HANDLE_VALUE, nullptr, kept.handle);
    return GetAttributesThrough(kept.handle, request->inode, &request->context, request->path, attributes,
                                credentials);
}

HANDLE TakeJudgedHandle(DataRequest *request, DWORD access)
{
    KeptObject &kept = request->kept;
    if (kept.handle == INVALID_HANDLE_VALUE || (kept.access & access) != access)
        return INVALID_HANDLE_VALUE;
    const HANDLE taken = kept.handle;
    kept.handle = INVALID_HANDLE_VALUE;
    kept.access = 0;
    return taken;
}

uint32_t OpenedIsJudged(DataRequest *request, HANDLE *opened)
{
    const KeptObject &kept = request->kept;
    const bool same = kept.handle == INVALID_HANDLE_VALUE
                          ? CheckOpenedContainment(*opened, request->path, &request->context) == 0
                          : kept.known && SameObject(*opened, &kept.info);
    if (same)
        return NFS_OK;
    CloseHandle(*opened);
    *opened = INVALID_HANDLE_VALUE;
    return NFSERR_STALE;
}

uint32_t CachedIsInside(DataRequest *request, CacheEntry *entry)
{
    const DWORD now = GetTickCount();
    if (now - entry->judgedAt < CACHE_JUDGED_MS)
        return NFS_OK;
    const uint32_t status = NeedDataPath(request);
    if (status != NFS_OK)
        return status;
    if (CheckOpenedContainment(entry->handle, request->path, &request->context) != 0)
        return NFSERR_STALE;
    entry->judgedAt = now;
    return NFS_OK;
}

uint32_t RegularFileStatus(const FileAttributes *attributes)
{
    if (attributes->type == FILE_TYPE_REGULAR)
        return NFS_OK;
    // Clients expect EISDIR for a folder (as a local read() gives) and
    // EINVAL for everything else that holds no data of its own.
    return attributes->type == FILE_TYPE_DIRECTORY ? NFSERR_ISDIR : NFSERR_INVAL;
}

uint32_t UnixNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixSecondsFromFileTime(&now);
}

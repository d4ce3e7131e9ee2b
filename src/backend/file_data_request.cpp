#include "backend/file_data_internal.h"

#include "backend/unix_mode.h"
#include "fs/nfs_status.h"
#include "platform/win32.h"

uint32_t BeginDataRequest(const FileHandle *handle, DataRequest *request)
{
    request->havePath = false;
    request->path[0] = 0;
    request->inode = ResolveHandle(handle, &request->context);
    return request->inode != 0 ? NFS_OK : NFSERR_STALE;
}

uint32_t NeedDataPath(DataRequest *request)
{
    if (request->havePath)
        return NFS_OK;
    if (PathOfHandle(&request->context, request->inode, request->path) == nullptr)
        return NFSERR_STALE;
    if (CheckContainment(request->path, &request->context) != 0)
        return NFSERR_STALE;
    request->havePath = true;
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

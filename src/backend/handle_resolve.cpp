// From a client's file handle to the export, the inode and the path.
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"

uint64_t ResolveHandle(const FileHandle *handle, ExportContext *context)
{
    if (!HandleIsWellFormed(handle))
        return 0;
    if (!ExportContextById(handle->mountId, context))
        return 0;
    if ((context->flags & EXPORT_FILEID_MODE) != 0)
        return handle->inode;
    return InodeOfHandle(handle->inode);
}

uint32_t ResolveHandlePath(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode)
{
    *inode = ResolveHandle(handle, context);
    if (*inode == 0)
        return NFSERR_STALE;
    if (PathOfHandle(context, *inode, path) == nullptr)
        return NFSERR_STALE;
    if (CheckContainment(path, context) != 0)
        return NFSERR_STALE;
    return NFS_OK;
}

uint32_t GetAttrByHandle(const FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials)
{
    ExportContext context;
    char path[EXPORT_PATH_SIZE];
    uint64_t inode = 0;
    uint32_t status = ResolveHandlePath(handle, &context, path, &inode);
    if (status != NFS_OK)
        return status;
    MapCredentials(&context, credentials);
    return GetAttributes(inode, &context, path, attributes, credentials);
}

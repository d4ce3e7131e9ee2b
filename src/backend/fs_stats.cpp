#include "backend/fs_stats.h"

#include "backend/containment.h"
#include "backend/credentials.h"
#include "exports/export_context.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

bool HardLinksOn(const ExportContext *context)
{
    return ServerSettings.HardLinks != 0 && (context->flags & EXPORT_VOLUME_HARDLINKS) != 0;
}

// The rest of FsInfo and PathConf: GetAttrByHandle on a context already had.
uint32_t AttributesOf(ExportContext *context, uint64_t inode, FileAttributes *attributes, AuthUnix *credentials)
{
    char path[EXPORT_PATH_SIZE];
    if (PathOfHandle(context, inode, path) == nullptr || CheckContainment(path, context) != 0)
        return NFSERR_STALE;
    MapCredentials(context, credentials);
    return GetAttributesJudged(inode, context, path, attributes, credentials);
}

} // namespace

uint32_t StatFs(const FileHandle *handle, uint64_t *freeBlocks, uint64_t *totalBlocks, uint32_t *blockSize,
                AuthUnix *credentials, OptionalAttributes *attributes)
{
    if (attributes != nullptr)
        attributes->present = 0;
    ExportContext context;
    const uint64_t inode = ResolveHandle(handle, &context);
    if (inode == 0)
        return NFSERR_STALE;
    if (attributes != nullptr)
        attributes->present = AttributesOf(&context, inode, &attributes->attributes, credentials) == NFS_OK;
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!FsGetDiskFreeSpaceEx(context.path, &freeToCaller, &total, &totalFree)) {
        LogLine(2, "nfs_statfs: %s error %u\n", context.path, static_cast<unsigned>(GetLastError()));
        return NFSERR_IO;
    }
    *freeBlocks = totalFree.QuadPart / FS_BLOCK_SIZE;
    *totalBlocks = total.QuadPart / FS_BLOCK_SIZE;
    *blockSize = FS_BLOCK_SIZE;
    return NFS_OK;
}

uint32_t FsInfo(const FileHandle *handle, uint32_t *properties, FileAttributes *attributes, AuthUnix *credentials)
{
    ExportContext context;
    uint64_t inode = ResolveHandle(handle, &context);
    if (inode == 0)
        return NFSERR_STALE;
    if (HardLinksOn(&context))
        *properties |= FS_PROPERTY_LINK;
    else
        *properties &= ~FS_PROPERTY_LINK;
    return AttributesOf(&context, inode, attributes, credentials);
}

uint32_t PathConf(const FileHandle *handle, uint32_t *linkMaximum, uint32_t *nameMaximum, uint32_t *writable,
                  FileAttributes *attributes, AuthUnix *credentials)
{
    ExportContext context;
    uint64_t inode = ResolveHandle(handle, &context);
    if (inode == 0)
        return NFSERR_STALE;
    *linkMaximum = HardLinksOn(&context) ? 31 : 1;
    *nameMaximum = context.maxNameLength;
    *writable = (context.flags & EXPORT_READONLY) != 0 ? 0 : 1;
    return AttributesOf(&context, inode, attributes, credentials);
}

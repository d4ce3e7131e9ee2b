// From a client's file handle to the export, the inode and the path.
#include <cstring>

#include "backend/containment.h"
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "backend/open_file_cache.h"
#include "exports/export_context.h"
#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"

int HandleContext(const FileHandle *handle, ExportContext *context)
{
    if (!HandleIsWellFormed(handle))
        return 0;
    const ExportEntry *entry = FindExportByHandleId(handle->mountId);
    if (entry == nullptr)
        return ExportContextById(handle->mountId, context);
    context->maxNameLength = entry->maxNameLength;
    context->volumeSerial = entry->volumeSerial;
    context->flags = entry->flags;
    context->kind = 0;
    context->exportEntry = const_cast<ExportEntry *>(entry);
    const size_t length = strlen(entry->path);
    if (length >= sizeof context->path)
        return 0;
    memcpy(context->path, entry->path, length + 1);
    return 1;
}

uint64_t ResolveHandle(const FileHandle *handle, ExportContext *context)
{
    if (!HandleContext(handle, context))
        return 0;
    if ((context->flags & EXPORT_FILEID_MODE) != 0)
        return handle->inode;
    return InodeOfHandle(handle->inode);
}

namespace {

// The path of the handle, inside its export as it really is on disk.  A
// folder on the way that was replaced by a link (after the handle was
// given) makes the handle stale instead of leading elsewhere.  With kept,
// the handle the object was judged through (see CheckRealContainmentKept).
uint32_t ResolveContained(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode,
                          LinkUse use, KeptObject *kept = nullptr, bool forChange = false)
{
    if (kept != nullptr)
        kept->handle = INVALID_HANDLE_VALUE;
    *inode = ResolveHandle(handle, context);
    if (*inode == 0)
        return NFSERR_STALE;
    if (PathOfHandle(context, *inode, path) == nullptr)
        return NFSERR_STALE;
    if (CheckContainment(path, context) != 0)
        return NFSERR_STALE;
    if (CheckRealContainmentKept(path, context, use, kept, forChange ? GENERIC_WRITE : 0, forChange) != 0)
        return NFSERR_STALE;
    return NFS_OK;
}

} // namespace

uint32_t ResolveHandlePath(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode)
{
    return ResolveContained(handle, context, path, inode, LINK_FOLLOWED);
}

uint32_t ResolveHandlePathKept(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode,
                               KeptObject *kept)
{
    kept->known = false;
    return ResolveContained(handle, context, path, inode, LINK_FOLLOWED, kept, true);
}

uint32_t ResolveLinkHandlePath(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode,
                               KeptObject *kept)
{
    if (kept != nullptr)
        kept->known = false;
    return ResolveContained(handle, context, path, inode, LINK_ITSELF, kept);
}

uint32_t ResolveHandlePathLexically(const FileHandle *handle, ExportContext *context, char *path, uint64_t *inode)
{
    *inode = ResolveHandle(handle, context);
    if (*inode == 0 || PathOfHandle(context, *inode, path) == nullptr || CheckContainment(path, context) != 0)
        return NFSERR_STALE;
    return NFS_OK;
}

uint32_t ReadKeptAttributes(const KeptObject *kept, uint64_t inode, const ExportContext *context, const char *path,
                            FileAttributes *attributes, const AuthUnix *credentials, const StoredUnixAttributes *record)
{
    if (kept->handle == INVALID_HANDLE_VALUE)
        return GetAttributes(inode, context, path, attributes, credentials);
    // A handle of the open-file cache takes the attributes along.
    HANDLE cached = INVALID_HANDLE_VALUE;
    CacheEntry *entry = CacheLookup(&context->exportEntry->options, inode, CACHE_LEVEL_READ, &cached, nullptr);
    uint32_t status;
    if (entry != nullptr) {
        status = GetAttributesThrough(cached, inode, context, path, attributes, credentials);
        CacheRelease(entry, status == NFS_OK ? attributes : nullptr);
    } else if (kept->known) {
        // What the check read through the handle just now.
        FILETIME changed = kept->changeTime;
        const bool changeKnown = kept->changeKnown || ChangeTimeOf(kept->handle, &changed);
        status = GetAttributesFromInformation(&kept->info, changeKnown ? &changed : nullptr, inode, context, path,
                                              attributes, credentials, INVALID_HANDLE_VALUE, nullptr, kept->handle,
                                              record);
    } else {
        status = GetAttributesThrough(kept->handle, inode, context, path, attributes, credentials);
    }
    return status;
}

uint32_t GetAttributesKept(KeptObject *kept, uint64_t inode, const ExportContext *context, const char *path,
                           FileAttributes *attributes, const AuthUnix *credentials)
{
    const uint32_t status = ReadKeptAttributes(kept, inode, context, path, attributes, credentials);
    if (kept->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(kept->handle);
        kept->handle = INVALID_HANDLE_VALUE;
    }
    return status;
}

uint32_t GetAttributesJudged(uint64_t inode, const ExportContext *context, const char *path,
                             FileAttributes *attributes, const AuthUnix *credentials)
{
    // The attributes of a link are its own: what it leads to is not opened.
    // They are read through the handle the containment check opened.
    KeptObject kept;
    if (CheckRealContainmentKept(path, context, LINK_ITSELF, &kept) != 0)
        return NFSERR_STALE;
    return GetAttributesKept(&kept, inode, context, path, attributes, credentials);
}

uint32_t GetAttrByHandle(const FileHandle *handle, FileAttributes *attributes, AuthUnix *credentials)
{
    ExportContext context;
    char path[EXPORT_PATH_SIZE];
    uint64_t inode = 0;
    uint32_t status = ResolveHandlePathLexically(handle, &context, path, &inode);
    if (status != NFS_OK)
        return status;
    MapCredentials(&context, credentials);
    // The handle's own file gone from the disk: the handle is stale (a
    // client then looks its name up again), never "no such name".
    status = GetAttributesJudged(inode, &context, path, attributes, credentials);
    return status == NFSERR_NOENT ? NFSERR_STALE : status;
}

// Steps that the procedures of both versions share.
#include "nfs/nfs_ops.h"

#include <cstring>

#include "backend/lookup.h"
#include "exports/export_entry.h"
#include "fs/nfs_status.h"
#include "mount/mount_service.h"
#include "rpc/transport.h"

uint32_t NfsLookup(NfsRequest *request, NfsDirOp *op, FileHandle *object, FileAttributes *attributes,
                   NfsPostOpAttr *dirAttributes)
{
    if (dirAttributes != nullptr)
        dirAttributes->present = 0;
    // A name with a NUL byte inside names nothing that can exist.
    const bool clean = NfsNameIsClean(&op->name);
    if (NfsIsPublicHandle(&op->dir)) {
        if (!clean)
            return NFSERR_NOENT;
        int status = WebNfsLookup(&op->dir, op->name.text, request->client, request->transport->protocol);
        if (status != 0)
            return static_cast<uint32_t>(status);
        op->name.length = 1;
    }
    uint32_t status = NfsCheckCaller(request, &op->dir, false, nullptr);
    if (status != NFS_OK)
        return status;
    if (!clean) {
        if (dirAttributes != nullptr)
            NfsPostOp(request, &op->dir, dirAttributes);
        return NFSERR_NOENT;
    }
    return Lookup(&op->dir, op->name.text, object, attributes, request->client, &request->caller, dirAttributes);
}

void NfsPostOp(NfsRequest *request, const FileHandle *handle, NfsPostOpAttr *attributes)
{
    attributes->present = GetAttrByHandle(handle, &attributes->attributes, &request->caller) == NFS_OK;
}

void NfsWccOf(NfsRequest *request, const FileHandle *directory, const FolderWcc *folder, NfsWcc *wcc)
{
    if (folder->reached) {
        wcc->beforePresent = folder->beforePresent;
        wcc->before = folder->before;
        wcc->afterPresent = folder->afterPresent;
        wcc->after = folder->after;
        return;
    }
    wcc->beforePresent = GetAttrByHandle(directory, &wcc->before, &request->caller) == NFS_OK;
    wcc->afterPresent = wcc->beforePresent;
    wcc->after = wcc->before;
}

uint32_t NfsCheckChange(const NfsRequest *request, const FileHandle *handle, bool *visible, ExportContext *context)
{
    ExportContext own;
    if (context == nullptr)
        context = &own;
    *visible = false;
    uint32_t status = NfsCheckCaller(request, handle, false, context);
    if (status != NFS_OK)
        return status;
    *visible = true;
    return (context->flags & EXPORT_READONLY) != 0 ? NFSERR_ROFS : NFS_OK;
}

uint32_t NfsCheckNewName(const NfsName *name)
{
    const uint32_t invalid = 22;
    if (name->length == 0 || !NfsNameIsClean(name) || memchr(name->text, '/', name->length) != nullptr)
        return invalid;
    if (strcmp(name->text, ".") == 0 || strcmp(name->text, "..") == 0)
        return invalid;
    return NFS_OK;
}

void NfsOwnNewObject(const NfsRequest *request, SetAttr *attributes)
{
    if (attributes->uid == 0xFFFFFFFFu)
        attributes->uid = request->caller.uid;
    if (attributes->gid == 0xFFFFFFFFu)
        attributes->gid = request->caller.gid;
}

// NFS version 3: CREATE, MKDIR, REMOVE, RMDIR and RENAME.
#include "backend/file_attributes.h"
#include "backend/namespace_ops.h"
#include "fs/nfs_status.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_procs.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_protocol.h"
#include "nfs/nfs_request.h"

namespace {

typedef uint32_t (*RemoveOperation)(const FileHandle *directory, const char *name, AuthUnix *credentials,
                                    FolderWcc *wcc);

void RemoveName(NfsRequest *request, const NfsDirOp *args, Nfs3WccResult *result, RemoveOperation remove)
{
    bool visible = false;
    FolderWcc folder = {};
    result->status = NfsCheckChange(request, &args->dir, &visible, nullptr);
    if (result->status == NFS_OK)
        result->status = NfsCheckNewName(&args->name);
    if (result->status == NFS_OK)
        result->status = remove(&args->dir, args->name.text, &request->caller, &folder);
    if (visible)
        NfsWccOf(request, &args->dir, &folder, &result->wcc);
}

}  // namespace

void Nfs3MakeName(NfsRequest *request, NfsDirOp *where, Nfs3Maker make, void *args, Nfs3CreateResult *result)
{
    bool visible = false;
    FolderWcc folder = {};
    result->status = NfsCheckChange(request, &where->dir, &visible, nullptr);
    if (result->status == NFS_OK)
        result->status = NfsCheckNewName(&where->name);
    if (result->status == NFS_OK) {
        make(request, where, args, result, &folder);
        result->handlePresent = result->attributes.present = result->status == NFS_OK;
    }
    if (visible)
        NfsWccOf(request, &where->dir, &folder, &result->dirWcc);
}

void Nfs3Create(NfsRequest *request, Nfs3CreateArgs *args, Nfs3CreateResult *result)
{
    Nfs3Maker make = [](NfsRequest *r, NfsDirOp *where, void *a, Nfs3CreateResult *result, FolderWcc *folder) {
        Nfs3CreateArgs *create = static_cast<Nfs3CreateArgs *>(a);
        create->attributes.mode &= 07777u;
        NfsOwnNewObject(r, &create->attributes);
        result->status = CreateFileOp(&where->dir, where->name.text, create->how, &create->attributes,
                                      create->verifier, &result->object, &result->attributes.attributes, &r->caller,
                                      folder);
    };
    Nfs3MakeName(request, &args->where, make, args, result);
}

void Nfs3Mkdir(NfsRequest *request, Nfs3MkdirArgs *args, Nfs3CreateResult *result)
{
    Nfs3Maker make = [](NfsRequest *r, NfsDirOp *where, void *a, Nfs3CreateResult *result, FolderWcc *folder) {
        Nfs3MkdirArgs *mkdir = static_cast<Nfs3MkdirArgs *>(a);
        mkdir->attributes.mode &= 07777u;
        NfsOwnNewObject(r, &mkdir->attributes);
        result->status = MakeDirectory(&where->dir, where->name.text, &mkdir->attributes, &result->object,
                                       &result->attributes.attributes, &r->caller, folder);
    };
    Nfs3MakeName(request, &args->where, make, args, result);
}

void Nfs3Remove(NfsRequest *request, const NfsDirOp *args, Nfs3WccResult *result)
{
    RemoveName(request, args, result, RemoveFile);
}

void Nfs3Rmdir(NfsRequest *request, const NfsDirOp *args, Nfs3WccResult *result)
{
    RemoveName(request, args, result, RemoveDir);
}

void Nfs3Rename(NfsRequest *request, const Nfs3RenameArgs *args, Nfs3RenameResult *result)
{
    ExportContext from, to;
    bool fromVisible = false, toVisible = false;
    FolderWcc fromFolder = {}, toFolder = {};
    result->status = NfsCheckChange(request, &args->from.dir, &fromVisible, &from);
    const uint32_t toStatus = NfsCheckChange(request, &args->to.dir, &toVisible, &to);
    if (result->status == NFS_OK)
        result->status = toStatus;
    // A name moves within one export only.
    if (result->status == NFS_OK && from.exportEntry != to.exportEntry)
        result->status = NFS3ERR_XDEV;
    if (result->status == NFS_OK)
        result->status = NfsCheckNewName(&args->from.name);
    if (result->status == NFS_OK)
        result->status = NfsCheckNewName(&args->to.name);
    if (result->status == NFS_OK)
        result->status = RenameOp(&args->from.dir, args->from.name.text, &args->to.dir, args->to.name.text,
                                  &request->caller, &fromFolder, &toFolder);
    if (fromVisible)
        NfsWccOf(request, &args->from.dir, &fromFolder, &result->fromWcc);
    if (toVisible)
        NfsWccOf(request, &args->to.dir, &toFolder, &result->toWcc);
}

// NFS version 3: READLINK, SYMLINK, MKNOD and LINK.
#include <cstring>

#include "backend/file_attributes.h"
#include "backend/links.h"
#include "fs/nfs_status.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_procs.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_protocol.h"
#include "nfs/nfs_request.h"

namespace {

// Link text as stored: not empty, no NUL byte inside.
bool TargetIsClean(const NfsPath *target)
{
    return target->length != 0 && memchr(target->text, '\0', target->length) == nullptr;
}

}  // namespace

void Nfs3Readlink(NfsRequest *request, const Nfs3HandleArgs *args, Nfs3ReadlinkResult *result)
{
    static_assert(sizeof result->text > SYMLINK_TEXT_MAX, "the result holds the text");
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    uint32_t length = 0;
    if (result->status == NFS_OK)
        result->status = ReadLink(&args->handle, result->text, SYMLINK_TEXT_MAX, &length, &request->caller,
                                  &result->attributes);
    if (result->status == NFS_OK) {
        // Text that the reply cannot carry whole is not sent cut short.
        const uint32_t room = NfsDataLimit(request, 4 + NFS_POST_OP_ATTR_SIZE + 4, SYMLINK_TEXT_MAX + 1);
        if (length > SYMLINK_TEXT_MAX || length > room) {
            result->status = NFSERR_IO;
        } else {
            result->length = length;
        }
    }
}

void Nfs3Symlink(NfsRequest *request, Nfs3SymlinkArgs *args, Nfs3CreateResult *result)
{
    Nfs3Maker make = [](NfsRequest *r, NfsDirOp *where, void *a, Nfs3CreateResult *result, FolderWcc *folder) {
        Nfs3SymlinkArgs *symlink = static_cast<Nfs3SymlinkArgs *>(a);
        if (!TargetIsClean(&symlink->target)) {
            result->status = NFS3ERR_INVAL;
            return;
        }
        symlink->attributes.mode &= 07777u;
        NfsOwnNewObject(r, &symlink->attributes);
        result->status = MakeSymlink(&where->dir, where->name.text, &symlink->attributes, symlink->target.text,
                                     symlink->target.length, &result->object, &result->attributes.attributes,
                                     &r->caller, folder);
    };
    Nfs3MakeName(request, &args->where, make, args, result);
}

void Nfs3Mknod(NfsRequest *request, Nfs3MknodArgs *args, Nfs3CreateResult *result)
{
    Nfs3Maker make = [](NfsRequest *r, NfsDirOp *where, void *a, Nfs3CreateResult *result, FolderWcc *folder) {
        Nfs3MknodArgs *mknod = static_cast<Nfs3MknodArgs *>(a);
        switch (mknod->type) {
        case NF3BLK:
        case NF3CHR:
        case NF3SOCK:
        case NF3FIFO:
            mknod->attributes.mode &= 07777u;
            NfsOwnNewObject(r, &mknod->attributes);
            result->status = MakeNode(&where->dir, where->name.text, mknod->type, &mknod->attributes, mknod->major,
                                      mknod->minor, &result->object, &result->attributes.attributes, &r->caller,
                                      folder);
            break;
        default:
            result->status = NFS3ERR_BADTYPE;
            break;
        }
    };
    Nfs3MakeName(request, &args->where, make, args, result);
}

void Nfs3Link(NfsRequest *request, const Nfs3LinkArgs *args, Nfs3LinkResult *result)
{
    ExportContext file, directory;
    bool visible = false;
    result->status = NfsCheckCaller(request, &args->file, false, &file);
    FolderWcc folder = {};
    const uint32_t dirStatus = NfsCheckChange(request, &args->link.dir, &visible, &directory);
    if (result->status == NFS_OK)
        result->status = dirStatus;
    // A file gets a second name within its own export only.
    if (result->status == NFS_OK && file.exportEntry != directory.exportEntry)
        result->status = NFS3ERR_XDEV;
    if (result->status == NFS_OK)
        result->status = NfsCheckNewName(&args->link.name);
    if (result->status == NFS_OK) {
        result->status = MakeLink(&args->file, &args->link.dir, args->link.name.text, nullptr,
                                  &result->attributes.attributes, &request->caller, &folder);
        result->attributes.present = result->status == NFS_OK;
    }
    if (visible)
        NfsWccOf(request, &args->link.dir, &folder, &result->dirWcc);
}

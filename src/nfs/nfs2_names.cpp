// NFS version 2: CREATE, MKDIR, REMOVE, RMDIR, RENAME, LINK, SYMLINK and
// READLINK.
#include <cstring>

#include "backend/file_attributes.h"
#include "backend/links.h"
#include "backend/namespace_ops.h"
#include "fs/nfs_status.h"
#include "nfs/nfs2_args.h"
#include "nfs/nfs2_procs.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_protocol.h"
#include "nfs/nfs_request.h"

namespace {

// Mode bits that name the type of a new object.
const uint32_t TYPE_BITS = 0xF000u;
const uint32_t TYPE_FIFO = 0x1000u;
const uint32_t TYPE_CHARACTER = 0x2000u;
const uint32_t TYPE_BLOCK = 0x6000u;
const uint32_t TYPE_REGULAR = 0x8000u;
const uint32_t TYPE_SOCKET = 0xC000u;

// A new object belongs to the caller unless the client names an owner.
void OwnNewObject(const NfsRequest *request, SetAttr *attributes)
{
    if (!attributes->setUid)
        attributes->uid = request->caller.uid;
    if (!attributes->setGid)
        attributes->gid = request->caller.gid;
}

// The admission of a change in the directory and the new name's check.
uint32_t CheckNewName(NfsRequest *request, const NfsDirOp *op)
{
    bool visible = false;
    uint32_t status = NfsCheckChange(request, &op->dir, &visible, nullptr);
    return status != NFS_OK ? status : NfsCheckNewName(&op->name);
}

typedef uint32_t (*RemoveOperation)(const FileHandle *directory, const char *name, AuthUnix *credentials,
                                    FolderWcc *wcc);

void RemoveName(NfsRequest *request, const NfsDirOp *args, uint32_t *status, RemoveOperation remove)
{
    *status = CheckNewName(request, args);
    if (*status == NFS_OK)
        *status = remove(&args->dir, args->name.text, &request->caller, nullptr);
}

}  // namespace

void Nfs2Create(NfsRequest *request, Nfs2CreateArgs *args, Nfs2DirOpResult *result)
{
    result->status = CheckNewName(request, &args->where);
    if (result->status == NFS_OK) {
        SetAttr *attributes = &args->attributes;
        const uint32_t type = attributes->setMode ? attributes->mode & TYPE_BITS : 0;
        // The size word of a device carries its numbers: minor in the low
        // byte, major above it.  A character device without numbers is how
        // clients ask for a fifo, which version 2 has no type for.
        const uint32_t device = attributes->setSize ? static_cast<uint32_t>(attributes->size) : 0xFFFFFFFFu;
        const bool fifo = type == TYPE_FIFO || (type == TYPE_CHARACTER && !attributes->setSize);
        attributes->mode &= 07777u;
        OwnNewObject(request, attributes);
        if (fifo || type == TYPE_SOCKET) {
            attributes->setSize = 0;
            result->status = MakeNode(&args->where.dir, args->where.name.text, fifo ? NF3FIFO : NF3SOCK, attributes, 0,
                                      0, &result->handle, &result->attributes, &request->caller);
        } else if (type == TYPE_CHARACTER || type == TYPE_BLOCK) {
            attributes->setSize = 0;
            result->status = MakeNode(&args->where.dir, args->where.name.text, type == TYPE_BLOCK ? NF3BLK : NF3CHR,
                                      attributes, device >> 8, device & 0xFFu, &result->handle, &result->attributes,
                                     &request->caller);
        } else if (type == 0 || type == TYPE_REGULAR) {
            static const uint8_t noVerifier[NFS_VERIFIER_SIZE] = {};
            result->status = CreateFileOp(&args->where.dir, args->where.name.text, CREATE_HOW_UNCHECKED, attributes,
                                          noVerifier, &result->handle, &result->attributes, &request->caller);
        } else {
            // Folders and symbolic links have procedures of their own.
            result->status = NFSERR_IO;
        }
    }
}

void Nfs2Mkdir(NfsRequest *request, Nfs2CreateArgs *args, Nfs2DirOpResult *result)
{
    result->status = CheckNewName(request, &args->where);
    if (result->status == NFS_OK) {
        args->attributes.mode &= 07777u;
        OwnNewObject(request, &args->attributes);
        result->status = MakeDirectory(&args->where.dir, args->where.name.text, &args->attributes, &result->handle,
                                       &result->attributes, &request->caller);
    }
}

void Nfs2Remove(NfsRequest *request, const NfsDirOp *args, uint32_t *status)
{
    RemoveName(request, args, status, RemoveFile);
}

void Nfs2Rmdir(NfsRequest *request, const NfsDirOp *args, uint32_t *status)
{
    RemoveName(request, args, status, RemoveDir);
}

void Nfs2Rename(NfsRequest *request, const Nfs2RenameArgs *args, uint32_t *status)
{
    ExportContext from, to;
    bool visible = false;
    *status = NfsCheckChange(request, &args->from.dir, &visible, &from);
    if (*status == NFS_OK)
        *status = NfsCheckChange(request, &args->to.dir, &visible, &to);
    if (*status == NFS_OK && from.exportEntry != to.exportEntry)
        *status = NFS3ERR_XDEV;
    if (*status == NFS_OK)
        *status = NfsCheckNewName(&args->from.name);
    if (*status == NFS_OK)
        *status = NfsCheckNewName(&args->to.name);
    if (*status == NFS_OK)
        *status = RenameOp(&args->from.dir, args->from.name.text, &args->to.dir, args->to.name.text, &request->caller);
}

void Nfs2Link(NfsRequest *request, const Nfs2LinkArgs *args, uint32_t *status)
{
    ExportContext file, directory;
    bool visible = false;
    *status = NfsCheckCaller(request, &args->from, false, &file);
    if (*status == NFS_OK)
        *status = NfsCheckChange(request, &args->to.dir, &visible, &directory);
    if (*status == NFS_OK && file.exportEntry != directory.exportEntry)
        *status = NFS3ERR_XDEV;
    if (*status == NFS_OK)
        *status = NfsCheckNewName(&args->to.name);
    if (*status == NFS_OK)
        *status = MakeLink(&args->from, &args->to.dir, args->to.name.text, nullptr, nullptr, &request->caller);
}

void Nfs2Symlink(NfsRequest *request, Nfs2SymlinkArgs *args, uint32_t *status)
{
    *status = CheckNewName(request, &args->from);
    // Link text as stored: not empty, no NUL byte inside.
    if (*status == NFS_OK && (args->to.length == 0 || memchr(args->to.text, '\0', args->to.length) != nullptr))
        *status = NFS3ERR_INVAL;
    if (*status == NFS_OK) {
        args->attributes.mode &= 07777u;
        *status = MakeSymlink(&args->from.dir, args->from.name.text, &args->attributes, args->to.text, args->to.length,
                              nullptr, nullptr, &request->caller);
    }
}

void Nfs2Readlink(NfsRequest *request, const Nfs2HandleArgs *args, Nfs2ReadlinkResult *result)
{
    static_assert(sizeof result->text > SYMLINK_TEXT_MAX, "the result holds the text");
    uint32_t length = 0;
    result->status = NfsCheckCaller(request, &args->handle, false, nullptr);
    if (result->status == NFS_OK)
        result->status = ReadLink(&args->handle, result->text, SYMLINK_TEXT_MAX, &length);
    if (result->status == NFS_OK) {
        // Text that the reply cannot carry whole is not sent cut short.
        if (length > SYMLINK_TEXT_MAX || length > NfsDataLimit(request, 8, SYMLINK_TEXT_MAX + 1)) {
            result->status = NFSERR_IO;
        } else {
            result->length = length;
        }
    }
}

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

void RemoveName(NfsRequest *request, const char *line, RemoveOperation remove)
{
    NfsDirOp args;
    if (!NfsDecode(request, Nfs2DecodeDirOp, &args, line))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    uint32_t status = CheckNewName(request, &args);
    if (status == NFS_OK)
        status = remove(&args.dir, args.name.text, &request->caller, nullptr);
    NfsReplyRemembered(request, &ticket, XdrPutU32, &status);
}

}  // namespace

void Nfs2Create(NfsRequest *request)
{
    Nfs2CreateArgs args;
    if (!NfsDecode(request, Nfs2DecodeCreate, &args, "nfs_create: cannot read args\n"))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    Nfs2DirOpResult result = {};
    result.status = CheckNewName(request, &args.where);
    if (result.status == NFS_OK) {
        SetAttr *attributes = &args.attributes;
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
            result.status = MakeNode(&args.where.dir, args.where.name.text, fifo ? NF3FIFO : NF3SOCK, attributes, 0,
                                     0, &result.handle, &result.attributes, &request->caller);
        } else if (type == TYPE_CHARACTER || type == TYPE_BLOCK) {
            attributes->setSize = 0;
            result.status = MakeNode(&args.where.dir, args.where.name.text, type == TYPE_BLOCK ? NF3BLK : NF3CHR,
                                     attributes, device >> 8, device & 0xFFu, &result.handle, &result.attributes,
                                     &request->caller);
        } else if (type == 0 || type == TYPE_REGULAR) {
            static const uint8_t noVerifier[NFS_VERIFIER_SIZE] = {};
            result.status = CreateFileOp(&args.where.dir, args.where.name.text, CREATE_HOW_UNCHECKED, attributes,
                                         noVerifier, &result.handle, &result.attributes, &request->caller);
        } else {
            // Folders and symbolic links have procedures of their own.
            result.status = NFSERR_IO;
        }
    }
    NfsReplyRemembered(request, &ticket, Nfs2PutDirOpResult, &result);
}

void Nfs2Mkdir(NfsRequest *request)
{
    Nfs2CreateArgs args;
    if (!NfsDecode(request, Nfs2DecodeCreate, &args, "nfs_mkdir: cannot read args\n"))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    Nfs2DirOpResult result = {};
    result.status = CheckNewName(request, &args.where);
    if (result.status == NFS_OK) {
        args.attributes.mode &= 07777u;
        OwnNewObject(request, &args.attributes);
        result.status = MakeDirectory(&args.where.dir, args.where.name.text, &args.attributes, &result.handle,
                                      &result.attributes, &request->caller);
    }
    NfsReplyRemembered(request, &ticket, Nfs2PutDirOpResult, &result);
}

void Nfs2Remove(NfsRequest *request)
{
    RemoveName(request, "nfs_remove: cannot read args\n", RemoveFile);
}

void Nfs2Rmdir(NfsRequest *request)
{
    RemoveName(request, "nfs_rmdir: cannot read args\n", RemoveDir);
}

void Nfs2Rename(NfsRequest *request)
{
    Nfs2RenameArgs args;
    if (!NfsDecode(request, Nfs2DecodeRename, &args, "nfs_rename: cannot read args\n"))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    ExportContext from, to;
    bool visible = false;
    uint32_t status = NfsCheckChange(request, &args.from.dir, &visible, &from);
    if (status == NFS_OK)
        status = NfsCheckChange(request, &args.to.dir, &visible, &to);
    if (status == NFS_OK && from.exportEntry != to.exportEntry)
        status = NFS3ERR_XDEV;
    if (status == NFS_OK)
        status = NfsCheckNewName(&args.from.name);
    if (status == NFS_OK)
        status = NfsCheckNewName(&args.to.name);
    if (status == NFS_OK)
        status = RenameOp(&args.from.dir, args.from.name.text, &args.to.dir, args.to.name.text, &request->caller);
    NfsReplyRemembered(request, &ticket, XdrPutU32, &status);
}

void Nfs2Link(NfsRequest *request)
{
    Nfs2LinkArgs args;
    if (!NfsDecode(request, Nfs2DecodeLink, &args, "nfs_link: cannot read args\n"))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    ExportContext file, directory;
    bool visible = false;
    uint32_t status = NfsCheckCaller(request, &args.from, false, &file);
    if (status == NFS_OK)
        status = NfsCheckChange(request, &args.to.dir, &visible, &directory);
    if (status == NFS_OK && file.exportEntry != directory.exportEntry)
        status = NFS3ERR_XDEV;
    if (status == NFS_OK)
        status = NfsCheckNewName(&args.to.name);
    if (status == NFS_OK)
        status = MakeLink(&args.from, &args.to.dir, args.to.name.text, nullptr, nullptr, &request->caller);
    NfsReplyRemembered(request, &ticket, XdrPutU32, &status);
}

void Nfs2Symlink(NfsRequest *request)
{
    Nfs2SymlinkArgs args;
    if (!NfsDecode(request, Nfs2DecodeSymlink, &args, "nfs_symlink: cannot read args\n"))
        return;
    ReplyCacheTicket ticket;
    if (NfsResend(request, &ticket))
        return;
    uint32_t status = CheckNewName(request, &args.from);
    // Link text as stored: not empty, no NUL byte inside.
    if (status == NFS_OK && (args.to.length == 0 || memchr(args.to.text, '\0', args.to.length) != nullptr))
        status = NFS3ERR_INVAL;
    if (status == NFS_OK) {
        args.attributes.mode &= 07777u;
        status = MakeSymlink(&args.from.dir, args.from.name.text, &args.attributes, args.to.text, args.to.length,
                             nullptr, nullptr, &request->caller);
    }
    NfsReplyRemembered(request, &ticket, XdrPutU32, &status);
}

void Nfs2Readlink(NfsRequest *request)
{
    Nfs2HandleArgs args;
    if (!NfsDecode(request, Nfs2DecodeHandle, &args, "nfs_readlink: cannot read args\n"))
        return;
    Nfs2ReadlinkResult result = {};
    char text[SYMLINK_TEXT_MAX + 1];
    uint32_t length = 0;
    result.status = NfsCheckCaller(request, &args.handle, false, nullptr);
    if (result.status == NFS_OK)
        result.status = ReadLink(&args.handle, text, SYMLINK_TEXT_MAX, &length);
    if (result.status == NFS_OK) {
        // Text that the reply cannot carry whole is not sent cut short.
        if (length > SYMLINK_TEXT_MAX || length > NfsDataLimit(request, 8, SYMLINK_TEXT_MAX + 1)) {
            result.status = NFSERR_IO;
        } else {
            result.length = length;
            result.text = text;
        }
    }
    NfsReply(request, Nfs2PutReadlinkResult, &result);
}

// NFS version 3: READDIR and READDIRPLUS.
#include "backend/credentials.h"
#include "backend/file_attributes.h"
#include "fs/nfs_status.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_procs.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_listing.h"
#include "nfs/nfs_ops.h"
#include "nfs/nfs_protocol.h"
#include "nfs/nfs_request.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// What READDIRPLUS counts against dircount: the directory information
// alone (file IDs, names, cookies); the first entry always goes.  "." is
// the folder the listing judged: its attributes are the folder's own.
struct PlusState {
    uint32_t dirLimit;
    uint32_t dirUsed;
    const NfsPostOpAttr *folder;
};

uint32_t PutEntry(NfsRequest *, const NfsListedEntry *entry, uint8_t *out, uint32_t room, void *)
{
    return Nfs3PutEntry(out, room, entry->fileId, entry->name, entry->nameLength, entry->cookie);
}

uint32_t PutEntryPlus(NfsRequest *request, const NfsListedEntry *entry, uint8_t *out, uint32_t room, void *state)
{
    PlusState *plus = static_cast<PlusState *>(state);
    const uint32_t info = Nfs3EntryInfoSize(entry->nameLength);
    if (plus->dirUsed != 0 && plus->dirUsed + info > plus->dirLimit)
        return 0;
    FileHandle handle;
    MakeHandle(entry->inode, entry->mountId, &handle);
    NfsPostOpAttr attributes;
    if (entry->attributes != nullptr) {
        attributes.present = true;
        attributes.attributes = *entry->attributes;
    } else if (entry->nameLength == 1 && entry->name[0] == '.' && plus->folder->present) {
        attributes = *plus->folder;
    } else {
        NfsPostOp(request, &handle, &attributes);
    }
    const uint32_t size = Nfs3PutEntryPlus(out, room, entry->fileId, entry->name, entry->nameLength,
                                           entry->cookie, &attributes, attributes.present ? &handle : nullptr);
    if (size != 0)
        plus->dirUsed += info;
    return size;
}

void List(NfsRequest *request, const Nfs3ReaddirArgs *args, Nfs3ReaddirResult *result, bool plus)
{
    NfsListing listing;
    listing.folder.handle = INVALID_HANDLE_VALUE;
    result->status = NfsCheckCaller(request, &args->handle, false, &listing.context);
    if (result->status == NFS_OK)
        result->status = NfsListingOpen(&listing, &args->handle, &request->caller, &result->dirAttributes);
    if (result->status == NFS_OK && plus && ServerSettings.ReadDirPlus == 0)
        result->status = NFS3ERR_NOTSUPP;
    if (result->status == NFS_OK) {
        // The entries go between the cookie verifier and the end of the
        // list, within maxcount.
        const uint32_t limit = NfsListingLimit(request, args->maxcount);
        const uint32_t offset = NfsReaddirEntriesOffset(result->dirAttributes.present);
        listing.room = limit > offset + NFS_READDIR_END_SIZE ? limit - offset - NFS_READDIR_END_SIZE : 0;
        listing.out = request->transport->buffer + ReplySuccessHeaderLength(request->call) + offset;
        PlusState state = {args->dircount != 0 ? args->dircount : 0xFFFFFFFFu, 0, &result->dirAttributes};
        // Each entry's attributes come with its name, for the caller as the
        // export maps it.
        AuthUnix caller = request->caller;
        MapCredentials(&listing.context, &caller);
        ListedAttributes attributes = {&caller, {}, false};
        if (plus)
            listing.attributes = &attributes;
        result->status = NfsListEntries(request, &listing, static_cast<uint32_t>(args->cookie),
                                        plus ? PutEntryPlus : PutEntry, &state, NFS3ERR_TOOSMALL);
        result->entries = listing.out;
        result->entriesLength = listing.length;
        result->eof = listing.eof;
    }
    NfsListingClose(&listing);
}

}  // namespace

void Nfs3Readdir(NfsRequest *request, const Nfs3ReaddirArgs *args, Nfs3ReaddirResult *result)
{
    List(request, args, result, false);
}

void Nfs3Readdirplus(NfsRequest *request, const Nfs3ReaddirArgs *args, Nfs3ReaddirResult *result)
{
    List(request, args, result, true);
}

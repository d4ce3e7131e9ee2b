// NFS version 2: READDIR.
#include "fs/nfs_status.h"
#include "nfs/nfs2_args.h"
#include "nfs/nfs2_procs.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs_listing.h"
#include "nfs/nfs_request.h"
#include "rpc/transport.h"

namespace {

uint32_t PutEntry(NfsRequest *, const NfsListedEntry *entry, uint8_t *out, uint32_t room, void *)
{
    return Nfs2PutEntry(out, room, static_cast<uint32_t>(entry->fileId), entry->name, entry->nameLength,
                        entry->cookie);
}

}  // namespace

void Nfs2Readdir(NfsRequest *request, const Nfs2ReaddirArgs *args, Nfs2ReaddirResult *result)
{
    NfsListing listing;
    listing.folder.handle = INVALID_HANDLE_VALUE;
    result->status = NfsCheckCaller(request, &args->handle, false, &listing.context);
    if (result->status == NFS_OK)
        result->status = NfsListingOpen(&listing, &args->handle);
    if (result->status == NFS_OK) {
        const uint32_t limit = NfsListingLimit(request, args->count);
        const uint32_t offset = NFS2_READDIR_ENTRIES_OFFSET;
        listing.room = limit > offset + 8 ? limit - offset - 8 : 0;
        listing.out = request->transport->buffer + ReplySuccessHeaderLength(request->call) + offset;
        // Version 2 has no status for a reply too small for one entry.
        result->status = NfsListEntries(request, &listing, args->cookie, PutEntry, nullptr, NFSERR_IO);
        result->entries = listing.out;
        result->entriesLength = listing.length;
        result->eof = listing.eof;
    }
    NfsListingClose(&listing);
}

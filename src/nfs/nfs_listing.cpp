// Directory listings of both versions.
#include "nfs/nfs_listing.h"

#include <cstring>

#include "fs/nfs_status.h"
#include "settings/settings.h"

uint32_t NfsListingOpen(NfsListing *listing, const FileHandle *handle, const AuthUnix *caller,
                        OptionalAttributes *dirAttributes)
{
    listing->length = 0;
    listing->eof = 0;
    listing->attributes = nullptr;
    listing->inode = listing->parent = 0;
    listing->mountId = handle->mountId;
    return DirHandleInfo(handle, &listing->inode, &listing->parent, &listing->context, &listing->folder, caller,
                         dirAttributes);
}

void NfsListingClose(NfsListing *listing)
{
    ListedFolderClose(&listing->folder);
}

namespace {

// The entries from cookie on, as many as fit; *cookie becomes the last one
// put and *count their number.
uint32_t ListInto(NfsRequest *request, NfsListing *listing, uint32_t *cookie, NfsPutListedEntry put, void *state,
                  uint32_t tooSmall, uint32_t *count)
{
    char name[DIRECTORY_NAME_SIZE];
    for (;;) {
        NfsListedEntry entry = {};
        entry.cookie = *cookie;
        entry.mountId = listing->mountId;
        name[0] = '\0';
        const uint32_t position = ReadDirEntryPlus(&listing->context, listing->inode, listing->parent,
                                                   request->client, &entry.cookie, name, &entry.inode,
                                                   &entry.mountId, listing->attributes, listing->folder);
        if (position == READDIR_FAILED)
            // Entries already listed go out; the next call reports the fault.
            return *count == 0 ? NFSERR_IO : NFS_OK;
        if (position == 0 || name[0] == '\0') {
            listing->eof = 1;
            return NFS_OK;
        }
        name[DIRECTORY_NAME_SIZE - 1] = '\0';
        entry.name = name;
        entry.nameLength = static_cast<uint32_t>(strlen(name));
        if (listing->attributes != nullptr && listing->attributes->present)
            entry.attributes = &listing->attributes->attributes;
        // In table mode the listing names each entry by its canonical inode.
        entry.fileId = entry.inode;
        const uint32_t size = put(request, &entry, listing->out + listing->length,
                                  listing->room - listing->length, state);
        if (size == 0)
            // The entry stays held for the next call; when not even one fits,
            // the client must ask with more room.
            return *count == 0 ? tooSmall : NFS_OK;
        listing->length += size;
        (*count)++;
        *cookie = entry.cookie;
    }
}

} // namespace

uint32_t NfsListingLimit(NfsRequest *request, uint32_t count)
{
    const uint32_t most = NfsListingSize(request->transport);
    if (count == 0 || count > most)
        count = most;
    const uint32_t room = NfsDataRoom(request, 0, count);
    return count < room ? count : room;
}

uint32_t NfsListEntries(NfsRequest *request, NfsListing *listing, uint32_t cookie, NfsPutListedEntry put,
                        void *state, uint32_t tooSmall)
{
    uint32_t count = 0;
    const uint32_t status = ListInto(request, listing, &cookie, put, state, tooSmall, &count);
    if (count != 0)
        ReadDirEntryUsed(cookie);
    return status;
}

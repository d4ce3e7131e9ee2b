// Directory listings of both versions: entries are read one at a time from
// the backend and written straight into their place in the reply until the
// next one does not fit or the directory ends.
#pragma once

#include <cstdint>

#include "backend/directory_read.h"
#include "exports/export_context.h"
#include "nfs/nfs_request.h"

// One entry as the backend gives it.
struct NfsListedEntry {
    uint64_t inode;
    uint64_t fileId;  // what the listing reports for it
    uint32_t mountId;
    uint32_t cookie;  // the cookie that continues after it
    const char *name;
    uint32_t nameLength;
    const FileAttributes *attributes;  // when the listing asked for them and could tell them
};

// Writes one entry at out, when it fits into room bytes: returns its size,
// or 0 (nothing written) when it does not fit.
typedef uint32_t (*NfsPutListedEntry)(NfsRequest *request, const NfsListedEntry *entry, uint8_t *out,
                                      uint32_t room, void *state);

// The listing of a directory whose caller has been admitted.
struct NfsListing {
    ExportContext context;  // filled by DirHandleInfo
    uint64_t inode, parent;
    uint32_t mountId;       // the directory handle's
    uint8_t *out;           // where the entries go
    uint32_t room;          // bytes they may take
    uint32_t length;        // bytes written
    uint32_t eof;           // the directory ended
    ListedAttributes *attributes;  // asked of each entry, or null
    ListedFolder folder;    // the directory as judged, held open while listing
};

// The directory of handle: DirHandleInfo's status.  NfsListingClose ends
// every listing NfsListingOpen began, whatever its status.  With
// dirAttributes (may be null), the directory's own attributes for the
// caller, from the look that judged it.
uint32_t NfsListingOpen(NfsListing *listing, const FileHandle *handle, const AuthUnix *caller = nullptr,
                        OptionalAttributes *dirAttributes = nullptr);
void NfsListingClose(NfsListing *listing);
// Entries from cookie on.  Returns 0; 5 (I/O error) when the backend cannot
// list the directory before any entry is written; tooSmall when the first
// entry does not fit.
uint32_t NfsListEntries(NfsRequest *request, NfsListing *listing, uint32_t cookie, NfsPutListedEntry put,
                        void *state, uint32_t tooSmall);
// The reply's byte limit of a listing: count, or NfsListingSize when count is
// 0 or larger; a TCP connection's buffer grows to carry it.
uint32_t NfsListingLimit(NfsRequest *request, uint32_t count);

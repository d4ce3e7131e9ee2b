// Reading directories in pieces for READDIR and READDIRPLUS.  Up to 64
// listings are open at once, each in a search slot; the 32-bit cookie that a
// client continues with carries the slot and the position of the entry:
// (position << 6) | slot.  Cookie 0 starts a listing.
#pragma once

#include <cstdint>

#include "backend/file_attributes.h"
#include "exports/export_context.h"
#include "fs/file_handle.h"

#define DIRECTORY_SEARCH_SLOTS 64u
// Room for one entry name, terminator included.
#define DIRECTORY_NAME_SIZE 516u
// ReadDirEntryPlus's answer for a listing that cannot go on.
#define READDIR_FAILED 0xFFFFFFFFu

// Prepares the search slots (none open); closes them all at the stop.
void InitDirectorySearchSlots();
void CloseDirectorySearchSlots();

// A listed folder as its handle's resolution judged it.
struct LookAhead;
struct ListedFolder {
    HANDLE handle;                    // judged through, held open (INVALID_HANDLE_VALUE: none kept)
    size_t rootLength;                // the mount's root: the start of the folder's path
    LookAhead *ahead = nullptr;       // the request's looks at entries ahead of their naming
    // The search slot whose lock the request holds from one entry to the
    // next (DIRECTORY_SEARCH_SLOTS: none), and the listing's generation.
    uint32_t heldSlot = DIRECTORY_SEARCH_SLOTS;
    uint32_t heldGeneration = 0;
};

// The directory's inode and its parent's (0 when it has none that the client
// may see), and the directory's path in context->path.  Returns an NFS
// status.  *folder gets the folder as judged, for the caller to list from
// and to close (ListedFolderClose) whatever the status.
// With attributes (may be null), the directory's own attributes for the
// caller (mapped here) as GETATTR tells them, read through that handle:
// present once the folder is judged inside, a file that is no folder too.
uint32_t DirHandleInfo(const FileHandle *handle, uint64_t *inode, uint64_t *parentInode, ExportContext *context,
                       ListedFolder *folder, const AuthUnix *caller = nullptr,
                       OptionalAttributes *attributes = nullptr);
void ListedFolderClose(ListedFolder *folder);

// What READDIRPLUS asks of each entry besides its name: its attributes, for
// the caller whose credentials are given (already mapped).  present is
// false when they cannot be told this way; the caller then asks through the
// entry's file handle.
struct ListedAttributes {
    const AuthUnix *credentials;
    FileAttributes attributes;
    bool present;
};

// The entry of the listing at *cookie: its name (copied into name,
// DIRECTORY_NAME_SIZE bytes), inode and mount id (*mountId is the
// directory's on entry; an entry on another volume may be served under a
// mount of its own).  The inode is the one file handles carry: in table mode
// already CanonicalInode of the name.  *cookie becomes the cookie of the
// entry.  Returns the position after the entry (above 0), 0 at the end of
// the directory, or READDIR_FAILED (the folder cannot be read).  A listing
// reads the folder's names once, at its start, so every cookie it gave out
// leads to the same entry again for as long as the listing lives, whatever
// happens in the folder meanwhile; a cookie whose slot no longer holds this
// folder's listing under this mount restarts the folder in a slot of its
// own and continues at the cookie's position.  Fills *attributes for the
// entry too (when not null), read through the look that named the entry, so
// a listing opens each of its files once.  The folder's names are read by
// its path while the folders on it are held in place (PinFolderPath), so
// that a folder swapped with a link since it was judged is never listed.
uint32_t ReadDirEntryPlus(ExportContext *context, uint64_t directoryInode, uint64_t parentInode,
                          uint32_t clientAddress, uint32_t *cookie, char *name, uint64_t *inode, uint32_t *mountId,
                          ListedAttributes *attributes, ListedFolder &folder);
// The entries up to this cookie went into a reply: the listing is alive (a
// slot idle for 5 seconds may go to another listing).
void ReadDirEntryUsed(uint32_t cookie);

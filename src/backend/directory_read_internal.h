// Inside directory reading: the copy of a folder's names that a search slot
// lists from, and the naming of one entry.  For directory_read*.cpp, the
// tests and the benchmark.
#pragma once

#include <cstdint>
#include <vector>

#include "backend/directory_read.h"
#include "backend/name_look.h"
#include "exports/export_context.h"

// A slot taken by no one else is reclaimed after this idle time; a new
// listing that finds every slot busy waits at most DIRECTORY_WAIT_MS, looking
// again every DIRECTORY_WAIT_STEP_MS, before it takes the slot idle longest.
#define DIRECTORY_IDLE_MS 5000u
#define DIRECTORY_WAIT_MS 1000u
#define DIRECTORY_WAIT_STEP_MS 5u
// Positions fit into the 26 upper bits of a cookie.
#define DIRECTORY_POSITION_LIMIT (1u << 26)

// The names of a folder as read at the start of a listing, sorted by their
// bytes: "." and ".." left out, and with the ASCII character set every name
// holding a byte from 0x80 up.
struct DirectoryListing {
    std::vector<char> names;          // each name with its terminator
    std::vector<uint32_t> offsets;    // where each name begins, in sorted order
    std::vector<uint32_t> attributes; // of each name's attributes, in the same order, DIRECTORY and REPARSE_POINT
};

// Reads the folder held open by folder (at directoryPath, for the log).
// False (logged at level 2) when it cannot be listed completely.
bool ReadListing(HANDLE folder, const char *directoryPath, DirectoryListing *listing);
// Empties the listing and gives its memory back.
void ClearListing(DirectoryListing *listing);
uint64_t ListingBytes(const DirectoryListing *listing);

struct LookAhead;

struct ListingRequest {
    ExportContext *context; // the export, with the folder's path
    uint64_t directoryInode;
    uint64_t parentInode;
    uint32_t clientAddress;
    uint32_t slot;
    ListedAttributes *attributes; // wanted besides the name, or null
    HANDLE folder;                // the folder held open by the request, or INVALID_HANDLE_VALUE
    LookAhead **ahead;            // the request's looks ahead (see below), or null
};

// Whether naming the entry listed with these attributes looks at it.
bool LookWanted(const ListingRequest *request, DWORD listed);
// A look at the listed entry name (at path) by its name, without opening
// it (directory_read_entries.cpp tells how).
LookOutcome LookByName(const ListingRequest *request, const char *name, const char *path, DWORD listed,
                       EntryLook *look);
// directoryPath + "\" + name into path (EXPORT_PATH_SIZE bytes); false when
// it would not fit.
bool JoinPath(const char *directoryPath, const char *name, char *path);

// Looks ahead: the look that naming the entry at index of the listing wants
// (name: as spelt on disk, lowered when the export lowers names), taken by a
// helper thread while the request named the entries before it, or now.  A
// request's first look starts a window of the entries from index on (copies
// of their names: nothing outside the slot's lock reads the listing), and
// one helper, when one is free, looks through it alongside the request.
// False when no look is wanted or no helper can ever run (one processor):
// the caller looks itself.  Looks never outlive the request: LookAheadEnd
// (from ListedFolderClose) waits for the helper and frees the window.
bool LookAheadAt(const ListingRequest *request, const DirectoryListing *listing, uint64_t index, const char *name,
                 bool lower, EntryLook *look, LookOutcome *outcome);
void LookAheadEnd(LookAhead *ahead);

struct ListingEntry {
    char name[DIRECTORY_NAME_SIZE];
    uint64_t inode;
    uint32_t mountId;
};

// The entry at position (0 ".", 1 ".." when the folder has a parent, then
// the listing's names) or, when that name has vanished, the next one that
// still exists.  Returns the position after it, 0 after the last one, or
// READDIR_FAILED.
uint32_t EntryAt(const ListingRequest *request, const DirectoryListing *listing, uint32_t position,
                 ListingEntry *entry);

// After a listing of the folder at directoryPath ran to its end: the inode
// table's children of directory that no listing saw are deleted, each only
// when Windows confirms that no such file is in the folder.
void PruneGoneChildren(const char *directoryPath, uint32_t directory);

// Slots owned by a listing now, and the memory of all slots with their
// listings (for the benchmark and the tests).
uint32_t DirectorySlotsInUse(uint64_t *listingBytes);

// Gives up the search slot the request held from one entry to the next.
void ReleaseHeldSlot(ListedFolder &folder);

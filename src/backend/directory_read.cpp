// The 64 directory-search slots and the cookies that lead back to them.
//
// A slot belongs to one listing: the folder (its inode) and the mount the
// listing was started under, and a generation that grows each time the slot
// is handed to a listing.  The listing itself is a sorted copy of the
// folder's names, read once when the slot is taken, so a position stays the
// same entry however the folder changes afterwards: a client continuing with
// a cookie never sees an entry twice or misses one that existed throughout.
//
// Locks: SlotsLock guards who owns which slot (owner, generation, ticks) and
// is held only for that bookkeeping; each slot's own lock is held by the one
// request working on its listing.  Order: a slot's lock, then SlotsLock, then
// the inode table's locks.  A request whose cookie names a slot that another
// listing owns by now (reclaimed, freed, or a cookie from elsewhere) never
// reads that listing: it restarts its own folder in a slot of its own and
// continues at the position the cookie asked for.
#include "backend/directory_read.h"

#include <cstring>

#include "backend/containment.h"
#include "backend/directory_read_internal.h"
#include "backend/pinned_path.h"
#include "fs/inode_table.h"
#include "fs/nfs_status.h"
#include "fs/win_file_access.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

namespace {

// The folder's names, read through the handle its judgment kept, which
// holds the folder judged wherever a name leads now.
bool ReadListingHeld(const char *path, const ListedFolder &folder, const ExportContext *context,
                     DirectoryListing *listing)
{
    if (folder.handle != INVALID_HANDLE_VALUE)
        return ReadListing(folder.handle, path, listing);
    // Nothing kept (the export's root, or a system that cannot tell where
    // an open object lies): the folder is opened by its path while the
    // folders down to it are held (none of them a link), and must lie where
    // it was judged.
    char root[EXPORT_PATH_SIZE];
    if (folder.rootLength >= sizeof root || strlen(path) < folder.rootLength)
        return false;
    memcpy(root, path, folder.rootLength);
    root[folder.rootLength] = 0;
    PinnedPath pins;
    if (PinFolderPath(root, path, &pins, nullptr) != NFS_OK)
        return false;
    HANDLE opened = FsCreateFile(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    const bool read = CheckOpenedContainment(opened, path, context) == 0 && ReadListing(opened, path, listing);
    CloseHandle(opened);
    return read;
}

struct DirectorySearch {
    RankedLock lock{LOCK_RANK_DIRECTORY_SLOT, "directory slot"};
    // Owner, guarded by SlotsLock.
    uint32_t startTick;      // when the slot was taken; 0 = free
    uint32_t lastUse;        // tick of the last request of the listing
    uint32_t generation;     // grows each time the slot is taken
    uint64_t directoryInode; // the listed folder
    uint32_t mountId;        // the mount it is listed under
    // Listing, guarded by lock.
    uint32_t listedGeneration; // the generation the listing was read for; 0 = none
    DirectoryListing listing;
};

DirectorySearch Slots[DIRECTORY_SEARCH_SLOTS];
RankedLock SlotsLock(LOCK_RANK_LEAF, "directory slot owners");
uint32_t NextGeneration = 1;

uint32_t NowTick()
{
    // 0 marks a free slot, so a taken slot never records it.
    DWORD now = GetTickCount();
    return now != 0 ? now : 1;
}

// Under SlotsLock: gives slot s to a listing of (directory, mount).
void GiveSlot(uint32_t s, uint64_t directory, uint32_t mountId, uint32_t *generation)
{
    DirectorySearch &slot = Slots[s];
    slot.startTick = NowTick();
    slot.lastUse = slot.startTick;
    slot.directoryInode = directory;
    slot.mountId = mountId;
    if (NextGeneration == 0)
        NextGeneration = 1;
    slot.generation = NextGeneration++;
    *generation = slot.generation;
}

// A slot for a new (or restarted) listing: a free one, else one idle for
// DIRECTORY_IDLE_MS.  When every slot is busy the request waits for one to
// come free; after DIRECTORY_WAIT_MS it takes the slot idle longest, whose
// listing then restarts in a slot of its own at its next request.
void TakeSlot(uint64_t directory, uint32_t mountId, uint32_t *s, uint32_t *generation)
{
    const DWORD began = GetTickCount();
    for (;;) {
        LockTake(&SlotsLock);
        const uint32_t now = NowTick();
        const bool waitedEnough = GetTickCount() - began >= DIRECTORY_WAIT_MS;
        uint32_t chosen = DIRECTORY_SEARCH_SLOTS;
        uint32_t idlest = 0;
        for (uint32_t i = 0; i < DIRECTORY_SEARCH_SLOTS; i++) {
            if (Slots[i].startTick == 0) {
                chosen = i;
                break;
            }
            const uint32_t idle = now - Slots[i].lastUse;
            if (chosen == DIRECTORY_SEARCH_SLOTS || idle > idlest) {
                chosen = i;
                idlest = idle;
            }
        }
        if (Slots[chosen].startTick == 0 || idlest > DIRECTORY_IDLE_MS || waitedEnough) {
            GiveSlot(chosen, directory, mountId, generation);
            *s = chosen;
            LockGive(&SlotsLock);
            return;
        }
        LockGive(&SlotsLock);
        Sleep(DIRECTORY_WAIT_STEP_MS);
    }
}

// True (and the slot's last use refreshed) when slot s is still owned by a
// listing of (directory, mount); its generation goes to *generation.
bool ClaimOwnSlot(uint32_t s, uint64_t directory, uint32_t mountId, uint32_t *generation)
{
    LockTake(&SlotsLock);
    DirectorySearch &slot = Slots[s];
    const bool own = slot.startTick != 0 && slot.directoryInode == directory && slot.mountId == mountId;
    if (own) {
        slot.lastUse = NowTick();
        *generation = slot.generation;
    }
    LockGive(&SlotsLock);
    return own;
}

bool StillOwned(uint32_t s, uint32_t generation)
{
    LockTake(&SlotsLock);
    const bool own = Slots[s].startTick != 0 && Slots[s].generation == generation;
    LockGive(&SlotsLock);
    return own;
}

// Frees slot s, unless another listing has taken it meanwhile.
void FreeSlot(uint32_t s, uint32_t generation)
{
    LockTake(&SlotsLock);
    if (Slots[s].generation == generation)
        Slots[s].startTick = 0;
    LockGive(&SlotsLock);
}

} // namespace

void InitDirectorySearchSlots()
{
    CloseDirectorySearchSlots();
}

void CloseDirectorySearchSlots()
{
    for (uint32_t s = 0; s < DIRECTORY_SEARCH_SLOTS; s++) {
        DirectorySearch &slot = Slots[s];
        LockTake(&slot.lock);
        LockTake(&SlotsLock);
        slot.startTick = 0;
        slot.generation = 0;
        LockGive(&SlotsLock);
        slot.listedGeneration = 0;
        ClearListing(&slot.listing);
        LockGive(&slot.lock);
    }
}

uint32_t ReadDirEntryPlus(ExportContext *context, uint64_t directoryInode, uint64_t parentInode,
                          uint32_t clientAddress, uint32_t *cookie, char *name, uint64_t *inode, uint32_t *mountId,
                          ListedAttributes *attributes, ListedFolder &folder)
{
    if (attributes != nullptr)
        attributes->present = false;
    const uint32_t directoryMount = *mountId;
    const uint32_t position = *cookie >> 6;
    uint32_t s = *cookie & (DIRECTORY_SEARCH_SLOTS - 1);
    // A slot taken for this request can be lost to a waiting listing before
    // the request gets to it; that happens only when all 64 are busy, and
    // then a few more tries settle it.
    for (int attempt = 0; attempt < 16; attempt++) {
        uint32_t generation = 0;
        if (folder.heldSlot == s && *cookie != 0) {
            // The request's previous entry came from this slot, whose lock
            // it still holds: the listing is the one it read.
            generation = folder.heldGeneration;
        } else {
            ReleaseHeldSlot(folder);
            if (*cookie == 0 || !ClaimOwnSlot(s, directoryInode, directoryMount, &generation))
                TakeSlot(directoryInode, directoryMount, &s, &generation);
            LockTake(&Slots[s].lock);
            if (!StillOwned(s, generation)) {
                LockGive(&Slots[s].lock);
                continue;
            }
        }
        DirectorySearch &slot = Slots[s];
        folder.heldSlot = s;
        folder.heldGeneration = generation;
        if (slot.listedGeneration != generation) {
            slot.listedGeneration = 0;
            if (!ReadListingHeld(context->path, folder, context, &slot.listing)) {
                ClearListing(&slot.listing);
                FreeSlot(s, generation);
                ReleaseHeldSlot(folder);
                return READDIR_FAILED;
            }
            slot.listedGeneration = generation;
        }
        ListingRequest request = {context, directoryInode, parentInode, clientAddress, s, attributes, folder.handle,
                                  &folder.ahead};
        ListingEntry entry;
        uint32_t next = EntryAt(&request, &slot.listing, position, &entry);
        if (next == 0) {
            // The end: the slot is free again, and the inode table forgets
            // the children that are gone from the folder.
            if ((context->flags & EXPORT_FILEID_MODE) == 0)
                PruneGoneChildren(context->path, static_cast<uint32_t>(directoryInode));
            slot.listedGeneration = 0;
            ClearListing(&slot.listing);
            FreeSlot(s, generation);
            ReleaseHeldSlot(folder);
        } else if (next != READDIR_FAILED) {
            memcpy(name, entry.name, sizeof entry.name);
            *inode = entry.inode;
            *mountId = entry.mountId != 0 ? entry.mountId : directoryMount;
            *cookie = next << 6 | s;
        } else {
            ReleaseHeldSlot(folder);
        }
        return next;
    }
    return READDIR_FAILED;
}

void ReleaseHeldSlot(ListedFolder &folder)
{
    if (folder.heldSlot < DIRECTORY_SEARCH_SLOTS)
        LockGive(&Slots[folder.heldSlot].lock);
    folder.heldSlot = DIRECTORY_SEARCH_SLOTS;
}

void ReadDirEntryUsed(uint32_t cookie)
{
    // Every entry of a listing can be returned again for its cookie; what
    // the reply's use tells is that the listing is alive.
    LockTake(&SlotsLock);
    DirectorySearch &slot = Slots[cookie & (DIRECTORY_SEARCH_SLOTS - 1)];
    if (slot.startTick != 0)
        slot.lastUse = NowTick();
    LockGive(&SlotsLock);
}

uint32_t DirectorySlotsInUse(uint64_t *listingBytes)
{
    uint32_t used = 0;
    uint64_t bytes = sizeof Slots;
    for (DirectorySearch &slot : Slots) {
        LockTake(&slot.lock);
        LockTake(&SlotsLock);
        if (slot.startTick != 0)
            used++;
        LockGive(&SlotsLock);
        bytes += ListingBytes(&slot.listing);
        LockGive(&slot.lock);
    }
    if (listingBytes != nullptr)
        *listingBytes = bytes;
    return used;
}

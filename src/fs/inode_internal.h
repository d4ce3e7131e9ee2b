// Shared state and helpers of the inode table's source files.  Nothing here
// is for use outside src/fs/inode_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fs/inode_table.h"
#include "platform/ranked_lock.h"

// Header fields.
#define HDR_FREE_HEAD 0u
#define HDR_ROOT_HEAD 4u
#define HDR_TOTAL 8u
#define HDR_SERIAL 12u
#define HDR_IDENTITY_HEAD 20u

// Entry fields.
#define E_NEXT 0u
#define E_PARENT 4u
#define E_MARKER 8u
#define E_FLAGS 9u
#define E_NAMELEN 10u
#define E_LINK 12u
#define E_NAME 16u
#define E_NAMEBLOCK 16u
#define E_NAMEHEAD 20u
#define E_INDEX_LOW 16u
#define E_INDEX_HIGH 20u
#define E_VOLUME 24u

#define BLOCK 32u
#define NAME_INLINE 16u
#define NAME_HEAD_BYTES 12u
#define NAME_BLOCK_BYTES 28u

// A name to look up: bytes and length (no terminator needed).
struct NameKey {
    const uint8_t *bytes;
    uint32_t length;
};

// Orders inode numbers of one child list by their names (read from the
// table) and finds names among them.
struct ChildLess {
    using is_transparent = void;
    bool operator()(uint32_t a, uint32_t b) const;
    bool operator()(uint32_t a, const NameKey &b) const;
    bool operator()(const NameKey &a, uint32_t b) const;
};
typedef std::set<uint32_t, ChildLess> ChildSet;
// The index of a long child list: its inodes ordered by name, and the same
// inodes for a test of membership that compares no names.
struct ChildIndex {
    ChildSet order;
    std::unordered_set<uint32_t> members;
    uint32_t lastFound = 0;  // the member a lookup found last: names are often asked in order
};

struct InodeTableState {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    uint8_t *base = nullptr;
    uint32_t total = 0;
    uint32_t changes = 0;  // since the last flush of the view
    bool unsynced = false; // changed since the last FlushInodeTable
    bool open = false;
    RankedLock treeLock{LOCK_RANK_INODE_TREE, "inode tree"};
    RankedLock heapLock{LOCK_RANK_INODE_HEAP, "inode heap"};
    char path[1100] = {0};
    uint32_t sizeLimit = INODE_TABLE_MAX_SIZE;
    // The free list as a map of offset -> size, in step with the file, so
    // that a release finds its place without walking the list.
    std::map<uint32_t, uint32_t> freeRuns;
    // Where the next allocation starts looking (next fit).
    uint32_t allocCursor = 0;
    // Sorted indexes of long child lists (key: parent inode, 0 = roots).
    std::unordered_map<uint32_t, ChildIndex> lists;
    // The background check.
    HANDLE checkThread = nullptr;
    volatile LONG checkStop = 0;
    // Figures of the last verification (for the log and the tests).
    uint32_t verifiedUsed = 0;
    uint32_t verifiedFree = 0;
};
extern InodeTableState Inodes;

// --- Raw access (offsets must have been checked) -----------------------------
inline uint32_t Rd32(uint32_t off)
{
    const uint8_t *p = Inodes.base + off;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void Wr32(uint32_t off, uint32_t value)
{
    uint8_t *p = Inodes.base + off;
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}
inline uint16_t Rd16(uint32_t off)
{
    const uint8_t *p = Inodes.base + off;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void Wr16(uint32_t off, uint16_t value)
{
    uint8_t *p = Inodes.base + off;
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}
inline uint8_t Flags(uint32_t e) { return Inodes.base[e + E_FLAGS]; }
inline void SetFlags(uint32_t e, uint8_t flags) { Inodes.base[e + E_FLAGS] = flags; }

// A block offset that may be read: a multiple of 32, at least 32, at most
// total - 32.
inline bool ValidOffset(uint32_t off)
{
    return off != 0 && (off & (BLOCK - 1)) == 0 && Inodes.total >= 2 * BLOCK && off <= Inodes.total - BLOCK;
}
inline bool IsLive(uint32_t e) { return ValidOffset(e) && Inodes.base[e + E_MARKER] == INODE_MARKER; }
inline bool IsIdentity(uint32_t e) { return (Flags(e) & INODE_FLAG_IDENTITY) == INODE_FLAG_IDENTITY; }
inline bool IsLinkMember(uint32_t e) { return (Flags(e) & INODE_FLAG_IDENTITY) == INODE_FLAG_LINK_MEMBER; }
// A live entry of the tree (a name), not an identity record.
inline bool IsTreeEntry(uint32_t e) { return IsLive(e) && (Flags(e) & INODE_FLAG_IDENTITY_BIT) == 0; }
// Whether the entry's link field is its first child.
inline bool HoldsChildren(uint32_t e)
{
    return (Flags(e) & INODE_FLAG_CHILDREN) != 0 && (Flags(e) & INODE_FLAG_LINK_MEMBER) == 0;
}
inline uint32_t NameBlockCount(uint32_t length)
{
    return length <= NAME_INLINE ? 0 : (length - NAME_HEAD_BYTES + NAME_BLOCK_BYTES - 1) / NAME_BLOCK_BYTES;
}

// --- Heap (inode_heap.cpp); callers hold the tree lock --------------------------
// Allocates one zeroed 32-byte block, growing the table when needed; 0 when
// the table cannot grow.
uint32_t HeapAlloc();
// Releases one block into the free list (merging with its neighbours); a
// block already inside a free run is left alone.
void HeapFree(uint32_t off);
// Maps the open file at size bytes (growing the file); 1 or 0.
int MapTable(uint32_t size);
void UnmapTable();
// Adds the bytes from oldEnd to the mapped total to the free list.
void AddNewSpace(uint32_t oldEnd);
// Rebuilds the in-memory mirror of the free list from the file.
void LoadFreeMirror();
uint32_t GrowTarget(uint32_t total);

// --- Names (inode_names.cpp) --------------------------------------------------
int CompareNames(const uint8_t *a, uint32_t an, const uint8_t *b, uint32_t bn);
// The name of entry e: into scratch (512 bytes) or straight from the table.
// Returns the bytes and sets length; null when a name block is broken.
const uint8_t *NameOf(uint32_t e, uint8_t *scratch, uint32_t *length);
// Allocates the name blocks a name needs; false (nothing kept) when out of space.
bool AllocNameBlocks(uint32_t length, std::vector<uint32_t> &blocks);
void ReleaseBlocks(const std::vector<uint32_t> &blocks);
// Stores the name into e using the given blocks (e's name field is cleared first).
void WriteName(uint32_t e, const uint8_t *name, uint32_t length, const std::vector<uint32_t> &blocks);
// Zeroes and releases e's name blocks; the name field stays as it is.
void ReleaseNameBlocks(uint32_t e);

// --- Child lists (inode_index.cpp) ----------------------------------------------
struct ListPlace {
    uint32_t found;  // the entry with the name, 0 when none
    uint32_t before; // predecessor for an insertion (0: the list head)
    uint32_t after;  // successor for an insertion (0: end of list)
};
// Searches parent's list (0: roots).  A parent that holds no list has none.
ListPlace FindInList(uint32_t parent, const NameKey &key);
// Offset of the u32 that points at the first element of parent's list.
uint32_t ListHeadField(uint32_t parent);
// The element before e in its parent's list (0 when e is first); sets
// *found to false when e is not in the list.
uint32_t ListPredecessor(uint32_t parent, uint32_t e, bool *found);
// Links e (already named and with its parent set) at its sorted place.
void LinkIntoList(uint32_t parent, uint32_t e, const ListPlace &place);
// Takes e out of its parent's list (and the parent's index).
void UnlinkFromList(uint32_t e);
// 1 when parent's list holds e, 0 when not, -1 when the list has no index.
int IndexHolds(uint32_t parent, uint32_t e);
void IndexInsert(uint32_t parent, uint32_t e);
void IndexErase(uint32_t parent, uint32_t e);
void IndexDrop(uint32_t parent);
void IndexClear();
// Index threshold: a list walk that meets this many entries builds an index.
#define INDEX_THRESHOLD 32u

// --- Tree (inode_tree.cpp) ---------------------------------------------------------
// An entry that its parent's list really holds (numbers from outside, such as
// file handles, may point anywhere).
bool IsListedEntry(uint32_t e);
// A live identity record whose ring leads back to it.
bool IsIdentityRecord(uint32_t e);
uint32_t AddChildLocked(uint32_t parent, const uint8_t *name, uint32_t length);
// CanonicalInode with the tree lock held.
uint32_t CanonicalLocked(uint32_t inode);
// The length of name as the table keeps it (inode_tree.cpp).
uint32_t CutLength(const char *name);
int DeleteLocked(uint32_t e);
int DeleteChildrenLocked(uint32_t e);
void NoteChange();

// --- Links (inode_links.cpp) -------------------------------------------------------
uint32_t RingIdentity(uint32_t e);
void LeaveRing(uint32_t e);

// --- Open and verify (inode_open.cpp) ------------------------------------------
bool VerifyTable();

// --- Background check (inode_check.cpp) -------------------------------------------
void StartInodeCheck();
void StopInodeCheck();

// The table's locks held for a scope.
struct TreeGuard : LockGuard {
    TreeGuard() : LockGuard(Inodes.treeLock) {}
};
struct HeapGuard : LockGuard {
    HeapGuard() : LockGuard(Inodes.heapLock) {}
};

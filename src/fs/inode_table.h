// The inode table: a persistent tree of path components in the file
// "inodes.nfs", mapped into memory.  An inode number is the byte offset of
// its entry in the file (a multiple of 32; 0 = none), so numbers stay valid
// across restarts and clients' file handles keep working.
//
// File layout (little-endian, a heap of 32-byte blocks):
//   header (offset 0): u32 free head, u32 root head, u32 total size,
//     u32 volume serial, u32 0, u32 identity head, 8 bytes 0
//   free run: u32 size in bytes, u32 next run (ascending order, merged)
//   entry: u32 next sibling, u32 parent, u8 0xFF, u8 flags, u16 name length,
//     u32 link (first child, or next in the link ring), 16 bytes name; a name
//     longer than 16 bytes keeps a u32 name-block offset at 16 and its first
//     12 bytes at 20; a name block is u32 next and 28 name bytes
//   identity record (flags 0x60): u32 next record, u32 0, u8 0xFF, u8 flags,
//     u16 0, u32 first name of the link ring, u32 file index low, u32 file
//     index high, u32 volume serial, u32 left as it was
//
// Every operation here takes the tree lock itself; growth and the free list
// take the heap lock inside, always after the tree lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32.h"

#define INODE_FLAG_SEEN 0x01u
#define INODE_FLAG_PENDING 0x02u
#define INODE_FLAG_CHILDREN 0x10u
#define INODE_FLAG_IDENTITY_BIT 0x20u
#define INODE_FLAG_LINK_MEMBER 0x40u
#define INODE_FLAG_IDENTITY 0x60u
#define INODE_MARKER 0xFFu

#define INODE_NAME_MAX 511u
#define INODE_PATH_SIZE 2048u
#define INODE_PATH_DEPTH 64u
#define INODE_TABLE_MIN_SIZE 0x200000u
#define INODE_TABLE_MAX_SIZE 0xFFFFFFE0u
#define INODE_FLUSH_THRESHOLD 16u

// Opens the table named by the "InodePath" setting, or "inodes.nfs" in the
// program's folder.  reset: start with an empty table.  Starts the
// background check when the InodeCheck setting is on.
bool OpenInodeTable(int reset);
// The same for a given file (no background check unless InodeCheck is on).
bool OpenInodeTableAt(const char *path, int reset);
// Stops the background check, flushes, unmaps, closes the mapping and file.
void CloseInodeTable();

// The child of parent (0: the root list) with that name, 0 when there is
// none; "." is the parent itself.  Names compare without regard to ASCII case.
uint32_t FindChild(uint32_t parent, const char *name);
// The child with that name, created when missing (names longer than 511
// bytes are cut).  0 when the table is full or the parent cannot hold
// children.
uint32_t AddChild(uint32_t parent, const char *name);
// Every component of a full Windows path added from the root down; the
// inode of the last one, 0 on failure (also for a ".." component).
uint32_t AddPath(const char *path);
// The Windows path of an inode into buffer (INODE_PATH_SIZE bytes); null
// when the inode is no entry, its chain is broken, it lies more than 64
// levels below its root entry, or the path does not fit.
char *PathOfInode(uint32_t inode, char *buffer);
// PathOfInode, where a hard-linked file's name is chosen among all its
// names: the first one at or below root (a file with names in two exports
// resolves in each), else the first name.
char *PathOfInodeWithin(uint32_t inode, const char *root, char *buffer);
uint32_t ParentOfInode(uint32_t inode);
// The inode of a file handle (the handle's 64-bit inode field) when it names
// a live entry that the table really holds at that place, else 0.
uint32_t InodeOfHandle(uint64_t handleInode);
// For a hard-link name, the inode of the file's identity record; otherwise
// the inode itself; 0 when it is no entry.
uint32_t CanonicalInode(uint32_t inode);
void MarkSeen(uint32_t inode);
// op > 0 sets, op = 0 clears, op < 0 only reads the pending flag; returns the
// previous state (0 or 1).
int SetPending(uint32_t inode, int op);
// Records that the name inode is one name of the file (index, volume).
// Returns the inode that now stands for the name (a new one when this file
// was not known as hard-linked yet: the old number becomes its identity).
uint32_t RegisterHardLink(uint32_t inode, uint32_t fileIndexLow, uint32_t fileIndexHigh, uint32_t volumeSerial);
// Adds the name to the link ring of file (an identity record or a name in
// the ring), right after file.
void JoinLinkRing(uint32_t file, uint32_t name);
// Deletes the entry with everything below it.  Entries with the pending
// flag stay; so does every entry above one that stays.  Returns 1 when the
// entry is gone, 0 when it stays or is no entry.  For an identity record the
// name its path is built from is deleted.
int DeleteInode(uint32_t inode);
// The same after clearing the entry's own pending flag.
int DeleteInodeClearPending(uint32_t inode);
// Deletes everything below the entry; returns 1 when no child is left.
int DeleteChildren(uint32_t inode);
// After a complete listing: children with the seen flag lose it, the others
// are deleted.
void PruneUnseen(uint32_t directory);
// Rename: the entry gets the new parent and name and keeps its number; an
// entry of that name already there is deleted first.  Inode 0 adds the name.
bool MoveInode(uint32_t inode, uint32_t newParent, const char *newName);
// Flushes the whole view when more than threshold changes happened since the
// last flush.
void FlushIfDirty(uint32_t threshold);
// Brings every change made so far to stable storage (the view's pages, then
// the file with its metadata) before it returns; true when nothing failed
// (GetLastError tells what did).  Only the disk write runs outside the tree
// lock.
bool FlushInodeTable();

// --- Inspection (tests, benchmarks, the log) ------------------------------
struct InodeTableStats {
    uint32_t total;        // bytes mapped
    uint32_t used;         // bytes in entries, name blocks, identities, header
    uint32_t free;         // bytes in the free list
    uint32_t entries;      // entries in the tree
    uint32_t identities;   // identity records
    uint32_t freeRuns;     // runs in the free list
    uint32_t indexedLists; // child lists with an in-memory index
    uint64_t indexBytes;   // estimated memory of the indexes
};
bool InodeTableStatistics(InodeTableStats *stats);
// Checks every rule of the file layout and the in-memory state (sorted and
// unique child lists, parents, name blocks, link rings, identity list, free
// list merged and disjoint from entries, used + free = total, indexes in
// step).  Returns true when all hold; else false with the first broken rule
// in reason.
bool InodeTableConsistent(char *reason, size_t reasonSize);
// The path of the open table file ("" when closed).
const char *InodeTablePath();
// Largest size growth may reach (tests of a full table); default and
// maximum INODE_TABLE_MAX_SIZE.
void SetInodeTableSizeLimit(uint32_t bytes);

// --- Pruning after a directory listing --------------------------------------
// The children of directory that no listing marked as seen, each with its
// name; children with the seen flag lose it.  The caller decides which of
// them are really gone.
struct UnseenChild {
    uint32_t inode;
    char name[INODE_NAME_MAX + 1];
};
// AddChild and MarkSeen in one step; *canonical gets CanonicalInode of the
// child.
uint32_t AddSeenChild(uint32_t parent, const char *name, uint32_t *canonical);
void TakeUnseenChildren(uint32_t directory, std::vector<UnseenChild> *unseen);
// Deletes child (as DeleteInode does) only while it is still the entry
// called name in directory and has not been marked seen since; 1 when it
// was deleted.
int DeleteUnseenChild(uint32_t directory, uint32_t child, const char *name);

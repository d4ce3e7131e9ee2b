// The mount table: one record per client and mounted folder.  Every NFS file
// handle carries the mount id of a record, and the record leads to the export
// and the root folder of the handle.  MountLock guards the list, the two hash
// indexes (by mount id, by client address) and every field of the records.
//
// A mount id stays the same across restarts: a new record's id is derived
// from the client address and the folder alone (no counter), and mounttab
// keeps the id of every record it holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exports/export_context.h"
#include "exports/export_entry.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

// Low byte of MountRecord::kind: the transport the mount came over.
#define MOUNT_KIND_UDP 17u
#define MOUNT_KIND_TCP 6u
#define MOUNT_KIND_TRANSPORT 0xFFu
// Marks added to the transport.
#define MOUNT_KIND_WEBNFS 0x100u
#define MOUNT_KIND_AUTO 0x200u

#define MOUNT_HOST_NAME_SIZE 512

struct MountRecord {
    MountRecord *self;                   // the record's own address
    MountRecord *next;                   // next record (newest first)
    char hostName[MOUNT_HOST_NAME_SIZE]; // empty until the background look-up filled it
    uint32_t clientAddress;              // IPv4, network byte order
    uint64_t inode;                      // inode (or file ID) of the mounted folder
    uint32_t maxNameLength;              // of the mounted folder's volume
    uint32_t volumeSerial;               // of the mounted folder's volume
    uint32_t flags;                      // the export's flags with the folder's volume bits
    uint32_t kind;                       // MOUNT_KIND_* transport and marks
    uint32_t mountId;                    // the id file handles carry
    ExportEntry *exportEntry;            // the export (never freed while referenced)
    char *path;                          // own Windows path when it differs from the export's, else ""; owned
    // Kept by the table (MountLock).
    MountRecord *prev;                   // the newer neighbour in the list
    MountRecord *idNext;                 // chain of the id index
    MountRecord *clientNext;             // chain of the client index
    uint8_t inMountTab;                  // mounttab holds a line of this record
    uint8_t lineStale;                   // ... but the record changed since
};

// Guards the table, the id cache and the records.  Readers outside this
// module (the window's mount view) walk the list under it.
extern RankedLock MountLock;

// The newest record; walk with ->next while holding MountLock.
MountRecord *MountTableHead();
// Records in the table (takes MountLock).
uint32_t MountCount();

// Result of MountAdd.
enum MountAddResult : int {
    MOUNT_ADD_FAILED = 0,
    MOUNT_ADD_REFRESHED = 1,  // the client had this folder mounted; the record was refreshed
    MOUNT_ADD_NEW = 2,
    MOUNT_ADD_LIMIT = 3,      // refused: the client or the table has its most records (logged)
};
// Adds the mount of a folder (Windows path) by a client, or refreshes the
// client's record of that folder (paths compare without regard to case).
// *mountId gets the record's id.  Starts the host-name look-up of the client.
// A new record is refused when the client already has MountsPerClient
// records or the table holds Mounts records.
int MountAdd(uint32_t clientAddress, uint32_t kind, const char *path, uint64_t inode, ExportEntry *exportEntry,
             uint32_t volumeSerial, uint32_t maxNameLength, uint32_t flags, uint32_t *mountId);
// The same for a record read back from mounttab: a new record takes the id
// it had (wantedId), unless another record holds it.
int MountAddWithId(uint32_t clientAddress, uint32_t kind, const char *path, uint64_t inode, ExportEntry *exportEntry,
                   uint32_t volumeSerial, uint32_t maxNameLength, uint32_t flags, uint32_t wantedId,
                   uint32_t *mountId);
// Removes the record (the window's Disconnect): 1 removed, 0 not in the table.
int MountRemove(MountRecord *record);
// Removes the client's first record of path (null: all its records); with a
// kind other than 0 only records whose transport is that kind.  Returns the
// number of records removed.
int MountRemoveClient(uint32_t clientAddress, const char *path, uint32_t kind);
// ExportContextById(mountId, context) and CheckContainment(path, context)
// are declared in export_context.h; ExportContextById is defined here.

// Marks the client's records of the export as TCP mounts (they then leave
// mounttab); the WebNFS and automatic marks stay.
void MarkMountTcp(uint32_t clientAddress, const ExportEntry *exportEntry);

// CRC-32 (no final inversion) of "%8.8x%8.8x%s" of counter, address and
// path.  A new record's id is MountIdOf(0, address, the path with ASCII
// letters in lower case), plus 13 while another record has it; mounttab
// files written before ids were kept gave the records loaded from them the
// ids of a counter counting from 0.
uint32_t MountIdOf(uint32_t counter, uint32_t clientAddress, const char *path);
// The id a new record of this client and folder asks for.
uint32_t StableMountId(uint32_t clientAddress, const char *path);
// Frees every record (end of process and tests); mounttab's next save
// rewrites the whole file.
void MountTableFree();

// --- What mounttab must learn --------------------------------------------------
// Every change of a record that mounttab may hold is noted, in order, for
// the file's next save (MountTabSave).
struct MountTabChange {
    uint32_t mountId;
    uint32_t clientAddress;
    uint8_t removed;      // the record left the table
    uint8_t wasInFile;    // ... and mounttab held a line of it
};
// Takes the changes noted since the last call (MountLock held by the
// caller), at most max of them.  Returns their count; *overflowed is set
// when changes were dropped since the last full save (the file must then be
// written whole).
size_t MountTakeChanges(MountTabChange *out, size_t max, bool *overflowed);
// After a full save: forgets every noted change (MountLock held).
void MountForgetChanges();
// After a failed save: the next save must write the file whole (MountLock
// held).
void MountLoseChanges();
// The record with this id, or null (MountLock held).
MountRecord *MountFindLocked(uint32_t mountId);

// --- Host names of clients ---------------------------------------------------
// Resolves a client address (network order) to its host name; 1 found.
typedef int (*HostAddressLookup)(uint32_t address, char *name, size_t size);
// Installs a look-up (null: gethostbyaddr); returns the one in force before.
HostAddressLookup SetHostAddressLookup(HostAddressLookup lookup);
// The gethostbyaddr look-up itself.
int LookUpHostAddress(uint32_t address, char *name, size_t size);
// Look-up threads still running.
int MountHostLookupsRunning();
// Waits until no look-up thread runs, at most milliseconds; 1 when none runs.
int MountWaitHostLookups(DWORD milliseconds);
// At most this many look-ups run at once; a mount beyond that keeps an empty
// host name (its address is shown instead).
#define MOUNT_MAX_HOST_LOOKUPS 16

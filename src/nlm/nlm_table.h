// The lock table: every byte-range lock that NFS clients hold or wait for,
// process-wide, with the semantics POSIX clients expect:
//   - a lock is owned by (client address, svid, owner handle);
//   - shared locks of different owners coexist; an exclusive lock conflicts
//     with every lock of another owner on a byte it covers;
//   - an owner never conflicts with itself: a new request replaces the
//     owner's own locks on its range (upgrade, downgrade) and merges with the
//     owner's adjacent or overlapping locks of the same kind; an unlock of
//     part of a range leaves the rest held;
//   - ranges are first..last bytes, inclusive; nothing wraps.
// A request that conflicts and may block waits in the table with its
// prepared NLM_GRANTED call; whenever locks of a file are released, every
// waiter that no longer conflicts is granted, oldest first, and its call is
// handed back for delivery.  A grant stays unconfirmed until the client
// answers the call or repeats its LOCK; a client that refuses it, or does
// neither within NLM_GRANT_CONFIRM_MS, loses it again.
//
// The table also keeps the Windows byte-range locks underneath, so that
// Windows programs see what NFS clients hold: the bytes under any granted
// lock of a file are covered by exclusive Windows locks taken through the
// file's one handle (NlmFileOps).  Reads and writes of the NFS service go
// through that same handle and are never refused by them.
//
// The table is a plain module: a file is an opaque pointer, and everything
// done to a file goes through NlmFileOps.  One lock of its own serialises
// every operation; the file operations run under it.  Callers must keep a
// file's handle open while they call in with it, and whoever closes a handle
// that has table records calls NlmTableReleaseFile first (which waits for the
// table lock), so that no file operation runs on a closed handle.
#pragma once

#include <cstdint>

#include "nlm/nlm_protocol.h"

// The table grows with demand: records (granted and waiting) are bounded
// only by NlmTableSetBounds, in all and per client address; a LOCK that
// would pass a bound is refused with NLM_DENIED_NOLOCKS.  Unlocks that split
// a range are never refused, so no unlock ever has to drop a lock.
// Grants one call hands back at most (the rest wait for the next release
// or their client's repeat).
#define NLM_GRANT_LIST_SIZE 512u
// How long a granted waiter may stay unconfirmed (the Linux client repeats a
// blocked LOCK every 30 seconds, so two of its repeats fit).
#define NLM_GRANT_CONFIRM_MS 75000u
// A waiter that its client has not repeated for this long is stale: it
// makes room when the table is full.
#define NLM_WAIT_STALE_MS 120000u

// A prepared call for delivery to a client (nlm_delivery.h).  The table
// keeps a waiter's NLM_GRANTED call and frees it when the waiter goes.
struct NlmOutCall;
void NlmOutCallFree(NlmOutCall *call);

struct NlmFileOps {
    // Takes an exclusive Windows lock of bytes first..last through the
    // file's handle.  False when Windows refuses (another program holds a
    // byte of the range).
    bool (*lock)(void *file, uint64_t first, uint64_t last);
    // Drops exactly a range taken with lock.
    void (*unlock)(void *file, uint64_t first, uint64_t last);
    // The number of the table's references to the file (granted and waiting
    // records, Windows locks, unconfirmed grants) changed by delta; while it
    // is above 0 the file's handle must stay open.  A reference goes only
    // after what it covered (a Windows lock's unlock) is done.
    void (*refer)(void *file, int delta);
};

struct NlmOwner {
    uint32_t client;  // IPv4 address, network order
    uint32_t svid;
    uint32_t ohLength;
    const uint8_t *oh;
};

struct NlmLockRequest {
    void *file;
    NlmOwner owner;
    uint64_t first;
    uint64_t last;
    bool exclusive;
    bool block;
    const char *callerName;  // the client's name, for FREE_ALL
    // With block: the NLM_GRANTED call to send when the request is granted
    // later.  The table takes it (and sets this to null) when it records the
    // request as waiting; otherwise it stays the caller's.
    NlmOutCall *call;
};

// A granted waiter: its call, to be delivered, and the grant's id for
// NlmTableGrantAnswered.
struct NlmGrant {
    NlmOutCall *call;
    uint32_t grantId;
};
struct NlmGrantList {
    uint32_t count;
    NlmGrant grants[NLM_GRANT_LIST_SIZE];
};

// The holder of a conflicting lock, for TEST.
struct NlmTableHolder {
    bool exclusive;
    uint32_t svid;
    uint32_t ohLength;
    uint8_t oh[NLM_MAX_NETOBJ];
    uint64_t first;
    uint64_t last;
};

// Empties the table (freeing waiting calls, without file operations) and
// sets the file operations.  Not while other threads use the table.
void NlmTableInit(const NlmFileOps *ops);
// The most records (granted and waiting) in all and of one client address;
// 0: no bound.  Records held beyond a lowered bound stay.
void NlmTableSetBounds(uint32_t records, uint32_t recordsPerClient);

// LOCK: NLM_GRANTED, NLM_DENIED, NLM_BLOCKED (recorded as waiting, or a
// repeat of a waiting request, which is checked again first) or
// NLM_DENIED_NOLOCKS (a bound reached, and no stale waiter to make room).  A repeat of a granted but unconfirmed
// request confirms it.  Changes of the owner's own locks may grant waiters.
uint32_t NlmTableLock(NlmLockRequest *request, uint32_t now, NlmGrantList *granted);
// TEST: NLM_GRANTED, or NLM_DENIED with the first conflicting holder.
uint32_t NlmTableTest(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, bool exclusive,
                      NlmTableHolder *holder);
// UNLOCK: releases the owner's locks on first..last (and drops its waiting
// requests inside the range).  Always NLM_GRANTED.
uint32_t NlmTableUnlock(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                        NlmGrantList *granted);
// CANCEL: drops the owner's waiting request for exactly first..last; when
// it was granted already but is not confirmed yet, the grant is taken back.
void NlmTableCancel(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                    NlmGrantList *granted);
// FREE_ALL: drops every lock and waiting request of the clients that call
// themselves `callerName`.
void NlmTableFreeAll(const char *callerName, uint32_t now, NlmGrantList *granted);
// The same for the clients at `address` (network order) that call
// themselves `callerName` (a client's status monitor told of its restart).
void NlmTableFreeClient(uint32_t address, const char *callerName, uint32_t now, NlmGrantList *granted);
// The file's handle is about to close: drops all its locks and waiters.
void NlmTableReleaseFile(void *file);
// The client's answer to a grant's NLM_GRANTED call: NLM_GRANTED confirms
// it; NLM_DENIED (the client no longer waits) takes it back.
void NlmTableGrantAnswered(uint32_t grantId, uint32_t stat, uint32_t now, NlmGrantList *granted);
// Takes back grants left unconfirmed for NLM_GRANT_CONFIRM_MS.  Returns the
// milliseconds until the next deadline (or NLM_GRANT_CONFIRM_MS).
uint32_t NlmTableExpire(uint32_t now, NlmGrantList *granted);

// For tests and the fuzzer: records in use (granted, waiting) and whether
// the table's invariants hold (records of one owner and file disjoint, no
// two granted records in conflict, the Windows locks covering exactly the
// granted bytes, reference counts matching).
struct NlmTableCounts {
    uint32_t granted;
    uint32_t waiting;
    uint32_t unconfirmed;
    uint32_t windowsLocks;
};
NlmTableCounts NlmTableCount(void);
bool NlmTableConsistent(void);

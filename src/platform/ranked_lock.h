// The one lock type of the server: a critical section (recursive, as
// Windows makes them) with its rank in the lock order of
// docs/ARCHITECTURE.md.  A thread takes locks in rising rank: debug builds
// check every take against the locks the thread holds, a lock of the same
// or a higher rank that is not the one taken again ends the process with
// both names, and LockAssertHeld checks that a lock is held.  A lock is
// ready from its construction (static locks too: nothing runs at start-up).
// A static lock is never destroyed, since threads may still take it while
// the process ends; a lock inside a record that goes away is retired with
// LockRetire first.
#pragma once

#include <atomic>

#include "platform/win32.h"

enum LockRank : unsigned {
    LOCK_RANK_DIRECTORY_SLOT = 10,     // one search slot: its listing
    LOCK_RANK_EXPORT_WRITER = 20,      // export table loads, saves, removals
    LOCK_RANK_MOUNTTAB_SAVE = 30,      // the write of mounttab
    LOCK_RANK_MOUNT = 31,              // mount table and its indexes
    LOCK_RANK_INODE_FLUSH = 39,        // inode table: one flush at a time
    LOCK_RANK_INODE_TREE = 40,         // inode table: names and records
    LOCK_RANK_INODE_HEAP = 41,         // inode table: free space
    LOCK_RANK_PROGRAM_TABLE = 50,      // registered programs (writers)
    LOCK_RANK_PORT_MAPPER = 60,        // the port mapper's table
    LOCK_RANK_PORT_MAPPER_CALLIT = 61, // its forwarded calls
    LOCK_RANK_SERVICE_THREADS = 62,    // transport threads and connections
    LOCK_RANK_NLM_TABLE = 70,          // lock manager records
    LOCK_RANK_NSM_CLIENTS = 75,        // status monitor clients, statmon
    // Locks under which no other lock of the server is taken (the log
    // apart): two of them never nest.
    LOCK_RANK_LEAF = 90,
    LOCK_RANK_LOG = 100,               // one log line
};

struct RankedLock;
void LockTake(RankedLock *lock);
void LockGive(RankedLock *lock);

struct RankedLock {
    constexpr RankedLock(LockRank rankOfLock, const char *nameOfLock) : rank(rankOfLock), name(nameOfLock) {}
    RankedLock(const RankedLock &) = delete;
    RankedLock &operator=(const RankedLock &) = delete;
    // For the standard waits (std::condition_variable_any).
    void lock() { LockTake(this); }
    void unlock() { LockGive(this); }

    const LockRank rank;
    const char *const name;
    CRITICAL_SECTION section{};
    std::atomic<int> state{0};  // 0 new, 1 being prepared, 2 ready
};

// Frees what the lock holds, before the record it lives in is freed; no
// thread may hold or take it any more.
void LockRetire(RankedLock *lock);
// Debug builds: ends the process unless this thread holds the lock.
void LockAssertHeld(const RankedLock *lock);

// Holds a lock for a scope.
class LockGuard {
public:
    explicit LockGuard(RankedLock &lock) : held(&lock) { LockTake(held); }
    ~LockGuard() { LockGive(held); }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

private:
    RankedLock *held;
};

// The built-in port mapper (pmapd): RPC program 100000 version 2 on UDP and
// TCP port 111, with its own sockets and threads beside the server loop, and
// the client calls with which the services register themselves with whatever
// port mapper answers on 127.0.0.1 port 111.
#pragma once

#include <cstdint>

#define PMAP_PROG 100000u
#define PMAP_VERS 2u
#define PMAP_PORT 111u

// Procedures of port mapper version 2.
enum : uint32_t {
    PMAPPROC_NULL = 0,
    PMAPPROC_SET = 1,
    PMAPPROC_UNSET = 2,
    PMAPPROC_GETPORT = 3,
    PMAPPROC_DUMP = 4,
    PMAPPROC_CALLIT = 5,
};

// Result of PortMapperStart when the sockets, the table or the thread cannot
// be made.
#define PMAP_START_FAILED 3

// One entry of the mapping table (host order).  The table is a singly linked
// list in order of registration.
struct PmapMapping {
    uint32_t prog;
    uint32_t vers;
    uint32_t prot;
    uint32_t port;
    PmapMapping *next;
};

// Starts the port mapper when `enabled` is non-zero: sockets on port 111, the
// table's own two entries, the thread.  0 on success (also when not enabled),
// PMAP_START_FAILED on failure.
int PortMapperStart(uint32_t enabled);
// Closes the port mapper's sockets and lets its thread end.  Harmless when it
// was never started.
void PortMapperStop(void);
// True while the port mapper thread runs.
bool PortMapperRunning(void);

// Announce (prog, vers, protocol, port) to the port mapper on 127.0.0.1
// port 111, or withdraw it.  The port mapper's boolean answer; 1 without any
// call when PortMapperRegistration is 0; 0 when no answer came.
uint32_t PortMapperSet(uint32_t prog, uint32_t vers, uint32_t protocol, uint32_t port);
uint32_t PortMapperUnset(uint32_t prog, uint32_t vers, uint32_t protocol);

// Asks the port mapper on 127.0.0.1 for its table (DUMP, over UDP when
// `use_udp` is non-zero, else TCP) and calls `row` for each entry, with the
// port's low 16 bits.  1 when a reply came, else 0.
typedef void (*PmapRowFunction)(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port);
int PortMapperDump(int use_udp, PmapRowFunction row);

// --- The mapping table (for the port mapper's own procedures and tests) ----------

// The first entry matching all three; else the last entry with the same prog
// and prot and another version; else null.  The caller holds the table lock.
PmapMapping *FindMapping(uint32_t prog, uint32_t vers, uint32_t prot);
// Whether an IPv4 address (network order) is this computer: 127.0.0.1 or
// one of the addresses its own name resolves to.
bool IsLocalAddress(uint32_t address);

// The table lock: SET, UNSET, GETPORT, DUMP and CALLIT's look-up hold it, so
// that the UDP path and the TCP connection threads never see a list that is
// being changed.
void PmapLockTable(void);
void PmapUnlockTable(void);

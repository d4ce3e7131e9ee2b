// Inside the port mapper: the mapping table's operations, shared by the
// service (port_mapper.cpp) and its tests.
#pragma once

#include <cstdint>

#include "rpc/port_mapper.h"

struct RpcTransport;
struct RpcCall;

// The port on which the port mapper serves and on which PortMapperSet,
// PortMapperUnset and PortMapperDump call it: 111.  Tests move it to a free
// port, since binding 111 needs privileges.
extern uint16_t PmapPort;

// DUMP lists entries only while fewer than 512 bytes are written: at most 26.
#define PMAP_DUMP_MAX_BYTES 512u
#define PMAP_DUMP_MAX_ENTRIES 26u

// The table operations; each takes the table lock.
// Puts the port mapper's own entries (prog 100000, version 2, TCP then UDP,
// `port`) at the head unless they are there already.  False when no memory.
bool PmapTableAddOwn(uint32_t port);
// SET for a caller already found local: TRUE when the same (prog, vers,
// prot) is registered with this port, FALSE with another port; otherwise the
// entry is appended (FALSE when no memory is left for it).
uint32_t PmapTableSet(uint32_t prog, uint32_t vers, uint32_t prot, uint32_t port);
// UNSET for a local caller: removes the first entry with prog and vers unless
// prog is the port mapper's or its port is 1024 or less.
uint32_t PmapTableUnset(uint32_t prog, uint32_t vers);
// GETPORT: the port of FindMapping, or 0.
uint32_t PmapTableGetPort(uint32_t prog, uint32_t vers, uint32_t prot);
// Copies the entries DUMP lists (at most PMAP_DUMP_MAX_ENTRIES) from the head.
uint32_t PmapTableSnapshot(PmapMapping *out, uint32_t max);
// Empties the table (tests; the server never empties it).
void PmapResetTable(void);

// Serves one decoded call as the port mapper: version 2 procedures, other
// versions PROG_MISMATCH 2..2.
void PmapServe(RpcTransport *transport, RpcCall *call);

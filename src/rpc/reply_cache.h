// The duplicate request cache: the replies, as sent, of recent calls of
// procedures that must not run twice (an NFS REMOVE run again answers "no
// such file" for a remove that succeeded).  A call is known by its caller
// (protocol, IPv4 address, port), its xid, its procedure (program, version,
// number) and a checksum of its argument bytes, so a retransmission finds
// its own first reply whatever other callers sent in between, and a caller
// that starts over with an old xid is not answered with another call's
// reply.
//
// Bounds (constants: the memory is small and fixed, and no administrator
// has a reason to tune them): REPLY_CACHE_ENTRIES replies, the oldest
// making room for the newest, each answering for at most
// REPLY_CACHE_SECONDS, longer than any client waits before it retransmits
// (a UDP client backs off to a minute; a TCP client retransmits after it
// reconnected).  A reply longer than REPLY_CACHE_REPLY_BYTES is not kept;
// that holds every reply of the NFS procedures the cache serves with the
// largest verifier.  Lookups hash; one lock, held for a lookup and one copy
// of a reply, guards the cache, and nothing is taken under it.
#pragma once

#include <cstdint>

#include "rpc/rpc_message.h"

#define REPLY_CACHE_ENTRIES 4096u
#define REPLY_CACHE_SECONDS 120u
#define REPLY_CACHE_REPLY_BYTES 704u

enum class ReplyCacheVerdict : uint8_t {
    RUN,          // a new call: run it, reply, then ReplyCacheFinish
    RESENT,       // a retransmission: its first reply was sent again
    IN_PROGRESS,  // a retransmission of a call still running: dropped
};

// A call being run, between ReplyCacheBegin and ReplyCacheFinish.
struct ReplyCacheTicket {
    uint32_t entry;
    uint32_t generation;  // 0: the call is not in the cache
};

// Looks the decoded call up.  RUN: the call is entered as running (another
// arrival of it is dropped until it finishes) and *ticket names it; when
// the cache has no room for it (every entry held by a running call) it runs
// without an entry.  RESENT: the remembered reply was copied into the
// transport's buffer and sent to the caller.
ReplyCacheVerdict ReplyCacheBegin(RpcTransport *transport, const RpcCall *call, ReplyCacheTicket *ticket);
// After the call's one reply was sent: remembers the reply in the
// transport's buffer for the ticket's call (nothing when that is no reply,
// too long, or the entry was taken back meanwhile because it ran too long).
// A reply that waits in the transport's batch is kept there as still
// running (retransmissions are dropped) until ReplyCacheSettle.
void ReplyCacheFinish(const RpcTransport *transport, const ReplyCacheTicket *ticket);
// The held replies of `count` entries (by entry and generation) are about to
// leave (sent true: they answer retransmissions from now on) or never will
// (sent false: they are forgotten, and a retransmission runs its call again).
void ReplyCacheSettle(const uint32_t *entries, const uint32_t *generations, uint32_t count, bool sent);

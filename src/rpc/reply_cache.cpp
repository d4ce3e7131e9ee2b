// The duplicate request cache: a fixed ring of entries, reused oldest
// first, found through a table of hash chains.
#include "rpc/reply_cache.h"

#include <cstring>

#include "platform/ranked_lock.h"
#include "rpc/transport.h"

namespace {

const uint32_t kBuckets = 2 * REPLY_CACHE_ENTRIES;
static_assert((kBuckets & (kBuckets - 1)) == 0, "the bucket count is a power of two");
const uint32_t kNone = 0xFFFFFFFFu;
const ULONGLONG kLifetimeMs = REPLY_CACHE_SECONDS * 1000ull;
// Running entries that the search for room steps over before the call is
// run without an entry.
const uint32_t kMostSkipped = 64;

// What tells one call from another.  No padding: compared as bytes.
struct CallKey {
    uint32_t xid;
    uint32_t prog;
    uint32_t vers;
    uint32_t proc;
    uint32_t address;  // network order
    uint16_t port;     // network order
    uint16_t protocol;
    uint32_t argLength;
    uint32_t argSum;
};
static_assert(sizeof(CallKey) == 32, "CallKey has padding");

enum class EntryState : uint8_t { FREE, RUNNING, DONE };

struct Entry {
    CallKey key;
    uint32_t bucket;
    uint32_t next;        // the next entry of the bucket's chain plus one, 0 at its end
    uint32_t generation;  // changes with every reuse
    EntryState state;
    ULONGLONG madeAt;  // GetTickCount64 when the call came
    uint32_t length;
    uint8_t reply[REPLY_CACHE_REPLY_BYTES];
};

// Zero-initialised storage: the pages are taken when first used.
RankedLock CacheLock(LOCK_RANK_LEAF, "reply cache");
Entry Entries[REPLY_CACHE_ENTRIES];
uint32_t Buckets[kBuckets];  // the first entry of each chain, plus one (0: none)
uint32_t Hand;               // the entry to reuse next
uint32_t Generations;

uint32_t Fnv(uint32_t hash, const uint8_t *bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; i++)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

CallKey KeyOf(const RpcTransport *transport, const RpcCall *call)
{
    CallKey key = {};
    key.xid = transport->xid;
    key.prog = call->prog;
    key.vers = call->vers;
    key.proc = call->proc;
    key.address = transport->peer.sin_addr.s_addr;
    key.port = transport->peer.sin_port;
    key.protocol = transport->protocol;
    key.argLength = call->arg_length;
    key.argSum = Fnv(2166136261u, call->args, call->args != nullptr ? call->arg_length : 0);
    return key;
}

uint32_t BucketOf(const CallKey &key)
{
    const uint32_t hash = Fnv(2166136261u, reinterpret_cast<const uint8_t *>(&key), sizeof key);
    return (hash ^ hash >> 16) & (kBuckets - 1);
}

bool Fresh(const Entry &entry, ULONGLONG now) { return now - entry.madeAt < kLifetimeMs; }

// The fresh entry of the call, or null.
Entry *Find(const CallKey &key, uint32_t bucket, ULONGLONG now)
{
    for (uint32_t i = Buckets[bucket]; i != 0; i = Entries[i - 1].next) {
        Entry &entry = Entries[i - 1];
        if (memcmp(&entry.key, &key, sizeof key) == 0 && Fresh(entry, now))
            return &entry;
    }
    return nullptr;
}

void Unlink(uint32_t index)
{
    Entry &entry = Entries[index];
    uint32_t *link = &Buckets[entry.bucket];
    while (*link != 0 && *link != index + 1)
        link = &Entries[*link - 1].next;
    if (*link != 0)
        *link = entry.next;
    entry.state = EntryState::FREE;
}

// Takes the oldest entry that no call still runs on (or one that has run
// too long to be waited for) and enters the call in it; kNone when there is
// none within reach.
uint32_t Enter(const CallKey &key, uint32_t bucket, ULONGLONG now)
{
    for (uint32_t tries = 0; tries < kMostSkipped; tries++) {
        const uint32_t index = Hand;
        Hand = (Hand + 1) % REPLY_CACHE_ENTRIES;
        Entry &entry = Entries[index];
        if (entry.state == EntryState::RUNNING && Fresh(entry, now))
            continue;
        if (entry.state != EntryState::FREE)
            Unlink(index);
        entry.key = key;
        entry.bucket = bucket;
        entry.next = Buckets[bucket];
        Buckets[bucket] = index + 1;
        entry.generation = ++Generations != 0 ? Generations : ++Generations;
        entry.state = EntryState::RUNNING;
        entry.madeAt = now;
        entry.length = 0;
        return index;
    }
    return kNone;
}

}  // namespace

ReplyCacheVerdict ReplyCacheBegin(RpcTransport *transport, const RpcCall *call, ReplyCacheTicket *ticket)
{
    ticket->generation = 0;
    const CallKey key = KeyOf(transport, call);
    const uint32_t bucket = BucketOf(key);
    {
        LockGuard guard(CacheLock);
        // Read under the lock, so no entry is younger than this moment.
        const ULONGLONG now = GetTickCount64();
        Entry *entry = Find(key, bucket, now);
        if (entry == nullptr) {
            const uint32_t index = Enter(key, bucket, now);
            if (index != kNone) {
                ticket->entry = index;
                ticket->generation = Entries[index].generation;
            }
            return ReplyCacheVerdict::RUN;
        }
        if (entry->state == EntryState::RUNNING || entry->length > transport->capacity)
            return ReplyCacheVerdict::IN_PROGRESS;
        memcpy(transport->buffer, entry->reply, entry->length);
        transport->length = static_cast<int32_t>(entry->length);
    }
    TransportSend(transport);
    return ReplyCacheVerdict::RESENT;
}

void ReplyCacheFinish(const RpcTransport *transport, const ReplyCacheTicket *ticket)
{
    if (ticket->generation == 0)
        return;
    const bool reply = transport->length >= 8 && XdrLoad32(transport->buffer + 4) == RPC_REPLY &&
                       XdrLoad32(transport->buffer) == transport->xid;
    const uint32_t length = static_cast<uint32_t>(transport->length);
    LockGuard guard(CacheLock);
    Entry &entry = Entries[ticket->entry];
    if (entry.generation != ticket->generation || entry.state != EntryState::RUNNING)
        return;
    if (!reply || length > REPLY_CACHE_REPLY_BYTES) {
        Unlink(ticket->entry);
        return;
    }
    memcpy(entry.reply, transport->buffer, length);
    entry.length = length;
    ReplyBatch *batch = transport->batch;
    if (transport->reply_held && batch != nullptr && batch->remembered < REPLY_BATCH_REPLIES) {
        batch->rememberedEntry[batch->remembered] = ticket->entry;
        batch->rememberedGeneration[batch->remembered++] = ticket->generation;
        return;
    }
    entry.state = EntryState::DONE;
}

void ReplyCacheSettle(const uint32_t *entries, const uint32_t *generations, uint32_t count, bool sent)
{
    if (count == 0)
        return;
    LockGuard guard(CacheLock);
    for (uint32_t i = 0; i < count; i++) {
        Entry &entry = Entries[entries[i]];
        if (entry.generation != generations[i] || entry.state != EntryState::RUNNING)
            continue;
        if (sent)
            entry.state = EntryState::DONE;
        else
            Unlink(entries[i]);
    }
}

// The lock table (see nlm_table.h), under one critical section.  Each file
// that has records keeps, per owner, the owner's granted ranges (disjoint,
// ordered by their first byte), its waiters in order of arrival, and its
// Windows locks (disjoint, ordered); so a request looks only at the ranges
// of its own file near its own range, whatever else the table holds.
#include "nlm/nlm_table.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/ascii_text.h"
#include "nlm/nlm_protocol.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

namespace {

// An owner: the records and unconfirmed grants that refer to it keep it.
struct Owner {
    uint32_t refs;
    uint32_t client;
    uint32_t svid;
    std::string oh;
    std::string name;
    std::string key;
};

struct Held {
    uint64_t last;
    bool exclusive;
};
// An owner's granted ranges on one file, by first byte.
using Ranges = std::map<uint64_t, Held>;

struct Waiter {
    Owner *owner;
    uint64_t first;
    uint64_t last;
    bool exclusive;
    uint32_t touched;  // the latest LOCK
    NlmOutCall *call;  // the NLM_GRANTED call
};

struct FileState {
    std::unordered_map<Owner *, Ranges> held;
    std::list<Waiter> waiters;            // oldest first
    std::map<uint64_t, uint64_t> pieces;  // Windows locks: first -> last
};

// A grant whose client has not confirmed it yet.
struct Pending {
    uint32_t grantId;
    void *file;
    Owner *owner;
    uint64_t first;
    uint64_t last;
    uint32_t deadline;
};

struct Span {
    uint64_t first;
    uint64_t last;
    bool exclusive;
};

RankedLock TableLock(LOCK_RANK_NLM_TABLE, "lock manager table");
NlmFileOps Ops;
// Never destroyed: threads may still use the table while the process ends.
std::unordered_map<std::string, Owner *> &Owners = *new std::unordered_map<std::string, Owner *>;
std::unordered_map<void *, FileState> &Files = *new std::unordered_map<void *, FileState>;
std::unordered_map<uint32_t, uint32_t> &ClientRecords = *new std::unordered_map<uint32_t, uint32_t>;
std::list<Pending> &Pendings = *new std::list<Pending>;
uint32_t Used = 0;
uint32_t Bound = 1000000;
uint32_t BoundPerClient = 200000;
uint32_t NextGrantId = 0;

struct Guard : LockGuard {
    Guard() : LockGuard(TableLock) {}
};

bool Overlap(uint64_t a1, uint64_t b1, uint64_t a2, uint64_t b2)
{
    return a1 <= b2 && a2 <= b1;
}

// Whether span b begins right behind a or inside it.
bool Touches(const Span &a, const Span &b)
{
    return b.first <= a.last || (a.last != UINT64_MAX && b.first == a.last + 1);
}

bool ByFirst(const Span &a, const Span &b)
{
    return a.first < b.first;
}

std::string KeyOf(const NlmOwner *owner)
{
    uint32_t ohLength = std::min(owner->ohLength, NLM_MAX_NETOBJ);
    std::string key(8 + ohLength, '\0');
    memcpy(&key[0], &owner->client, 4);
    memcpy(&key[4], &owner->svid, 4);
    if (ohLength > 0)
        memcpy(&key[8], owner->oh, ohLength);
    return key;
}

Owner *FindOwner(const NlmOwner *owner)
{
    auto it = Owners.find(KeyOf(owner));
    return it != Owners.end() ? it->second : nullptr;
}

// The owner; a new entry (with no references yet) when it has none.
Owner *InternOwner(const NlmOwner *owner, const char *name)
{
    std::string key = KeyOf(owner);
    auto it = Owners.find(key);
    if (it != Owners.end())
        return it->second;
    Owner *o = new Owner{0, owner->client, owner->svid, key.substr(8), name != nullptr ? name : "", key};
    Owners.emplace(key, o);
    return o;
}

void Ref(Owner *o)
{
    o->refs++;
}

// Drops a reference; an owner nothing refers to any more goes.
void Unref(Owner *o)
{
    if (o->refs > 0)
        o->refs--;
    if (o->refs == 0) {
        Owners.erase(o->key);
        delete o;
    }
}

void Count(uint32_t client, int delta)
{
    Used += delta;
    uint32_t &n = ClientRecords[client];
    n += delta;
    if (n == 0)
        ClientRecords.erase(client);
}

// Whether `extra` more records of the client stay within the bounds.
bool Fits(uint32_t client, uint32_t extra)
{
    if (Bound != 0 && Used + extra > Bound)
        return false;
    if (BoundPerClient == 0)
        return true;
    auto it = ClientRecords.find(client);
    return (it != ClientRecords.end() ? it->second : 0) + extra <= BoundPerClient;
}

void AddHeld(void *file, FileState &fs, Owner *owner, const Span &span)
{
    fs.held[owner].emplace(span.first, Held{span.last, span.exclusive});
    Ref(owner);
    Count(owner->client, 1);
    Ops.refer(file, 1);
}

void DropWaiter(void *file, FileState &fs, std::list<Waiter>::iterator w, bool keepCall)
{
    if (!keepCall)
        NlmOutCallFree(w->call);
    Owner *owner = w->owner;
    fs.waiters.erase(w);
    Count(owner->client, -1);
    Unref(owner);
    Ops.refer(file, -1);
}

// The first granted range of another owner that keeps `owner` from locking
// first..last.
bool Conflict(FileState &fs, const Owner *owner, uint64_t first, uint64_t last, bool exclusive, Owner **holder,
              Ranges::const_iterator *found)
{
    // The Windows locks cover exactly the granted bytes: none there, no lock.
    auto piece = fs.pieces.upper_bound(last);
    if (piece == fs.pieces.begin() || std::prev(piece)->second < first)
        return false;
    for (auto &entry : fs.held) {
        if (entry.first == owner)
            continue;
        const Ranges &ranges = entry.second;
        for (auto it = ranges.upper_bound(last); it != ranges.begin();) {
            --it;
            if (it->second.last < first)
                break;
            if (exclusive || it->second.exclusive) {
                if (holder != nullptr) {
                    *holder = entry.first;
                    *found = it;
                }
                return true;
            }
        }
    }
    return false;
}

bool Conflicts(FileState &fs, const Owner *owner, uint64_t first, uint64_t last, bool exclusive)
{
    return Conflict(fs, owner, first, last, exclusive, nullptr, nullptr);
}

// The owner's ranges that overlap or touch first..last: the ones a change
// of first..last can replace.
void Affected(const Ranges &ranges, uint64_t first, uint64_t last, std::vector<uint64_t> *keys)
{
    keys->clear();
    const uint64_t lo = first > 0 ? first - 1 : 0;
    const uint64_t hi = last < UINT64_MAX ? last + 1 : last;
    for (auto it = ranges.upper_bound(hi); it != ranges.begin();) {
        --it;
        if (it->second.last < lo)
            break;
        keys->push_back(it->first);
    }
}

// A change of the owner's granted ranges on a file: the ranges it replaces
// and the ranges that take their place after locking (kind 1 shared, 2
// exclusive) or unlocking (kind 0) first..last.
struct Plan {
    std::vector<uint64_t> removed;
    std::vector<Span> spans;
};

void PlanOwner(FileState &fs, Owner *owner, uint64_t first, uint64_t last, int kind, Plan *plan)
{
    plan->spans.clear();
    auto found = fs.held.find(owner);
    if (found == fs.held.end()) {
        plan->removed.clear();
    } else {
        Affected(found->second, first, last, &plan->removed);
        for (uint64_t key : plan->removed) {
            const Span r{key, found->second.at(key).last, found->second.at(key).exclusive};
            if (!Overlap(r.first, r.last, first, last)) {
                plan->spans.push_back(r);
                continue;
            }
            if (r.first < first)
                plan->spans.push_back(Span{r.first, first - 1, r.exclusive});
            if (r.last > last)
                plan->spans.push_back(Span{last + 1, r.last, r.exclusive});
        }
    }
    if (kind != 0)
        plan->spans.push_back(Span{first, last, kind == 2});
    std::sort(plan->spans.begin(), plan->spans.end(), ByFirst);
    size_t merged = 0;
    for (size_t i = 0; i < plan->spans.size(); i++) {
        Span *prev = merged > 0 ? &plan->spans[merged - 1] : nullptr;
        if (prev != nullptr && prev->exclusive == plan->spans[i].exclusive && Touches(*prev, plan->spans[i]))
            prev->last = std::max(prev->last, plan->spans[i].last);
        else
            plan->spans[merged++] = plan->spans[i];
    }
    plan->spans.resize(merged);
}

// Replaces the owner's granted ranges on the file as planned.
void CommitOwner(void *file, FileState &fs, Owner *owner, const Plan &plan)
{
    Ref(owner);  // keeps the owner while its ranges are replaced
    auto found = fs.held.find(owner);
    if (found != fs.held.end()) {
        for (uint64_t key : plan.removed) {
            found->second.erase(key);
            Count(owner->client, -1);
            Unref(owner);
            Ops.refer(file, -1);
        }
    }
    for (const Span &span : plan.spans)
        AddHeld(file, fs, owner, span);
    found = fs.held.find(owner);
    if (found != fs.held.end() && found->second.empty())
        fs.held.erase(found);
    Unref(owner);
}

// The bytes under granted locks of the file within a..b (and the whole of
// every lock reaching into it), as sorted disjoint spans.
void UnionWithin(FileState &fs, uint64_t a, uint64_t b, std::vector<Span> *out)
{
    out->clear();
    for (auto &entry : fs.held) {
        const Ranges &ranges = entry.second;
        for (auto it = ranges.upper_bound(b); it != ranges.begin();) {
            --it;
            if (it->second.last < a)
                break;
            out->push_back(Span{it->first, it->second.last, false});
        }
    }
    std::sort(out->begin(), out->end(), ByFirst);
    size_t merged = 0;
    for (size_t i = 0; i < out->size(); i++) {
        if (merged > 0 && Touches((*out)[merged - 1], (*out)[i]))
            (*out)[merged - 1].last = std::max((*out)[merged - 1].last, (*out)[i].last);
        else
            (*out)[merged++] = (*out)[i];
    }
    out->resize(merged);
}

// Drops a Windows lock; the reference it held goes last.
void DropPiece(void *file, FileState &fs, std::map<uint64_t, uint64_t>::iterator p)
{
    Ops.unlock(file, p->first, p->second);
    fs.pieces.erase(p);
    Ops.refer(file, -1);
}

bool AddPiece(void *file, FileState &fs, uint64_t first, uint64_t last)
{
    if (!Ops.lock(file, first, last))
        return false;
    fs.pieces.emplace(first, last);
    Ops.refer(file, 1);
    return true;
}

// Covers the bytes of first..last that no granted lock of the file covers
// yet (no Windows lock covers them) with Windows locks.  False (and nothing
// taken) when Windows refuses.
bool LockPieces(void *file, FileState &fs, uint64_t first, uint64_t last)
{
    std::vector<Span> gaps;
    uint64_t at = first;
    auto it = fs.pieces.upper_bound(first);
    if (it != fs.pieces.begin()) {
        auto prev = std::prev(it);
        if (prev->second >= last)
            return true;
        if (prev->second >= first)
            at = prev->second + 1;
    }
    bool covered = false;
    for (; it != fs.pieces.end() && it->first <= last; ++it) {
        if (it->first > at)
            gaps.push_back(Span{at, it->first - 1, true});
        if (it->second >= last) {
            covered = true;
            break;
        }
        at = it->second + 1;
    }
    if (!covered)
        gaps.push_back(Span{at, last, true});
    for (size_t i = 0; i < gaps.size(); i++) {
        if (AddPiece(file, fs, gaps[i].first, gaps[i].last))
            continue;
        // Refused: drop what this request took.
        for (size_t k = 0; k < i; k++)
            DropPiece(file, fs, fs.pieces.find(gaps[k].first));
        return false;
    }
    return true;
}

// After granted bytes of the file within lo..hi went away: drops the
// Windows locks that cover them, taking again the parts of those locks
// still under a lock.
void ShrinkPieces(void *file, FileState &fs, uint64_t lo, uint64_t hi)
{
    std::vector<Span> touched;
    for (auto it = fs.pieces.upper_bound(hi); it != fs.pieces.begin();) {
        --it;
        if (it->second < lo)
            break;
        touched.push_back(Span{it->first, it->second, true});
    }
    if (touched.empty())
        return;
    // The granted bytes around all of them (touched runs from the last piece
    // to the first).
    std::vector<Span> spans;
    UnionWithin(fs, touched.back().first, touched.front().last, &spans);
    for (const Span &old : touched) {
        // The spans from the last one that begins at or before the piece.
        auto u = std::upper_bound(spans.begin(), spans.end(), old, ByFirst);
        if (u != spans.begin())
            --u;
        if (u != spans.end() && u->first <= old.first && old.last <= u->last)
            continue;
        // Still referred to by the old piece while the new ones are taken.
        Ops.unlock(file, old.first, old.last);
        fs.pieces.erase(old.first);
        for (; u != spans.end() && u->first <= old.last; ++u)
            if (Overlap(u->first, u->last, old.first, old.last))
                AddPiece(file, fs, std::max(u->first, old.first), std::min(u->last, old.last));
        Ops.refer(file, -1);
    }
}

void DropPending(std::list<Pending>::iterator p)
{
    void *file = p->file;
    Owner *owner = p->owner;
    Pendings.erase(p);
    Unref(owner);
    Ops.refer(file, -1);
}

std::list<Pending>::iterator FindPending(void *file, const Owner *owner, uint64_t first, uint64_t last)
{
    for (auto p = Pendings.begin(); p != Pendings.end(); ++p)
        if (p->file == file && p->owner == owner && p->first == first && p->last == last)
            return p;
    return Pendings.end();
}

void AddGrant(NlmGrantList *list, NlmOutCall *call, uint32_t grantId)
{
    if (list != nullptr && list->count < NLM_GRANT_LIST_SIZE)
        list->grants[list->count++] = NlmGrant{call, grantId};
    else
        NlmOutCallFree(call);
}

// Grants, oldest first, every waiter of the file that no longer conflicts
// (as many as the list takes) after locks within lo..hi went or changed:
// only waiters there can have become free.
void GrantWaiters(void *file, FileState &fs, uint64_t lo, uint64_t hi, uint32_t now, NlmGrantList *list)
{
    Plan plan;
    for (auto w = fs.waiters.begin(); w != fs.waiters.end();) {
        if (list != nullptr && list->count >= NLM_GRANT_LIST_SIZE)
            return;
        const Waiter waiter = *w;
        if (!Overlap(waiter.first, waiter.last, lo, hi) ||
            Conflicts(fs, waiter.owner, waiter.first, waiter.last, waiter.exclusive) ||
            !LockPieces(file, fs, waiter.first, waiter.last)) {
            ++w;
            continue;
        }
        PlanOwner(fs, waiter.owner, waiter.first, waiter.last, waiter.exclusive ? 2 : 1, &plan);
        Ref(waiter.owner);
        auto next = std::next(w);
        DropWaiter(file, fs, w, true);
        w = next;
        CommitOwner(file, fs, waiter.owner, plan);
        if (++NextGrantId == 0)
            NextGrantId = 1;
        Pendings.push_back(
            Pending{NextGrantId, file, waiter.owner, waiter.first, waiter.last, now + NLM_GRANT_CONFIRM_MS});
        Ops.refer(file, 1);  // the pending grant's; the owner's reference passes to it
        AddGrant(list, waiter.call, NextGrantId);
    }
}

// Releases the owner's granted bytes first..last of the file and grants
// what that frees.
void ReleaseRange(void *file, FileState &fs, Owner *owner, uint64_t first, uint64_t last, uint32_t now,
                  NlmGrantList *list)
{
    Plan plan;
    PlanOwner(fs, owner, first, last, 0, &plan);
    CommitOwner(file, fs, owner, plan);
    ShrinkPieces(file, fs, first, last);
    GrantWaiters(file, fs, first, last, now, list);
}

// Forgets a file that holds nothing any more.
void Tidy(void *file)
{
    auto it = Files.find(file);
    if (it != Files.end() && it->second.held.empty() && it->second.waiters.empty() && it->second.pieces.empty())
        Files.erase(it);
}

void Revoke(std::list<Pending>::iterator p, uint32_t now, NlmGrantList *list)
{
    const Pending taken = *p;
    // The file stays referred to (its handle open) until the release is done.
    Ref(taken.owner);
    Ops.refer(taken.file, 1);
    DropPending(p);
    auto fs = Files.find(taken.file);
    if (fs != Files.end())
        ReleaseRange(taken.file, fs->second, taken.owner, taken.first, taken.last, now, list);
    Ops.refer(taken.file, -1);
    Unref(taken.owner);
    Tidy(taken.file);
}

// Makes room for `extra` records of the client when a bound is reached: the
// stalest waiters that their clients stopped repeating go (of this client
// when only its own bound is reached).  The state of `current` stays.
bool HaveRoom(void *current, uint32_t client, uint32_t extra, uint32_t now)
{
    while (!Fits(client, extra)) {
        const bool anyClient = Bound != 0 && Used + extra > Bound;
        void *stalestFile = nullptr;
        std::list<Waiter>::iterator stalest;
        for (auto &entry : Files) {
            for (auto w = entry.second.waiters.begin(); w != entry.second.waiters.end(); ++w) {
                if (now - w->touched < NLM_WAIT_STALE_MS || (!anyClient && w->owner->client != client))
                    continue;
                if (stalestFile == nullptr || now - w->touched > now - stalest->touched) {
                    stalestFile = entry.first;
                    stalest = w;
                }
            }
        }
        if (stalestFile == nullptr)
            return false;
        DropWaiter(stalestFile, Files[stalestFile], stalest, false);
        if (stalestFile != current)
            Tidy(stalestFile);
    }
    return true;
}

std::list<Waiter>::iterator FindWaiter(FileState &fs, const Owner *owner, uint64_t first, uint64_t last)
{
    for (auto w = fs.waiters.begin(); w != fs.waiters.end(); ++w)
        if (w->owner == owner && w->first == first && w->last == last)
            return w;
    return fs.waiters.end();
}

// Whether the Windows locks of a file cover exactly its granted bytes, each
// lock inside one span of them.
bool PiecesTile(FileState &fs)
{
    std::vector<Span> spans;
    UnionWithin(fs, 0, UINT64_MAX, &spans);
    auto p = fs.pieces.begin();
    for (const Span &u : spans) {
        uint64_t at = u.first;
        for (;;) {
            if (p == fs.pieces.end() || p->first != at || p->second > u.last)
                return false;
            const uint64_t end = p->second;
            ++p;
            if (end == u.last)
                break;
            at = end + 1;
        }
    }
    return p == fs.pieces.end();
}

void Clear()
{
    for (auto &entry : Files)
        for (Waiter &w : entry.second.waiters)
            NlmOutCallFree(w.call);
    Files.clear();
    for (auto &entry : Owners)
        delete entry.second;
    Owners.clear();
    ClientRecords.clear();
    Pendings.clear();
    Used = 0;
}

}  // namespace

void NlmTableInit(const NlmFileOps *ops)
{
    Guard guard;
    Clear();
    Ops = *ops;
}

void NlmTableSetBounds(uint32_t records, uint32_t recordsPerClient)
{
    Guard guard;
    Bound = records;
    BoundPerClient = recordsPerClient;
}

uint32_t NlmTableLock(NlmLockRequest *request, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    void *file = request->file;
    const uint64_t first = request->first;
    const uint64_t last = request->last;
    FileState &fs = Files[file];
    Owner *owner = InternOwner(&request->owner, request->callerName);
    Ref(owner);  // kept while the request works
    auto waiter = fs.waiters.end();
    // A repeat confirms an unconfirmed grant, and refreshes a waiter.
    auto pending = FindPending(file, owner, first, last);
    if (pending != Pendings.end())
        DropPending(pending);
    waiter = FindWaiter(fs, owner, first, last);
    if (waiter != fs.waiters.end())
        waiter->touched = now;
    uint32_t stat;
    Plan plan;
    if (!Conflicts(fs, owner, first, last, request->exclusive)) {
        PlanOwner(fs, owner, first, last, request->exclusive ? 2 : 1, &plan);
        const size_t had = plan.removed.size() + (waiter != fs.waiters.end());
        const uint32_t extra = plan.spans.size() > had ? static_cast<uint32_t>(plan.spans.size() - had) : 0;
        if (extra > 0 && !HaveRoom(file, owner->client, extra, now)) {
            stat = NLM_DENIED_NOLOCKS;
        } else if (LockPieces(file, fs, first, last)) {
            if (waiter != fs.waiters.end())
                DropWaiter(file, fs, waiter, false);
            CommitOwner(file, fs, owner, plan);
            if (!plan.removed.empty())
                GrantWaiters(file, fs, first, last, now, granted);
            stat = NLM_GRANTED;
        } else {
            // A Windows program holds part of the range: a conflict like any other.
            stat = NLM_DENIED;
        }
        if (stat != NLM_DENIED) {
            Unref(owner);
            Tidy(file);
            return stat;
        }
    }
    if (!request->block)
        stat = NLM_DENIED;
    else if (waiter != fs.waiters.end())
        stat = NLM_BLOCKED;
    else if (request->call == nullptr || !HaveRoom(file, owner->client, 1, now))
        stat = NLM_DENIED_NOLOCKS;
    else {
        fs.waiters.push_back(Waiter{owner, first, last, request->exclusive, now, request->call});
        request->call = nullptr;
        Ref(owner);
        Count(owner->client, 1);
        Ops.refer(file, 1);
        stat = NLM_BLOCKED;
    }
    Unref(owner);
    Tidy(file);
    return stat;
}

uint32_t NlmTableTest(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, bool exclusive,
                      NlmTableHolder *holder)
{
    Guard guard;
    auto fs = Files.find(file);
    Owner *o = nullptr;
    Ranges::const_iterator r;
    if (fs == Files.end() || !Conflict(fs->second, FindOwner(owner), first, last, exclusive, &o, &r))
        return NLM_GRANTED;
    holder->exclusive = r->second.exclusive;
    holder->svid = o->svid;
    holder->ohLength = static_cast<uint32_t>(o->oh.size());
    memcpy(holder->oh, o->oh.data(), o->oh.size());
    holder->first = r->first;
    holder->last = r->second.last;
    return NLM_DENIED;
}

uint32_t NlmTableUnlock(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                        NlmGrantList *granted)
{
    Guard guard;
    Owner *o = FindOwner(owner);
    auto fs = Files.find(file);
    if (o == nullptr || fs == Files.end())
        return NLM_GRANTED;
    Ref(o);
    for (auto p = Pendings.begin(); p != Pendings.end();) {
        auto next = std::next(p);
        if (p->file == file && p->owner == o && first <= p->first && p->last <= last)
            DropPending(p);
        p = next;
    }
    for (auto w = fs->second.waiters.begin(); w != fs->second.waiters.end();) {
        auto next = std::next(w);
        if (w->owner == o && first <= w->first && w->last <= last)
            DropWaiter(file, fs->second, w, false);
        w = next;
    }
    ReleaseRange(file, fs->second, o, first, last, now, granted);
    Unref(o);
    Tidy(file);
    return NLM_GRANTED;
}

void NlmTableCancel(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                    NlmGrantList *granted)
{
    Guard guard;
    Owner *o = FindOwner(owner);
    auto fs = Files.find(file);
    if (o == nullptr || fs == Files.end())
        return;
    auto waiter = FindWaiter(fs->second, o, first, last);
    if (waiter != fs->second.waiters.end()) {
        DropWaiter(file, fs->second, waiter, false);
        Tidy(file);
        return;
    }
    auto p = FindPending(file, o, first, last);
    if (p != Pendings.end())
        Revoke(p, now, granted);
}

namespace {

// Whether an owner is one of those FREE_ALL (any address) or a restart
// notice (one address) names.
struct Named {
    const char *name;
    bool anyAddress;
    uint32_t address;
    bool operator()(const Owner *o) const
    {
        return SameTextNoCase(o->name.c_str(), name) && (anyAddress || o->client == address);
    }
};

void FreeNamed(const Named &named, uint32_t now, NlmGrantList *granted)
{
    for (auto p = Pendings.begin(); p != Pendings.end();) {
        auto next = std::next(p);
        if (named(p->owner))
            DropPending(p);
        p = next;
    }
    std::vector<void *> files;
    for (auto &entry : Files)
        files.push_back(entry.first);
    for (void *file : files) {
        FileState &fs = Files[file];
        for (auto w = fs.waiters.begin(); w != fs.waiters.end();) {
            auto next = std::next(w);
            if (named(w->owner))
                DropWaiter(file, fs, w, false);
            w = next;
        }
        std::vector<Owner *> owners;
        for (auto &entry : fs.held)
            if (named(entry.first))
                owners.push_back(entry.first);
        for (Owner *o : owners) {
            Plan plan;
            PlanOwner(fs, o, 0, UINT64_MAX, 0, &plan);
            CommitOwner(file, fs, o, plan);
        }
        if (!owners.empty()) {
            ShrinkPieces(file, fs, 0, UINT64_MAX);
            GrantWaiters(file, fs, 0, UINT64_MAX, now, granted);
        }
        Tidy(file);
    }
}

}  // namespace

void NlmTableFreeAll(const char *callerName, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    FreeNamed(Named{callerName, true, 0}, now, granted);
}

void NlmTableFreeClient(uint32_t address, const char *callerName, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    FreeNamed(Named{callerName, false, address}, now, granted);
}

void NlmTableReleaseFile(void *file)
{
    Guard guard;
    for (auto p = Pendings.begin(); p != Pendings.end();) {
        auto next = std::next(p);
        if (p->file == file)
            DropPending(p);
        p = next;
    }
    auto found = Files.find(file);
    if (found == Files.end())
        return;
    FileState &fs = found->second;
    while (!fs.waiters.empty())
        DropWaiter(file, fs, fs.waiters.begin(), false);
    while (!fs.held.empty()) {
        Owner *o = fs.held.begin()->first;
        Plan plan;
        PlanOwner(fs, o, 0, UINT64_MAX, 0, &plan);
        CommitOwner(file, fs, o, plan);
    }
    while (!fs.pieces.empty())
        DropPiece(file, fs, fs.pieces.begin());
    Files.erase(found);
}

void NlmTableGrantAnswered(uint32_t grantId, uint32_t stat, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    for (auto p = Pendings.begin(); p != Pendings.end(); ++p) {
        if (p->grantId != grantId || grantId == 0)
            continue;
        if (stat == NLM_GRANTED)
            DropPending(p);
        else if (stat == NLM_DENIED)
            Revoke(p, now, granted);
        return;
    }
}

uint32_t NlmTableExpire(uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    uint32_t next = NLM_GRANT_CONFIRM_MS;
    // Grants made while expiring go to the end with a full term.
    const size_t count = Pendings.size();
    auto p = Pendings.begin();
    for (size_t i = 0; i < count && p != Pendings.end(); i++) {
        auto following = std::next(p);
        int32_t left = static_cast<int32_t>(p->deadline - now);
        if (left <= 0)
            Revoke(p, now, granted);
        else
            next = std::min(next, static_cast<uint32_t>(left));
        p = following;
    }
    return next;
}

NlmTableCounts NlmTableCount(void)
{
    Guard guard;
    NlmTableCounts counts = {};
    for (auto &entry : Files) {
        for (auto &held : entry.second.held)
            counts.granted += static_cast<uint32_t>(held.second.size());
        counts.waiting += static_cast<uint32_t>(entry.second.waiters.size());
        counts.windowsLocks += static_cast<uint32_t>(entry.second.pieces.size());
    }
    counts.unconfirmed = static_cast<uint32_t>(Pendings.size());
    return counts;
}

bool NlmTableConsistent(void)
{
    Guard guard;
    uint32_t used = 0;
    std::unordered_map<Owner *, uint32_t> refs;
    std::unordered_map<uint32_t, uint32_t> perClient;
    for (auto &entry : Files) {
        FileState &fs = entry.second;
        std::vector<std::pair<Owner *, Span>> all;
        for (auto &held : fs.held) {
            if (held.second.empty())
                return false;
            const Span *prev = nullptr;
            Span before{};
            for (auto &r : held.second) {
                const Span s{r.first, r.second.last, r.second.exclusive};
                if (s.first > s.last)
                    return false;
                // Disjoint, and apart from a neighbour of the same kind.
                if (prev != nullptr && (Overlap(prev->first, prev->last, s.first, s.last) ||
                                        (Touches(*prev, s) && prev->exclusive == s.exclusive)))
                    return false;
                before = s;
                prev = &before;
                all.push_back({held.first, s});
            }
            refs[held.first] += static_cast<uint32_t>(held.second.size());
            perClient[held.first->client] += static_cast<uint32_t>(held.second.size());
            used += static_cast<uint32_t>(held.second.size());
        }
        std::sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.second.first < b.second.first; });
        for (size_t i = 0; i < all.size(); i++)
            for (size_t j = i + 1; j < all.size() && all[j].second.first <= all[i].second.last; j++)
                if (all[i].first != all[j].first && (all[i].second.exclusive || all[j].second.exclusive))
                    return false;
        for (const Waiter &w : fs.waiters) {
            refs[w.owner]++;
            perClient[w.owner->client]++;
            used++;
        }
        if (!PiecesTile(fs))
            return false;
    }
    for (const Pending &p : Pendings)
        refs[p.owner]++;
    if (used != Used || perClient.size() != ClientRecords.size())
        return false;
    for (auto &entry : perClient) {
        auto it = ClientRecords.find(entry.first);
        if (it == ClientRecords.end() || it->second != entry.second)
            return false;
    }
    if (refs.size() != Owners.size())
        return false;
    for (auto &entry : refs)
        if (entry.first->refs != entry.second || Owners.count(entry.first->key) == 0)
            return false;
    return true;
}

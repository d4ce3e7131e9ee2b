// The lock table (see nlm_table.h): fixed arrays of owners, records,
// unconfirmed grants and Windows lock pieces, under one critical section.
#include "nlm/nlm_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "nlm/nlm_protocol.h"
#include "platform/win32.h"

namespace {

const uint32_t OWNERS = NLM_TABLE_STORAGE + NLM_TABLE_SLOTS;
const uint32_t PIECES = 2 * NLM_TABLE_STORAGE;
const int NONE = -1;

// An owner: the records and unconfirmed grants that refer to it keep it.
struct Owner {
    uint32_t refs;  // 0 = free
    uint32_t client;
    uint32_t svid;
    uint32_t ohLength;
    uint8_t oh[NLM_MAX_NETOBJ];
    char name[NLM_MAX_NAME + 1];
};

struct Record {
    void *file;  // null = free
    uint16_t owner;
    bool waiting;
    bool exclusive;
    uint64_t first;
    uint64_t last;
    uint32_t seq;      // order of arrival of a waiter
    uint32_t touched;  // a waiter's latest LOCK
    NlmOutCall *call;  // a waiter's NLM_GRANTED call
};

// A grant whose client has not confirmed it yet.
struct Pending {
    uint32_t grantId;  // 0 = free
    void *file;
    uint16_t owner;
    uint64_t first;
    uint64_t last;
    uint32_t deadline;
};

// One Windows lock taken through a file's handle.
struct Piece {
    void *file;  // null = free
    uint64_t first;
    uint64_t last;
};

struct Span {
    uint64_t first;
    uint64_t last;
    bool exclusive;
};

CRITICAL_SECTION TableLock;
bool TableLockReady = false;
NlmFileOps Ops;
Owner Owners[OWNERS];
Record Records[NLM_TABLE_STORAGE];
Pending Pendings[NLM_TABLE_SLOTS];
Piece Pieces[PIECES];
uint32_t Used = 0;
uint32_t NextSeq = 0;
uint32_t NextGrantId = 0;
// Scratch space, used under the lock only.
Span OwnerPlan[NLM_TABLE_STORAGE + 2];
Span UnionSpans[NLM_TABLE_STORAGE + 1];
int Order[NLM_TABLE_STORAGE];
void *Files[NLM_TABLE_STORAGE];

struct Guard {
    Guard() { EnterCriticalSection(&TableLock); }
    ~Guard() { LeaveCriticalSection(&TableLock); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
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

bool SameOwner(const Owner &o, const NlmOwner *owner)
{
    return o.refs > 0 && o.client == owner->client && o.svid == owner->svid && o.ohLength == owner->ohLength &&
           memcmp(o.oh, owner->oh, owner->ohLength) == 0;
}

int FindOwner(const NlmOwner *owner)
{
    for (uint32_t i = 0; i < OWNERS; i++)
        if (SameOwner(Owners[i], owner))
            return static_cast<int>(i);
    return NONE;
}

// The owner's index; a new entry (with no references yet) when it has none.
int InternOwner(const NlmOwner *owner, const char *name)
{
    int found = FindOwner(owner);
    if (found != NONE)
        return found;
    uint32_t ohLength = std::min(owner->ohLength, NLM_MAX_NETOBJ);
    for (uint32_t i = 0; i < OWNERS; i++) {
        Owner &o = Owners[i];
        if (o.refs != 0)
            continue;
        o.client = owner->client;
        o.svid = owner->svid;
        o.ohLength = ohLength;
        memcpy(o.oh, owner->oh, ohLength);
        snprintf(o.name, sizeof o.name, "%s", name != nullptr ? name : "");
        return static_cast<int>(i);
    }
    return NONE;
}

int FreeRecordIndex()
{
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++)
        if (Records[i].file == nullptr)
            return static_cast<int>(i);
    return NONE;
}

// Frees a record; a waiter's call is freed too unless `keepCall`.
void DropRecord(int i, bool keepCall)
{
    Record &r = Records[i];
    if (r.waiting && !keepCall)
        NlmOutCallFree(r.call);
    Owners[r.owner].refs--;
    Ops.refer(r.file, -1);
    memset(&r, 0, sizeof r);
    Used--;
}

int AddRecord(void *file, int owner, const Span &span, bool waiting)
{
    int i = FreeRecordIndex();
    if (i == NONE)
        return NONE;
    Record &r = Records[i];
    memset(&r, 0, sizeof r);
    r.file = file;
    r.owner = static_cast<uint16_t>(owner);
    r.waiting = waiting;
    r.exclusive = span.exclusive;
    r.first = span.first;
    r.last = span.last;
    Owners[owner].refs++;
    Ops.refer(file, 1);
    Used++;
    return i;
}

// The first granted record of another owner that keeps `owner` from
// locking first..last.
int Conflict(void *file, int owner, uint64_t first, uint64_t last, bool exclusive)
{
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
        const Record &r = Records[i];
        if (r.file == file && !r.waiting && r.owner != owner && (exclusive || r.exclusive) &&
            Overlap(r.first, r.last, first, last))
            return static_cast<int>(i);
    }
    return NONE;
}

bool ByFirst(const Span &a, const Span &b)
{
    return a.first < b.first;
}

// The bytes under granted locks of a file, as sorted disjoint spans.
uint32_t UnionOf(void *file)
{
    uint32_t n = 0;
    for (const Record &r : Records)
        if (r.file == file && !r.waiting)
            UnionSpans[n++] = Span{r.first, r.last, false};
    std::sort(UnionSpans, UnionSpans + n, ByFirst);
    uint32_t merged = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (merged > 0 && Touches(UnionSpans[merged - 1], UnionSpans[i]))
            UnionSpans[merged - 1].last = std::max(UnionSpans[merged - 1].last, UnionSpans[i].last);
        else
            UnionSpans[merged++] = UnionSpans[i];
    }
    return merged;
}

// Drops a Windows lock; the reference it held goes last.
void DropPiece(Piece &p)
{
    void *file = p.file;
    Ops.unlock(file, p.first, p.last);
    p.file = nullptr;
    Ops.refer(file, -1);
}

bool AddPiece(void *file, uint64_t first, uint64_t last)
{
    if (!Ops.lock(file, first, last))
        return false;
    for (Piece &p : Pieces) {
        if (p.file == nullptr) {
            p = Piece{file, first, last};
            Ops.refer(file, 1);
            return true;
        }
    }
    // No room to remember it: better no Windows lock than one never dropped.
    Ops.unlock(file, first, last);
    return true;
}

// Covers the bytes of first..last that no granted lock of the file covers
// yet with Windows locks.  False (and nothing taken) when Windows refuses.
bool LockPieces(void *file, uint64_t first, uint64_t last)
{
    uint32_t n = UnionOf(file);
    Span gaps[NLM_TABLE_STORAGE + 2];
    uint32_t count = 0;
    uint64_t at = first;
    bool covered = false;
    for (uint32_t i = 0; i < n; i++) {
        const Span &u = UnionSpans[i];
        if (u.last < at)
            continue;
        if (u.first > last)
            break;
        if (u.first > at)
            gaps[count++] = Span{at, u.first - 1, true};
        if (u.last >= last) {
            covered = true;
            break;
        }
        at = u.last + 1;
    }
    if (!covered)
        gaps[count++] = Span{at, last, true};
    for (uint32_t i = 0; i < count; i++) {
        if (AddPiece(file, gaps[i].first, gaps[i].last))
            continue;
        // Refused: drop what this request took.
        for (uint32_t k = 0; k < i; k++) {
            for (Piece &p : Pieces) {
                if (p.file == file && p.first == gaps[k].first && p.last == gaps[k].last) {
                    DropPiece(p);
                    break;
                }
            }
        }
        return false;
    }
    return true;
}

// After granted bytes of a file went away: drops the Windows locks that
// cover them, taking again the parts of those locks still under a lock.
void ShrinkPieces(void *file)
{
    uint32_t n = UnionOf(file);
    for (Piece &p : Pieces) {
        if (p.file != file)
            continue;
        bool inside = false;
        for (uint32_t i = 0; i < n && !inside; i++)
            inside = UnionSpans[i].first <= p.first && p.last <= UnionSpans[i].last;
        if (inside)
            continue;
        Piece old = p;
        // Still referred to by the old piece while the new ones are taken.
        Ops.unlock(file, old.first, old.last);
        p.file = nullptr;
        for (uint32_t i = 0; i < n; i++) {
            const Span &u = UnionSpans[i];
            if (Overlap(u.first, u.last, old.first, old.last))
                AddPiece(file, std::max(u.first, old.first), std::min(u.last, old.last));
        }
        Ops.refer(file, -1);
    }
}

// The owner's granted spans on the file after locking (kind 1 shared,
// 2 exclusive) or unlocking (kind 0) first..last, into OwnerPlan; returns
// their number and, in *removed, how many records they replace.
uint32_t PlanOwner(void *file, int owner, uint64_t first, uint64_t last, int kind, uint32_t *removed)
{
    uint32_t n = 0;
    *removed = 0;
    for (const Record &r : Records) {
        if (r.file != file || r.waiting || r.owner != owner)
            continue;
        (*removed)++;
        if (!Overlap(r.first, r.last, first, last)) {
            OwnerPlan[n++] = Span{r.first, r.last, r.exclusive};
            continue;
        }
        if (r.first < first)
            OwnerPlan[n++] = Span{r.first, first - 1, r.exclusive};
        if (r.last > last)
            OwnerPlan[n++] = Span{last + 1, r.last, r.exclusive};
    }
    if (kind != 0)
        OwnerPlan[n++] = Span{first, last, kind == 2};
    std::sort(OwnerPlan, OwnerPlan + n, ByFirst);
    uint32_t merged = 0;
    for (uint32_t i = 0; i < n; i++) {
        Span *prev = merged > 0 ? &OwnerPlan[merged - 1] : nullptr;
        if (prev != nullptr && prev->exclusive == OwnerPlan[i].exclusive && Touches(*prev, OwnerPlan[i]))
            prev->last = std::max(prev->last, OwnerPlan[i].last);
        else
            OwnerPlan[merged++] = OwnerPlan[i];
    }
    return merged;
}

// Replaces the owner's granted records on the file with OwnerPlan.
void CommitOwner(void *file, int owner, uint32_t count)
{
    Owners[owner].refs++;  // keeps the owner while its records are replaced
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
        const Record &r = Records[i];
        if (r.file == file && !r.waiting && r.owner == owner)
            DropRecord(static_cast<int>(i), false);
    }
    for (uint32_t i = 0; i < count; i++)
        AddRecord(file, owner, OwnerPlan[i], false);
    Owners[owner].refs--;
}

void DropPending(Pending &p)
{
    void *file = p.file;
    Owners[p.owner].refs--;
    memset(&p, 0, sizeof p);
    Ops.refer(file, -1);
}

Pending *FindPending(void *file, int owner, uint64_t first, uint64_t last)
{
    for (Pending &p : Pendings)
        if (p.grantId != 0 && p.file == file && p.owner == owner && p.first == first && p.last == last)
            return &p;
    return nullptr;
}

void AddPending(void *file, int owner, const Span &span, uint32_t grantId, uint32_t now)
{
    for (Pending &p : Pendings) {
        if (p.grantId == 0) {
            p = Pending{grantId, file, static_cast<uint16_t>(owner), span.first, span.last, now + NLM_GRANT_CONFIRM_MS};
            Owners[owner].refs++;
            Ops.refer(file, 1);
            return;
        }
    }
    // No room: the grant counts as confirmed.
}

void AddGrant(NlmGrantList *list, NlmOutCall *call, uint32_t grantId)
{
    if (list != nullptr && list->count < NLM_TABLE_STORAGE)
        list->grants[list->count++] = NlmGrant{call, grantId};
    else
        NlmOutCallFree(call);
}

bool BySeq(int a, int b)
{
    return Records[a].seq - NextSeq < Records[b].seq - NextSeq;
}

// Grants, oldest first, every waiter of the file that no longer conflicts.
void GrantWaiters(void *file, uint32_t now, NlmGrantList *list)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++)
        if (Records[i].file == file && Records[i].waiting)
            Order[n++] = static_cast<int>(i);
    std::sort(Order, Order + n, BySeq);
    for (uint32_t k = 0; k < n; k++) {
        const Record w = Records[Order[k]];
        if (Conflict(file, w.owner, w.first, w.last, w.exclusive) != NONE)
            continue;
        uint32_t removed;
        uint32_t count = PlanOwner(file, w.owner, w.first, w.last, w.exclusive ? 2 : 1, &removed);
        if (Used - 1 - removed + count > NLM_TABLE_STORAGE)
            continue;
        if (!LockPieces(file, w.first, w.last))
            continue;
        Owners[w.owner].refs++;
        DropRecord(Order[k], true);
        CommitOwner(file, w.owner, count);
        if (++NextGrantId == 0)
            NextGrantId = 1;
        AddPending(file, w.owner, Span{w.first, w.last, w.exclusive}, NextGrantId, now);
        Owners[w.owner].refs--;
        AddGrant(list, w.call, NextGrantId);
    }
}

// Releases the owner's granted bytes first..last of the file and grants
// what that frees.  False when a split finds no room.
bool ReleaseRange(void *file, int owner, uint64_t first, uint64_t last, uint32_t now, NlmGrantList *list)
{
    uint32_t removed;
    uint32_t count = PlanOwner(file, owner, first, last, 0, &removed);
    if (Used - removed + count > NLM_TABLE_STORAGE)
        return false;
    CommitOwner(file, owner, count);
    ShrinkPieces(file);
    GrantWaiters(file, now, list);
    return true;
}

void Revoke(Pending &p, uint32_t now, NlmGrantList *list)
{
    Pending taken = p;
    // The file stays referred to (its handle open) until the release is done.
    Owners[taken.owner].refs++;
    Ops.refer(taken.file, 1);
    DropPending(p);
    ReleaseRange(taken.file, taken.owner, taken.first, taken.last, now, list);
    Ops.refer(taken.file, -1);
    Owners[taken.owner].refs--;
}

// Makes room for one record when LOCK requests have filled theirs: the
// stalest waiter that its client stopped repeating goes.
bool HaveRoom(uint32_t now)
{
    while (Used >= NLM_TABLE_SLOTS) {
        int stalest = NONE;
        for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
            const Record &r = Records[i];
            if (r.file == nullptr || !r.waiting || now - r.touched < NLM_WAIT_STALE_MS)
                continue;
            if (stalest == NONE || now - r.touched > now - Records[stalest].touched)
                stalest = static_cast<int>(i);
        }
        if (stalest == NONE)
            return false;
        DropRecord(stalest, false);
    }
    return true;
}

int FindWaiter(void *file, int owner, uint64_t first, uint64_t last)
{
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
        const Record &r = Records[i];
        if (r.file == file && r.waiting && r.owner == owner && r.first == first && r.last == last)
            return static_cast<int>(i);
    }
    return NONE;
}

bool NamesEqual(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++) {
        char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (ca != cb)
            return false;
    }
    return *a == *b;
}

// Whether the Windows locks of a file cover exactly its granted bytes, each
// lock inside one span of them.
bool PiecesTile(void *file)
{
    uint32_t n = UnionOf(file);
    Span pieces[PIECES];
    uint32_t count = 0;
    for (const Piece &p : Pieces)
        if (p.file == file)
            pieces[count++] = Span{p.first, p.last, true};
    std::sort(pieces, pieces + count, ByFirst);
    uint32_t k = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint64_t at = UnionSpans[i].first;
        for (;;) {
            if (k == count || pieces[k].first != at || pieces[k].last > UnionSpans[i].last)
                return false;
            if (pieces[k++].last == UnionSpans[i].last)
                break;
            at = pieces[k - 1].last + 1;
        }
    }
    return k == count;
}

}  // namespace

void NlmTableInit(const NlmFileOps *ops)
{
    if (!TableLockReady) {
        InitializeCriticalSection(&TableLock);
        TableLockReady = true;
    }
    Guard guard;
    for (Record &r : Records)
        if (r.file != nullptr && r.waiting)
            NlmOutCallFree(r.call);
    memset(Records, 0, sizeof Records);
    memset(Owners, 0, sizeof Owners);
    memset(Pendings, 0, sizeof Pendings);
    memset(Pieces, 0, sizeof Pieces);
    Used = 0;
    Ops = *ops;
}

uint32_t NlmTableLock(NlmLockRequest *request, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    void *file = request->file;
    const uint64_t first = request->first;
    const uint64_t last = request->last;
    int owner = FindOwner(&request->owner);
    int waiter = NONE;
    if (owner != NONE) {
        // A repeat confirms an unconfirmed grant, and refreshes a waiter.
        if (Pending *p = FindPending(file, owner, first, last))
            DropPending(*p);
        waiter = FindWaiter(file, owner, first, last);
        if (waiter != NONE)
            Records[waiter].touched = now;
    }
    if (Conflict(file, owner, first, last, request->exclusive) == NONE) {
        if (owner == NONE)
            owner = InternOwner(&request->owner, request->callerName);
        if (owner == NONE)
            return NLM_DENIED_NOLOCKS;
        uint32_t removed;
        uint32_t count = PlanOwner(file, owner, first, last, request->exclusive ? 2 : 1, &removed);
        if (count > removed + (waiter != NONE) && !HaveRoom(now))
            return NLM_DENIED_NOLOCKS;
        if (Used - removed + count > NLM_TABLE_STORAGE)
            return NLM_DENIED_NOLOCKS;
        if (LockPieces(file, first, last)) {
            Owners[owner].refs++;
            if (waiter != NONE)
                DropRecord(waiter, false);
            CommitOwner(file, owner, count);
            Owners[owner].refs--;
            if (removed > 0)
                GrantWaiters(file, now, granted);
            return NLM_GRANTED;
        }
        // A Windows program holds part of the range: a conflict like any other.
    }
    if (!request->block)
        return NLM_DENIED;
    if (waiter != NONE)
        return NLM_BLOCKED;
    if (request->call == nullptr || !HaveRoom(now))
        return NLM_DENIED_NOLOCKS;
    if (owner == NONE)
        owner = InternOwner(&request->owner, request->callerName);
    if (owner == NONE)
        return NLM_DENIED_NOLOCKS;
    int i = AddRecord(file, owner, Span{first, last, request->exclusive}, true);
    if (i == NONE)
        return NLM_DENIED_NOLOCKS;
    Records[i].seq = NextSeq++;
    Records[i].touched = now;
    Records[i].call = request->call;
    request->call = nullptr;
    return NLM_BLOCKED;
}

uint32_t NlmTableTest(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, bool exclusive,
                      NlmTableHolder *holder)
{
    Guard guard;
    int i = Conflict(file, FindOwner(owner), first, last, exclusive);
    if (i == NONE)
        return NLM_GRANTED;
    const Record &r = Records[i];
    const Owner &o = Owners[r.owner];
    holder->exclusive = r.exclusive;
    holder->svid = o.svid;
    holder->ohLength = o.ohLength;
    memcpy(holder->oh, o.oh, o.ohLength);
    holder->first = r.first;
    holder->last = r.last;
    return NLM_DENIED;
}

uint32_t NlmTableUnlock(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                        NlmGrantList *granted)
{
    Guard guard;
    int o = FindOwner(owner);
    if (o == NONE)
        return NLM_GRANTED;
    Owners[o].refs++;
    for (Pending &p : Pendings)
        if (p.grantId != 0 && p.file == file && p.owner == o && first <= p.first && p.last <= last)
            DropPending(p);
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
        const Record &r = Records[i];
        if (r.file == file && r.waiting && r.owner == o && first <= r.first && r.last <= last)
            DropRecord(static_cast<int>(i), false);
    }
    bool done = ReleaseRange(file, o, first, last, now, granted);
    Owners[o].refs--;
    return done ? NLM_GRANTED : NLM_DENIED_NOLOCKS;
}

void NlmTableCancel(void *file, const NlmOwner *owner, uint64_t first, uint64_t last, uint32_t now,
                    NlmGrantList *granted)
{
    Guard guard;
    int o = FindOwner(owner);
    if (o == NONE)
        return;
    int waiter = FindWaiter(file, o, first, last);
    if (waiter != NONE) {
        DropRecord(waiter, false);
        return;
    }
    if (Pending *p = FindPending(file, o, first, last))
        Revoke(*p, now, granted);
}

void NlmTableFreeAll(const char *callerName, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    uint32_t files = 0;
    for (uint32_t o = 0; o < OWNERS; o++) {
        if (Owners[o].refs == 0 || !NamesEqual(Owners[o].name, callerName))
            continue;
        for (Pending &p : Pendings)
            if (p.grantId != 0 && p.owner == o)
                DropPending(p);
        for (uint32_t i = 0; i < NLM_TABLE_STORAGE && Owners[o].refs > 0; i++) {
            Record &r = Records[i];
            if (r.file == nullptr || r.owner != o)
                continue;
            if (!r.waiting && std::find(Files, Files + files, r.file) == Files + files)
                Files[files++] = r.file;
            DropRecord(static_cast<int>(i), false);
        }
    }
    for (uint32_t f = 0; f < files; f++) {
        ShrinkPieces(Files[f]);
        GrantWaiters(Files[f], now, granted);
    }
}

void NlmTableReleaseFile(void *file)
{
    Guard guard;
    for (Pending &p : Pendings)
        if (p.grantId != 0 && p.file == file)
            DropPending(p);
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++)
        if (Records[i].file == file)
            DropRecord(static_cast<int>(i), false);
    for (Piece &p : Pieces)
        if (p.file == file)
            DropPiece(p);
}

void NlmTableGrantAnswered(uint32_t grantId, uint32_t stat, uint32_t now, NlmGrantList *granted)
{
    Guard guard;
    for (Pending &p : Pendings) {
        if (p.grantId != grantId || grantId == 0)
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
    for (Pending &p : Pendings) {
        if (p.grantId == 0)
            continue;
        int32_t left = static_cast<int32_t>(p.deadline - now);
        if (left <= 0)
            Revoke(p, now, granted);
        else
            next = std::min(next, static_cast<uint32_t>(left));
    }
    return next;
}

NlmTableCounts NlmTableCount(void)
{
    Guard guard;
    NlmTableCounts counts = {};
    for (const Record &r : Records)
        if (r.file != nullptr)
            (r.waiting ? counts.waiting : counts.granted)++;
    for (const Pending &p : Pendings)
        counts.unconfirmed += p.grantId != 0;
    for (const Piece &p : Pieces)
        counts.windowsLocks += p.file != nullptr;
    return counts;
}

bool NlmTableConsistent(void)
{
    Guard guard;
    uint32_t used = 0;
    for (uint32_t i = 0; i < NLM_TABLE_STORAGE; i++) {
        const Record &a = Records[i];
        if (a.file == nullptr)
            continue;
        used++;
        if (a.first > a.last || Owners[a.owner].refs == 0)
            return false;
        for (uint32_t j = i + 1; j < NLM_TABLE_STORAGE; j++) {
            const Record &b = Records[j];
            if (b.file != a.file || a.waiting || b.waiting)
                continue;
            bool overlap = Overlap(a.first, a.last, b.first, b.last);
            if (a.owner == b.owner) {
                Span sa{a.first, a.last, a.exclusive}, sb{b.first, b.last, b.exclusive};
                bool touching = a.first < b.first ? Touches(sa, sb) : Touches(sb, sa);
                if (overlap || (touching && a.exclusive == b.exclusive))
                    return false;
            } else if (overlap && (a.exclusive || b.exclusive)) {
                return false;
            }
        }
    }
    // Each file once: its Windows locks.
    uint32_t files = 0;
    for (const Record &r : Records) {
        if (r.file == nullptr || r.waiting || std::find(Files, Files + files, r.file) != Files + files)
            continue;
        Files[files++] = r.file;
        if (!PiecesTile(r.file))
            return false;
    }
    for (const Piece &p : Pieces)
        if (p.file != nullptr && std::find(Files, Files + files, p.file) == Files + files)
            return false;  // a Windows lock of a file without locks
    if (used != Used)
        return false;
    static uint32_t refs[OWNERS];
    memset(refs, 0, sizeof refs);
    for (const Record &r : Records)
        if (r.file != nullptr)
            refs[r.owner]++;
    for (const Pending &p : Pendings)
        if (p.grantId != 0)
            refs[p.owner]++;
    for (uint32_t o = 0; o < OWNERS; o++)
        if (refs[o] != Owners[o].refs)
            return false;
    return true;
}

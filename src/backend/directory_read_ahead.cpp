// Looks ahead in a listing.  Naming the entries of a READDIRPLUS spends most
// of its time in one look per entry, and the looks do not depend on one
// another: while the request names one entry, a helper thread looks at the
// next ones.
//
// A window holds copies of the names from where the request began.  The
// request and at most one helper each claim the next entry no one has
// claimed; the request takes its entries in order and waits only for one
// that the helper is looking at now, so the helper runs at most a few looks
// ahead and a reply that fills up wastes no more.  Looks are taken during
// the request and used by it alone, as fresh as the request's own.
//
// Helpers are threads of their own, one fewer than the processors (at most
// three), started when first wanted.  Helpers.lock (a leaf) guards which
// helper works on which window; a window's entries are handed over by
// their done flags.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "backend/directory_read_internal.h"
#include "common/ascii_text.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"

namespace {

// Entries a window covers; one that runs out starts another.
const uint32_t kWindow = 512;
// Fewer entries than this are looked at by the request alone.
const uint32_t kHelpedLeast = 8;
const int kMostHelpers = 3;
// Looks for an entry the helper is at before the request sleeps for it.
const uint32_t kSpins = 200;

struct AheadEntry {
    EntryLook look;
    LookOutcome outcome;
    std::atomic<bool> done;
};

struct Helper;

}  // namespace

struct LookAhead {
    ListingRequest request;  // the request's view, for the helper
    uint64_t first;          // the listing index of the window's first entry
    uint32_t count;
    std::vector<char> names;
    std::vector<uint32_t> offsets;
    std::vector<DWORD> listed;
    std::unique_ptr<AheadEntry[]> entries{new AheadEntry[kWindow]()};
    std::atomic<uint32_t> claimed{0};
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> awaited{0};  // 1 + the entry the request sleeps for, 0 none
    Helper *helper = nullptr;          // under Helpers.lock
};

namespace {

struct Helper {
    LookAhead *job;
    bool started;
};

struct HelperPool {
    RankedLock lock{LOCK_RANK_LEAF, "listing helpers"};
    std::condition_variable_any asked, left, looked;
    Helper helpers[kMostHelpers];
    int count;
    bool tried;
};

// Never destroyed: its threads wait on it until the process ends.
HelperPool &Helpers = *new HelperPool();

int HelpersWanted()
{
    static const int wanted = [] {
        const unsigned processors = std::thread::hardware_concurrency();
        return processors <= 1 ? 0 : std::min(static_cast<int>(processors) - 1, kMostHelpers);
    }();
    return wanted;
}

// Looks at entry i of the window and hands the look over.
void LookAtEntry(LookAhead *ahead, uint32_t i)
{
    AheadEntry &entry = ahead->entries[i];
    entry.look.known = false;
    entry.outcome = LOOK_UNTOLD;
    const char *name = ahead->names.data() + ahead->offsets[i];
    const DWORD listed = ahead->listed[i];
    char path[EXPORT_PATH_SIZE];
    if (LookWanted(&ahead->request, listed) && JoinPath(ahead->request.context->path, name, path))
        entry.outcome = LookByName(&ahead->request, name, path, listed, &entry.look);
    entry.done.store(true);
    if (ahead->awaited.load() == i + 1) {
        LockGuard guard(Helpers.lock);
        Helpers.looked.notify_all();
    }
}

DWORD WINAPI HelperThread(LPVOID parameter)
{
    Helper *me = static_cast<Helper *>(parameter);
    std::unique_lock<RankedLock> hold(Helpers.lock);
    for (;;) {
        if (me->job == nullptr) {
            Helpers.asked.wait(hold);
            continue;
        }
        LookAhead *ahead = me->job;
        me->started = true;
        hold.unlock();
        while (!ahead->stop.load(std::memory_order_acquire)) {
            const uint32_t i = ahead->claimed.fetch_add(1);
            if (i >= ahead->count)
                break;
            LookAtEntry(ahead, i);
        }
        hold.lock();
        me->job = nullptr;
        me->started = false;
        Helpers.left.notify_all();
    }
    return 0;
}

// Gives the window to a free helper, if there is one.
void OfferHelp(LookAhead *ahead)
{
    LockGuard guard(Helpers.lock);
    if (!Helpers.tried) {
        Helpers.tried = true;
        for (int h = 0; h < HelpersWanted(); h++) {
            HANDLE thread = CreateThread(nullptr, 0, HelperThread, &Helpers.helpers[Helpers.count], 0, nullptr);
            if (thread == nullptr)
                break;
            CloseHandle(thread);
            Helpers.count++;
        }
    }
    for (int h = 0; h < Helpers.count; h++) {
        Helper &helper = Helpers.helpers[h];
        if (helper.job == nullptr) {
            helper.job = ahead;
            helper.started = false;
            ahead->helper = &helper;
            Helpers.asked.notify_all();
            return;
        }
    }
}

// Ends the helper's work on the window: a helper that has not begun is
// called off, one at work is waited for (it finishes the look it claimed).
void CallOffHelp(LookAhead *ahead)
{
    ahead->stop.store(true, std::memory_order_release);
    std::unique_lock<RankedLock> hold(Helpers.lock);
    Helper *helper = ahead->helper;
    if (helper == nullptr)
        return;
    if (helper->job == ahead && !helper->started)
        helper->job = nullptr;
    else
        Helpers.left.wait(hold, [helper, ahead] { return helper->job != ahead; });
    ahead->helper = nullptr;
}

// A window of the listing's entries from index on.
void StartWindow(LookAhead *ahead, const ListingRequest *request, const DirectoryListing *listing, uint64_t index,
                 bool lower)
{
    CallOffHelp(ahead);
    ahead->request = *request;
    ahead->first = index;
    const uint64_t total = listing->offsets.size();
    ahead->count = static_cast<uint32_t>(std::min<uint64_t>(kWindow, total - index));
    ahead->names.clear();
    ahead->offsets.clear();
    ahead->listed.clear();
    for (uint32_t i = 0; i < ahead->count; i++) {
        const char *name = listing->names.data() + listing->offsets[index + i];
        ahead->offsets.push_back(static_cast<uint32_t>(ahead->names.size()));
        ahead->names.insert(ahead->names.end(), name, name + strlen(name) + 1);
        ahead->listed.push_back(listing->attributes[index + i]);
        ahead->entries[i].done.store(false, std::memory_order_relaxed);
    }
    if (lower)
        for (uint32_t i = 0; i < ahead->count; i++)
            LowerAsciiInPlace(ahead->names.data() + ahead->offsets[i]);
    ahead->claimed.store(0);
    ahead->stop.store(false);
    if (ahead->count >= kHelpedLeast)
        OfferHelp(ahead);
}

}  // namespace

bool LookAheadAt(const ListingRequest *request, const DirectoryListing *listing, uint64_t index, const char *name,
                 bool lower, EntryLook *look, LookOutcome *outcome)
{
    if (request->ahead == nullptr || HelpersWanted() == 0 || index >= listing->offsets.size() ||
        !LookWanted(request, listing->attributes[index]))
        return false;
    LookAhead *&ahead = *request->ahead;
    if (ahead == nullptr)
        ahead = new LookAhead();
    // The window holds this entry when it covers its index with its name:
    // a listing read anew meanwhile (its slot lost) starts another.
    if (ahead->count == 0 || index < ahead->first || index - ahead->first >= ahead->count ||
        strcmp(ahead->names.data() + ahead->offsets[index - ahead->first], name) != 0)
        StartWindow(ahead, request, listing, index, lower);
    const uint32_t i = static_cast<uint32_t>(index - ahead->first);
    AheadEntry &entry = ahead->entries[i];
    for (uint32_t spins = 0; !entry.done.load(std::memory_order_acquire);) {
        uint32_t claimed = ahead->claimed.load();
        if (claimed <= i) {
            // Claimed by no one yet: the request looks itself, and gives up
            // the entries it passed over (each asked for again looks by
            // itself).
            if (ahead->claimed.compare_exchange_weak(claimed, i + 1)) {
                for (uint32_t passed = claimed; passed < i; passed++) {
                    ahead->entries[passed].look.known = false;
                    ahead->entries[passed].outcome = LOOK_UNTOLD;
                    ahead->entries[passed].done.store(true, std::memory_order_release);
                }
                LookAtEntry(ahead, i);
            }
        } else if (claimed < ahead->count) {
            // The helper is at this one: the next meanwhile.
            if (ahead->claimed.compare_exchange_weak(claimed, claimed + 1))
                LookAtEntry(ahead, claimed);
        } else if (++spins >= kSpins) {
            // The helper's look takes longer (no processor for it now):
            // the request sleeps until it ends, leaving the processor.
            std::unique_lock<RankedLock> hold(Helpers.lock);
            ahead->awaited.store(i + 1);
            Helpers.looked.wait(hold, [&entry] { return entry.done.load(); });
            ahead->awaited.store(0);
        }
    }
    *look = entry.look;
    *outcome = entry.outcome;
    return true;
}

void LookAheadEnd(LookAhead *ahead)
{
    if (ahead == nullptr)
        return;
    CallOffHelp(ahead);
    delete ahead;
}

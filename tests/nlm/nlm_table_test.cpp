// The lock table on its own, through fake file operations that record the
// Windows locks it takes and can refuse ranges a "Windows program" holds.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "nlm/nlm_delivery.h"
#include "nlm/nlm_protocol.h"
#include "nlm/nlm_table.h"

namespace {

using Range = std::pair<uint64_t, uint64_t>;
const uint64_t END = UINT64_MAX;

struct FakeFile {
    std::set<Range> windowsLocks;
    std::set<Range> heldByWindowsProgram;
    int refs = 0;
};

bool FakeLock(void *file, uint64_t first, uint64_t last)
{
    FakeFile *f = static_cast<FakeFile *>(file);
    for (const Range &r : f->heldByWindowsProgram)
        if (r.first <= last && first <= r.second)
            return false;
    for (const Range &r : f->windowsLocks)
        EXPECT_FALSE(r.first <= last && first <= r.second) << "Windows locks of one handle overlap";
    f->windowsLocks.insert({first, last});
    return true;
}

void FakeUnlock(void *file, uint64_t first, uint64_t last)
{
    EXPECT_EQ(1u, static_cast<FakeFile *>(file)->windowsLocks.erase({first, last})) << "unlock of a range never locked";
}

void FakeRefer(void *file, int delta)
{
    static_cast<FakeFile *>(file)->refs += delta;
}

const NlmFileOps FakeOps = {FakeLock, FakeUnlock, FakeRefer};

// "granted waiting unconfirmed windows-locks"
std::string Counts()
{
    NlmTableCounts c = NlmTableCount();
    return std::to_string(c.granted) + " " + std::to_string(c.waiting) + " " + std::to_string(c.unconfirmed) + " " +
           std::to_string(c.windowsLocks);
}

struct Client {
    uint32_t address;
    uint32_t svid;
    std::string oh;
    NlmOwner Owner() const { return NlmOwner{address, svid, static_cast<uint32_t>(oh.size()), (const uint8_t *)oh.data()}; }
};

class LockTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        NlmTableInit(&FakeOps);
        NlmTableSetBounds(0, 0);
    }
    void TearDown() override
    {
        EXPECT_TRUE(NlmTableConsistent());
        NlmTableReleaseFile(&a_);
        NlmTableReleaseFile(&b_);
        EXPECT_EQ(0, a_.refs);
        EXPECT_TRUE(a_.windowsLocks.empty());
    }

    // A marker call: its address identifies the waiter it was given to.
    NlmOutCall *NewCall() { return static_cast<NlmOutCall *>(calloc(1, sizeof(NlmOutCall))); }

    uint32_t Lock(const Client &c, uint64_t first, uint64_t last, bool exclusive, bool block = false,
                  FakeFile *file = nullptr, uint32_t now = 1000)
    {
        NlmLockRequest request = {file != nullptr ? file : &a_, c.Owner(), first, last, exclusive, block,
                                  "host", block ? NewCall() : nullptr};
        uint32_t stat = NlmTableLock(&request, now, &granted_);
        free(request.call);
        if (NlmTableCount().granted < 64) {  // the check is quadratic
            EXPECT_TRUE(NlmTableConsistent());
        }
        return stat;
    }
    uint32_t Unlock(const Client &c, uint64_t first, uint64_t last, uint32_t now = 1000)
    {
        NlmOwner owner = c.Owner();
        uint32_t stat = NlmTableUnlock(&a_, &owner, first, last, now, &granted_);
        EXPECT_TRUE(NlmTableConsistent());
        return stat;
    }
    uint32_t Test(const Client &c, uint64_t first, uint64_t last, bool exclusive, NlmTableHolder *holder = nullptr)
    {
        NlmTableHolder h;
        NlmOwner owner = c.Owner();
        return NlmTableTest(&a_, &owner, first, last, exclusive, holder != nullptr ? holder : &h);
    }
    // Grants handed out since the last call; their calls are freed.
    uint32_t TakeGrants(std::vector<uint32_t> *ids = nullptr)
    {
        uint32_t n = granted_.count;
        for (uint32_t i = 0; i < n; i++) {
            if (ids != nullptr)
                ids->push_back(granted_.grants[i].grantId);
            free(granted_.grants[i].call);
        }
        granted_.count = 0;
        return n;
    }
    std::set<Range> Windows() const { return a_.windowsLocks; }

    FakeFile a_, b_;
    NlmGrantList granted_ = {};
    Client one_{0x0100007F, 7, "7@one"}, two_{0x0200007F, 7, "7@two"}, three_{0x0100007F, 8, "8@one"};
};

TEST_F(LockTable, SharedLocksCoexistExclusiveOnesConflict)
{
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 0, 99, false));
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 50, 149, false));  // shared beside shared
    EXPECT_EQ(NLM_DENIED, Lock(three_, 90, 90, true));
    EXPECT_EQ(NLM_GRANTED, Lock(three_, 150, 199, true));  // touching ranges do not conflict
    NlmTableHolder holder;
    ASSERT_EQ(NLM_DENIED, Test(one_, 199, END, false, &holder));
    EXPECT_TRUE(holder.exclusive);
    EXPECT_EQ(8u, holder.svid);
    EXPECT_EQ(150u, holder.first);
    EXPECT_EQ(199u, holder.last);
    EXPECT_EQ(NLM_GRANTED, Test(one_, 0, 10, false));   // shared against shared
    EXPECT_EQ(NLM_GRANTED, Test(three_, 160, 170, true));  // never one's own lock
    // The same svid on another host, or another owner handle, is another owner.
    Client otherHandle{one_.address, one_.svid, "7@elsewhere"};
    EXPECT_EQ(NLM_DENIED, Test(otherHandle, 0, 0, true));
    EXPECT_EQ(NLM_GRANTED, Unlock(two_, 0, END));
    EXPECT_EQ(NLM_DENIED, Test(two_, 0, 0, true));  // two's unlock left one's lock alone
    // Windows locks cover exactly the locked bytes, once.
    EXPECT_EQ((std::set<Range>{{0, 99}, {150, 199}}), Windows());
}

TEST_F(LockTable, AnOwnerReplacesMergesAndSplitsItsOwnLocks)
{
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 0, 99, false));
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 50, 149, true));  // upgrade of a part, extension
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 150, 199, true));  // adjacent: merges
    EXPECT_EQ("2 0 0 3", Counts());
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 0, 49, false));  // still shared there
    EXPECT_EQ(NLM_DENIED, Lock(two_, 50, 50, false));
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 0, 199, false));  // downgrade of all of it
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 50, 50, false));
    EXPECT_EQ(NLM_GRANTED, Unlock(two_, 0, END));
    // Unlocking the middle leaves both ends held.
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 0, 199, true));
    EXPECT_EQ(NLM_GRANTED, Unlock(one_, 100, 109));
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 100, 109, true));
    EXPECT_EQ(NLM_DENIED, Lock(two_, 99, 99, true));
    EXPECT_EQ(NLM_DENIED, Lock(two_, 110, 110, true));
    EXPECT_EQ((std::set<Range>{{0, 99}, {100, 109}, {110, 149}, {150, 199}}), Windows());
}

TEST_F(LockTable, EveryWaiterThatNoLongerConflictsIsGrantedOldestFirst)
{
    ASSERT_EQ(NLM_GRANTED, Lock(one_, 0, END, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(two_, 0, 9, false, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(three_, 5, 14, false, true));
    Client four{0x0300007F, 1, "1@four"};
    EXPECT_EQ(NLM_BLOCKED, Lock(four, 0, 99, true, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(two_, 0, 9, false, true));  // a repeat holds one slot
    EXPECT_EQ("1 3 0 1", Counts());
    EXPECT_EQ(0u, TakeGrants());
    EXPECT_EQ(NLM_GRANTED, Unlock(one_, 0, END));
    EXPECT_EQ(2u, TakeGrants());  // both shared waiters; the exclusive one still conflicts
    EXPECT_EQ("2 1 2 2", Counts());
    // A repeated LOCK of a granted request confirms it.
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 0, 9, false, true));
    EXPECT_EQ(1u, NlmTableCount().unconfirmed);
    EXPECT_EQ(NLM_GRANTED, Unlock(two_, 0, END));
    EXPECT_EQ(NLM_GRANTED, Unlock(three_, 0, END));
    EXPECT_EQ(1u, TakeGrants());
    EXPECT_EQ(NLM_DENIED, Test(one_, 99, 99, false));
}

TEST_F(LockTable, GrantsTheClientDoesNotConfirmAreTakenBack)
{
    // Unanswered past its deadline, a grant goes back.  (Refused, it goes to
    // the next waiter: NlmWireTest; a cancelled waiter gets none: NlmLive.)
    ASSERT_EQ(NLM_GRANTED, Lock(one_, 0, 9, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(two_, 0, 9, true, true, nullptr, 1000));
    Unlock(one_, 0, 9, 2000);
    ASSERT_EQ(1u, TakeGrants());
    EXPECT_EQ(NLM_GRANT_CONFIRM_MS - 1, NlmTableExpire(2001, &granted_));
    NlmTableExpire(2000 + NLM_GRANT_CONFIRM_MS, &granted_);
    EXPECT_EQ("0 0 0 0", Counts());
    // A confirmed grant stays.
    std::vector<uint32_t> ids;
    ASSERT_EQ(NLM_GRANTED, Lock(one_, 0, 9, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(two_, 0, 9, true, true));
    Unlock(one_, 0, 9);
    ASSERT_EQ(1u, TakeGrants(&ids));
    NlmTableGrantAnswered(ids[0], NLM_GRANTED, 1100, &granted_);
    NlmTableExpire(1000 + 2 * NLM_GRANT_CONFIRM_MS, &granted_);
    EXPECT_EQ("1 0 0 1", Counts());
}

TEST_F(LockTable, WindowsProgramsLocksCountAsConflicts)
{
    a_.heldByWindowsProgram.insert({40, 49});
    EXPECT_EQ(NLM_DENIED, Lock(one_, 0, 99, false));
    EXPECT_EQ(NLM_BLOCKED, Lock(one_, 0, 99, false, true));
    EXPECT_TRUE(Windows().empty());  // nothing half-taken
    EXPECT_EQ(NLM_GRANTED, Lock(two_, 200, 299, true));
    a_.heldByWindowsProgram.clear();
    EXPECT_EQ(NLM_GRANTED, Lock(one_, 0, 99, false, true));  // its repeat checks the waiter again
    EXPECT_EQ("2 0 0 2", Counts());
}

TEST_F(LockTable, BoundsRefuseNewLocksButNeverDropOneAndStaleWaitersMakeRoom)
{
    NlmTableSetBounds(6, 4);
    for (uint64_t i = 0; i < 4; i++)
        ASSERT_EQ(NLM_GRANTED, Lock(one_, 10 * i, 10 * i + 4, true, false, &b_));
    EXPECT_EQ(NLM_DENIED_NOLOCKS, Lock(three_, 50, 50, true, false, &b_));  // one's address is at its bound
    ASSERT_EQ(NLM_GRANTED, Lock(two_, 100, 100, true, false, &b_));
    ASSERT_EQ(NLM_BLOCKED, Lock(two_, 0, 0, true, true, &b_, 1000));
    Client four{0x0300007F, 1, "1@four"};
    EXPECT_EQ(NLM_DENIED_NOLOCKS, Lock(four, 200, 200, true, false, &b_, 1000 + NLM_WAIT_STALE_MS - 1));
    EXPECT_EQ(NLM_GRANTED, Lock(four, 200, 200, true, false, &b_, 1000 + NLM_WAIT_STALE_MS));
    EXPECT_EQ(0u, NlmTableCount().waiting);
    // Splitting unlocks still work past the bounds.
    NlmOwner owner = one_.Owner();
    EXPECT_EQ(NLM_GRANTED, NlmTableUnlock(&b_, &owner, 2, 2, 1000, &granted_));
    EXPECT_EQ(7u, NlmTableCount().granted);
}

TEST_F(LockTable, FreeAllAndReleaseFileDropEverythingOfTheirs)
{
    ASSERT_EQ(NLM_GRANTED, Lock(one_, 0, 9, true));
    ASSERT_EQ(NLM_GRANTED, Lock(three_, 20, 29, true));
    EXPECT_EQ(NLM_BLOCKED, Lock(two_, 0, 29, false, true));
    Client elsewhere{0x0900007F, 9, "9@other"};
    NlmLockRequest other = {&b_, elsewhere.Owner(), 0, 9, true, false, "other", nullptr};
    ASSERT_EQ(NLM_GRANTED, NlmTableLock(&other, 1000, &granted_));
    NlmTableFreeAll("HOST", 1000, &granted_);  // names compare without case
    EXPECT_EQ(0u, TakeGrants());  // two's own waiter went with it
    EXPECT_EQ("1 0 0 1", Counts());
    EXPECT_EQ(0, a_.refs);
    EXPECT_EQ(2, b_.refs);  // the lock and its Windows lock
    NlmTableFreeAll("other", 1000, &granted_);
    EXPECT_EQ(0, b_.refs);
    EXPECT_TRUE(b_.windowsLocks.empty());
}

}  // namespace

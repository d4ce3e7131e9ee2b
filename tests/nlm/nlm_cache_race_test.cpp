// The lock table bound to the real open-file cache while everything that
// touches it runs at once: locks, unlocks and cancels through busy entries,
// the sweeper, invalidations and closes of entries with locks, grants taken
// back.  Bounded; for the TSan and ASan builds.  Afterwards every lock count
// matches the table.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "backend/open_file_cache.h"
#include "nlm/nlm_delivery.h"
#include "nlm/nlm_file_binding.h"
#include "nlm/nlm_table.h"
#include "support/temp_dir.h"

namespace {

const int FILES = 4;
const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

uint32_t NoArgs(uint8_t *, const void *)
{
    return 0;
}

void FreeGrants(NlmGrantList *granted)
{
    for (uint32_t i = 0; i < granted->count; i++)
        NlmOutCallFree(granted->grants[i].call);
    granted->count = 0;
}

struct Race {
    TempDir dir;
    ExportOptions options;
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> granted{0};

    // The busy entry of file k (inode k + 1), opened and cached when missing.
    CacheEntry *Take(int k)
    {
        HANDLE h;
        CacheEntry *e = CacheLookup(&options, k + 1, CACHE_LEVEL_WRITE, &h, nullptr);
        if (e != nullptr)
            return e;
        h = CreateFileA(dir.Win("f" + std::to_string(k)).c_str(), GENERIC_READ | GENERIC_WRITE, SHARE_ALL, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return nullptr;
        e = CacheInsert(&options, k + 1, h, CACHE_LEVEL_WRITE);
        if (e == nullptr)
            CloseHandle(h);
        return e;
    }

    void Client(uint32_t svid, unsigned seed)
    {
        RpcCall request;
        memset(&request, 0, sizeof request);
        request.vers = 4;
        NlmGrantList *list = new NlmGrantList;
        list->count = 0;
        uint8_t oh[4] = {static_cast<uint8_t>(svid)};
        while (!stop) {
            seed = seed * 1103515245u + 12345u;
            int k = static_cast<int>((seed >> 16) % FILES);
            uint64_t first = (seed >> 8) % 64;
            uint64_t last = first + (seed >> 4) % 32;
            CacheEntry *e = Take(k);
            if (e == nullptr)
                continue;
            NlmOwner owner = {0x0100007Fu, svid, sizeof oh, oh};
            switch ((seed >> 24) % 4) {
            case 0:
            case 1: {
                NlmLockRequest r = {e, owner, first, last, (seed & 1) != 0, (seed & 2) != 0, "racer", nullptr};
                if (r.block)
                    r.call = NlmNewOutCall(&request, owner.client, 6, 5, NoArgs, nullptr);
                if (NlmTableLock(&r, GetTickCount(), list) == 0)
                    granted++;
                if (r.call != nullptr)
                    NlmOutCallFree(r.call);
                break;
            }
            case 2:
                NlmTableUnlock(e, &owner, first, UINT64_MAX, GetTickCount(), list);
                break;
            default:
                NlmTableCancel(e, &owner, first, last, GetTickCount(), list);
            }
            CacheRelease(e, nullptr);
            FreeGrants(list);
        }
        delete list;
    }
};

TEST(NlmCacheRace, UnlocksAndGrantsRaceSafelyWithTheSweeper)
{
    Race race;
    for (int k = 0; k < FILES; k++) {
        HANDLE h = CreateFileA(race.dir.Win("f" + std::to_string(k)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        CloseHandle(h);
    }
    memset(&race.options, 0, sizeof race.options);
    race.options.cacheSize = FILES;
    CacheAllocate(&race.options);
    ASSERT_EQ(static_cast<uint32_t>(FILES), race.options.cacheSize);
    NlmTableInit(&NlmOpenFileBinding()->ops);
    NlmBindOpenFileCache();
    CacheStart();

    std::vector<std::thread> threads;
    for (uint32_t svid = 1; svid <= 3; svid++)
        threads.emplace_back([&race, svid] { race.Client(svid, svid * 7919u); });
    // Closing: the sweeper's passes (every idle entry without locks), the
    // invalidations, and closes of entries holding locks.
    threads.emplace_back([&race] {
        for (unsigned i = 0; !race.stop; i++) {
            CacheSweep(GetTickCount() + 10000);
            CacheInvalidate(&race.options, i % FILES + 1);
            if (i % 8 == 0) {
                CacheEntry *e = race.Take(static_cast<int>(i % FILES));
                if (e != nullptr)
                    CacheClose(e);
            }
        }
    });
    // The delivery side: grants left unconfirmed are taken back, and a
    // client's FREE_ALL now and then.
    threads.emplace_back([&race] {
        NlmGrantList *list = new NlmGrantList;
        list->count = 0;
        for (unsigned i = 0; !race.stop; i++) {
            NlmTableExpire(GetTickCount() + NLM_GRANT_CONFIRM_MS + 1, list);
            if (i % 16 == 0)
                NlmTableFreeAll("racer", GetTickCount(), list);
            FreeGrants(list);
            Sleep(1);
        }
        delete list;
    });
    Sleep(1500);
    race.stop = true;
    for (std::thread &t : threads)
        t.join();

    EXPECT_GT(race.granted.load(), 0u);
    EXPECT_TRUE(NlmTableConsistent());
    // Every lock count is the number of the table's references to its entry
    // (records, Windows locks, unconfirmed grants), and an
    // entry with records still has its handle.
    NlmTableCounts counts = NlmTableCount();
    uint32_t referred = 0;
    for (uint32_t i = 0; i < race.options.cacheSize; i++) {
        const CacheEntry &e = race.options.cache[i];
        referred += static_cast<uint32_t>(e.lockCount);
        if (e.lockCount != 0) {
            EXPECT_NE(INVALID_HANDLE_VALUE, e.handle);
        }
    }
    EXPECT_EQ(counts.granted + counts.waiting + counts.windowsLocks + counts.unconfirmed, referred);
    CacheCloseAll();
    counts = NlmTableCount();
    EXPECT_EQ(0u, counts.granted + counts.waiting + counts.windowsLocks);
    CacheFree(&race.options);
    CacheSetLockRelease(nullptr);
}

}  // namespace

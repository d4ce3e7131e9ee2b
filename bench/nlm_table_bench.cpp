// Lock table benchmark: 100 owners (on 10 client addresses) take 1,000
// one-byte exclusive locks each on one file, 100,000 in all; then each
// releases its locks one UNLOCK at a time; then all are taken again and
// dropped by one FREE_ALL per client.  Reports the time of each phase and
// the heap the held locks take.  The file operations do nothing, so the
// figures are the table's own.
//   nlm_table_bench
#include <cstdio>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "nlm/nlm_table.h"

namespace {

using Clock = BenchClock;

bool Lock(void *, uint64_t, uint64_t) { return true; }
void Unlock(void *, uint64_t, uint64_t) {}
void Refer(void *, int) {}
const NlmFileOps Ops = {Lock, Unlock, Refer};

const unsigned OWNERS = 100;
const unsigned PER_OWNER = 1000;
const unsigned CLIENTS = 10;

struct BenchOwner {
    std::string oh;
    std::string name;
    NlmOwner owner;
};

// Byte i of owner k: no two locks touch, so none merge.
uint64_t ByteOf(unsigned k, unsigned i) { return 2ull * (i * OWNERS + k); }

bool LockAll(std::vector<BenchOwner> &owners, int *file)
{
    NlmGrantList granted = {};
    for (unsigned i = 0; i < PER_OWNER; i++) {
        for (unsigned k = 0; k < OWNERS; k++) {
            uint64_t b = ByteOf(k, i);
            NlmLockRequest request = {file, owners[k].owner, b, b, true, false, owners[k].name.c_str(), nullptr};
            if (NlmTableLock(&request, 1000, &granted) != NLM_GRANTED) {
                fprintf(stderr, "lock %u of owner %u refused\n", i, k);
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main()
{
    NlmTableInit(&Ops);
    NlmTableSetBounds(0, 0);
    int file = 0;
    std::vector<BenchOwner> owners(OWNERS);
    for (unsigned k = 0; k < OWNERS; k++) {
        owners[k].oh = "owner-" + std::to_string(k);
        owners[k].name = "client-" + std::to_string(k % CLIENTS);
        owners[k].owner = NlmOwner{0x0A000001u + (k % CLIENTS), k, static_cast<uint32_t>(owners[k].oh.size()),
                                   reinterpret_cast<const uint8_t *>(owners[k].oh.data())};
    }
    const unsigned total = OWNERS * PER_OWNER;

    size_t heap0 = HeapInUse();
    auto t0 = Clock::now();
    if (!LockAll(owners, &file))
        return 1;
    auto t1 = Clock::now();
    size_t heap1 = HeapInUse();
    NlmTableCounts counts = NlmTableCount();
    if (counts.granted != total) {
        fprintf(stderr, "%u locks held, %u expected\n", counts.granted, total);
        return 1;
    }
    NlmGrantList granted = {};
    auto t2 = Clock::now();
    for (unsigned k = 0; k < OWNERS; k++)
        for (unsigned i = 0; i < PER_OWNER; i++)
            NlmTableUnlock(&file, &owners[k].owner, ByteOf(k, i), ByteOf(k, i), 1000, &granted);
    auto t3 = Clock::now();
    size_t heap2 = HeapInUse();
    if (NlmTableCount().granted != 0 || !LockAll(owners, &file))
        return 1;
    auto t4 = Clock::now();
    for (unsigned c = 0; c < CLIENTS; c++)
        NlmTableFreeAll(("client-" + std::to_string(c)).c_str(), 1000, &granted);
    auto t5 = Clock::now();
    if (NlmTableCount().granted != 0 || !NlmTableConsistent())
        return 1;

    printf("%u locks of %u owners on one file (%u Windows locks): taken in %.3f s (%.2f us each)\n", total, OWNERS,
           counts.windowsLocks, Seconds(t0, t1), Seconds(t0, t1) * 1e6 / total);
    printf("heap of the held locks: %.1f MiB (%.0f bytes each); after releasing them: %+ld bytes\n",
           (heap1 - heap0) / 1048576.0, static_cast<double>(heap1 - heap0) / total,
           static_cast<long>(heap2) - static_cast<long>(heap0));
    printf("released one UNLOCK at a time in %.3f s (%.2f us each, 10,000 in %.1f ms)\n", Seconds(t2, t3),
           Seconds(t2, t3) * 1e6 / total, Seconds(t2, t3) * 1e3 * 10000 / total);
    printf("dropped by %u FREE_ALL calls in %.3f s\n", CLIENTS, Seconds(t4, t5));
    return 0;
}

#include "backend/unix_record_memory.h"

#include <atomic>
#include <unordered_map>

#include "platform/ranked_lock.h"

namespace {

// Four ticks of the coarsest clock that sets file times (Windows' 15.6 ms).
const uint64_t kMarginTicks = 4 * 156250;
const size_t kShards = 16;
const size_t kMostPerShard = 4096;

uint64_t Ticks(const FILETIME &time) { return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime; }

struct Kept {
    DWORD volumeSerial;
    uint64_t changeTime;
    uint64_t written;
    StoredUnixAttributes record;
};

struct Shard {
    RankedLock lock{LOCK_RANK_LEAF, "remembered Unix records"};
    std::unordered_map<uint64_t, Kept> kept;  // by the file's index
};

std::atomic<uint64_t> Written{0};

Shard &ShardOf(uint64_t index)
{
    static Shard *shards = new Shard[kShards];  // lives as long as the process
    return shards[(index ^ index >> 17) % kShards];
}

} // namespace

uint64_t UnixRecordsWritten() { return Written.load(std::memory_order_acquire); }

void NoteUnixRecordWritten() { Written.fetch_add(1, std::memory_order_acq_rel); }

bool RecallUnixRecord(const UnixRecordKey &key, StoredUnixAttributes *record)
{
    if (key.fileIndex == 0)
        return false;
    Shard &shard = ShardOf(key.fileIndex);
    const uint64_t written = UnixRecordsWritten();
    LockTake(&shard.lock);
    const auto it = shard.kept.find(key.fileIndex);
    const bool known = it != shard.kept.end() && it->second.volumeSerial == key.volumeSerial &&
                       it->second.changeTime == Ticks(key.changeTime) && it->second.written == written;
    if (known)
        *record = it->second.record;
    LockGive(&shard.lock);
    return known;
}

void RememberUnixRecord(const UnixRecordKey &key, const StoredUnixAttributes &record, const FILETIME &readAfter,
                        uint64_t written)
{
    const uint64_t changed = Ticks(key.changeTime);
    if (key.fileIndex == 0 || Ticks(readAfter) < changed + kMarginTicks || written != UnixRecordsWritten())
        return;
    Shard &shard = ShardOf(key.fileIndex);
    LockTake(&shard.lock);
    if (shard.kept.size() >= kMostPerShard)
        shard.kept.clear();
    shard.kept[key.fileIndex] = Kept{key.volumeSerial, changed, written, record};
    LockGive(&shard.lock);
}

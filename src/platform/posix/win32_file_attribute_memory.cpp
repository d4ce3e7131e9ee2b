// A memory of the HIDDEN and SYSTEM bits per object, so that attribute
// queries need no extended-attribute read each time.  Every change of an
// extended attribute sets the object's change time, so a remembered value
// holds while the change time is the one seen before it was read.  Change
// times advance in ticks of the kernel's coarse clock: a change in the same
// tick as the remembered change time would leave it as it was, so a value
// is only remembered when it was read a safe margin after that time (later
// changes then always show a new change time); the status handed in must
// have been read before the attribute.  Only file systems known to
// set the change time on every attribute change take part; elsewhere
// (network file systems among them) each query reads the attribute.
#include <cstdint>
#include <ctime>
#include <mutex>
#include <sys/statfs.h>
#include <unordered_map>

#include "platform/posix/win32_file_internal.h"

namespace {

struct Remembered {
    struct timespec ctime;
    DWORD bits;
};

// Twice the longest tick of the coarse clock that sets file times.
const int64_t kMarginNanoseconds = 20000000;
const size_t kMaxRemembered = 100000;

// The memory is kept in shards by object, each with its own lock, so that
// the looks of a listing and of its look-ahead helper seldom wait for
// each other; each shard asks a device once whether it takes part.
const size_t kShards = 16;
struct Shard {
    std::mutex mutex;
    std::unordered_map<ObjectKey, Remembered, ObjectKeyHash> remembered;
    std::unordered_map<uint64_t, bool> deviceTakesPart;
};
Shard shards[kShards];

Shard &ShardOf(const ObjectKey &key) { return shards[ObjectKeyHash()(key) % kShards]; }

int64_t Nanoseconds(const struct timespec &t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

bool LocalFileSystemType(unsigned long type)
{
    switch (type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
        return true;
    default:
        return false;
    }
}

// Whether objects of the device may be remembered, asked of the file system
// once per device (memory lock NOT held).
bool AskTakesPart(Shard &shard, const struct stat &st, int fd, const char *path)
{
    struct statfs fs;
    int rc = fd >= 0 ? fstatfs(fd, &fs) : (path != nullptr ? statfs(path, &fs) : -1);
    if (rc != 0)
        return false;
    // The answer must be about the same device: the name may have moved on.
    struct stat now;
    if ((fd >= 0 ? fstat(fd, &now) : stat(path, &now)) != 0 || now.st_dev != st.st_dev)
        return false;
    const bool local = LocalFileSystemType(static_cast<unsigned long>(fs.f_type));
    std::lock_guard<std::mutex> guard(shard.mutex);
    shard.deviceTakesPart[static_cast<uint64_t>(st.st_dev)] = local;
    return local;
}

} // namespace

DWORD RememberedStoredBits(const struct stat &st, int fd, const char *path, int folder, const char *entry)
{
    const ObjectKey key{st.st_dev, st.st_ino};
    Shard &shard = ShardOf(key);
    int takesPart = -1; // not known yet
    {
        std::lock_guard<std::mutex> guard(shard.mutex);
        auto device = shard.deviceTakesPart.find(static_cast<uint64_t>(st.st_dev));
        if (device != shard.deviceTakesPart.end())
            takesPart = device->second ? 1 : 0;
        auto it = shard.remembered.find(key);
        if (takesPart == 1 && it != shard.remembered.end() && it->second.ctime.tv_sec == st.st_ctim.tv_sec &&
            it->second.ctime.tv_nsec == st.st_ctim.tv_nsec)
            return it->second.bits;
    }
    if (takesPart < 0)
        takesPart = AskTakesPart(shard, st, fd, path) ? 1 : 0;
    int certain;
    if (takesPart == 0)
        return ReadStoredBits(fd, path, &certain, folder, entry);
    // The clock before the read: the read happens no earlier than this.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const DWORD bits = ReadStoredBits(fd, path, &certain, folder, entry);
    // A change time without a fraction may come from a file system that
    // keeps whole seconds only (ext4 with small inodes): not remembered.
    if (certain && st.st_ctim.tv_nsec != 0 && Nanoseconds(now) - Nanoseconds(st.st_ctim) >= kMarginNanoseconds) {
        std::lock_guard<std::mutex> guard(shard.mutex);
        if (shard.remembered.size() >= kMaxRemembered / kShards)
            shard.remembered.clear();
        shard.remembered[key] = Remembered{st.st_ctim, bits};
    }
    return bits;
}

void ForgetStoredBits(const struct stat &st)
{
    const ObjectKey key{st.st_dev, st.st_ino};
    Shard &shard = ShardOf(key);
    std::lock_guard<std::mutex> guard(shard.mutex);
    shard.remembered.erase(key);
}

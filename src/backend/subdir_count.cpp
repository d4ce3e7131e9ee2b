// The link count of a folder from a listing of it, and a small memory of
// recent counts.  A listing costs a look at every entry, so a folder is not
// listed again while it is known not to have changed since.  Adding,
// removing or renaming an entry changes a folder's last write time, but
// file systems stamp folders with a coarse clock, so a change right after
// a listing may leave the time as it was.  A count is therefore reused
// while no change of this server that may add or remove a folder there is
// under way or has begun since the listing began (BeginSubdirChange,
// EndSubdirChange), and
// - the folder's time is the one it had when counted and either that time
//   was well in the past when the listing began (a later change cannot
//   carry it) or the count is less than a second old; or
// - the time moved, the server itself is adding or removing a name that is
//   no folder there or has done so since (BeginFileNameChange,
//   EndFileNameChange), and the count is less than a second old: the count
//   is carried over to the new time.
// Changes of names that are no folders, the server's own running side by
// side among them, thus keep the count; changes made on the volume by
// others are seen at the latest a second later.
#include <cstring>

#include "backend/file_attributes.h"
#include "fs/win_file_access.h"
#include "platform/ranked_lock.h"
#include "settings/settings.h"

namespace {

const int kSlots = 256;
// How old the folder's time must be, in 100 ns units (0.1 s), for a count
// to be kept: well above the granularity of folder times.
const ULONGLONG kSettled = 1000000;
// How long a count not settled that way is trusted, in milliseconds.
const DWORD kTrustedMs = 1000;
const uint32_t kMostNoted = 64;

struct CountSlot {
    bool used;
    bool settled;        // writeTime was well in the past when listed
    DWORD volumeSerial;
    uint64_t fileIndex;
    ULONGLONG writeTime;
    DWORD listedAt;      // GetTickCount when the listing began
    uint32_t count;
    uint32_t noted;      // changes of names that are no folders, not yet seen
    uint64_t madeAt;     // CountMemory::sequence when counted or carried
    // Of the folders whose paths fall on this slot, whatever it holds: the
    // changes that may add or remove a folder under way, and the
    // CountMemory::sequence when one last began or ended.
    uint32_t changing;
    uint64_t touchedAt;
    // Changes of names that are no folders under way (whatever the slot
    // holds): a time that moves meanwhile may be theirs.
    uint32_t filesChanging;
    char path[EXPORT_PATH_SIZE];
};

struct CountMemory {
    RankedLock lock{LOCK_RANK_LEAF, "folder link counts"};
    CountSlot slots[kSlots];
    uint64_t sequence;
    CountMemory() : slots(), sequence(0) {}
};

CountMemory &Memory()
{
    static CountMemory *memory = new CountMemory();  // lives as long as the process
    return *memory;
}

ULONGLONG Ticks(const FILETIME &time)
{
    return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Slots are found by the folder's path (ASCII case ignored), which is all
// that BeginFileNameChange and EndFileNameChange know.
CountSlot &SlotOf(CountMemory &memory, const char *path)
{
    uint32_t h = 2166136261u;
    for (const char *p = path; *p != 0; p++)
        h = (h ^ static_cast<unsigned char>(Folded(*p))) * 16777619u;
    return memory.slots[h % kSlots];
}

bool SamePath(const char *a, const char *b)
{
    for (; *a != 0 && *b != 0; a++, b++)
        if (Folded(*a) != Folded(*b))
            return false;
    return *a == *b;
}

bool CountFolder(void *context, const char *, DWORD kinds)
{
    if ((kinds & FILE_ATTRIBUTE_DIRECTORY) != 0)
        ++*static_cast<uint32_t *>(context);
    return true;
}

// The folders listed in path, "." and ".." among them; false when the
// listing fails.
bool ListSubdirs(const char *path, uint32_t *count)
{
    HANDLE folder = FsCreateFile(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    uint32_t found = 0;
    const bool listed = FsListFolder(folder, CountFolder, &found) != FALSE;
    CloseHandle(folder);
    *count = found;
    return listed;
}

} // namespace

uint32_t CountSubdirs(const char *path)
{
    if (ServerSettings.DirCount != 0)
        return ServerSettings.DirCount;
    uint32_t count = 0;
    return ListSubdirs(path, &count) ? count : 2;
}

uint32_t CountSubdirsOf(const char *path, DWORD volumeSerial, uint64_t fileIndex, const FILETIME *writeTime)
{
    if (ServerSettings.DirCount != 0)
        return ServerSettings.DirCount;
    if (fileIndex == 0 || strlen(path) >= EXPORT_PATH_SIZE)
        return CountSubdirs(path);
    const ULONGLONG changed = Ticks(*writeTime);
    const DWORD startMs = GetTickCount();
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    CountMemory &memory = Memory();
    CountSlot &slot = SlotOf(memory, path);
    bool known = false;
    uint32_t count = 0;
    LockTake(&memory.lock);
    const uint64_t begun = ++memory.sequence;  // a change begun later may be missed by a listing
    if (slot.used && slot.volumeSerial == volumeSerial && slot.fileIndex == fileIndex && SamePath(slot.path, path)) {
        const bool recent = startMs - slot.listedAt < kTrustedMs;
        const bool untouched = slot.changing == 0 && slot.touchedAt < slot.madeAt;
        if (slot.writeTime == changed && (slot.settled || (recent && untouched))) {
            known = true;
        } else if ((slot.noted > 0 || slot.filesChanging > 0) && recent && untouched) {
            // Our own change of a name that is no folder, made or under way.
            if (slot.noted > 0)
                slot.noted--;
            slot.writeTime = changed;
            slot.settled = false;
            slot.madeAt = ++memory.sequence;
            known = true;
        }
        count = slot.count;
    }
    LockGive(&memory.lock);
    if (known)
        return count;

    if (!ListSubdirs(path, &count))
        return 2;
    LockTake(&memory.lock);
    slot.madeAt = begun;
    slot.used = true;
    slot.settled = changed + kSettled < Ticks(now);
    slot.volumeSerial = volumeSerial;
    slot.fileIndex = fileIndex;
    slot.writeTime = changed;
    slot.listedAt = startMs;
    slot.count = count;
    slot.noted = 0;
    memcpy(slot.path, path, strlen(path) + 1);
    LockGive(&memory.lock);
    return count;
}

void BeginFileNameChange(const char *folderPath)
{
    CountMemory &memory = Memory();
    CountSlot &slot = SlotOf(memory, folderPath);
    LockTake(&memory.lock);
    slot.filesChanging++;
    LockGive(&memory.lock);
}

void EndFileNameChange(const char *folderPath, bool changed)
{
    CountMemory &memory = Memory();
    CountSlot &slot = SlotOf(memory, folderPath);
    LockTake(&memory.lock);
    if (slot.filesChanging > 0)
        slot.filesChanging--;
    if (changed && slot.used && SamePath(slot.path, folderPath) && slot.noted < kMostNoted)
        slot.noted++;
    LockGive(&memory.lock);
}

// Whatever the slot holds: a folder of another path on the same slot is
// only counted again sooner.
void BeginSubdirChange(const char *folderPath)
{
    CountMemory &memory = Memory();
    CountSlot &slot = SlotOf(memory, folderPath);
    LockTake(&memory.lock);
    slot.changing++;
    slot.touchedAt = ++memory.sequence;
    LockGive(&memory.lock);
}

void EndSubdirChange(const char *folderPath)
{
    CountMemory &memory = Memory();
    CountSlot &slot = SlotOf(memory, folderPath);
    LockTake(&memory.lock);
    if (slot.changing > 0)
        slot.changing--;
    slot.touchedAt = ++memory.sequence;
    LockGive(&memory.lock);
}

// Names without regard to case, as on a Windows volume: a path resolves to
// the name on disk when no exact match exists, so two client spellings that
// differ only in the case of ASCII letters reach one file.
//
// Every create asks for a name that does not exist yet, so a miss is the
// normal case and must not read the whole folder each time.  Each folder
// that had to be searched gets a table of its names keyed by the folded
// name, read once.  The table is kept exact by an inotify watch on the
// folder: every create, delete and rename in it, by this process or any
// other, arrives as an event that is entered before the next look-up.
// Where no watch can be had (the watch limit is reached, or the folder is on
// a network file system whose remote changes inotify does not see) the table
// is valid while the folder's modification and change times stay as they
// were when it was read; changes made through this layer are then entered
// directly under the namespace lock, which the layer holds around every
// create, remove and rename.  A change by another program in the same clock
// tick as the times a table holds leaves those times as they were, so a
// table whose times were read within a tick of their own value is not
// trusted with a miss: the folder is read again before a name is reported
// missing.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <ctime>
#include <unistd.h>
#include <unordered_map>

#include "platform/posix/win32_file_internal.h"

namespace {

struct FolderNames {
    struct timespec mtime;
    struct timespec ctime;
    struct timespec readAt; // when the times were read (the clock of file times)
    // folded name -> name on disk; an empty value means "the same as the key".
    std::unordered_map<std::string, std::string> byFolded;
    int collisions; // two names on disk fold to one key (possible on POSIX)
    uint64_t lastUse;
    int watch;      // inotify watch descriptor, or -1 (times decide validity)
};

// Bounds the memory of the tables: least recently used folders go first.
const size_t kMaxCachedNames = 1000000;

std::recursive_mutex cacheMutex;
std::unordered_map<ObjectKey, FolderNames, ObjectKeyHash> folders;
size_t cachedNames = 0;
uint64_t useClock = 0;
int inotifyFd = -2; // -2 not tried yet, -1 not available
// Tables without a watch: only they need a folder's times around a change.
std::atomic<size_t> unwatchedTables{0};
// Watches count against a per-user limit that other programs share: beyond
// this many watched folders the tables fall back to the folder times.
const size_t kMaxWatches = 4096;
bool watchesWanted = true;
unsigned long scanCount = 0;
std::unordered_map<int, ObjectKey> folderOfWatch;

bool SameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool StillValid(const FolderNames &names, const struct stat &st)
{
    return SameTime(names.mtime, st.st_mtim) && SameTime(names.ctime, st.st_ctim);
}

// File times advance in ticks of the kernel's coarse clock (at most 10 ms);
// a margin of twice that.
const int64_t kTimeTickNanoseconds = 20000000;

int64_t Nanoseconds(const struct timespec &t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct timespec Now()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// Whether a miss in the table can be believed: with a watch always; without
// one when the folder's times were read a full tick after they were set, so
// that no change of that tick can be missing.
bool MissIsCertain(const FolderNames &names)
{
    if (names.watch >= 0)
        return true;
    int64_t changed = std::max(Nanoseconds(names.mtime), Nanoseconds(names.ctime));
    return Nanoseconds(names.readAt) - changed >= kTimeTickNanoseconds;
}

void Drop(std::unordered_map<ObjectKey, FolderNames, ObjectKeyHash>::iterator it)
{
    cachedNames -= it->second.byFolded.size();
    if (it->second.watch >= 0) {
        folderOfWatch.erase(it->second.watch);
        inotify_rm_watch(inotifyFd, it->second.watch);
    } else {
        unwatchedTables--;
    }
    folders.erase(it);
}

void EvictFor(size_t incoming)
{
    while (!folders.empty() && cachedNames + incoming > kMaxCachedNames) {
        auto oldest = folders.begin();
        for (auto it = folders.begin(); it != folders.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        Drop(oldest);
    }
}

void Insert(FolderNames *names, const char *name)
{
    std::string folded;
    FoldName(name, strlen(name), &folded);
    auto result = names->byFolded.try_emplace(folded);
    if (!result.second) {
        const std::string &held = result.first->second.empty() ? result.first->first : result.first->second;
        if (held != name)
            names->collisions = 1;
        return;
    }
    if (folded != name)
        result.first->second = name;
    cachedNames++;
}

// Removes one name; false when the table must be read again.
bool Remove(FolderNames *names, const char *name)
{
    if (names->collisions)
        return false; // another spelling may remain under the same key
    std::string folded;
    FoldName(name, strlen(name), &folded);
    auto it = names->byFolded.find(folded);
    if (it != names->byFolded.end()) {
        const std::string &held = it->second.empty() ? it->first : it->second;
        if (held == name) {
            names->byFolded.erase(it);
            cachedNames--;
        }
    }
    return true;
}

bool OnNetworkFileSystem(const std::string &folder)
{
    struct statfs fs;
    if (statfs(folder.c_str(), &fs) != 0)
        return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:     // nfs
    case 0x517B:     // smb
    case 0xFF534D42: // cifs
    case 0xFE534D42: // smb2
    case 0x01021997: // 9p
    case 0x65735546: // fuse
        return true;
    default:
        return false;
    }
}

int WatchFolder(const std::string &folder, const ObjectKey &key)
{
    if (inotifyFd == -2)
        inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (!watchesWanted || inotifyFd < 0 || folderOfWatch.size() >= kMaxWatches || OnNetworkFileSystem(folder))
        return -1;
    int watch = inotify_add_watch(inotifyFd, folder.c_str(),
                                  IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR);
    if (watch < 0)
        return -1;
    struct stat st;
    // The watch must be on the folder that was looked at.
    if (stat(folder.c_str(), &st) != 0 || st.st_dev != key.dev || st.st_ino != key.ino) {
        inotify_rm_watch(inotifyFd, watch);
        return -1;
    }
    folderOfWatch[watch] = key;
    return watch;
}

void DropAll()
{
    while (!folders.empty())
        Drop(folders.begin());
}

// Enters every change that the watches reported since the last look-up.
void DrainEvents()
{
    if (inotifyFd < 0)
        return;
    alignas(struct inotify_event) char buffer[16384];
    // A read takes every queued event that fits: one that left room for the
    // largest event found the queue empty, and no further read is needed.
    const ssize_t roomForAny = static_cast<ssize_t>(sizeof(struct inotify_event) + NAME_MAX + 1);
    for (ssize_t n = sizeof(buffer); n > static_cast<ssize_t>(sizeof(buffer)) - roomForAny;) {
        n = read(inotifyFd, buffer, sizeof(buffer));
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const struct inotify_event *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                DropAll(); // events were lost: read the folders again
                continue;
            }
            auto watched = folderOfWatch.find(event->wd);
            if (watched == folderOfWatch.end())
                continue;
            auto it = folders.find(watched->second);
            if (it == folders.end())
                continue;
            if (event->mask & (IN_DELETE_SELF | IN_IGNORED)) {
                Drop(it);
                continue;
            }
            if (event->len == 0)
                continue;
            if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                Insert(&it->second, event->name);
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                if (!Remove(&it->second, event->name))
                    Drop(it);
            }
        }
    }
}

// Reads the folder into a fresh table; null when it cannot be read.
FolderNames *Scan(const std::string &folder, const struct stat &st)
{
    ObjectKey key{st.st_dev, st.st_ino};
    auto old = folders.find(key);
    if (old != folders.end())
        Drop(old);
    // The watch comes first, so nothing changes unseen while the folder is read.
    int watch = WatchFolder(folder, key);
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        if (watch >= 0) {
            folderOfWatch.erase(watch);
            inotify_rm_watch(inotifyFd, watch);
        }
        return nullptr;
    }
    scanCount++;
    FolderNames fresh;
    fresh.watch = watch;
    fresh.mtime = st.st_mtim;
    fresh.ctime = st.st_ctim;
    fresh.readAt = Now();
    fresh.collisions = 0;
    fresh.lastUse = ++useClock;
    size_t before = cachedNames;
    while (struct dirent *entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        Insert(&fresh, entry->d_name);
    }
    closedir(dir);
    size_t added = cachedNames - before;
    cachedNames = before;
    EvictFor(added);
    cachedNames += added;
    if (watch < 0)
        unwatchedTables++;
    return &folders.emplace(key, std::move(fresh)).first->second;
}

FolderNames *Current(const std::string &folder, const struct stat &st)
{
    DrainEvents();
    auto it = folders.find(ObjectKey{st.st_dev, st.st_ino});
    if (it != folders.end() && (it->second.watch >= 0 || StillValid(it->second, st))) {
        it->second.lastUse = ++useClock;
        return &it->second;
    }
    return Scan(folder, st);
}

// The name on disk that folds like name, when the folder holds one.
bool LookupFolded(const std::string &folder, const struct stat &st, const std::string &name, std::string *onDisk)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    FolderNames *names = Current(folder, st);
    if (names == nullptr)
        return false;
    std::string folded;
    FoldName(name.data(), name.size(), &folded);
    auto it = names->byFolded.find(folded);
    if (it == names->byFolded.end()) {
        // Read the folder again before a doubtful miss counts.
        struct stat now;
        if (MissIsCertain(*names) || stat(folder.c_str(), &now) != 0 || (names = Scan(folder, now)) == nullptr)
            return false;
        it = names->byFolded.find(folded);
        if (it == names->byFolded.end())
            return false;
    }
    *onDisk = it->second.empty() ? it->first : it->second;
    return true;
}

std::string Join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The table of a folder whose state before a change of ours was "before";
// a table that was already out of date is dropped.  Null when none is kept.
FolderNames *TableForChange(const std::string &folder, const struct stat *before, ObjectKey *key)
{
    struct stat st;
    if (before == nullptr) {
        if (unwatchedTables.load() == 0)
            return nullptr; // watched folders learn of the change from its event
        if (stat(folder.c_str(), &st) != 0)
            return nullptr;
        before = &st;
    }
    *key = ObjectKey{before->st_dev, before->st_ino};
    auto it = folders.find(*key);
    if (it == folders.end() || it->second.watch >= 0)
        return nullptr; // watched folders learn of the change from its event
    if (!StillValid(it->second, *before)) {
        Drop(it);
        return nullptr;
    }
    return &it->second;
}

void Refresh(const std::string &folder, const ObjectKey &key, FolderNames *names)
{
    if (NameCacheRefreshHook != nullptr)
        NameCacheRefreshHook(folder.c_str());
    struct stat now;
    if (stat(folder.c_str(), &now) != 0 || now.st_dev != key.dev || now.st_ino != key.ino) {
        auto it = folders.find(key);
        if (it != folders.end())
            Drop(it);
        return;
    }
    names->mtime = now.st_mtim;
    names->ctime = now.st_ctim;
    names->readAt = Now();
}

} // namespace

void (*NameCacheRefreshHook)(const char *folder) = nullptr;

void FoldName(const char *name, size_t length, std::string *folded)
{
    folded->assign(name, length);
    for (char &c : *folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
}

void NameCacheUseWatches(int on)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    DrainEvents();
    DropAll();
    watchesWanted = on != 0;
}

unsigned long NameCacheScanCount()
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    return scanCount;
}

namespace {
std::atomic<uint64_t> changesEnded{0};
}  // namespace

void NamespaceLock() { cacheMutex.lock(); }
void NamespaceUnlock()
{
    changesEnded.fetch_add(1, std::memory_order_release);
    cacheMutex.unlock();
}

uint64_t NamespaceChangesEnded() { return changesEnded.load(std::memory_order_acquire); }

bool NamespaceSettledSince(uint64_t ended)
{
    if (!cacheMutex.try_lock())
        return false;
    cacheMutex.unlock();
    return changesEnded.load(std::memory_order_acquire) == ended;
}

void NamespaceAwaitChange()
{
    cacheMutex.lock();
    cacheMutex.unlock();
}

void NameCacheNoteAdded(const std::string &folder, const std::string &name, const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    ObjectKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    Insert(names, name.c_str());
    Refresh(folder, key, names);
}

void NameCacheNoteRemoved(const std::string &folder, const std::string &name, const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    ObjectKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    if (!Remove(names, name.c_str())) {
        Drop(folders.find(key));
        return;
    }
    Refresh(folder, key, names);
}

void NameCacheForget(const std::string &folder)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return;
    auto it = folders.find(ObjectKey{st.st_dev, st.st_ino});
    if (it != folders.end())
        Drop(it);
}

namespace {

// The first look of a resolution, at name in folder (AT_FDCWD: name is a
// path) exactly as spelt: one call tells what it is and, for all but a
// symbolic link, all that stat would (with the birth time); a link is
// followed by a second call.  0 when found, else -1 with errno; *absent
// tells that not even a dangling link holds the name.
int LookAtExactName(int folder, const char *name, ResolvedPath *out, bool *absent)
{
    out->parentKnown = 0;
    out->linkKnown = 0;
    out->isLink = 0;
    out->birthKnown = 0;
    struct stat own;
    int rc = StatusAt(folder, name, AT_SYMLINK_NOFOLLOW, &own, &out->birth);
    *absent = rc != 0 && errno == ENOENT;
    if (rc == 0 && S_ISLNK(own.st_mode)) {
        out->linkStat = own;
        rc = fstatat(folder, name, &out->st, 0);
        if (rc == 0) {
            out->linkKnown = 1;
            out->isLink = 1;
        } else {
            // A link whose target cannot be reached (missing, too long a
            // name, a loop of links) is a dangling link: it still holds its
            // name, to be removed or replaced.
            errno = ENOENT;
        }
    } else if (rc == 0) {
        out->st = own;
        out->linkKnown = 1;
        out->birthKnown = 1;
    }
    return rc;
}

} // namespace

int ResolvePosixPath(const std::string &path, ResolvedPath *out, int exactMissing)
{
    out->entryFolder = -1;
    bool nameAbsent = false;
    int rc;
    if (exactMissing != 0) {
        // A look at the exact name already found nothing there.
        out->parentKnown = 0;
        out->linkKnown = 0;
        out->isLink = 0;
        out->birthKnown = 0;
        nameAbsent = exactMissing == ENOENT;
        errno = exactMissing;
        rc = -1;
    } else {
        rc = LookAtExactName(AT_FDCWD, path.c_str(), out, &nameAbsent);
    }
    if (rc == 0) {
        out->actual = path;
        SplitPosixPath(path, &out->parent, &out->name);
        if (path == "/")
            out->parent.clear();
        return RESOLVE_FOUND;
    }
    if (errno != ENOENT && errno != ENOTDIR)
        return FailErrno();
    std::string folder, name;
    SplitPosixPath(path, &folder, &name);
    ResolvedPath dir;
    int result = ResolvePosixPath(folder, &dir);
    if (result == RESOLVE_ERROR) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            SetLastError(ERROR_PATH_NOT_FOUND);
        return RESOLVE_ERROR;
    }
    if (result == RESOLVE_MISSING || !S_ISDIR(dir.st.st_mode))
        return Fail(ERROR_PATH_NOT_FOUND);
    out->parent = dir.actual;
    out->parentStat = dir.st;
    out->parentKnown = 1;
    if (dir.actual != folder) {
        // The folder was spelt differently: the exact name may exist in it.
        out->actual = Join(dir.actual, name);
        if (stat(out->actual.c_str(), &out->st) == 0) {
            out->name = name;
            return RESOLVE_FOUND;
        }
    }
    std::string onDisk;
    if (LookupFolded(dir.actual, dir.st, name, &onDisk)) {
        out->actual = Join(dir.actual, onDisk);
        out->name = onDisk;
        if (stat(out->actual.c_str(), &out->st) == 0)
            return RESOLVE_FOUND;
        // A dangling symbolic link or a name removed meanwhile: missing.
        return RESOLVE_MISSING;
    }
    out->actual = Join(dir.actual, name);
    out->name = name;
    if (nameAbsent && out->actual == path)
        out->linkKnown = 1; // no link: the first look found nothing there
    return RESOLVE_MISSING;
}

int IsFolderEntryName(const std::string &name)
{
    if (name.empty() || name == "." || name == "..")
        return Fail(ERROR_INVALID_NAME);
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || strchr("<>:\"|?*/\\", c) != nullptr)
            return Fail(ERROR_INVALID_NAME);
    }
    return 1;
}

int ResolveNameInFolder(const FileObject *folder, const std::string &name, ResolvedPath *out)
{
    if (!IsFolderEntryName(name))
        return RESOLVE_ERROR;
    // The exact name first, through the descriptor: no walk of the folder's
    // path; any other spelling, and a dangling link, go the resolver's way.
    bool absent = false;
    if (LookAtExactName(folder->fd, name.c_str(), out, &absent) == 0) {
        out->parent = DescriptorPath(folder);
        out->name = name;
        out->entryFolder = folder->fd;
        out->actual.reserve(out->parent.size() + 1 + name.size());
        out->actual.assign(out->parent).append(1, '/').append(name);
        return RESOLVE_FOUND;
    }
    return ResolvePosixPath(DescriptorPath(folder) + "/" + name, out);
}

void NameCacheNoteRenamed(const std::string &folder, const std::string &oldName, const std::string &newName,
                          const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    ObjectKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    if (!Remove(names, oldName.c_str())) {
        Drop(folders.find(key));
        return;
    }
    Insert(names, newName.c_str());
    Refresh(folder, key, names);
}

const struct stat *ParentStatBefore(ResolvedPath *resolved)
{
    // Without unwatched tables no table needs it (a change after this look
    // is still entered: the table's times are then read after the change).
    if (!resolved->parentKnown && unwatchedTables.load() == 0)
        return nullptr;
    if (!resolved->parentKnown) {
        if (resolved->parent.empty() || stat(resolved->parent.c_str(), &resolved->parentStat) != 0)
            return nullptr;
        resolved->parentKnown = 1;
    }
    return &resolved->parentStat;
}

// Names without regard to case, as on a Windows volume: a path resolves to
// the name on disk when no exact match exists, so two client spellings that
// differ only in the case of ASCII letters reach one file.
//
// Every create asks for a name that does not exist yet, so a miss is the
// normal case and must not read the whole folder each time.  Each folder
// that had to be searched gets a table of its names keyed by the folded
// name.  The table stays valid while the folder's modification and change
// times stay as they were when it was read; changes made through this layer
// are entered into the table (and its times refreshed) under the namespace
// lock, which the layer holds around every create, remove and rename, so
// creating many files in one folder reads it once.  A change by another
// program between this layer's look-up and its own change in the same folder
// can go unnoticed until the folder changes again; the next look-up then
// works from the table as it was.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <unordered_map>

#include "platform/posix/win32_file_internal.h"

namespace {

struct FolderKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderKey &other) const { return dev == other.dev && ino == other.ino; }
};
struct FolderKeyHash {
    size_t operator()(const FolderKey &key) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.ino) * 1000003u ^ static_cast<uint64_t>(key.dev));
    }
};

struct FolderNames {
    struct timespec mtime;
    struct timespec ctime;
    // folded name -> name on disk; an empty value means "the same as the key".
    std::unordered_map<std::string, std::string> byFolded;
    int collisions; // two names on disk fold to one key (possible on POSIX)
    uint64_t lastUse;
};

// Bounds the memory of the tables: least recently used folders go first.
const size_t kMaxCachedNames = 1000000;

std::recursive_mutex cacheMutex;
std::unordered_map<FolderKey, FolderNames, FolderKeyHash> folders;
size_t cachedNames = 0;
uint64_t useClock = 0;

bool SameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool StillValid(const FolderNames &names, const struct stat &st)
{
    return SameTime(names.mtime, st.st_mtim) && SameTime(names.ctime, st.st_ctim);
}

void Drop(std::unordered_map<FolderKey, FolderNames, FolderKeyHash>::iterator it)
{
    cachedNames -= it->second.byFolded.size();
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
        names->collisions = 1;
        return;
    }
    if (folded != name)
        result.first->second = name;
    cachedNames++;
}

// Reads the folder into a fresh table; null when it cannot be read.
FolderNames *Scan(const std::string &folder, const struct stat &st)
{
    FolderKey key{st.st_dev, st.st_ino};
    auto old = folders.find(key);
    if (old != folders.end())
        Drop(old);
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr)
        return nullptr;
    FolderNames fresh;
    fresh.mtime = st.st_mtim;
    fresh.ctime = st.st_ctim;
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
    return &folders.emplace(key, std::move(fresh)).first->second;
}

FolderNames *Current(const std::string &folder, const struct stat &st)
{
    auto it = folders.find(FolderKey{st.st_dev, st.st_ino});
    if (it != folders.end() && StillValid(it->second, st)) {
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
    if (it == names->byFolded.end())
        return false;
    *onDisk = it->second.empty() ? it->first : it->second;
    return true;
}

std::string Join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The table of a folder whose state before a change of ours was "before";
// a table that was already out of date is dropped.  Null when none is kept.
FolderNames *TableForChange(const std::string &folder, const struct stat *before, FolderKey *key)
{
    struct stat st;
    if (before == nullptr) {
        if (stat(folder.c_str(), &st) != 0)
            return nullptr;
        before = &st;
    }
    *key = FolderKey{before->st_dev, before->st_ino};
    auto it = folders.find(*key);
    if (it == folders.end())
        return nullptr;
    if (!StillValid(it->second, *before)) {
        Drop(it);
        return nullptr;
    }
    return &it->second;
}

void Refresh(const std::string &folder, const FolderKey &key, FolderNames *names)
{
    struct stat now;
    if (stat(folder.c_str(), &now) != 0 || now.st_dev != key.dev || now.st_ino != key.ino) {
        auto it = folders.find(key);
        if (it != folders.end())
            Drop(it);
        return;
    }
    names->mtime = now.st_mtim;
    names->ctime = now.st_ctim;
}

} // namespace

void FoldName(const char *name, size_t length, std::string *folded)
{
    folded->assign(name, length);
    for (char &c : *folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
}

void NamespaceLock() { cacheMutex.lock(); }
void NamespaceUnlock() { cacheMutex.unlock(); }

void NameCacheNoteAdded(const std::string &folder, const std::string &name, const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    FolderKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    Insert(names, name.c_str());
    Refresh(folder, key, names);
}

void NameCacheNoteRemoved(const std::string &folder, const std::string &name, const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    FolderKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    if (names->collisions) {
        // Another spelling may remain under the same key: read it again later.
        Drop(folders.find(key));
        return;
    }
    std::string folded;
    FoldName(name.data(), name.size(), &folded);
    auto it = names->byFolded.find(folded);
    if (it != names->byFolded.end()) {
        names->byFolded.erase(it);
        cachedNames--;
    }
    Refresh(folder, key, names);
}

void NameCacheForget(const std::string &folder)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0)
        return;
    auto it = folders.find(FolderKey{st.st_dev, st.st_ino});
    if (it != folders.end())
        Drop(it);
}

int ResolvePosixPath(const std::string &path, ResolvedPath *out)
{
    out->parentKnown = 0;
    if (stat(path.c_str(), &out->st) == 0) {
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
    return RESOLVE_MISSING;
}

void NameCacheNoteRenamed(const std::string &folder, const std::string &oldName, const std::string &newName,
                          const struct stat *before)
{
    std::lock_guard<std::recursive_mutex> guard(cacheMutex);
    FolderKey key;
    FolderNames *names = TableForChange(folder, before, &key);
    if (names == nullptr)
        return;
    if (names->collisions) {
        Drop(folders.find(key));
        return;
    }
    std::string folded;
    FoldName(oldName.data(), oldName.size(), &folded);
    auto it = names->byFolded.find(folded);
    if (it != names->byFolded.end()) {
        names->byFolded.erase(it);
        cachedNames--;
    }
    Insert(names, newName.c_str());
    Refresh(folder, key, names);
}

const struct stat *ParentStatBefore(ResolvedPath *resolved)
{
    if (!resolved->parentKnown) {
        if (resolved->parent.empty() || stat(resolved->parent.c_str(), &resolved->parentStat) != 0)
            return nullptr;
        resolved->parentKnown = 1;
    }
    return &resolved->parentStat;
}

// Directory search.  "dir\*" lists every entry, with "." and ".." first as
// NTFS gives them (the root has neither); other patterns with '*' and '?'
// match without regard to ASCII case ("*.*" matches names without a dot, as
// on Windows); a pattern without wildcards finds that one name, also when it
// is spelt in another case.  Entries whose object cannot be looked at
// (a dangling symbolic link) are left out, as Wine does.  Short names are
// not generated.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/posix/win32_file_internal.h"

namespace {

struct FindEntry {
    std::string name;
    DWORD attributes;
    FILETIME creation, access, write;
    ULONGLONG size;
};

struct FindObject {
    PosixObject header;
    DIR *dir;             // null once the listing is done, or for a single name
    std::string folder;   // the folder's POSIX path
    std::string pattern;  // folded
    int dotsPending;      // "." and ".." still to come (2, 1, 0)
    int single;           // a single name was found; nothing follows
};

BOOL CloseFind(PosixObject *self)
{
    FindObject *find = reinterpret_cast<FindObject *>(self);
    if (find->dir != nullptr)
        closedir(find->dir);
    PosixObjectRetire(&find->header);
    delete find;
    return TRUE;
}

bool HasWildcard(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

// Glob matching of a folded name against a folded pattern.
bool Glob(const char *pattern, const char *name)
{
    const char *star = nullptr;
    const char *resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '?' || *pattern == *name) {
            pattern++;
            name++;
        } else if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        pattern++;
    return *pattern == '\0';
}

bool Matches(const std::string &foldedPattern, const std::string &name)
{
    std::string folded;
    FoldName(name.data(), name.size(), &folded);
    if (Glob(foldedPattern.c_str(), folded.c_str()))
        return true;
    // A final ".*" also matches names without an extension.
    size_t n = foldedPattern.size();
    if (n >= 2 && foldedPattern[n - 2] == '.' && foldedPattern[n - 1] == '*' && folded.find('.') == std::string::npos)
        return Glob(foldedPattern.substr(0, n - 2).c_str(), folded.c_str());
    return false;
}

// birth: the birth time read with st, or null to ask by path.
void Describe(const std::string &name, const std::string &path, const struct stat &st,
              const struct timespec *birth, FindEntry *entry)
{
    entry->name = name;
    entry->attributes = AttributesFromStat(st, -1, path.c_str());
    CreationTimeKnown(path.c_str(), st, birth, &entry->creation);
    FileTimeFromSeconds(st.st_atim, &entry->access);
    FileTimeFromSeconds(st.st_mtim, &entry->write);
    entry->size = S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
}

std::string Join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The next entry of a listing; false with ERROR_NO_MORE_FILES at the end.
bool NextEntry(FindObject *find, FindEntry *entry)
{
    while (find->dotsPending > 0) {
        const char *dots = find->dotsPending == 2 ? "." : "..";
        find->dotsPending--;
        std::string path = find->dotsPending == 1 ? find->folder : find->folder + "/..";
        struct stat st;
        struct timespec birth;
        if (Matches(find->pattern, dots) && StatusAt(AT_FDCWD, path.c_str(), 0, &st, &birth) == 0) {
            Describe(dots, path, st, &birth, entry);
            return true;
        }
    }
    if (find->dir == nullptr)
        return Fail(ERROR_NO_MORE_FILES);
    for (;;) {
        errno = 0;
        struct dirent *d = readdir(find->dir);
        if (d == nullptr) {
            closedir(find->dir);
            find->dir = nullptr;
            return Fail(ERROR_NO_MORE_FILES);
        }
        if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0)
            continue;
        if (!Matches(find->pattern, d->d_name))
            continue;
        struct stat st;
        struct timespec birth;
        // A symbolic link is listed as the link itself (its creation time
        // is asked through the name, as for every other link).
        if (StatusAt(dirfd(find->dir), d->d_name, AT_SYMLINK_NOFOLLOW, &st, &birth) != 0)
            continue;
        Describe(d->d_name, Join(find->folder, d->d_name), st, S_ISLNK(st.st_mode) ? nullptr : &birth, entry);
        return true;
    }
}

HANDLE FindFirstUtf8(const char *pattern, FindEntry *entry)
{
    size_t length = strlen(pattern);
    size_t cut = length;
    while (cut > 0 && pattern[cut - 1] != '\\' && pattern[cut - 1] != '/')
        cut--;
    std::string last(pattern + cut);
    if (last.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string folderPart(pattern, cut);
    if (folderPart.empty() || (folderPart.size() == 2 && folderPart[1] == ':'))
        folderPart += ".";
    if (!HasWildcard(last)) {
        // One name: found without regard to case, reported as on disk.
        ResolvedPath resolved;
        int result = ResolveWindowsPath(pattern, &resolved, nullptr);
        if (result == RESOLVE_ERROR)
            return INVALID_HANDLE_VALUE;
        // A link whose target is missing is still an entry of its folder.
        if (result == RESOLVE_MISSING && !LinkAtResolvedPath(resolved)) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        FindObject *find = new FindObject();
        PosixObjectInit(&find->header, POSIX_OBJECT_FIND, CloseFind);
        find->dir = nullptr;
        find->dotsPending = 0;
        find->single = 1;
        std::string name = resolved.actual == "/" ? std::string() : resolved.name;
        struct stat scratch;
        const struct timespec *birth;
        const struct stat &st = OwnStatus(resolved, &scratch, &birth);
        Describe(name, resolved.actual, st, birth, entry);
        return &find->header;
    }
    for (char c : last) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|') {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
    }
    ResolvedPath folder;
    int result = ResolveWindowsPath(folderPart.c_str(), &folder, nullptr);
    if (result == RESOLVE_ERROR)
        return INVALID_HANDLE_VALUE;
    if (result == RESOLVE_MISSING || !S_ISDIR(folder.st.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DIR *dir = opendir(folder.actual.c_str());
    if (dir == nullptr) {
        FailErrno();
        return INVALID_HANDLE_VALUE;
    }
    FindObject *find = new FindObject();
    PosixObjectInit(&find->header, POSIX_OBJECT_FIND, CloseFind);
    find->dir = dir;
    find->folder = folder.actual;
    FoldName(last.data(), last.size(), &find->pattern);
    find->dotsPending = folder.actual == "/" ? 0 : 2;
    find->single = 0;
    if (!NextEntry(find, entry)) {
        CloseFind(&find->header);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return &find->header;
}

bool FindNextUtf8(HANDLE handle, FindEntry *entry)
{
    FindObject *find = reinterpret_cast<FindObject *>(PosixObjectFromHandle(handle, POSIX_OBJECT_FIND));
    if (find == nullptr)
        return false;
    if (find->single)
        return Fail(ERROR_NO_MORE_FILES);
    return NextEntry(find, entry);
}

template <typename Data> void FillCommon(const FindEntry &entry, Data *data)
{
    data->dwFileAttributes = entry.attributes;
    data->ftCreationTime = entry.creation;
    data->ftLastAccessTime = entry.access;
    data->ftLastWriteTime = entry.write;
    data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(entry.size);
    data->dwReserved0 = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? IO_REPARSE_TAG_SYMLINK : 0;
    data->dwReserved1 = 0;
}

void FillAnsi(const FindEntry &entry, LPWIN32_FIND_DATAA data)
{
    FillCommon(entry, data);
    std::string ansi;
    AnsiFromUtf8(entry.name.c_str(), &ansi);
    size_t n = ansi.size() < MAX_PATH - 1 ? ansi.size() : MAX_PATH - 1;
    memcpy(data->cFileName, ansi.data(), n);
    data->cFileName[n] = '\0';
    data->cAlternateFileName[0] = '\0';
}

void FillWide(const FindEntry &entry, LPWIN32_FIND_DATAW data)
{
    FillCommon(entry, data);
    size_t units = WideFromUtf8(entry.name.c_str(), data->cFileName, MAX_PATH - 1);
    data->cFileName[units < MAX_PATH - 1 ? units : MAX_PATH - 1] = 0;
    data->cAlternateFileName[0] = 0;
}

} // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    std::string p;
    if (!PathArgFromAnsi(pattern, &p))
        return INVALID_HANDLE_VALUE;
    FindEntry entry;
    HANDLE find = FindFirstUtf8(p.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        FillAnsi(entry, data);
        SetLastError(ERROR_SUCCESS);
    }
    return find;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data)
{
    std::string p;
    if (!PathArgFromWide(pattern, &p))
        return INVALID_HANDLE_VALUE;
    FindEntry entry;
    HANDLE find = FindFirstUtf8(p.c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        FillWide(entry, data);
        SetLastError(ERROR_SUCCESS);
    }
    return find;
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data)
{
    FindEntry entry;
    if (!FindNextUtf8(handle, &entry))
        return FALSE;
    FillAnsi(entry, data);
    return TRUE;
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data)
{
    FindEntry entry;
    if (!FindNextUtf8(handle, &entry))
        return FALSE;
    FillWide(entry, data);
    return TRUE;
}

BOOL FindClose(HANDLE handle)
{
    PosixObject *find = PosixObjectFromHandle(handle, POSIX_OBJECT_FIND);
    if (find == nullptr)
        return FALSE;
    return find->close(find);
}

BOOL ListFolderKinds(HANDLE folder, FolderKindVisit visit, void *context)
{
    const FileObject *file = FileFromHandle(folder);
    if (file == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (!file->isDirectory)
        return Fail(ERROR_DIRECTORY);
    // "." of the folder itself: its descriptor may be one without data.
    const int fd = openat(file->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return FailErrno();
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
        return FailErrno();
    }
    const std::string folderPath = DescriptorPath(file);
    for (;;) {
        errno = 0;
        const struct dirent *d = readdir(dir);
        if (d == nullptr) {
            const int error = errno;
            closedir(dir);
            errno = error;
            return error == 0 ? TRUE : FailErrno();
        }
        const bool dots = strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0;
        if (dots && file->path == "/")
            continue; // as NTFS lists a volume's root
        DWORD attributes = dots || d->d_type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY : 0;
        if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            struct stat st;
            if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone meanwhile
            if (S_ISLNK(st.st_mode))
                attributes = LinkAttributes(Join(folderPath, d->d_name).c_str());
            else
                attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
            attributes &= FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
        }
        WCHAR name[MAX_PATH];
        const size_t units = WideFromUtf8(d->d_name, name, MAX_PATH);
        name[units < MAX_PATH ? units : 0] = 0;
        if (!visit(context, name, attributes)) {
            closedir(dir);
            return TRUE;
        }
    }
}

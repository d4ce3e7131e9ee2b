// Changes of names: delete, create and remove folders, copy, move and hard
// links, with the Windows errors (a read-only file is not deleted, a target
// that exists is not replaced by MoveFile, names open without
// FILE_SHARE_DELETE are neither deleted nor moved).  Every change holds the
// namespace lock and enters its effect into the per-folder name tables.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

namespace {

struct NamespaceGuard {
    NamespaceGuard() { NamespaceLock(); }
    ~NamespaceGuard() { NamespaceUnlock(); }
    NamespaceGuard(const NamespaceGuard &) = delete;
    NamespaceGuard &operator=(const NamespaceGuard &) = delete;
};

BOOL DeleteFileUtf8(const char *path)
{
    NamespaceGuard guard;
    ResolvedPath resolved;
    PosixName name;
    const int result = ResolveWindowsPath(path, &resolved, &name);
    const int link = RemoveResolvedLink(result, &resolved, 0);
    if (link >= 0)
        return link;
    if (!CheckExistingResult(result, resolved, name))
        return FALSE;
    if (S_ISDIR(resolved.st.st_mode) || IsReadOnlyMode(resolved.st.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    DWORD refused = FileTableCheckAccess(resolved.st, DELETE, resolved.actual.c_str());
    if (refused != ERROR_SUCCESS)
        return Fail(refused);
    const struct stat *before = ParentStatBefore(&resolved);
    if (unlink(resolved.actual.c_str()) != 0)
        return FailErrno();
    NameCacheNoteRemoved(resolved.parent, resolved.name, before);
    return TRUE;
}

BOOL CreateDirectoryUtf8(const char *path)
{
    NamespaceGuard guard;
    ResolvedPath resolved;
    PosixName name;
    int result = ResolveWindowsPath(path, &resolved, &name);
    if (result == RESOLVE_ERROR)
        return FALSE;
    if (result == RESOLVE_FOUND || resolved.parent.empty())
        return Fail(ERROR_ALREADY_EXISTS);
    if (mkdir(resolved.actual.c_str(), 0777) != 0)
        return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : WindowsErrorFromErrno(errno));
    NameCacheNoteAdded(resolved.parent, resolved.name, resolved.parentKnown ? &resolved.parentStat : nullptr);
    return TRUE;
}

BOOL RemoveDirectoryUtf8(const char *path)
{
    NamespaceGuard guard;
    ResolvedPath resolved;
    PosixName name;
    const int result = ResolveWindowsPath(path, &resolved, &name);
    const int link = RemoveResolvedLink(result, &resolved, 1);
    if (link >= 0)
        return link;
    if (!CheckExistingResult(result, resolved, name))
        return FALSE;
    if (!S_ISDIR(resolved.st.st_mode))
        return Fail(ERROR_DIRECTORY);
    if (IsReadOnlyMode(resolved.st.st_mode) || resolved.parent.empty())
        return Fail(ERROR_ACCESS_DENIED);
    DWORD refused = FileTableCheckAccess(resolved.st, DELETE, resolved.actual.c_str());
    if (refused != ERROR_SUCCESS)
        return Fail(refused);
    const struct stat *before = ParentStatBefore(&resolved);
    if (rmdir(resolved.actual.c_str()) != 0)
        return Fail(errno == ENOTEMPTY || errno == EEXIST ? ERROR_DIR_NOT_EMPTY : WindowsErrorFromErrno(errno));
    NameCacheNoteRemoved(resolved.parent, resolved.name, before);
    return TRUE;
}

// Copies the bytes of one open file into another.
int CopyData(int from, int to)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = read(from, buffer, sizeof(buffer));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno();
        }
        if (n == 0)
            return 1;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return FailErrno();
            }
            done += w;
        }
    }
}

BOOL CopyFileUtf8(const char *existing, const char *newName, BOOL failIfExists)
{
    HANDLE source = CreateFileUtf8(existing, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   OPEN_EXISTING, 0);
    if (source == INVALID_HANDLE_VALUE)
        return FALSE;
    FileObject *from = FileFromHandle(source);
    struct stat st;
    if (fstat(from->fd, &st) != 0) {
        FailErrno();
        CloseHandle(source);
        return FALSE;
    }
    // The copy takes the source's attributes and last write time.
    DWORD attributes = AttributesFromStat(st, from->fd, from->path.c_str()) &
                       (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    HANDLE target = CreateFileUtf8(newName, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, attributes);
    if (target == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(source);
        SetLastError(error);
        return FALSE;
    }
    FileObject *to = FileFromHandle(target);
    int ok = CopyData(from->fd, to->fd);
    DWORD error = GetLastError();
    if (ok) {
        struct timespec times[2];
        times[0].tv_nsec = UTIME_NOW;
        times[0].tv_sec = 0;
        times[1] = st.st_mtim;
        futimens(to->fd, times);
    }
    std::string written = to->path;
    CloseHandle(target);
    CloseHandle(source);
    if (!ok) {
        // No half copy is left behind.
        NamespaceGuard guard;
        struct stat attributesNow;
        if (lstat(written.c_str(), &attributesNow) == 0 && IsReadOnlyMode(attributesNow.st_mode))
            fchmodat(AT_FDCWD, written.c_str(), attributesNow.st_mode | S_IWUSR, AT_SYMLINK_NOFOLLOW);
        unlink(written.c_str());
        std::string folder, base;
        SplitPosixPath(written, &folder, &base);
        NameCacheForget(folder);
        SetLastError(error);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL MoveFileUtf8(const char *existing, const char *newName)
{
    NamespaceGuard guard;
    ResolvedPath from;
    PosixName fromName;
    if (!ResolveExistingWindowsPath(existing, &from, &fromName))
        return FALSE;
    if (from.parent.empty())
        return Fail(ERROR_ACCESS_DENIED);
    DWORD refused = FileTableCheckAccess(from.st, DELETE, from.actual.c_str());
    if (refused != ERROR_SUCCESS)
        return Fail(refused);
    ResolvedPath to;
    PosixName toName;
    int target = ResolveWindowsPath(newName, &to, &toName);
    if (target == RESOLVE_ERROR)
        return FALSE;
    std::string destination = to.actual;
    std::string destinationName = to.name;
    if (target == RESOLVE_FOUND) {
        std::string a, b;
        FoldName(from.name.data(), from.name.size(), &a);
        FoldName(to.name.data(), to.name.size(), &b);
        bool sameName = from.st.st_ino == to.st.st_ino && from.st.st_dev == to.st.st_dev && from.parent == to.parent &&
                        a == b;
        if (!sameName)
            return Fail(ERROR_ALREADY_EXISTS);
        // Only the case of the name changes: the new spelling as given.
        std::string folder, given;
        SplitPosixPath(toName.path, &folder, &given);
        if (given == from.name)
            return TRUE;
        destinationName = given;
        destination = (from.parent == "/" ? "/" : from.parent + "/") + given;
    }
    const struct stat *fromBefore = ParentStatBefore(&from);
    struct stat fromFolder;
    if (fromBefore != nullptr)
        fromFolder = *fromBefore;
    const struct stat *toBefore = ParentStatBefore(&to);
    bool sameFolder = fromBefore != nullptr && toBefore != nullptr && fromFolder.st_dev == toBefore->st_dev &&
                      fromFolder.st_ino == toBefore->st_ino;
    int rc = target == RESOLVE_FOUND
                 ? rename(from.actual.c_str(), destination.c_str())
                 : renameat2(AT_FDCWD, from.actual.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    if (rc != 0) {
        if (errno == EEXIST)
            return Fail(ERROR_ALREADY_EXISTS);
        if (errno == EINVAL)
            return Fail(ERROR_SHARING_VIOLATION); // a folder into itself
        if (errno != EXDEV)
            return FailErrno();
        if (S_ISDIR(from.st.st_mode))
            return Fail(ERROR_NOT_SAME_DEVICE);
        // Another volume: MoveFile copies the file and removes the original.
        char windowsTarget[PATH_MAX + 8];
        char windowsSource[PATH_MAX + 8];
        if (!WindowsPathFromPosix(destination.c_str(), windowsTarget, sizeof(windowsTarget)) ||
            !WindowsPathFromPosix(from.actual.c_str(), windowsSource, sizeof(windowsSource)))
            return FALSE;
        if (!CopyFileUtf8(windowsSource, windowsTarget, TRUE))
            return FALSE;
        if (IsReadOnlyMode(from.st.st_mode))
            fchmodat(AT_FDCWD, from.actual.c_str(), from.st.st_mode | S_IWUSR, AT_SYMLINK_NOFOLLOW);
        if (unlink(from.actual.c_str()) != 0)
            return FailErrno();
        NameCacheForget(from.parent);
        return TRUE;
    }
    if (sameFolder) {
        NameCacheNoteRenamed(from.parent, from.name, destinationName, &fromFolder);
    } else {
        NameCacheNoteRemoved(from.parent, from.name, fromBefore != nullptr ? &fromFolder : nullptr);
        NameCacheNoteAdded(to.parent, destinationName, toBefore);
    }
    return TRUE;
}

BOOL CreateHardLinkUtf8(const char *newName, const char *existing)
{
    NamespaceGuard guard;
    ResolvedPath from;
    PosixName fromName;
    if (!ResolveExistingWindowsPath(existing, &from, &fromName))
        return FALSE;
    if (S_ISDIR(from.st.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    ResolvedPath to;
    PosixName toName;
    int target = ResolveWindowsPath(newName, &to, &toName);
    if (target == RESOLVE_ERROR)
        return FALSE;
    if (target == RESOLVE_FOUND)
        return Fail(ERROR_ALREADY_EXISTS);
    if (toName.trailingSeparator)
        return Fail(ERROR_INVALID_NAME);
    if (link(from.actual.c_str(), to.actual.c_str()) != 0)
        return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : WindowsErrorFromErrno(errno));
    NameCacheNoteAdded(to.parent, to.name, to.parentKnown ? &to.parentStat : nullptr);
    return TRUE;
}

} // namespace

BOOL DeleteFileA(LPCSTR name)
{
    std::string p;
    return PathArgFromAnsi(name, &p) && DeleteFileUtf8(p.c_str());
}

BOOL DeleteFileW(LPCWSTR name)
{
    std::string p;
    return PathArgFromWide(name, &p) && DeleteFileUtf8(p.c_str());
}

BOOL RemoveDirectoryA(LPCSTR name)
{
    std::string p;
    return PathArgFromAnsi(name, &p) && RemoveDirectoryUtf8(p.c_str());
}

BOOL RemoveDirectoryW(LPCWSTR name)
{
    std::string p;
    return PathArgFromWide(name, &p) && RemoveDirectoryUtf8(p.c_str());
}

BOOL CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES)
{
    std::string p;
    return PathArgFromAnsi(name, &p) && CreateDirectoryUtf8(p.c_str());
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES)
{
    std::string p;
    return PathArgFromWide(name, &p) && CreateDirectoryUtf8(p.c_str());
}

BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists)
{
    std::string a, b;
    return PathArgFromAnsi(existing, &a) && PathArgFromAnsi(newName, &b) && CopyFileUtf8(a.c_str(), b.c_str(), failIfExists);
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists)
{
    std::string a, b;
    return PathArgFromWide(existing, &a) && PathArgFromWide(newName, &b) && CopyFileUtf8(a.c_str(), b.c_str(), failIfExists);
}

BOOL MoveFileA(LPCSTR existing, LPCSTR newName)
{
    std::string a, b;
    return PathArgFromAnsi(existing, &a) && PathArgFromAnsi(newName, &b) && MoveFileUtf8(a.c_str(), b.c_str());
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName)
{
    std::string a, b;
    return PathArgFromWide(existing, &a) && PathArgFromWide(newName, &b) && MoveFileUtf8(a.c_str(), b.c_str());
}

BOOL CreateHardLinkA(LPCSTR newName, LPCSTR existing, LPSECURITY_ATTRIBUTES)
{
    std::string a, b;
    return PathArgFromAnsi(newName, &a) && PathArgFromAnsi(existing, &b) && CreateHardLinkUtf8(a.c_str(), b.c_str());
}

BOOL CreateHardLinkW(LPCWSTR newName, LPCWSTR existing, LPSECURITY_ATTRIBUTES)
{
    std::string a, b;
    return PathArgFromWide(newName, &a) && PathArgFromWide(existing, &b) && CreateHardLinkUtf8(a.c_str(), b.c_str());
}

// Symbolic links as Windows shows them: an object of their own (a reparse
// point with the tag of a symbolic link) wherever a call does not follow the
// last component, and GetFinalPathNameByHandle from the descriptor's own
// name in /proc, so every link on the way is resolved (a handle opened on a
// link itself names the link).
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

int LinkStatOf(const std::string &path, struct stat *st)
{
    struct stat own;
    if (lstat(path.c_str(), &own) != 0 || !S_ISLNK(own.st_mode))
        return 0;
    *st = own;
    return 1;
}

const struct stat &OwnStatus(const ResolvedPath &resolved, struct stat *scratch, const struct timespec **birth)
{
    *birth = nullptr;
    if (resolved.linkKnown) {
        if (resolved.isLink)
            return resolved.linkStat;
        if (resolved.birthKnown)
            *birth = &resolved.birth;
        return resolved.st;
    }
    return LinkStatOf(resolved.actual, scratch) ? *scratch : resolved.st;
}

void CreationTimeKnown(const char *path, const struct stat &st, const struct timespec *birth, FILETIME *ft)
{
    if (birth != nullptr)
        CreationTimeFrom(st, *birth, ft);
    else
        CreationTimeOf(-1, path, st, ft);
}

DWORD LinkAttributes(const char *path)
{
    struct stat target;
    const bool folder = path != nullptr && stat(path, &target) == 0 && S_ISDIR(target.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

namespace {

// The folder of this process's descriptors in /proc, kept open: reading a
// descriptor's link relative to it spares the walk through /proc/self/fd of
// each call, the larger part of its cost.  A child of fork() has its own.
std::atomic<int> descriptorFolder{-1};

void ForgetDescriptorFolder()
{
    const int fd = descriptorFolder.exchange(-1);
    if (fd >= 0)
        close(fd);
}

} // namespace

int DescriptorFolder()
{
    int fd = descriptorFolder.load(std::memory_order_acquire);
    if (fd >= 0)
        return fd;
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, ForgetDescriptorFolder); });
    fd = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    int expected = -1;
    if (!descriptorFolder.compare_exchange_strong(expected, fd)) {
        close(fd);
        return expected;
    }
    return fd;
}

ssize_t ReadDescriptorLink(int fd, char *target, size_t size)
{
    char name[16];
    snprintf(name, sizeof name, "%d", fd);
    const int folder = DescriptorFolder();
    if (folder >= 0)
        return readlinkat(folder, name, target, size);
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return readlink(link, target, size);
}

namespace {

// The "\\?\Z:\..." form of the object of the handle, as UTF-8.
int FinalPathUtf8(HANDLE handle, DWORD flags, std::string *utf8)
{
    if ((flags & ~static_cast<DWORD>(FILE_NAME_OPENED)) != VOLUME_NAME_DOS)
        return Fail(ERROR_INVALID_PARAMETER);
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    char target[PATH_MAX + 1];
    ssize_t n = ReadDescriptorLink(file->fd, target, sizeof target - 1);
    if (n <= 0)
        return FailErrno();
    target[n] = '\0';
    // A name that no longer exists ("... (deleted)") or a descriptor of no
    // path at all has no final path.
    static const char kDeleted[] = " (deleted)";
    const size_t deletedLength = sizeof kDeleted - 1;
    if (target[0] != '/' ||
        (static_cast<size_t>(n) > deletedLength && strcmp(target + n - deletedLength, kDeleted) == 0))
        return Fail(ERROR_FILE_NOT_FOUND);
    char windows[PATH_MAX + 8];
    if (!WindowsPathFromPosix(target, windows, sizeof windows))
        return 0;
    *utf8 = "\\\\?\\";
    *utf8 += windows;
    return 1;
}

} // namespace

DWORD GetFinalPathNameByHandleA(HANDLE handle, LPSTR buffer, DWORD size, DWORD flags)
{
    std::string utf8;
    if (!FinalPathUtf8(handle, flags, &utf8))
        return 0;
    std::string ansi;
    AnsiFromUtf8(utf8.c_str(), &ansi);
    if (buffer == nullptr || ansi.size() >= size)
        return static_cast<DWORD>(ansi.size() + 1);
    memcpy(buffer, ansi.c_str(), ansi.size() + 1);
    return static_cast<DWORD>(ansi.size());
}

DWORD GetFinalPathNameByHandleW(HANDLE handle, LPWSTR buffer, DWORD size, DWORD flags)
{
    std::string utf8;
    if (!FinalPathUtf8(handle, flags, &utf8))
        return 0;
    size_t units = WideFromUtf8(utf8.c_str(), nullptr, 0);
    if (buffer == nullptr || units >= size)
        return static_cast<DWORD>(units + 1);
    WideFromUtf8(utf8.c_str(), buffer, size);
    buffer[units] = 0;
    return static_cast<DWORD>(units);
}

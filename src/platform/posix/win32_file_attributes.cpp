// DOS attributes and file times of the POSIX build, kept where Wine keeps
// them so that one folder shows the same attributes to this build and to the
// Windows build under Wine:
//   READONLY  cleared Unix write bits (files and folders)
//   HIDDEN, SYSTEM  the extended attribute "user.DOSATTRIB" as text ("0x6")
//   ARCHIVE   reported for every file; there is no place to keep it cleared
// Unlike Wine, names beginning with a dot are not reported hidden (Windows
// knows no such rule), HIDDEN and SYSTEM survive together with READONLY
// (Wine loses them because it removes the write bits first), and READONLY
// is applied to folders as Windows does.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/nt_file_stat.h"
#include "platform/posix/win32_file_internal.h"

namespace {

const char kDosAttributeName[] = "user.DOSATTRIB";
const DWORD kStoredBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
const ULONGLONG kEpochDifference = 11644473600ULL; // seconds from 1601 to 1970

mode_t ProcessUmask()
{
    static mode_t mask = [] {
        mode_t m = umask(022);
        umask(m);
        return m;
    }();
    return mask;
}

} // namespace

// The HIDDEN and SYSTEM bits kept for the object (0 when none are kept or
// they cannot be read); *certain is cleared when the read failed.
DWORD ReadStoredBits(int fd, const char *path, int *certain, int folder, const char *entry)
{
    char text[64];
    ssize_t n = -1;
    errno = ENOSYS;
    if (fd < 0 && folder >= 0 && entry != nullptr)
        n = *entry == 0 ? GetXattrThroughDescriptor(folder, kDosAttributeName, text, sizeof(text) - 1)
                        : GetXattrOfEntry(folder, entry, kDosAttributeName, text, sizeof(text) - 1);
    if (n < 0 && errno == ENOSYS)
        n = fd >= 0 ? fgetxattr(fd, kDosAttributeName, text, sizeof(text) - 1)
                    : getxattr(path, kDosAttributeName, text, sizeof(text) - 1);
    if (n < 0 && fd >= 0 && errno == EBADF && path != nullptr)
        n = getxattr(path, kDosAttributeName, text, sizeof(text) - 1); // O_PATH descriptors
    *certain = n >= 0 || errno == ENODATA || errno == ENOTSUP;
    if (n <= 2)
        return 0;
    text[n] = '\0';
    // Wine writes "0x" and hex digits; other forms (Samba's binary record)
    // are not read.
    if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return 0;
    char *end = nullptr;
    unsigned long value = strtoul(text + 2, &end, 16);
    if (end == text + 2)
        return 0;
    return static_cast<DWORD>(value) & kStoredBits;
}

namespace {

DWORD StoredBits(int fd, const char *path)
{
    int certain;
    return ReadStoredBits(fd, path, &certain);
}

int WriteStoredBits(int fd, const char *path, DWORD bits)
{
    int rc;
    if (bits == 0) {
        rc = fd >= 0 ? fremovexattr(fd, kDosAttributeName) : removexattr(path, kDosAttributeName);
        if (rc != 0 && (errno == ENODATA || errno == ENOTSUP))
            rc = 0; // nothing was kept
    } else {
        char text[16];
        int length = snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(bits));
        rc = fd >= 0 ? fsetxattr(fd, kDosAttributeName, text, static_cast<size_t>(length), 0)
                     : setxattr(path, kDosAttributeName, text, static_cast<size_t>(length), 0);
    }
    return rc == 0;
}

int ChangeMode(int fd, const char *path, mode_t mode)
{
    int rc = fd >= 0 ? fchmod(fd, mode) : chmod(path, mode);
    if (rc != 0 && fd >= 0 && errno == EBADF && path != nullptr)
        rc = chmod(path, mode);
    return rc == 0;
}

} // namespace

DWORD AttributesFromStat(const struct stat &st, int fd, const char *path, int folder, const char *entry)
{
    if (S_ISLNK(st.st_mode))
        return LinkAttributes(path);
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (IsReadOnlyMode(st.st_mode))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes | RememberedStoredBits(st, fd, path, folder, entry);
}

int StoreAttributes(const struct stat &st, int fd, const char *path, DWORD attributes)
{
    DWORD bits = attributes & kStoredBits;
    mode_t mode = st.st_mode & 07777;
    if (bits != StoredBits(fd, path)) {
        // User extended attributes need write permission: a read-only file
        // is made writable for the owner while its bits are written.
        bool opened = (mode & S_IWUSR) == 0 && geteuid() != 0;
        if (opened && !ChangeMode(fd, path, mode | S_IWUSR))
            return FailErrno();
        int ok = WriteStoredBits(fd, path, bits);
        int saved = errno;
        ForgetStoredBits(st);
        if (opened)
            ChangeMode(fd, path, mode);
        if (!ok)
            return Fail(saved == ENOTSUP ? ERROR_NOT_SUPPORTED : WindowsErrorFromErrno(saved));
    }
    mode_t wanted = mode;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        wanted &= ~static_cast<mode_t>(0222);
    else if (IsReadOnlyMode(mode))
        // Write permission back for the owner and for those who may read, as
        // the umask allows.
        wanted |= S_IWUSR | (((mode & 0044) >> 1) & ~ProcessUmask());
    if (wanted != mode && !ChangeMode(fd, path, wanted))
        return FailErrno();
    return 1;
}

void FileTimeFromSeconds(const struct timespec &ts, FILETIME *ft)
{
    ULONGLONG t = static_cast<ULONGLONG>(static_cast<LONGLONG>(ts.tv_sec) + static_cast<LONGLONG>(kEpochDifference)) *
                      10000000ULL +
                  static_cast<ULONGLONG>(ts.tv_nsec) / 100;
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void CountedTimes(const FILETIME &creation, const struct stat &st, LARGE_INTEGER *created, LARGE_INTEGER *accessed,
                  LARGE_INTEGER *written, LARGE_INTEGER *changed)
{
    const auto put = [](const FILETIME &time, LARGE_INTEGER *to) {
        to->QuadPart = static_cast<LONGLONG>(static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    };
    put(creation, created);
    const struct timespec *from[] = {&st.st_atim, &st.st_mtim, &st.st_ctim};
    LARGE_INTEGER *to[] = {accessed, written, changed};
    for (int i = 0; i < 3; i++) {
        FILETIME time;
        FileTimeFromSeconds(*from[i], &time);
        put(time, to[i]);
    }
}

void StatInformationFrom(const struct stat &st, const FILETIME &creation, NtFileStatInformation *info)
{
    memset(info, 0, sizeof *info);
    info->FileId.QuadPart = static_cast<LONGLONG>(st.st_ino);
    CountedTimes(creation, st, &info->CreationTime, &info->LastAccessTime, &info->LastWriteTime, &info->ChangeTime);
    info->EndOfFile.QuadPart = S_ISDIR(st.st_mode) ? 0 : static_cast<LONGLONG>(st.st_size);
    info->AllocationSize.QuadPart = static_cast<LONGLONG>(st.st_blocks) * 512;
    info->NumberOfLinks = S_ISDIR(st.st_mode) ? 1 : static_cast<ULONG>(st.st_nlink);
}

int TimespecFromFileTime(const FILETIME *ft, struct timespec *ts)
{
    ULONGLONG t = (static_cast<ULONGLONG>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
    // 0 leaves the time as it is; all ones suspends updates (also "as it is").
    if (t == 0 || t == ~0ULL) {
        ts->tv_sec = 0;
        ts->tv_nsec = UTIME_OMIT;
        return 0;
    }
    ts->tv_sec = static_cast<time_t>(static_cast<LONGLONG>(t / 10000000ULL) - static_cast<LONGLONG>(kEpochDifference));
    ts->tv_nsec = static_cast<long>((t % 10000000ULL) * 100);
    return 1;
}

void CreationTimeFrom(const struct stat &st, const struct timespec &birth, FILETIME *ft)
{
    struct timespec best = st.st_mtim;
    if (st.st_ctim.tv_sec < best.tv_sec || (st.st_ctim.tv_sec == best.tv_sec && st.st_ctim.tv_nsec < best.tv_nsec))
        best = st.st_ctim;
    // A birth time after the last write (times set by a client) is not
    // believable as a creation time.
    if (birth.tv_nsec >= 0 && (birth.tv_sec < st.st_mtim.tv_sec ||
                               (birth.tv_sec == st.st_mtim.tv_sec && birth.tv_nsec <= st.st_mtim.tv_nsec)))
        best = birth;
    FileTimeFromSeconds(best, ft);
}

void CreationTimeOf(int fd, const char *path, const struct stat &st, FILETIME *ft)
{
    struct timespec birth;
    birth.tv_sec = 0;
    birth.tv_nsec = -1;
    struct statx sx;
    int rc = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) : statx(AT_FDCWD, path, 0, STATX_BTIME, &sx);
    if (rc == 0 && (sx.stx_mask & STATX_BTIME)) {
        birth.tv_sec = static_cast<time_t>(sx.stx_btime.tv_sec);
        birth.tv_nsec = static_cast<long>(sx.stx_btime.tv_nsec);
    }
    CreationTimeFrom(st, birth, ft);
}

// ------------------------------------------------------------- entry points
namespace {

DWORD GetAttributesUtf8(const char *path)
{
    ResolvedPath resolved;
    PosixName name;
    const int result = ResolveWindowsPath(path, &resolved, &name);
    if (result == RESOLVE_ERROR)
        return INVALID_FILE_ATTRIBUTES;
    if (LinkAtResolvedPath(resolved))
        return LinkAttributes(result, resolved);
    if (!CheckExistingResult(result, resolved, name))
        return INVALID_FILE_ATTRIBUTES;
    return AttributesFromStat(resolved.st, -1, resolved.actual.c_str());
}

BOOL GetAttributesExUtf8(const char *path, GET_FILEEX_INFO_LEVELS level, LPVOID information)
{
    if (level != GetFileExInfoStandard || information == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    ResolvedPath resolved;
    PosixName name;
    if (!ResolveExistingWindowsPath(path, &resolved, &name))
        return FALSE;
    WIN32_FILE_ATTRIBUTE_DATA *data = static_cast<WIN32_FILE_ATTRIBUTE_DATA *>(information);
    struct stat scratch;
    const struct timespec *birth;
    const struct stat &st = OwnStatus(resolved, &scratch, &birth);
    data->dwFileAttributes = AttributesFromStat(st, -1, resolved.actual.c_str());
    CreationTimeKnown(resolved.actual.c_str(), st, birth, &data->ftCreationTime);
    FileTimeFromSeconds(st.st_atim, &data->ftLastAccessTime);
    FileTimeFromSeconds(st.st_mtim, &data->ftLastWriteTime);
    ULONGLONG size = S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The stat record of a resolved object (result of a resolver).
BOOL StatOfResolved(int result, const ResolvedPath &resolved, const PosixName &name, NtFileStatInformation *info)
{
    if (result == RESOLVE_ERROR)
        return FALSE;
    const bool link = LinkAtResolvedPath(resolved) != 0;
    if (!link && !CheckExistingResult(result, resolved, name))
        return FALSE;
    struct stat scratch;
    const struct timespec *birth;
    const struct stat &st = OwnStatus(resolved, &scratch, &birth);
    FILETIME created;
    CreationTimeKnown(resolved.actual.c_str(), st, birth, &created);
    StatInformationFrom(st, created, info);
    if (link) {
        info->FileAttributes = LinkAttributes(result, resolved);
        info->ReparseTag = IO_REPARSE_TAG_SYMLINK;
    } else {
        info->FileAttributes = AttributesFromStat(st, -1, resolved.actual.c_str(), resolved.entryFolder,
                                                  resolved.name.c_str());
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL StatByNameUtf8(const char *path, NtFileStatInformation *info)
{
    ResolvedPath resolved;
    PosixName name;
    const int result = ResolveWindowsPath(path, &resolved, &name);
    return StatOfResolved(result, resolved, name, info);
}

// Through a handle of the object itself, so that a name changed under the
// call never leads the change elsewhere.
BOOL SetAttributesUtf8(const char *path, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = CreateFileUtf8(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE || SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
        return file != INVALID_HANDLE_VALUE && CloseHandle(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    return Fail(error);
}

} // namespace

DWORD GetFileAttributesA(LPCSTR name)
{
    std::string path;
    if (!PathArgFromAnsi(name, &path))
        return INVALID_FILE_ATTRIBUTES;
    return GetAttributesUtf8(path.c_str());
}

DWORD GetFileAttributesW(LPCWSTR name)
{
    std::string path;
    if (!PathArgFromWide(name, &path))
        return INVALID_FILE_ATTRIBUTES;
    return GetAttributesUtf8(path.c_str());
}

BOOL GetFileAttributesExA(LPCSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information)
{
    std::string path;
    return PathArgFromAnsi(name, &path) && GetAttributesExUtf8(path.c_str(), level, information);
}

BOOL GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID information)
{
    std::string path;
    return PathArgFromWide(name, &path) && GetAttributesExUtf8(path.c_str(), level, information);
}

BOOL SetFileAttributesA(LPCSTR name, DWORD attributes)
{
    std::string path;
    return PathArgFromAnsi(name, &path) && SetAttributesUtf8(path.c_str(), attributes);
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes)
{
    std::string path;
    return PathArgFromWide(name, &path) && SetAttributesUtf8(path.c_str(), attributes);
}

BOOL GetFileInformationByName(LPCWSTR name, FILE_INFO_BY_NAME_CLASS kind, LPVOID information, ULONG size)
{
    if (kind != FileStatByNameInfo || information == nullptr || size < sizeof(NtFileStatInformation))
        return Fail(ERROR_INVALID_PARAMETER);
    std::string path;
    return PathArgFromWide(name, &path) &&
           StatByNameUtf8(path.c_str(), static_cast<NtFileStatInformation *>(information));
}

BOOL GetFileInformationByNameIn(HANDLE folder, LPCWSTR name, FILE_INFO_BY_NAME_CLASS kind, LPVOID information,
                                ULONG size)
{
    if (kind != FileStatByNameInfo || information == nullptr || size < sizeof(NtFileStatInformation))
        return Fail(ERROR_INVALID_PARAMETER);
    const FileObject *file = FileFromHandle(folder);
    if (file == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    std::string utf8;
    if (!PathArgFromWide(name, &utf8))
        return FALSE;
    ResolvedPath resolved;
    PosixName posixName = {};
    const int result = ResolveNameInFolder(file, utf8, &resolved);
    return StatOfResolved(result, resolved, posixName, static_cast<NtFileStatInformation *>(information));
}

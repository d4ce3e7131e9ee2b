// File handles: CreateFile with the Windows dispositions, sharing and
// read-only rules, and the operations on an open handle.  Each handle has its
// own descriptor (and so its own file position and its own locks).  The
// read-only attribute is enforced here, also when the process runs as root:
// a read-only file is never opened for writing or overwritten (error 5).
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/nt_file_stat.h"
#include "platform/posix/win32_file_internal.h"

namespace {

const DWORD kAttributeFlags =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// The rights of a handle that only looks at its object.
const DWORD kLooks = FILE_READ_ATTRIBUTES | FILE_READ_EA | READ_CONTROL | SYNCHRONIZE;

BOOL CloseFile(PosixObject *self)
{
    FileObject *file = reinterpret_cast<FileObject *>(self);
    ReleaseAllLocks(file);
    FileTableRemove(file);
    if (file->flags & FILE_FLAG_DELETE_ON_CLOSE) {
        struct stat now, named;
        if (fstat(file->fd, &now) == 0 && stat(file->path.c_str(), &named) == 0 && now.st_ino == named.st_ino &&
            now.st_dev == named.st_dev) {
            NamespaceLock();
            std::string folder, name;
            SplitPosixPath(file->path, &folder, &name);
            struct stat before;
            bool known = stat(folder.c_str(), &before) == 0;
            if ((S_ISDIR(now.st_mode) ? rmdir(file->path.c_str()) : unlink(file->path.c_str())) == 0)
                NameCacheNoteRemoved(folder, name, known ? &before : nullptr);
            NamespaceUnlock();
        }
    }
    close(file->fd);
    PosixObjectRetire(&file->header);
    delete file;
    return TRUE;
}

// Opens the descriptor of an existing object for the rights asked.
int OpenDescriptor(const char *path, bool directory, bool read, bool write, int *pathOnly, bool noFollow)
{
    *pathOnly = 0;
    const int follow = noFollow ? O_NOFOLLOW : 0;
    int flags = O_CLOEXEC | O_NOCTTY | follow;
    if (directory)
        flags |= O_RDONLY | O_DIRECTORY;
    else if (read && write)
        flags |= O_RDWR;
    else if (write)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    // A write-only handle still gets a descriptor that can read where the
    // permissions allow: only such a descriptor can hold the read locks that
    // share the file with other processes (its data stays unreadable
    // through the handle, whose access decides).
    int fd = -1;
    if (!directory && write && !read) {
        fd = open(path, (flags & ~O_ACCMODE) | O_RDWR);
        if (fd < 0 && errno != EACCES)
            return fd;
    }
    if (fd < 0)
        fd = open(path, flags);
    if (fd < 0 && errno == EACCES && (directory || (!read && !write))) {
        // Handles without data access only look at attributes: a descriptor
        // that names the object is enough.
        fd = open(path, O_PATH | O_CLOEXEC | follow | (directory ? O_DIRECTORY : 0));
        if (fd >= 0)
            *pathOnly = 1;
    }
    return fd;
}

// The rules Windows applies before it opens an existing object.
DWORD CheckExisting(const ResolvedPath &resolved, const PosixName &name, DWORD access, DWORD disposition,
                    DWORD flags)
{
    const struct stat &st = resolved.st;
    if (disposition == CREATE_NEW)
        return ERROR_FILE_EXISTS;
    if (S_ISDIR(st.st_mode)) {
        if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)
            return ERROR_ACCESS_DENIED;
        if (!(flags & FILE_FLAG_BACKUP_SEMANTICS))
            return ERROR_ACCESS_DENIED;
        return ERROR_SUCCESS;
    }
    if (name.trailingSeparator)
        return ERROR_INVALID_NAME;
    bool overwrite = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (IsReadOnlyMode(st.st_mode) && ((access & FILE_ACCESS_WRITE_DATA) || overwrite))
        return ERROR_ACCESS_DENIED;
    if ((flags & FILE_FLAG_DELETE_ON_CLOSE) && IsReadOnlyMode(st.st_mode))
        return ERROR_ACCESS_DENIED;
    if (overwrite) {
        // An overwrite must name the hidden and system attributes the file
        // has (Windows: "specify the same attributes as the existing file").
        DWORD existing = AttributesFromStat(st, -1, resolved.actual.c_str());
        DWORD wanted = flags & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if ((existing & FILE_ATTRIBUTE_HIDDEN & ~wanted) || (existing & FILE_ATTRIBUTE_SYSTEM & ~wanted))
            return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

} // namespace

FileObject *FileFromHandle(HANDLE handle)
{
    return reinterpret_cast<FileObject *>(PosixObjectFromHandle(handle, POSIX_OBJECT_FILE));
}

namespace {

// The file behind a handle with its current status; null with the error set.
FileObject *FileAndStatFromHandle(HANDLE handle, struct stat *st)
{
    FileObject *file = FileFromHandle(handle);
    if (file != nullptr && fstat(file->fd, st) != 0) {
        FailErrno();
        return nullptr;
    }
    return file;
}

// The same with the birth time, read in the same call.
FileObject *FileAndStatusFromHandle(HANDLE handle, struct stat *st, struct timespec *birth)
{
    FileObject *file = FileFromHandle(handle);
    if (file != nullptr && StatusAt(file->fd, "", AT_EMPTY_PATH, st, birth) != 0) {
        FailErrno();
        return nullptr;
    }
    return file;
}

// The Windows attributes of the handle's object from its status.  A
// path-only descriptor (no data access) cannot be read from: the stored bits
// are read through its entry in /proc/self/fd, which leads to its object
// (the name only tells the file system, once per device).
DWORD HandleAttributes(const FileObject *file, const struct stat &st)
{
    if (!file->pathOnly)
        return AttributesFromStat(st, file->fd, file->path.c_str());
    if (S_ISLNK(st.st_mode))
        return AttributesFromStat(st, -1, file->path.c_str());
    return AttributesFromStat(st, -1, file->path.c_str(), file->fd, "");
}

// FileAndStatusFromHandle, with the object's creation time and Windows
// attributes taken from that status.
FileObject *LookThroughHandle(HANDLE handle, struct stat *st, FILETIME *created, DWORD *attributes)
{
    struct timespec birth;
    FileObject *file = FileAndStatusFromHandle(handle, st, &birth);
    if (file == nullptr)
        return nullptr;
    CreationTimeFrom(*st, birth, created);
    *attributes = HandleAttributes(file, *st);
    return file;
}

// The file object of an open descriptor, entered in the file table; null
// (the descriptor closed, the error set) when the table refuses it.
FileObject *NewFileObject(int fd, const struct stat &st, int pathOnly, DWORD access, DWORD share, DWORD flags,
                          const std::string &path)
{
    FileObject *file = new FileObject();
    PosixObjectInit(&file->header, POSIX_OBJECT_FILE, CloseFile);
    file->fd = fd;
    file->pathOnly = pathOnly;
    file->isDirectory = S_ISDIR(st.st_mode);
    file->access = access;
    file->share = share & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    file->flags = flags & 0xFFF00000u;
    file->path = path;
    file->record = nullptr;
    if (!FileTableAdd(file, st)) {
        const DWORD error = GetLastError();
        close(fd);
        PosixObjectRetire(&file->header);
        delete file;
        SetLastError(error);
        return nullptr;
    }
    return file;
}

// An existing object opened only to be looked at (access to read its
// attributes alone, a link itself) at the exact path: its open can act on
// no kind of object (O_PATH), so it comes first, and the descriptor's
// status tells what it is, where an open for data must look at the name
// before it opens and at the descriptor after.  The handle, INVALID_HANDLE_VALUE with the
// error set, or null when the open must go the whole way: another access,
// another spelling (*exactMissing tells that nothing has the exact path).
HANDLE OpenToLookAt(const PosixName &name, DWORD access, DWORD share, DWORD flags, OpenedStatus *opened,
                    int *exactMissing)
{
    if ((flags & FILE_FLAG_DELETE_ON_CLOSE) != 0 || name.trailingSeparator)
        return nullptr;
    const int fd = open(name.path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            *exactMissing = errno;
        return nullptr;
    }
    struct stat st;
    struct timespec birth;
    if (StatusAt(fd, "", AT_EMPTY_PATH, &st, &birth) != 0) {
        FailErrno();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(st.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    FileObject *file = NewFileObject(fd, st, 1, access, share, flags, name.path);
    if (file == nullptr)
        return INVALID_HANDLE_VALUE;
    if (opened != nullptr) {
        opened->known = true;
        opened->st = st;
        opened->birth = birth;
    }
    SetLastError(ERROR_SUCCESS);
    return &file->header;
}

// A folder at the exact path, opened as OpenDescriptor opens a folder that
// was looked up: O_DIRECTORY opens nothing but a folder, so the open comes
// first and the descriptor's status stands for the look-up.  The descriptor
// with resolved filled, or -1 (*exactMissing set when nothing has the
// exact path) when the open must go the whole way.
int OpenFolderAt(const PosixName &name, ResolvedPath *resolved, int *exactMissing)
{
    const int fd = open(name.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            *exactMissing = ENOENT;
        return -1;
    }
    if (StatusAt(fd, "", AT_EMPTY_PATH, &resolved->st, &resolved->birth) != 0 || !S_ISDIR(resolved->st.st_mode)) {
        close(fd);
        return -1;
    }
    resolved->actual = name.path;
    SplitPosixPath(name.path, &resolved->parent, &resolved->name);
    if (name.path == "/")
        resolved->parent.clear();
    resolved->parentKnown = 0;
    resolved->linkKnown = 1;
    resolved->isLink = 0;
    resolved->birthKnown = 1;
    resolved->entryFolder = -1;
    return fd;
}

} // namespace

HANDLE CreateFileUtf8(const char *utf8Path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                      OpenedStatus *seen)
{
    if (seen != nullptr)
        seen->known = false;
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD mapped = MapFileAccess(access);
    if ((flags & FILE_FLAG_DELETE_ON_CLOSE) && !(mapped & DELETE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    PosixName name;
    if (!PosixNameFromWindows(utf8Path, &name))
        return INVALID_HANDLE_VALUE;
    bool read = (mapped & FILE_ACCESS_READ_DATA) != 0;
    bool write = (mapped & FILE_ACCESS_WRITE_DATA) != 0;

    // Creates hold the namespace lock from the look-up to the new name.
    bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    if (creates)
        NamespaceLock();
    struct Unlocker {
        bool held;
        ~Unlocker()
        {
            if (held)
                NamespaceUnlock();
        }
    } unlocker{creates};

    int exactMissing = 0;
    const bool looksOnly = (mapped & ~kLooks) == 0;
    if (disposition == OPEN_EXISTING && looksOnly && (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        HANDLE looked = OpenToLookAt(name, mapped, share, flags, seen, &exactMissing);
        if (looked != nullptr)
            return looked;
    }

    // A folder opened for its listing or a change in it: asked as itself and
    // with the backup semantics that folders need.
    const bool folderAsked = disposition == OPEN_EXISTING && !looksOnly &&
                             (flags & (FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)) ==
                                 (FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT) &&
                             (flags & FILE_FLAG_DELETE_ON_CLOSE) == 0 && !name.trailingSeparator;
    int attempts = 0;
retry:
    const uint64_t changesBefore = NamespaceChangesEnded();
    ResolvedPath resolved;
    const int direct = attempts == 0 && folderAsked ? OpenFolderAt(name, &resolved, &exactMissing) : -1;
    int found = direct >= 0 ? RESOLVE_FOUND : ResolvePosixPath(name.path, &resolved, attempts == 0 ? exactMissing : 0);
    if (found == RESOLVE_ERROR)
        return INVALID_HANDLE_VALUE;
    bool existed = found == RESOLVE_FOUND;
    bool overwrite = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    int fd;
    int pathOnly = 0;
    struct stat st;
    bool statKnown = false;
    bool plain = false; // an existing object that the look-up found as no link
    // FILE_FLAG_OPEN_REPARSE_POINT opens a symbolic link itself (its data
    // cannot be read or written through the handle), never what it leads to.
    const bool linkItself = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0 && LinkAtResolvedPath(resolved);
    if (linkItself) {
        if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
            SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        existed = true;
        fd = open(resolved.actual.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        pathOnly = 1;
        if (fd < 0) {
            FailErrno();
            return INVALID_HANDLE_VALUE;
        }
    } else if (existed) {
        DWORD refusal = CheckExisting(resolved, name, mapped, disposition, flags);
        if (refusal != ERROR_SUCCESS) {
            if (direct >= 0)
                close(direct);
            SetLastError(refusal);
            return INVALID_HANDLE_VALUE;
        }
        bool special = !S_ISREG(resolved.st.st_mode) && !S_ISDIR(resolved.st.st_mode);
        if (special && (read || write || overwrite)) {
            // FIFOs, sockets and devices have no Windows counterpart; opening
            // them for data could block the caller or act on a device.
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        // What was looked up is opened, never what the name leads to after
        // a change: a link put in its place is not followed, and another
        // object found under the name looks the path up again.
        plain = !LinkAtResolvedPath(resolved);
        if (direct >= 0) {
            fd = direct;
        } else if (special) {
            fd = open(resolved.actual.c_str(), O_PATH | O_CLOEXEC | (plain ? O_NOFOLLOW : 0));
            pathOnly = 1;
        } else {
            fd = OpenDescriptor(resolved.actual.c_str(), S_ISDIR(resolved.st.st_mode), read, write || overwrite,
                                &pathOnly, plain);
        }
        // A folder opened directly was looked at through its descriptor.
        struct stat opened = resolved.st;
        const bool moved = plain && direct < 0 &&
                           (fd >= 0 ? fstat(fd, &opened) != 0 || opened.st_dev != resolved.st.st_dev ||
                                          opened.st_ino != resolved.st.st_ino
                                    : errno == ELOOP || errno == ENOENT || errno == ENOTDIR);
        if (moved) {
            if (fd >= 0)
                close(fd);
            if (++attempts < 4)
                goto retry;
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        if (fd < 0) {
            FailErrno();
            return INVALID_HANDLE_VALUE;
        }
        if (plain) {
            st = opened;
            statKnown = true;
        }
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (name.trailingSeparator) {
            SetLastError(ERROR_INVALID_NAME);
            return INVALID_HANDLE_VALUE;
        }
        // A new file opens for reading too where writing was asked (see
        // OpenDescriptor); its creator needs no permission for that.
        int openFlags = O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | (write ? O_RDWR : O_RDONLY);
        fd = open(resolved.actual.c_str(), openFlags, 0666);
        if (fd < 0) {
            // A dangling symbolic link holds the name: it exists for Windows too.
            SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : WindowsErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        NameCacheNoteAdded(resolved.parent, resolved.name, resolved.parentKnown ? &resolved.parentStat : nullptr);
    }
    if (!statKnown && fstat(fd, &st) != 0) {
        FailErrno();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }

    FileObject *file = NewFileObject(fd, st, pathOnly, mapped, share, flags, resolved.actual);
    if (file == nullptr)
        return INVALID_HANDLE_VALUE;
    // A handle that keeps others from deleting or moving its object holds
    // from the moment it is in the table; a move or delete that checked the
    // table just before may still be under way.  Such a change holds the
    // namespace lock from its check to its end: unless no change has ended
    // since the look-up and none is under way, the name must still lead to
    // the object once it is over, as on Windows, where the change would have
    // refused this open or come before its look-up.
    if (plain && !creates &&
        (mapped & (FILE_ACCESS_READ_DATA | FILE_ACCESS_WRITE_DATA | DELETE)) != 0 && (share & FILE_SHARE_DELETE) == 0 &&
        !NamespaceSettledSince(changesBefore)) {
        NamespaceAwaitChange();
        ResolvedPath now;
        if (ResolvePosixPath(name.path, &now) != RESOLVE_FOUND || now.st.st_dev != st.st_dev ||
            now.st.st_ino != st.st_ino) {
            CloseFile(&file->header);
            if (++attempts < 4)
                goto retry;
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (overwrite) {
        DWORD refused = MappingRefusesSize(file->record, 0);
        if (refused == ERROR_SUCCESS && ftruncate(fd, 0) != 0)
            refused = WindowsErrorFromErrno(errno);
        // An overwritten file takes the attributes of the request.
        if (refused == ERROR_SUCCESS && !StoreAttributes(st, fd, resolved.actual.c_str(), flags & kAttributeFlags))
            refused = GetLastError();
        if (refused != ERROR_SUCCESS) {
            CloseFile(&file->header);
            SetLastError(refused);
            return INVALID_HANDLE_VALUE;
        }
    } else if (!existed && (flags & kAttributeFlags) != 0) {
        if (!StoreAttributes(st, fd, resolved.actual.c_str(), flags & kAttributeFlags)) {
            DWORD error = GetLastError();
            CloseFile(&file->header);
            unlink(resolved.actual.c_str());
            NameCacheForget(resolved.parent);
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    // The status read after the open, of the object the look-up found: the
    // same object, so the birth time of the look-up is its own.
    if (seen != nullptr && plain && statKnown && !overwrite && resolved.birthKnown) {
        seen->known = true;
        seen->st = st;
        seen->birth = resolved.birth;
    }
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                        : ERROR_SUCCESS);
    return &file->header;
}

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE)
{
    std::string path;
    if (!PathArgFromAnsi(name, &path))
        return INVALID_HANDLE_VALUE;
    return CreateFileUtf8(path.c_str(), access, share, disposition, flagsAndAttributes);
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE)
{
    std::string path;
    if (!PathArgFromWide(name, &path))
        return INVALID_HANDLE_VALUE;
    return CreateFileUtf8(path.c_str(), access, share, disposition, flagsAndAttributes);
}

HANDLE ReOpenFile(HANDLE original, DWORD access, DWORD share, DWORD flags)
{
    FileObject *from = FileFromHandle(original);
    if (from == nullptr)
        return INVALID_HANDLE_VALUE;
    const DWORD mapped = MapFileAccess(access);
    const bool read = (mapped & FILE_ACCESS_READ_DATA) != 0;
    const bool write = (mapped & FILE_ACCESS_WRITE_DATA) != 0;
    struct stat st;
    if ((flags & FILE_FLAG_DELETE_ON_CLOSE) != 0 || fstat(from->fd, &st) != 0) {
        SetLastError((flags & FILE_FLAG_DELETE_ON_CLOSE) != 0 ? ERROR_INVALID_PARAMETER
                                                              : WindowsErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    // The rules of an open of the existing object by name.
    const bool special = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
    if ((S_ISDIR(st.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) || (special && (read || write)) ||
        (S_ISREG(st.st_mode) && write && IsReadOnlyMode(st.st_mode))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // The object the descriptor names, whatever has its name now: a link
    // opened as itself stays the link (no data through it), anything else
    // opens again through the descriptor's own entry in /proc.
    int fd;
    int pathOnly = 1;
    if (special) {
        fd = S_ISLNK(st.st_mode) ? fcntl(from->fd, F_DUPFD_CLOEXEC, 0)
                                 : open(DescriptorPath(from).c_str(), O_PATH | O_CLOEXEC);
    } else {
        fd = OpenDescriptor(DescriptorPath(from).c_str(), S_ISDIR(st.st_mode), read, write, &pathOnly, false);
    }
    if (fd < 0 || fstat(fd, &st) != 0) {
        FailErrno();
        if (fd >= 0)
            close(fd);
        return INVALID_HANDLE_VALUE;
    }
    FileObject *file = NewFileObject(fd, st, pathOnly, mapped, share, flags, from->path);
    if (file == nullptr)
        return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return &file->header;
}

// ------------------------------------------------------------------ data
namespace {

// The position an I/O starts at: the OVERLAPPED offset or the handle's own.
bool StartOffset(FileObject *file, LPOVERLAPPED overlapped, ULONGLONG *offset)
{
    if (overlapped != nullptr) {
        *offset = (static_cast<ULONGLONG>(overlapped->OffsetHigh) << 32) | overlapped->Offset;
        return true;
    }
    off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0)
        return FailErrno();
    *offset = static_cast<ULONGLONG>(position);
    return true;
}

void FinishOverlapped(FileObject *file, LPOVERLAPPED overlapped, ULONGLONG offset, size_t done)
{
    if (overlapped == nullptr)
        return;
    // A synchronous handle moves its position past an OVERLAPPED transfer.
    lseek(file->fd, static_cast<off_t>(offset + done), SEEK_SET);
    overlapped->Internal = 0;
    overlapped->InternalHigh = done;
}

// Checks a read or write of count bytes: the handle, its access, the start
// offset and other handles' locks.  Returns the file, or null with the error set.
FileObject *BeginTransfer(HANDLE handle, uint32_t accessBit, DWORD count, LPOVERLAPPED overlapped, ULONGLONG *offset)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return nullptr;
    if (file->isDirectory || !(file->access & accessBit) || file->pathOnly) {
        Fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // A transfer at the handle's own position needs that position only to
    // check other handles' locks: without locks it costs no extra call.
    bool locked = count > 0 && __atomic_load_n(&file->record->lockCount, __ATOMIC_ACQUIRE) > 0;
    if ((overlapped != nullptr || locked) && !StartOffset(file, overlapped, offset))
        return nullptr;
    if (locked && RangeLockedByOthers(file, *offset, count)) {
        Fail(ERROR_LOCK_VIOLATION);
        return nullptr;
    }
    return file;
}

} // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped)
{
    if (read != nullptr)
        *read = 0;
    ULONGLONG offset = 0;
    FileObject *file = BeginTransfer(handle, FILE_ACCESS_READ_DATA, toRead, overlapped, &offset);
    if (file == nullptr)
        return FALSE;
    size_t done = 0;
    char *out = static_cast<char *>(buffer);
    while (done < toRead) {
        ssize_t n = overlapped != nullptr ? pread(file->fd, out + done, toRead - done, static_cast<off_t>(offset + done))
                                          : ::read(file->fd, out + done, toRead - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return FailErrno();
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
        // A regular file gives less only at its end: no read to learn so.
        if (done < toRead && !file->isDirectory && !file->pathOnly)
            break;
    }
    FinishOverlapped(file, overlapped, offset, done);
    if (read != nullptr)
        *read = static_cast<DWORD>(done);
    if (overlapped != nullptr && done == 0 && toRead > 0)
        return Fail(ERROR_HANDLE_EOF);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (written != nullptr)
        *written = 0;
    ULONGLONG offset = 0;
    FileObject *file = BeginTransfer(handle, FILE_ACCESS_WRITE_DATA, toWrite, overlapped, &offset);
    if (file == nullptr)
        return FALSE;
    size_t done = 0;
    const char *in = static_cast<const char *>(buffer);
    while (done < toWrite) {
        ssize_t n = overlapped != nullptr ? pwrite(file->fd, in + done, toWrite - done, static_cast<off_t>(offset + done))
                                          : ::write(file->fd, in + done, toWrite - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (written != nullptr)
                *written = static_cast<DWORD>(done);
            return FailErrno();
        }
        done += static_cast<size_t>(n);
    }
    FinishOverlapped(file, overlapped, offset, done);
    if (written != nullptr)
        *written = static_cast<DWORD>(done);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

namespace {

// Moves the handle's position; returns 0 with the error set on failure.
int MovePointer(FileObject *file, LONGLONG distance, DWORD method, LONGLONG *position)
{
    LONGLONG base;
    if (method == FILE_BEGIN) {
        base = 0;
    } else if (method == FILE_CURRENT) {
        off_t current = lseek(file->fd, 0, SEEK_CUR);
        if (current < 0)
            return FailErrno();
        base = current;
    } else if (method == FILE_END) {
        struct stat st;
        if (fstat(file->fd, &st) != 0)
            return FailErrno();
        base = st.st_size;
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((distance > 0 && base > INT64_MAX - distance))
        return Fail(ERROR_INVALID_PARAMETER);
    LONGLONG target = base + distance;
    if (target < 0)
        return Fail(ERROR_NEGATIVE_SEEK);
    if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0)
        return FailErrno();
    *position = target;
    return 1;
}

} // namespace

DWORD SetFilePointer(HANDLE handle, LONG distance, LPLONG distanceHigh, DWORD method)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return INVALID_SET_FILE_POINTER;
    LONGLONG move = distanceHigh != nullptr
                        ? static_cast<LONGLONG>((static_cast<ULONGLONG>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                                static_cast<DWORD>(distance))
                        : static_cast<LONGLONG>(distance);
    LONGLONG position = 0;
    if (!MovePointer(file, move, method, &position))
        return INVALID_SET_FILE_POINTER;
    if (distanceHigh != nullptr)
        *distanceHigh = static_cast<LONG>(position >> 32);
    else if (position > 0xFFFFFFFELL) {
        // Without the high word the position must fit in 32 bits.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    LONGLONG position = 0;
    if (!MovePointer(file, distance.QuadPart, method, &position))
        return FALSE;
    if (newPosition != nullptr)
        newPosition->QuadPart = position;
    return TRUE;
}

BOOL SetEndOfFile(HANDLE handle)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    if (file->isDirectory || !(file->access & FILE_WRITE_DATA) || file->pathOnly)
        return Fail(ERROR_ACCESS_DENIED);
    off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0)
        return FailErrno();
    // A live mapping beyond the new end would fault on access.
    DWORD refused = MappingRefusesSize(file->record, static_cast<ULONGLONG>(position));
    if (refused != ERROR_SUCCESS)
        return Fail(refused);
    if (ftruncate(file->fd, position) != 0)
        return FailErrno();
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size)
{
    struct stat st;
    FileObject *file = FileAndStatFromHandle(handle, &st);
    if (file == nullptr)
        return FALSE;
    size->QuadPart = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(handle, &size))
        return INVALID_FILE_SIZE;
    if (sizeHigh != nullptr)
        *sizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(size.QuadPart) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size.QuadPart);
}

BOOL FlushFileBuffers(HANDLE handle)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    if (!(file->access & FILE_ACCESS_WRITE_DATA) || file->pathOnly)
        return Fail(ERROR_ACCESS_DENIED);
    if (fsync(file->fd) != 0)
        return FailErrno();
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information)
{
    struct stat st;
    FileObject *file = LookThroughHandle(handle, &st, &information->ftCreationTime, &information->dwFileAttributes);
    if (file == nullptr)
        return FALSE;
    FileTimeFromSeconds(st.st_atim, &information->ftLastAccessTime);
    FileTimeFromSeconds(st.st_mtim, &information->ftLastWriteTime);
    information->dwVolumeSerialNumber = VolumeSerialOf(st, file->fd, file->path.c_str());
    ULONGLONG size = S_ISDIR(st.st_mode) ? 0 : static_cast<ULONGLONG>(st.st_size);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    // NTFS counts a folder's names, not its subfolders' "..": one.
    information->nNumberOfLinks = S_ISDIR(st.st_mode) ? 1 : static_cast<DWORD>(st.st_nlink);
    ULONGLONG index = static_cast<ULONGLONG>(st.st_ino);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

namespace {

// The record of GetFileStatByHandle from a status of the handle's object.
void FillFileStat(const FileObject *file, const struct stat &st, const FILETIME &created, DWORD attributes,
                  NtFileStatInformation *info, DWORD *volumeSerial)
{
    StatInformationFrom(st, created, info);
    info->FileAttributes = attributes;
    if (S_ISLNK(st.st_mode))
        info->ReparseTag = IO_REPARSE_TAG_SYMLINK;
    *volumeSerial = VolumeSerialOf(st, file->fd, file->path.c_str());
}

HANDLE CreateFileAndStat(const std::string &path, DWORD access, DWORD share, DWORD flags, LPVOID information,
                         ULONG size, LPDWORD volumeSerial, BOOL *known)
{
    *known = FALSE;
    if (information == nullptr || size < sizeof(NtFileStatInformation) || volumeSerial == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    OpenedStatus opened;
    HANDLE handle = CreateFileUtf8(path.c_str(), access, share, OPEN_EXISTING, flags, &opened);
    FileObject *file = handle == INVALID_HANDLE_VALUE || !opened.known ? nullptr : FileFromHandle(handle);
    if (file != nullptr) {
        FILETIME created;
        CreationTimeFrom(opened.st, opened.birth, &created);
        const DWORD attributes = HandleAttributes(file, opened.st);
        FillFileStat(file, opened.st, created, attributes, static_cast<NtFileStatInformation *>(information),
                     volumeSerial);
        *known = TRUE;
    }
    if (handle != INVALID_HANDLE_VALUE)
        SetLastError(ERROR_SUCCESS);
    return handle;
}

} // namespace

BOOL GetFileStatByHandle(HANDLE handle, LPVOID information, ULONG size, LPDWORD volumeSerial)
{
    if (information == nullptr || size < sizeof(NtFileStatInformation) || volumeSerial == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    struct stat st;
    FILETIME created;
    DWORD attributes;
    FileObject *file = LookThroughHandle(handle, &st, &created, &attributes);
    if (file == nullptr)
        return FALSE;
    FillFileStat(file, st, created, attributes, static_cast<NtFileStatInformation *>(information), volumeSerial);
    return TRUE;
}

HANDLE CreateFileAndStatW(LPCWSTR name, DWORD access, DWORD share, DWORD flags, LPVOID information, ULONG size,
                          LPDWORD volumeSerial, BOOL *known)
{
    std::string path;
    *known = FALSE;
    if (!PathArgFromWide(name, &path))
        return INVALID_HANDLE_VALUE;
    return CreateFileAndStat(path, access, share, flags, information, size, volumeSerial, known);
}

BOOL GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size)
{
    if (kind != FileBasicInfo || information == nullptr || size < sizeof(FILE_BASIC_INFO))
        return Fail(ERROR_INVALID_PARAMETER);
    struct stat st;
    FILETIME created;
    DWORD attributes;
    if (LookThroughHandle(handle, &st, &created, &attributes) == nullptr)
        return FALSE;
    FILE_BASIC_INFO *basic = static_cast<FILE_BASIC_INFO *>(information);
    CountedTimes(created, st, &basic->CreationTime, &basic->LastAccessTime, &basic->LastWriteTime, &basic->ChangeTime);
    basic->FileAttributes = attributes;
    return TRUE;
}

BOOL GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite)
{
    struct stat st;
    struct timespec birth;
    FileObject *file = FileAndStatusFromHandle(handle, &st, &birth);
    if (file == nullptr)
        return FALSE;
    if (creation != nullptr)
        CreationTimeFrom(st, birth, creation);
    if (lastAccess != nullptr)
        FileTimeFromSeconds(st.st_atim, lastAccess);
    if (lastWrite != nullptr)
        FileTimeFromSeconds(st.st_mtim, lastWrite);
    return TRUE;
}

BOOL SetFileTime(HANDLE handle, const FILETIME *creation, const FILETIME *lastAccess, const FILETIME *lastWrite)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    if (!(file->access & FILE_WRITE_ATTRIBUTES))
        return Fail(ERROR_ACCESS_DENIED);
    // POSIX file systems keep no settable creation time: it is accepted and
    // left as it is.
    (void)creation;
    struct timespec times[2];
    int change = 0;
    if (lastAccess != nullptr)
        change |= TimespecFromFileTime(lastAccess, &times[0]);
    else
        times[0].tv_nsec = UTIME_OMIT;
    if (lastWrite != nullptr)
        change |= TimespecFromFileTime(lastWrite, &times[1]);
    else
        times[1].tv_nsec = UTIME_OMIT;
    if (!change)
        return TRUE;
    int rc;
    if (file->pathOnly) {
        char self[64];
        snprintf(self, sizeof(self), "/proc/self/fd/%d", file->fd);
        rc = utimensat(AT_FDCWD, self, times, 0);
    } else {
        rc = futimens(file->fd, times);
    }
    if (rc != 0)
        return FailErrno();
    return TRUE;
}

BOOL SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size)
{
    if (kind != FileBasicInfo || information == nullptr || size < sizeof(FILE_BASIC_INFO))
        return Fail(ERROR_INVALID_PARAMETER);
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    if (!(file->access & FILE_WRITE_ATTRIBUTES))
        return Fail(ERROR_ACCESS_DENIED);
    const FILE_BASIC_INFO *basic = static_cast<const FILE_BASIC_INFO *>(information);
    const auto time = [](const LARGE_INTEGER &value, FILETIME *out) -> const FILETIME * {
        if (value.QuadPart == 0)
            return nullptr;
        out->dwLowDateTime = static_cast<DWORD>(value.QuadPart);
        out->dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value.QuadPart) >> 32);
        return out;
    };
    FILETIME accessed, written;
    if (!SetFileTime(handle, nullptr, time(basic->LastAccessTime, &accessed), time(basic->LastWriteTime, &written)))
        return FALSE;
    if (basic->FileAttributes == 0)
        return TRUE;
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return FailErrno();
    if (S_ISLNK(st.st_mode))
        return Fail(ERROR_ACCESS_DENIED);
    // Through the descriptor's own name: the object itself, whatever has
    // its path now.
    return StoreAttributes(st, -1, DescriptorPath(file).c_str(), basic->FileAttributes) ? TRUE : FALSE;
}

std::string DescriptorPath(const FileObject *file)
{
    // Asked for each entry of a listing: no formatted print.
    static const char kFolder[] = "/proc/self/fd/";
    char path[sizeof kFolder + 12];
    memcpy(path, kFolder, sizeof kFolder - 1);
    const auto end = std::to_chars(path + sizeof kFolder - 1, path + sizeof path, file->fd).ptr;
    return std::string(path, static_cast<size_t>(end - path));
}

// Byte-range locks with Windows rules: a lock belongs to the handle that took
// it; it conflicts with every other lock on the range, also one of the same
// handle (ERROR_LOCK_VIOLATION); only the exact range that was locked can be
// unlocked (ERROR_NOT_LOCKED otherwise); and reads and writes through other
// handles are refused on a locked range, as Windows enforces its locks.
// Each lock is also placed as an open-file-description lock (F_OFD_SETLK) on
// the handle's descriptor, so other processes see it.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

namespace {

bool Overlaps(const LockRange &a, ULONGLONG offset, ULONGLONG length)
{
    if (a.length == 0 || length == 0)
        return false; // zero-length locks lock nothing
    ULONGLONG aLast = a.offset + (a.length - 1);
    ULONGLONG last = offset + (length - 1);
    return a.offset <= last && offset <= aLast;
}

// The system lock for a range; ranges end before the bytes that keep the
// sharing of handles between processes (SHARE_LOCK_BASE).
bool SystemRange(ULONGLONG offset, ULONGLONG length, struct flock *fl)
{
    const ULONGLONG limit = static_cast<ULONGLONG>(SHARE_LOCK_BASE);
    if (length == 0 || offset >= limit)
        return false;
    fl->l_whence = SEEK_SET;
    fl->l_start = static_cast<off_t>(offset);
    fl->l_len = static_cast<off_t>(length > limit - offset ? limit - offset : length);
    fl->l_pid = 0;
    return true;
}

int SystemLock(FileObject *file, ULONGLONG offset, ULONGLONG length, short type)
{
    struct flock fl;
    if (file->pathOnly || !SystemRange(offset, length, &fl))
        return 0;
    if (type != F_UNLCK) {
        int mode = fcntl(file->fd, F_GETFL);
        // A descriptor open for reading only cannot hold a write lock.
        type = (mode >= 0 && (mode & O_ACCMODE) != O_RDONLY) ? F_WRLCK : F_RDLCK;
    }
    fl.l_type = type;
    if (fcntl(file->fd, F_OFD_SETLK, &fl) == 0)
        return 0;
    return errno;
}

} // namespace

BOOL LockFile(HANDLE handle, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    if (file->isDirectory)
        return Fail(ERROR_ACCESS_DENIED);
    ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
    ULONGLONG length = (static_cast<ULONGLONG>(bytesHigh) << 32) | bytesLow;
    if (length > 0 && offset + (length - 1) < offset)
        return Fail(ERROR_INVALID_LOCK_RANGE);
    FileTableLock();
    OpenFileRecord *record = file->record;
    for (FileObject *open : record->handles) {
        for (const LockRange &held : open->locks) {
            if (Overlaps(held, offset, length)) {
                FileTableUnlock();
                return Fail(ERROR_LOCK_VIOLATION);
            }
        }
    }
    int err = SystemLock(file, offset, length, F_WRLCK);
    if (err != 0 && err != EBADF) {
        FileTableUnlock();
        return Fail(err == EAGAIN || err == EACCES ? ERROR_LOCK_VIOLATION : WindowsErrorFromErrno(err));
    }
    file->locks.push_back(LockRange{offset, length});
    InterlockedIncrement(&record->lockCount);
    FileTableUnlock();
    return TRUE;
}

BOOL UnlockFile(HANDLE handle, DWORD offsetLow, DWORD offsetHigh, DWORD bytesLow, DWORD bytesHigh)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return FALSE;
    ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
    ULONGLONG length = (static_cast<ULONGLONG>(bytesHigh) << 32) | bytesLow;
    FileTableLock();
    for (size_t i = 0; i < file->locks.size(); i++) {
        if (file->locks[i].offset == offset && file->locks[i].length == length) {
            SystemLock(file, offset, length, F_UNLCK);
            file->locks.erase(file->locks.begin() + static_cast<std::ptrdiff_t>(i));
            InterlockedDecrement(&file->record->lockCount);
            FileTableUnlock();
            return TRUE;
        }
    }
    FileTableUnlock();
    return Fail(ERROR_NOT_LOCKED);
}

int RangeLockedByOthers(FileObject *file, ULONGLONG offset, ULONGLONG length)
{
    FileTableLock();
    int locked = 0;
    for (FileObject *open : file->record->handles) {
        if (open == file)
            continue;
        for (const LockRange &held : open->locks)
            if (Overlaps(held, offset, length))
                locked = 1;
    }
    FileTableUnlock();
    return locked;
}

void ReleaseAllLocks(FileObject *file)
{
    if (file->record == nullptr)
        return;
    FileTableLock();
    for (const LockRange &held : file->locks) {
        SystemLock(file, held.offset, held.length, F_UNLCK);
        InterlockedDecrement(&file->record->lockCount);
    }
    file->locks.clear();
    FileTableUnlock();
}

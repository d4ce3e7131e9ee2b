// The table of open files: which handles of this process are open on each
// file, with what access and sharing.  Windows refuses an open whose access
// another open handle does not share, or whose sharing does not allow what
// another handle may do; the same rule is enforced here between the handles
// of this process (ERROR_SHARING_VIOLATION).  Only data access and DELETE
// take part; handles that only read or write attributes never conflict.
//
// Between processes the rule holds through open-file-description locks on
// six bytes at the very end of the offset range, where no data lies: each
// handle holds a read lock on the byte of every right it has (read, write,
// delete) and on the byte of every right it does not share, and asks
// whether another process holds the opposite bytes.  Two servers on one
// inode table thus refuse each other as on Windows.  (Byte-range locks of
// LockFile stop short of these bytes.)  Taking the locks and then looking,
// two conflicting opens at the same moment may both be refused, never both
// admitted.
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/posix/win32_file_internal.h"

namespace {

std::mutex tableMutex;
std::unordered_map<ObjectKey, OpenFileRecord *, ObjectKeyHash> records;

const DWORD kSharedAccess = FILE_ACCESS_READ_DATA | FILE_ACCESS_WRITE_DATA | DELETE;

bool Conflicts(DWORD openAccess, DWORD openShare, DWORD access, DWORD share)
{
    if ((openAccess & kSharedAccess) == 0 || (access & kSharedAccess) == 0)
        return false;
    if ((access & FILE_ACCESS_READ_DATA) && !(openShare & FILE_SHARE_READ))
        return true;
    if ((access & FILE_ACCESS_WRITE_DATA) && !(openShare & FILE_SHARE_WRITE))
        return true;
    if ((access & DELETE) && !(openShare & FILE_SHARE_DELETE))
        return true;
    if ((openAccess & FILE_ACCESS_READ_DATA) && !(share & FILE_SHARE_READ))
        return true;
    if ((openAccess & FILE_ACCESS_WRITE_DATA) && !(share & FILE_SHARE_WRITE))
        return true;
    if ((openAccess & DELETE) && !(share & FILE_SHARE_DELETE))
        return true;
    return false;
}

// The lock bytes, from SHARE_LOCK_BASE on: "DELETE not shared", read data,
// write data, DELETE, "read not shared", "write not shared".  In this order
// the bytes of the usual opens lie side by side, each set taken or asked for
// in one call: a folder held for listing without FILE_SHARE_DELETE holds
// bytes 0-1 and asks for 3-4, a file opened to read and write holds 1-2 and
// asks for 4-5.
const DWORD kRight[3] = {FILE_ACCESS_READ_DATA, FILE_ACCESS_WRITE_DATA, DELETE};
const DWORD kShare[3] = {FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE};
const unsigned kRightByte[3] = {1, 2, 3};
const unsigned kNotSharedByte[3] = {4, 5, 0};

// Read-locks the bytes [at, at + length).
bool LockBytes(int fd, off_t at, off_t length)
{
    struct flock fl = {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = length;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Whether another open file description holds a lock on any of the bytes
// [at, at + length).
bool HeldElsewhere(int fd, off_t at, off_t length)
{
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = at;
    fl.l_len = length;
    return fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

// Calls step once for every run of adjacent lock bytes in the mask (bit b
// stands for the byte SHARE_LOCK_BASE + b): one system call per run instead
// of one per byte.  Stops at the first step that returns false.
template <typename Step> bool ForEachRun(unsigned mask, Step step)
{
    for (int i = 0; i < 6;) {
        if (!(mask & (1u << i))) {
            i++;
            continue;
        }
        int end = i;
        while (end < 6 && (mask & (1u << end)))
            end++;
        if (!step(SHARE_LOCK_BASE + i, static_cast<off_t>(end - i)))
            return false;
        i = end;
    }
    return true;
}

void ReleaseShareBytes(int fd)
{
    struct flock fl = {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = SHARE_LOCK_BASE;
    fl.l_len = 6;
    fcntl(fd, F_OFD_SETLK, &fl);
}

// Takes the lock bytes of a handle and looks for a conflict with handles of
// other processes.  On a file system without locks nothing is held or
// refused.
DWORD ShareAcrossProcesses(int fd, DWORD access, DWORD share)
{
    if ((access & kSharedAccess) == 0)
        return ERROR_SUCCESS;
    // The bytes to hold (its rights and what it does not share) and the
    // bytes that refuse it (others' denials of its rights, others' rights it
    // does not share).
    unsigned hold = 0, refusing = 0;
    for (int i = 0; i < 3; i++) {
        if (access & kRight[i]) {
            hold |= 1u << kRightByte[i];
            refusing |= 1u << kNotSharedByte[i];
        }
        if (!(share & kShare[i])) {
            hold |= 1u << kNotSharedByte[i];
            refusing |= 1u << kRightByte[i];
        }
    }
    // A descriptor that cannot hold the locks (write-only without read
    // permission) holds none, but is still refused by those of others.
    if (!ForEachRun(hold, [fd](off_t at, off_t length) { return LockBytes(fd, at, length); }))
        ReleaseShareBytes(fd);
    if (!ForEachRun(refusing, [fd](off_t at, off_t length) { return !HeldElsewhere(fd, at, length); })) {
        ReleaseShareBytes(fd);
        return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

} // namespace

void FileTableLock() { tableMutex.lock(); }
void FileTableUnlock() { tableMutex.unlock(); }

DWORD MapFileAccess(DWORD access)
{
    DWORD mapped = access & 0x01FF01FFu; // specific and standard rights
    if (access & GENERIC_READ)
        mapped |= FILE_GENERIC_READ;
    if (access & GENERIC_WRITE)
        mapped |= FILE_GENERIC_WRITE;
    if (access & GENERIC_EXECUTE)
        mapped |= FILE_GENERIC_EXECUTE;
    if (access & (GENERIC_ALL | 0x02000000u /* MAXIMUM_ALLOWED */))
        mapped |= FILE_ALL_ACCESS;
    return mapped;
}

int FileTableAdd(FileObject *file, const struct stat &st)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    ObjectKey key{st.st_dev, st.st_ino};
    auto it = records.find(key);
    if (it != records.end()) {
        for (FileObject *open : it->second->handles)
            if (Conflicts(open->access, open->share, file->access, file->share))
                return Fail(ERROR_SHARING_VIOLATION);
    }
    if (!file->pathOnly) {
        DWORD refused = ShareAcrossProcesses(file->fd, file->access, file->share);
        if (refused != ERROR_SUCCESS)
            return Fail(refused);
    }
    OpenFileRecord *record;
    if (it == records.end()) {
        record = new OpenFileRecord();
        record->dev = st.st_dev;
        record->ino = st.st_ino;
        record->references = 0;
        record->lockCount = 0;
        records.emplace(key, record);
    } else {
        record = it->second;
    }
    record->handles.push_back(file);
    record->references++;
    file->record = record;
    return 1;
}

void FileTableRelease(OpenFileRecord *record)
{
    if (--record->references > 0)
        return;
    records.erase(ObjectKey{record->dev, record->ino});
    delete record;
}

void FileTableRemove(FileObject *file)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    OpenFileRecord *record = file->record;
    if (record == nullptr)
        return;
    for (size_t i = 0; i < record->handles.size(); i++) {
        if (record->handles[i] == file) {
            record->handles.erase(record->handles.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        }
    }
    file->record = nullptr;
    FileTableRelease(record);
}

DWORD FileTableCheckAccess(const struct stat &st, DWORD access, const char *path)
{
    {
        std::lock_guard<std::mutex> guard(tableMutex);
        auto it = records.find(ObjectKey{st.st_dev, st.st_ino});
        if (it != records.end()) {
            const DWORD everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
            for (FileObject *open : it->second->handles)
                if (Conflicts(open->access, open->share, access, everything))
                    return ERROR_SHARING_VIOLATION;
        }
    }
    // Handles of other processes: a descriptor of the object's own asks.
    // (Only open-file-description locks are used here, which closing this
    // descriptor leaves alone.)
    int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW) : -1;
    if (fd < 0)
        return ERROR_SUCCESS;
    DWORD result = ERROR_SUCCESS;
    struct stat now;
    if (fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
        unsigned denials = 0; // others' denials of the rights asked for
        for (int i = 0; i < 3; i++)
            if (access & kRight[i])
                denials |= 1u << kNotSharedByte[i];
        if (!ForEachRun(denials, [fd](off_t at, off_t length) { return !HeldElsewhere(fd, at, length); }))
            result = ERROR_SHARING_VIOLATION;
    }
    close(fd);
    return result;
}

OpenFileRecord *FileTableRecord(const struct stat &st)
{
    auto it = records.find(ObjectKey{st.st_dev, st.st_ino});
    return it == records.end() ? nullptr : it->second;
}

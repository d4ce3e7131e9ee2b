// The table of open files: which handles of this process are open on each
// file, with what access and sharing.  Windows refuses an open whose access
// another open handle does not share, or whose sharing does not allow what
// another handle may do; the same rule is enforced here between the handles
// of this process (ERROR_SHARING_VIOLATION).  Only data access and DELETE
// take part; handles that only read or write attributes never conflict.
#include <mutex>
#include <unordered_map>

#include "platform/posix/win32_file_internal.h"

namespace {

struct FileKey {
    dev_t dev;
    ino_t ino;
    bool operator==(const FileKey &other) const { return dev == other.dev && ino == other.ino; }
};
struct FileKeyHash {
    size_t operator()(const FileKey &key) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(key.ino) * 1000003u ^ static_cast<uint64_t>(key.dev));
    }
};

std::mutex tableMutex;
std::unordered_map<FileKey, OpenFileRecord *, FileKeyHash> records;

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
    FileKey key{st.st_dev, st.st_ino};
    auto it = records.find(key);
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
        for (FileObject *open : record->handles)
            if (Conflicts(open->access, open->share, file->access, file->share))
                return Fail(ERROR_SHARING_VIOLATION);
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
    records.erase(FileKey{record->dev, record->ino});
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

DWORD FileTableCheckAccess(const struct stat &st, DWORD access)
{
    std::lock_guard<std::mutex> guard(tableMutex);
    auto it = records.find(FileKey{st.st_dev, st.st_ino});
    if (it == records.end())
        return ERROR_SUCCESS;
    const DWORD everything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (FileObject *open : it->second->handles)
        if (Conflicts(open->access, open->share, access, everything))
            return ERROR_SHARING_VIOLATION;
    return ERROR_SUCCESS;
}

OpenFileRecord *FileTableRecord(const struct stat &st)
{
    auto it = records.find(FileKey{st.st_dev, st.st_ino});
    return it == records.end() ? nullptr : it->second;
}

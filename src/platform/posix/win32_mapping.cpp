// File mapping: a mapping object of a file handle and views of it.  A
// mapping larger than the file grows the file (as on Windows), so a table
// grows by unmapping, closing the mapping and mapping again with a larger
// size.  Views stay valid after their mapping and file handles are closed.
// While a mapping lives the file cannot be cut below its size
// (ERROR_USER_MAPPED_FILE), and a writable mapping reserves its disk space
// when it is made, which together keep views from faulting.
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

struct MappingObject {
    PosixObject header;
    int fd;
    ULONGLONG size;
    DWORD protect;
    int references; // the handle and each view
    OpenFileRecord *record;
};

namespace {

const ULONGLONG kAllocationGranularity = 65536;

struct View {
    MappingObject *mapping;
    size_t length;
};
std::mutex viewMutex;
std::map<uintptr_t, View> views;

// Drops one reference; the last one closes the object.
void ReleaseMapping(MappingObject *mapping)
{
    FileTableLock();
    bool last = --mapping->references == 0;
    if (last) {
        OpenFileRecord *record = mapping->record;
        for (size_t i = 0; i < record->mappings.size(); i++) {
            if (record->mappings[i] == mapping) {
                record->mappings.erase(record->mappings.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
        FileTableRelease(record);
    }
    FileTableUnlock();
    if (last) {
        close(mapping->fd);
        PosixObjectRetire(&mapping->header);
        delete mapping;
    }
}

BOOL CloseMapping(PosixObject *self)
{
    MappingObject *mapping = reinterpret_cast<MappingObject *>(self);
    // The handle is gone for callers; views may keep the object alive.
    PosixObjectRetire(&mapping->header);
    ReleaseMapping(mapping);
    return TRUE;
}

} // namespace

DWORD MappingRefusesSize(OpenFileRecord *record, ULONGLONG size)
{
    FileTableLock();
    DWORD result = ERROR_SUCCESS;
    for (MappingObject *mapping : record->mappings)
        if (mapping->size > size)
            result = ERROR_USER_MAPPED_FILE;
    FileTableUnlock();
    return result;
}

HANDLE CreateFileMappingA(HANDLE handle, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name)
{
    if (name != nullptr) {
        // Named (shared) sections do not exist in this build.
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return nullptr; // pagefile-backed sections are not offered either
    DWORD page = protect & 0xFFu;
    bool writable = page == PAGE_READWRITE;
    if (page != PAGE_READONLY && page != PAGE_READWRITE && page != PAGE_WRITECOPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (file->isDirectory || file->pathOnly || !(file->access & FILE_ACCESS_READ_DATA) ||
        (writable && !(file->access & FILE_WRITE_DATA))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat st;
    if (fstat(file->fd, &st) != 0) {
        FailErrno();
        return nullptr;
    }
    ULONGLONG size = (static_cast<ULONGLONG>(maximumSizeHigh) << 32) | maximumSizeLow;
    if (size == 0)
        size = static_cast<ULONGLONG>(st.st_size);
    if (size == 0) {
        SetLastError(ERROR_FILE_INVALID);
        return nullptr;
    }
    if (size > static_cast<ULONGLONG>(st.st_size) && !writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (writable) {
        // The disk space of the whole mapping is reserved first, the holes
        // of a sparse file included: a page written later must never find
        // the disk full, which would end the process with SIGBUS.  As on
        // Windows, a mapping that does not fit fails (ERROR_DISK_FULL) and
        // the file keeps its size.
        int error = posix_fallocate(file->fd, 0, static_cast<off_t>(size));
        if (error != 0 && error != EOPNOTSUPP && error != EINVAL) {
            // A part may have been reserved: the file goes back to its size
            // (should that fail too, the next mapping reserves it again).
            bool cut = size <= static_cast<ULONGLONG>(st.st_size) || ftruncate(file->fd, st.st_size) == 0;
            (void)cut;
            SetLastError(WindowsErrorFromErrno(error));
            return nullptr;
        }
        if (size > static_cast<ULONGLONG>(st.st_size) && ftruncate(file->fd, static_cast<off_t>(size)) != 0) {
            FailErrno();
            return nullptr;
        }
    }
    int fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        FailErrno();
        return nullptr;
    }
    MappingObject *mapping = new MappingObject();
    PosixObjectInit(&mapping->header, POSIX_OBJECT_MAPPING, CloseMapping);
    mapping->fd = fd;
    mapping->size = size;
    mapping->protect = page;
    mapping->references = 1;
    FileTableLock();
    mapping->record = file->record;
    file->record->references++;
    file->record->mappings.push_back(mapping);
    FileTableUnlock();
    SetLastError(ERROR_SUCCESS);
    return &mapping->header;
}

LPVOID MapViewOfFile(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes)
{
    MappingObject *mapping = reinterpret_cast<MappingObject *>(PosixObjectFromHandle(handle, POSIX_OBJECT_MAPPING));
    if (mapping == nullptr)
        return nullptr;
    ULONGLONG offset = (static_cast<ULONGLONG>(offsetHigh) << 32) | offsetLow;
    if (offset % kAllocationGranularity != 0) {
        SetLastError(ERROR_MAPPED_ALIGNMENT);
        return nullptr;
    }
    if (offset >= mapping->size || (bytes != 0 && bytes > mapping->size - offset)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t length = bytes != 0 ? bytes : static_cast<size_t>(mapping->size - offset);
    bool copy = (access & FILE_MAP_COPY) != 0 && (access & FILE_MAP_WRITE) == 0;
    bool write = (access & FILE_MAP_WRITE) != 0 || copy;
    if ((access & FILE_MAP_WRITE) && mapping->protect != PAGE_READWRITE) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int prot = PROT_READ | (write ? PROT_WRITE : 0);
    void *base = mmap(nullptr, length, prot, copy ? MAP_PRIVATE : MAP_SHARED, mapping->fd, static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        FailErrno();
        return nullptr;
    }
    FileTableLock();
    mapping->references++;
    FileTableUnlock();
    std::lock_guard<std::mutex> guard(viewMutex);
    views[reinterpret_cast<uintptr_t>(base)] = View{mapping, length};
    return base;
}

BOOL UnmapViewOfFile(LPCVOID base)
{
    View view;
    {
        std::lock_guard<std::mutex> guard(viewMutex);
        auto it = views.find(reinterpret_cast<uintptr_t>(base));
        if (it == views.end())
            return Fail(ERROR_INVALID_ADDRESS);
        view = it->second;
        views.erase(it);
    }
    munmap(const_cast<void *>(base), view.length);
    ReleaseMapping(view.mapping);
    return TRUE;
}

BOOL FlushViewOfFile(LPCVOID address, SIZE_T bytes)
{
    uintptr_t start = reinterpret_cast<uintptr_t>(address);
    uintptr_t viewEnd;
    {
        std::lock_guard<std::mutex> guard(viewMutex);
        auto it = views.upper_bound(start);
        if (it == views.begin())
            return Fail(ERROR_INVALID_ADDRESS);
        --it;
        viewEnd = it->first + it->second.length;
        if (start >= viewEnd)
            return Fail(ERROR_INVALID_ADDRESS);
    }
    uintptr_t end = (bytes == 0 || bytes > viewEnd - start) ? viewEnd : start + bytes;
    uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    uintptr_t alignedStart = start & ~(page - 1);
    // As on Windows, the dirty pages are handed to the file system's writer;
    // the call does not wait for the disk (that is FlushFileBuffers).  The
    // pages already live in the file's page cache, so a process that dies
    // after this call loses nothing.
    if (msync(reinterpret_cast<void *>(alignedStart), end - alignedStart, MS_ASYNC) != 0)
        return FailErrno();
    return TRUE;
}

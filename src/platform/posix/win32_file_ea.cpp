// NtQueryEaFile and NtSetEaFile over the host's "user." extended attributes.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

namespace {

const size_t kEntryHeader = offsetof(FILE_FULL_EA_INFORMATION, EaName);

std::string AttributeName(const char *name, size_t length)
{
    std::string result = "user.";
    for (size_t i = 0; i < length; i++)
        result += static_cast<char>(toupper(static_cast<unsigned char>(name[i])));
    return result;
}

NTSTATUS StatusFromErrno(int error)
{
    switch (error) {
    case ENODATA:
        return STATUS_SUCCESS;
    case EACCES:
        return STATUS_ACCESS_DENIED;
    case ENOSPC:
    case EDQUOT:
    case E2BIG:
        return STATUS_DISK_FULL;
    default:
        return STATUS_EAS_NOT_SUPPORTED;  // ENOTSUP, and EPERM for user attributes on links
    }
}

NTSTATUS Finish(PIO_STATUS_BLOCK io, NTSTATUS status, ULONG_PTR information)
{
    if (io != nullptr) {
        io->Status = status;
        io->Information = information;
    }
    return status;
}

} // namespace

namespace {

// Where the attributes are read: the object at path (a link followed or
// not); the entry of a folder descriptor, never followed; or, without an
// entry, the descriptor's own object (path being its DescriptorPath).
struct EaSource {
    std::string path;
    bool follow;
    int folder;         // -1: by path alone
    const char *entry;  // the name in folder, or null: the descriptor itself
    bool pathOnly;      // the descriptor is an O_PATH one (no f*xattr calls)
};

// getxattrat of Linux 6.13 and later, with its argument record; older
// kernels read the entry through the descriptor's path.
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};
const long kGetXattrAt = 464;
int getxattratMissing = 0;

ssize_t GetXattrAt(int folder, const char *entry, int flags, const char *name, void *value, size_t room)
{
    if (__atomic_load_n(&getxattratMissing, __ATOMIC_RELAXED)) {
        errno = ENOSYS;
        return -1;
    }
    XattrArgs args = {reinterpret_cast<uint64_t>(value), static_cast<uint32_t>(room), 0};
    const long n = syscall(kGetXattrAt, folder, entry, flags, name, &args, sizeof args);
    if (n < 0 && errno == ENOSYS)
        __atomic_store_n(&getxattratMissing, 1, __ATOMIC_RELAXED);
    return n;
}

} // namespace

ssize_t GetXattrThroughDescriptor(int fd, const char *name, void *value, size_t room)
{
    char entry[16];
    snprintf(entry, sizeof entry, "%d", fd);
    const int folder = DescriptorFolder();
    if (folder >= 0) {
        const ssize_t n = GetXattrAt(folder, entry, 0, name, value, room);
        if (n >= 0 || errno != ENOSYS)
            return n;
    }
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return getxattr(link, name, value, room);
}

namespace {

ssize_t ReadAttribute(const EaSource &source, const char *name, void *value, size_t room)
{
    if (source.folder < 0)
        return source.follow ? getxattr(source.path.c_str(), name, value, room)
                             : lgetxattr(source.path.c_str(), name, value, room);
    // A path-only descriptor cannot be read from, also not by getxattrat:
    // the descriptor's own name leads to its object.
    if (source.entry == nullptr)
        return source.pathOnly ? GetXattrThroughDescriptor(source.folder, name, value, room)
                               : fgetxattr(source.folder, name, value, room);
    const ssize_t n = GetXattrOfEntry(source.folder, source.entry, name, value, room);
    if (n >= 0 || errno != ENOSYS)
        return n;
    return lgetxattr(source.path.c_str(), name, value, room);
}

// The query of NtQueryEaFile on the object of source.  *missing (when
// given) tells that nothing has the name.
NTSTATUS QueryAt(const EaSource &source, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                 BOOLEAN returnSingleEntry, PVOID eaList, ULONG eaListLength, bool *missing = nullptr)
{
    if (eaList == nullptr || eaListLength < sizeof(FILE_GET_EA_INFORMATION))
        return Finish(io, STATUS_INVALID_PARAMETER, 0);  // listing every EA is not offered
    auto *out = static_cast<uint8_t *>(buffer);
    ULONG used = 0;
    FILE_FULL_EA_INFORMATION *last = nullptr;
    const auto *list = static_cast<const uint8_t *>(eaList);
    for (ULONG offset = 0;;) {
        const auto *wanted = reinterpret_cast<const FILE_GET_EA_INFORMATION *>(list + offset);
        if (offset + offsetof(FILE_GET_EA_INFORMATION, EaName) + wanted->EaNameLength > eaListLength)
            return Finish(io, STATUS_INVALID_PARAMETER, 0);
        uint8_t value[65535];
        const std::string name = AttributeName(wanted->EaName, wanted->EaNameLength);
        // A small room first: the kernel takes as much memory as is
        // offered, and values are mostly a few bytes.
        ssize_t n = -1;
        for (const size_t room : {size_t{256}, sizeof value}) {
            n = ReadAttribute(source, name.c_str(), value, room);
            if (n >= 0 || errno != ERANGE)
                break;
        }
        if (n < 0 && errno == ENOENT && missing != nullptr) {
            *missing = true;
            return Finish(io, STATUS_OBJECT_NAME_NOT_FOUND, 0);
        }
        if (n < 0) {
            const NTSTATUS status = StatusFromErrno(errno);
            if (status != STATUS_SUCCESS)
                return Finish(io, status, 0);
            n = 0;
        }
        const ULONG size = static_cast<ULONG>((kEntryHeader + wanted->EaNameLength + 1 + n + 3) & ~size_t{3});
        if (used + kEntryHeader + wanted->EaNameLength + 1 + static_cast<ULONG>(n) > length)
            return Finish(io, STATUS_BUFFER_OVERFLOW, used);
        auto *entry = reinterpret_cast<FILE_FULL_EA_INFORMATION *>(out + used);
        entry->NextEntryOffset = 0;
        entry->Flags = 0;
        entry->EaNameLength = wanted->EaNameLength;
        entry->EaValueLength = static_cast<USHORT>(n);
        for (UCHAR i = 0; i < wanted->EaNameLength; i++)
            entry->EaName[i] = static_cast<CHAR>(toupper(static_cast<unsigned char>(wanted->EaName[i])));
        entry->EaName[wanted->EaNameLength] = 0;
        memcpy(entry->EaName + wanted->EaNameLength + 1, value, static_cast<size_t>(n));
        if (last != nullptr)
            last->NextEntryOffset = static_cast<ULONG>(reinterpret_cast<uint8_t *>(entry) -
                                                       reinterpret_cast<uint8_t *>(last));
        last = entry;
        used += size;
        if (returnSingleEntry || wanted->NextEntryOffset == 0)
            break;
        offset += wanted->NextEntryOffset;
        if (offset >= eaListLength)
            return Finish(io, STATUS_INVALID_PARAMETER, 0);
    }
    return Finish(io, STATUS_SUCCESS, used < length ? used : length);
}

} // namespace

NTSTATUS NtQueryEaFile(HANDLE handle, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, BOOLEAN returnSingleEntry,
                       PVOID eaList, ULONG eaListLength, PULONG, BOOLEAN)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return Finish(io, STATUS_INVALID_HANDLE, 0);
    if ((file->access & FILE_READ_EA) == 0)
        return Finish(io, STATUS_ACCESS_DENIED, 0);
    return QueryAt({DescriptorPath(file), true, file->fd, nullptr, file->pathOnly != 0}, io, buffer, length,
                   returnSingleEntry, eaList, eaListLength);
}

NTSTATUS QueryEaByNameW(LPCWSTR name, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length, BOOLEAN returnSingleEntry,
                        PVOID eaList, ULONG eaListLength)
{
    std::string path;
    ResolvedPath resolved;
    PosixName posixName;
    if (!PathArgFromWide(name, &path))
        return Finish(io, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    const int result = ResolveWindowsPath(path.c_str(), &resolved, &posixName);
    if (result == RESOLVE_ERROR || (result != RESOLVE_FOUND && !LinkAtResolvedPath(resolved)))
        return Finish(io, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    return QueryAt({resolved.actual, false, -1, nullptr, false}, io, buffer, length, returnSingleEntry, eaList,
                   eaListLength);
}

NTSTATUS QueryEaByNameInW(HANDLE folder, LPCWSTR name, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                          BOOLEAN returnSingleEntry, PVOID eaList, ULONG eaListLength)
{
    const FileObject *file = FileFromHandle(folder);
    if (file == nullptr)
        return Finish(io, STATUS_INVALID_HANDLE, 0);
    std::string utf8;
    if (!PathArgFromWide(name, &utf8) || !IsFolderEntryName(utf8))
        return Finish(io, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    // The exact name first; another spelling goes the resolver's way.
    bool missing = false;
    const NTSTATUS status = QueryAt({DescriptorPath(file) + "/" + utf8, false, file->fd, utf8.c_str(), true}, io, buffer,
                                    length, returnSingleEntry, eaList, eaListLength, &missing);
    if (!missing)
        return status;
    ResolvedPath resolved;
    const int result = ResolveNameInFolder(file, utf8, &resolved);
    if (result == RESOLVE_ERROR || (result != RESOLVE_FOUND && !LinkAtResolvedPath(resolved)))
        return Finish(io, STATUS_OBJECT_NAME_NOT_FOUND, 0);
    return QueryAt({resolved.actual, false, -1, nullptr, false}, io, buffer, length, returnSingleEntry, eaList,
                   eaListLength);
}

NTSTATUS NtSetEaFile(HANDLE handle, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length)
{
    FileObject *file = FileFromHandle(handle);
    if (file == nullptr)
        return Finish(io, STATUS_INVALID_HANDLE, 0);
    if ((file->access & FILE_WRITE_EA) == 0)
        return Finish(io, STATUS_ACCESS_DENIED, 0);
    const std::string at = DescriptorPath(file);
    const auto *in = static_cast<const uint8_t *>(buffer);
    for (ULONG offset = 0;;) {
        if (offset + kEntryHeader > length)
            return Finish(io, STATUS_INVALID_PARAMETER, 0);
        const auto *entry = reinterpret_cast<const FILE_FULL_EA_INFORMATION *>(in + offset);
        if (offset + kEntryHeader + entry->EaNameLength + 1 + entry->EaValueLength > length)
            return Finish(io, STATUS_INVALID_PARAMETER, 0);
        const std::string name = AttributeName(entry->EaName, entry->EaNameLength);
        int rc;
        if (entry->EaValueLength == 0) {
            rc = removexattr(at.c_str(), name.c_str());
            if (rc != 0 && errno == ENODATA)
                rc = 0;
        } else {
            rc = setxattr(at.c_str(), name.c_str(), entry->EaName + entry->EaNameLength + 1, entry->EaValueLength,
                          0);
        }
        if (rc != 0) {
            const NTSTATUS status = StatusFromErrno(errno);
            return Finish(io, status != STATUS_SUCCESS ? status : STATUS_EAS_NOT_SUPPORTED, 0);
        }
        if (entry->NextEntryOffset == 0)
            break;
        offset += entry->NextEntryOffset;
    }
    return Finish(io, STATUS_SUCCESS, 0);
}

ssize_t GetXattrOfEntry(int folder, const char *entry, const char *name, void *value, size_t room)
{
    return GetXattrAt(folder, entry, AT_SYMLINK_NOFOLLOW, name, value, room);
}

// Volumes of the POSIX build.  Drive Z: shows the whole host; each mounted
// file system below it is a volume whose root is its mount point (as Wine
// reports from GetVolumePathName: "Z:\" for the root file system,
// "Z:\mnt\data\" for one mounted there).  The serial number comes from the
// file system id (stable across restarts for disk file systems), else from
// the device number, so the inode table can tell volumes apart.
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <unordered_map>

#include "common/checksum.h"
#include "platform/posix/win32_file_internal.h"

namespace {

std::mutex serialMutex;
std::unordered_map<uint64_t, DWORD> serialByDevice;

// The mount point of the file system that holds an existing path: the last
// folder upwards that is still on the same device.
std::string VolumeRootOf(const std::string &existing)
{
    std::string path = existing;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "/";
    while (path != "/") {
        std::string parent, name;
        SplitPosixPath(path, &parent, &name);
        struct stat up;
        if (stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev)
            break;
        path = parent;
    }
    return path;
}

// The deepest existing folder on the way to a path (names resolved without
// regard to case).
std::string ExistingPrefix(const std::string &path)
{
    std::string current = path;
    for (;;) {
        ResolvedPath resolved;
        if (ResolvePosixPath(current, &resolved) == RESOLVE_FOUND)
            return resolved.actual;
        if (current == "/")
            return "/";
        std::string parent, name;
        SplitPosixPath(current, &parent, &name);
        current = parent;
    }
}

std::string WindowsFolderName(const std::string &posix, bool longForm)
{
    std::string result = longForm ? "\\\\?\\Z:" : "Z:";
    if (posix != "/")
        for (char c : posix)
            result += c == '/' ? '\\' : c;
    result += '\\';
    return result;
}

// The volume root named by a root argument ("Z:\", a mount point with a
// trailing separator, or null for the current folder's volume).
int RootArgument(const char *root, std::string *posixRoot, bool requireRoot)
{
    std::string path;
    if (root == nullptr) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof(cwd)) == nullptr)
            return FailErrno();
        *posixRoot = VolumeRootOf(cwd);
        return 1;
    }
    size_t length = strlen(root);
    if (length == 0 || (root[length - 1] != '\\' && root[length - 1] != '/'))
        return Fail(ERROR_INVALID_NAME);
    PosixName name;
    if (!PosixNameFromWindows(root, &name))
        return 0;
    ResolvedPath resolved;
    int result = ResolvePosixPath(name.path, &resolved);
    if (result == RESOLVE_ERROR)
        return 0;
    if (result == RESOLVE_MISSING)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (!S_ISDIR(resolved.st.st_mode))
        return Fail(ERROR_DIRECTORY);
    if (requireRoot && VolumeRootOf(resolved.actual) != resolved.actual)
        return Fail(ERROR_DIR_NOT_ROOT);
    *posixRoot = resolved.actual;
    return 1;
}

const char *FileSystemName(const struct statfs &fs)
{
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x4d44: return "FAT32";      // msdos / vfat
    case 0x2011BAB0: return "exFAT";
    case 0x9660: return "CDFS";
    case 0x15013346: return "UDF";
    default: return "NTFS";           // what Wine reports for its drives
    }
}

DWORD FileSystemFlags(const struct statfs &fs)
{
    DWORD flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    unsigned long type = static_cast<unsigned long>(fs.f_type);
    if (type != 0x4d44 && type != 0x2011BAB0 && type != 0x9660 && type != 0x15013346)
        flags |= FILE_PERSISTENT_ACLS | FILE_SUPPORTS_HARD_LINKS | FILE_SUPPORTS_REPARSE_POINTS;
    return flags;
}

UINT DriveTypeOf(const struct statfs &fs)
{
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x6969:       // nfs
    case 0x517B:       // smb
    case 0xFF534D42:   // cifs
    case 0xFE534D42:   // smb2
    case 0x01021997:   // 9p
        return DRIVE_REMOTE;
    case 0x01021994:   // tmpfs
    case 0x858458F6:   // ramfs
    case 0x9FA0:       // proc
    case 0x62656572:   // sysfs
        return DRIVE_RAMDISK;
    case 0x9660:
    case 0x15013346:
        return DRIVE_CDROM;
    default:
        return DRIVE_FIXED;
    }
}

int CopyName(const std::string &utf8, LPSTR ansiBuffer, LPWSTR wideBuffer, DWORD size)
{
    if (ansiBuffer != nullptr) {
        std::string ansi;
        AnsiFromUtf8(utf8.c_str(), &ansi);
        if (ansi.size() + 1 > size)
            return Fail(ERROR_BAD_LENGTH);
        memcpy(ansiBuffer, ansi.c_str(), ansi.size() + 1);
    } else if (wideBuffer != nullptr) {
        size_t units = WideFromUtf8(utf8.c_str(), nullptr, 0);
        if (units + 1 > size)
            return Fail(ERROR_BAD_LENGTH);
        WideFromUtf8(utf8.c_str(), wideBuffer, units);
        wideBuffer[units] = 0;
    }
    return 1;
}

BOOL VolumePathName(const char *path, LPSTR ansiBuffer, LPWSTR wideBuffer, DWORD size)
{
    PosixName name;
    if (!PosixNameFromWindows(path, &name))
        return FALSE;
    std::string root = VolumeRootOf(ExistingPrefix(name.path));
    std::string result = WindowsFolderName(root, name.longForm != 0);
    if (!CopyName(result, ansiBuffer, wideBuffer, size)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    return TRUE;
}

BOOL VolumeInformation(const char *root, LPSTR volumeNameA, LPWSTR volumeNameW, DWORD volumeNameSize,
                       LPDWORD serial, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                       LPSTR fileSystemNameA, LPWSTR fileSystemNameW, DWORD fileSystemNameSize)
{
    std::string posixRoot;
    if (!RootArgument(root, &posixRoot, true))
        return FALSE;
    struct statfs fs;
    struct stat st;
    if (statfs(posixRoot.c_str(), &fs) != 0 || stat(posixRoot.c_str(), &st) != 0)
        return FailErrno();
    // Volumes carry no label here.
    if (!CopyName("", volumeNameA, volumeNameW, volumeNameSize))
        return FALSE;
    if (!CopyName(FileSystemName(fs), fileSystemNameA, fileSystemNameW, fileSystemNameSize))
        return FALSE;
    if (serial != nullptr)
        *serial = VolumeSerialOf(st, -1, posixRoot.c_str());
    if (maximumComponentLength != nullptr)
        *maximumComponentLength = fs.f_namelen > 0 && fs.f_namelen < 255 ? static_cast<DWORD>(fs.f_namelen) : 255;
    if (fileSystemFlags != nullptr)
        *fileSystemFlags = FileSystemFlags(fs);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DiskFreeSpace(const char *directory, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                   PULARGE_INTEGER totalFree)
{
    std::string path;
    if (directory == nullptr) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof(cwd)) == nullptr)
            return FailErrno();
        path = cwd;
    } else {
        ResolvedPath resolved;
        int result = ResolveWindowsPath(directory, &resolved, nullptr);
        if (result == RESOLVE_ERROR)
            return FALSE;
        if (result == RESOLVE_MISSING)
            return Fail(ERROR_FILE_NOT_FOUND);
        if (!S_ISDIR(resolved.st.st_mode))
            return Fail(ERROR_DIRECTORY);
        path = resolved.actual;
    }
    struct statvfs vfs;
    if (statvfs(path.c_str(), &vfs) != 0)
        return FailErrno();
    ULONGLONG unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    if (freeToCaller != nullptr)
        freeToCaller->QuadPart = static_cast<ULONGLONG>(vfs.f_bavail) * unit;
    if (total != nullptr)
        total->QuadPart = static_cast<ULONGLONG>(vfs.f_blocks) * unit;
    if (totalFree != nullptr)
        totalFree->QuadPart = static_cast<ULONGLONG>(vfs.f_bfree) * unit;
    return TRUE;
}

UINT DriveType(const char *root)
{
    std::string posixRoot;
    if (root != nullptr) {
        // "X:" names the root of drive X as "X:\" does.
        std::string given = root;
        if (given.size() == 2 && given[1] == ':')
            given += '\\';
        if (!RootArgument(given.c_str(), &posixRoot, true))
            return DRIVE_NO_ROOT_DIR;
    } else if (!RootArgument(nullptr, &posixRoot, true)) {
        return DRIVE_UNKNOWN;
    }
    struct statfs fs;
    if (statfs(posixRoot.c_str(), &fs) != 0)
        return DRIVE_UNKNOWN;
    return DriveTypeOf(fs);
}

} // namespace

DWORD VolumeSerialOf(const struct stat &st, int fd, const char *path)
{
    uint64_t device = static_cast<uint64_t>(st.st_dev);
    {
        std::lock_guard<std::mutex> guard(serialMutex);
        auto it = serialByDevice.find(device);
        if (it != serialByDevice.end())
            return it->second;
    }
    struct statfs fs;
    int rc = fd >= 0 ? fstatfs(fd, &fs) : statfs(path, &fs);
    DWORD serial;
    unsigned char id[sizeof(fs.f_fsid)];
    memcpy(id, &fs.f_fsid, sizeof(id));
    bool haveId = false;
    if (rc == 0)
        for (unsigned char byte : id)
            if (byte != 0)
                haveId = true;
    if (haveId)
        serial = Crc32(id, sizeof(id));
    else
        serial = Crc32(&device, sizeof(device));
    std::lock_guard<std::mutex> guard(serialMutex);
    serialByDevice[device] = serial;
    return serial;
}

BOOL GetVolumePathNameA(LPCSTR path, LPSTR buffer, DWORD size)
{
    std::string p;
    return PathArgFromAnsi(path, &p) && VolumePathName(p.c_str(), buffer, nullptr, size);
}

BOOL GetVolumePathNameW(LPCWSTR path, LPWSTR buffer, DWORD size)
{
    std::string p;
    return PathArgFromWide(path, &p) && VolumePathName(p.c_str(), nullptr, buffer, size);
}

BOOL GetVolumeInformationA(LPCSTR root, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPSTR fileSystemName,
                           DWORD fileSystemNameSize)
{
    std::string p;
    if (root != nullptr && !PathArgFromAnsi(root, &p))
        return FALSE;
    return VolumeInformation(root != nullptr ? p.c_str() : nullptr, volumeName, nullptr, volumeNameSize, serial,
                             maximumComponentLength, fileSystemFlags, fileSystemName, nullptr, fileSystemNameSize);
}

BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR volumeName, DWORD volumeNameSize, LPDWORD serial,
                           LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPWSTR fileSystemName,
                           DWORD fileSystemNameSize)
{
    std::string p;
    if (root != nullptr && !PathArgFromWide(root, &p))
        return FALSE;
    return VolumeInformation(root != nullptr ? p.c_str() : nullptr, nullptr, volumeName, volumeNameSize, serial,
                             maximumComponentLength, fileSystemFlags, nullptr, fileSystemName, fileSystemNameSize);
}

BOOL GetDiskFreeSpaceExA(LPCSTR directory, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree)
{
    std::string p;
    if (directory != nullptr && !PathArgFromAnsi(directory, &p))
        return FALSE;
    return DiskFreeSpace(directory != nullptr ? p.c_str() : nullptr, freeToCaller, total, totalFree);
}

BOOL GetDiskFreeSpaceExW(LPCWSTR directory, PULARGE_INTEGER freeToCaller, PULARGE_INTEGER total,
                         PULARGE_INTEGER totalFree)
{
    std::string p;
    if (directory != nullptr && !PathArgFromWide(directory, &p))
        return FALSE;
    return DiskFreeSpace(directory != nullptr ? p.c_str() : nullptr, freeToCaller, total, totalFree);
}

UINT GetDriveTypeA(LPCSTR root)
{
    std::string p;
    if (root != nullptr && !PathArgFromAnsi(root, &p))
        return DRIVE_NO_ROOT_DIR;
    return DriveType(root != nullptr ? p.c_str() : nullptr);
}

UINT GetDriveTypeW(LPCWSTR root)
{
    std::string p;
    if (root != nullptr && !PathArgFromWide(root, &p))
        return DRIVE_NO_ROOT_DIR;
    return DriveType(root != nullptr ? p.c_str() : nullptr);
}

// Setting and removing the reparse data of symbolic links and mount points:
// on POSIX the object becomes a symbolic link, and back again.  Privilege
// calls that Windows asks for before setting reparse data succeed here.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

namespace {

uint32_t Get16(const uint8_t *at) { return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8; }

uint32_t Get32(const uint8_t *at) { return Get16(at) | Get16(at + 2) << 16; }

// The POSIX link text of the reparse data in (inSize bytes); 0 with the
// error set when the data is not a well-formed link.
int LinkTextOfData(const uint8_t *in, DWORD inSize, std::string *text)
{
    if (in == nullptr || inSize < 8)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    const uint32_t tag = Get32(in);
    const uint32_t dataLength = Get16(in + 4);
    uint32_t base;
    bool relative = false;
    if (tag == IO_REPARSE_TAG_SYMLINK) {
        base = 20;
        if (dataLength < 12 || inSize < 20)
            return Fail(ERROR_INVALID_REPARSE_DATA);
        relative = (Get32(in + 16) & SYMLINK_FLAG_RELATIVE) != 0;
    } else if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
        base = 16;
        if (dataLength < 8 || inSize < 16)
            return Fail(ERROR_INVALID_REPARSE_DATA);
    } else {
        return Fail(ERROR_REPARSE_TAG_INVALID);
    }
    if (8u + dataLength > inSize)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    const uint32_t offset = Get16(in + 8), length = Get16(in + 10);
    if ((length & 1u) != 0 || length == 0 || base + offset + length > 8u + dataLength)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    std::vector<WCHAR> wide(length / 2 + 1);
    for (uint32_t i = 0; i < length / 2; i++)
        wide[i] = static_cast<WCHAR>(Get16(in + base + offset + 2 * i));
    wide[length / 2] = 0;
    for (uint32_t i = 0; i < length / 2; i++)
        if (wide[i] == 0)
            return Fail(ERROR_INVALID_REPARSE_DATA);
    std::string utf8;
    if (!Utf8FromWide(wide.data(), &utf8))
        return Fail(ERROR_INVALID_REPARSE_DATA);
    if (relative && (utf8[0] == '\\' || utf8[0] == '/')) {
        // Relative to the root of the link's drive, as Windows resolves it.
        PosixName rooted;
        if (!PosixNameFromWindows(utf8.c_str(), &rooted))
            return 0;
        *text = rooted.path;
        return 1;
    }
    if (relative) {
        // Kept relative to the link's folder, with POSIX separators.
        for (char &c : utf8)
            if (c == '\\')
                c = '/';
        *text = utf8;
        return 1;
    }
    // Absolute: "\??\" and a Windows path.
    if (utf8.compare(0, 4, "\\??\\") != 0 || utf8.size() < 5)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    PosixName name;
    if (!PosixNameFromWindows(utf8.c_str() + 4, &name))
        return 0;
    *text = name.path;
    return 1;
}

void SplitPath(const std::string &path, std::string *folder, std::string *name)
{
    const size_t slash = path.rfind('/');
    *folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FolderIsEmpty(const char *path)
{
    DIR *folder = opendir(path);
    if (folder == nullptr)
        return false;
    bool empty = true;
    while (struct dirent *entry = readdir(folder)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    closedir(folder);
    return empty;
}

// The object the handle holds must still be the one at its path.
int StillAtPath(FileObject *file, struct stat *onDisk)
{
    struct stat held;
    if (fstatat(file->fd, "", &held, AT_EMPTY_PATH) != 0)
        return FailErrno();
    if (lstat(file->path.c_str(), onDisk) != 0 || onDisk->st_dev != held.st_dev || onDisk->st_ino != held.st_ino)
        return Fail(ERROR_FILE_NOT_FOUND);
    return 1;
}

// Ends a change of a name in folder begun under the namespace lock; the
// error of a failure stays as it was set.
BOOL EndChange(const std::string &folder, BOOL done)
{
    NameCacheForget(folder);
    NamespaceUnlock();
    if (done)
        SetLastError(ERROR_SUCCESS);
    return done;
}

BOOL SetLinkData(FileObject *file, const uint8_t *in, DWORD inSize)
{
    std::string text;
    if (!LinkTextOfData(in, inSize, &text))
        return FALSE;
    NamespaceLock();
    BOOL done = FALSE;
    struct stat st;
    std::string folder, name;
    SplitPath(file->path, &folder, &name);
    const std::string temporary = folder + "/." + name + ".reparse-" + std::to_string(getpid());
    if (!StillAtPath(file, &st)) {
        // error set
    } else if (S_ISDIR(st.st_mode) && !FolderIsEmpty(file->path.c_str())) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
    } else if (S_ISREG(st.st_mode) && st.st_size != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
    } else if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
    } else if (S_ISDIR(st.st_mode)) {
        // A link cannot be renamed over a folder: the folder goes first.
        if (rmdir(file->path.c_str()) != 0) {
            FailErrno();
        } else if (symlink(text.c_str(), file->path.c_str()) != 0) {
            FailErrno();
            mkdir(file->path.c_str(), st.st_mode & 07777);
        } else {
            done = TRUE;
        }
    } else if (symlink(text.c_str(), temporary.c_str()) != 0) {
        FailErrno();
    } else if (rename(temporary.c_str(), file->path.c_str()) != 0) {
        FailErrno();
        unlink(temporary.c_str());
    } else {
        done = TRUE;
    }
    return EndChange(folder, done);
}

BOOL DeleteLinkData(FileObject *file, const uint8_t *in, DWORD inSize)
{
    if (in == nullptr || inSize < 8)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    const uint32_t tag = Get32(in);
    if (Get16(in + 4) != 0)
        return Fail(ERROR_INVALID_REPARSE_DATA);
    if (tag != IO_REPARSE_TAG_SYMLINK && tag != IO_REPARSE_TAG_MOUNT_POINT)
        return Fail(ERROR_REPARSE_TAG_MISMATCH);
    NamespaceLock();
    BOOL done = FALSE;
    struct stat st, target;
    std::string folder, name;
    SplitPath(file->path, &folder, &name);
    if (!StillAtPath(file, &st)) {
        // error set
    } else if (!S_ISLNK(st.st_mode)) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
    } else {
        // A link to a folder leaves a folder, any other link a file.
        const bool folderLink = stat(file->path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        if (unlink(file->path.c_str()) != 0) {
            FailErrno();
        } else if (folderLink ? mkdir(file->path.c_str(), 0777) != 0 : false) {
            FailErrno();
        } else {
            if (!folderLink) {
                const int fd = open(file->path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
                if (fd < 0) {
                    FailErrno();
                    return EndChange(folder, FALSE);
                }
                close(fd);
            }
            done = TRUE;
        }
    }
    return EndChange(folder, done);
}

} // namespace

BOOL ChangeReparseData(FileObject *file, DWORD code, const void *in, DWORD inSize, LPDWORD returned)
{
    if (returned != nullptr)
        *returned = 0;
    const uint8_t *bytes = static_cast<const uint8_t *>(in);
    if (code == FSCTL_SET_REPARSE_POINT)
        return SetLinkData(file, bytes, inSize);
    return DeleteLinkData(file, bytes, inSize);
}

HANDLE GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

BOOL OpenProcessToken(HANDLE process, DWORD, HANDLE *token)
{
    if (process != INVALID_HANDLE_VALUE || token == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    // A pseudo handle, as for the current process: CloseHandle accepts it.
    *token = INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid)
{
    if (name == nullptr || luid == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    // The numbers Windows gives these privileges.
    DWORD value;
    if (strcasecmp(name, SE_RESTORE_NAME) == 0)
        value = 18;
    else if (strcasecmp(name, SE_BACKUP_NAME) == 0)
        value = 17;
    else
        return Fail(ERROR_NO_SUCH_PRIVILEGE);
    luid->LowPart = value;
    luid->HighPart = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL, PTOKEN_PRIVILEGES state, DWORD, PTOKEN_PRIVILEGES, LPDWORD returned)
{
    if (token != INVALID_HANDLE_VALUE)
        return Fail(ERROR_INVALID_HANDLE);
    if (state == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    if (returned != nullptr)
        *returned = 0;
    // Every privilege asked for is held: success with ERROR_SUCCESS, as
    // Windows reports when all were assigned.
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Symbolic links as Windows shows them: a POSIX symbolic link is a reparse
// point.  GetFileAttributes reports FILE_ATTRIBUTE_REPARSE_POINT for the
// link itself (with FILE_ATTRIBUTE_DIRECTORY when it leads to a folder, as a
// directory link on Windows), also when its target is missing; DeleteFile and
// RemoveDirectory remove the link, never its target; CreateSymbolicLink
// makes one.
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

namespace {

// The link text in POSIX form: separators turned into slashes; an absolute
// Windows path ("C:\x", "\x") goes through the same translation as every
// other path argument.
int PosixLinkText(const char *utf8Target, std::string *text)
{
    const bool absolute = utf8Target[0] == '\\' || utf8Target[0] == '/' ||
                          (utf8Target[0] != 0 && utf8Target[1] == ':');
    if (absolute) {
        PosixName name;
        if (!PosixNameFromWindows(utf8Target, &name))
            return 0;
        *text = name.path;
        return 1;
    }
    text->assign(utf8Target);
    for (char &c : *text)
        if (c == '\\')
            c = '/';
    return 1;
}

BOOL CreateSymbolicLinkUtf8(const char *link, const char *target)
{
    std::string text;
    if (!PosixLinkText(target, &text))
        return FALSE;
    NamespaceLock();
    ResolvedPath resolved;
    PosixName name;
    int result = ResolveWindowsPath(link, &resolved, &name);
    BOOL done = FALSE;
    if (result == RESOLVE_FOUND || (result == RESOLVE_MISSING && LinkAtResolvedPath(resolved))) {
        SetLastError(ERROR_ALREADY_EXISTS);
    } else if (result == RESOLVE_MISSING) {
        const struct stat *before = resolved.parentKnown ? &resolved.parentStat : nullptr;
        if (symlink(text.c_str(), resolved.actual.c_str()) != 0) {
            FailErrno();
        } else {
            NameCacheNoteAdded(resolved.parent, resolved.name, before);
            done = TRUE;
        }
    }
    NamespaceUnlock();
    return done;
}

} // namespace

int LinkAtResolvedPath(const ResolvedPath &resolved)
{
    if (resolved.linkKnown)
        return resolved.isLink;
    struct stat st;
    return !resolved.actual.empty() && lstat(resolved.actual.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

DWORD LinkAttributes(int result, const ResolvedPath &resolved)
{
    DWORD attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    if (result == RESOLVE_FOUND && S_ISDIR(resolved.st.st_mode))
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else
        attributes |= FILE_ATTRIBUTE_ARCHIVE;
    return attributes;
}

int RemoveResolvedLink(int result, ResolvedPath *resolved, int asDirectory)
{
    if (result == RESOLVE_ERROR || !LinkAtResolvedPath(*resolved))
        return -1;
    // A link to a folder is removed as a folder, any other as a file.
    const bool folder = result == RESOLVE_FOUND && S_ISDIR(resolved->st.st_mode);
    if (folder != (asDirectory != 0))
        return Fail(asDirectory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
    const struct stat *before = ParentStatBefore(resolved);
    if (unlink(resolved->actual.c_str()) != 0)
        return FailErrno();
    NameCacheNoteRemoved(resolved->parent, resolved->name, before);
    return 1;
}

BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD)
{
    std::string a, b;
    if (target == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    Utf8FromAnsi(target, &b);
    return PathArgFromAnsi(link, &a) && CreateSymbolicLinkUtf8(a.c_str(), b.c_str());
}

BOOLEAN CreateSymbolicLinkW(LPCWSTR link, LPCWSTR target, DWORD)
{
    std::string a, b;
    if (target == nullptr || !Utf8FromWide(target, &b))
        return Fail(ERROR_INVALID_PARAMETER);
    return PathArgFromWide(link, &a) && CreateSymbolicLinkUtf8(a.c_str(), b.c_str());
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED)
{
    FileObject *file = FileFromHandle(device);
    if (file == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (code == FSCTL_SET_REPARSE_POINT || code == FSCTL_DELETE_REPARSE_POINT)
        return ChangeReparseData(file, code, in, inSize, returned);
    if (code != FSCTL_GET_REPARSE_POINT)
        return Fail(ERROR_INVALID_FUNCTION);
    char text[PATH_MAX + 1];
    // The link the handle holds open, not whatever the name holds now.
    const ssize_t length = readlinkat(file->fd, "", text, PATH_MAX);
    if (length < 0)
        return Fail(errno == EINVAL || errno == ENOENT ? ERROR_NOT_A_REPARSE_POINT : WindowsErrorFromErrno(errno));
    text[length] = 0;
    // The Windows form of the target: absolute as "\??\" + path, relative
    // with backslashes.
    std::string target;
    DWORD flags = SYMLINK_FLAG_RELATIVE;
    if (text[0] == '/') {
        char windows[PATH_MAX + 8];
        if (!WindowsPathFromPosix(text, windows, sizeof windows))
            return FALSE;
        target = windows;
        flags = 0;
    } else {
        target = text;
        for (char &c : target)
            if (c == '/')
                c = '\\';
    }
    const std::string substitute = flags == 0 ? "\\??\\" + target : target;
    std::vector<WCHAR> subWide(substitute.size() + 1), printWide(target.size() + 1);
    const size_t subUnits = WideFromUtf8(substitute.c_str(), subWide.data(), subWide.size());
    const size_t printUnits = WideFromUtf8(target.c_str(), printWide.data(), printWide.size());
    // Header (8), symbolic-link fields (12), both names with terminators.
    const size_t total = 20 + 2 * (subUnits + 1) + 2 * (printUnits + 1);
    if (out == nullptr || total > outSize || total > MAXIMUM_REPARSE_DATA_BUFFER_SIZE)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    uint8_t *bytes = static_cast<uint8_t *>(out);
    memset(bytes, 0, total);
    auto put16 = [&](size_t at, size_t value) {
        bytes[at] = static_cast<uint8_t>(value);
        bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; i++)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put32(0, IO_REPARSE_TAG_SYMLINK);
    put16(4, total - 8);
    put16(8, 0);
    put16(10, 2 * subUnits);
    put16(12, 2 * (subUnits + 1));
    put16(14, 2 * printUnits);
    put32(16, flags);
    for (size_t i = 0; i < subUnits; i++)
        put16(20 + 2 * i, subWide[i]);
    for (size_t i = 0; i < printUnits; i++)
        put16(20 + 2 * (subUnits + 1) + 2 * i, printWide[i]);
    if (returned != nullptr)
        *returned = static_cast<DWORD>(total);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

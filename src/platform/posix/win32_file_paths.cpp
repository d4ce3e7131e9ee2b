// Path arguments of the file layer: A and W forms to UTF-8, and Windows paths
// to normalised POSIX paths (drive Z: is the root, as under Wine).
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

#include "platform/posix/win32_file_internal.h"

int Fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

int FailErrno() { return Fail(WindowsErrorFromErrno(errno)); }

int PathArgFromAnsi(LPCSTR name, std::string *utf8)
{
    if (name == nullptr)
        return Fail(ERROR_PATH_NOT_FOUND);
    // The ANSI entry points go through a MAX_PATH buffer on Windows, with or
    // without the "\\?\" prefix; longer paths need the wide forms.
    if (strlen(name) >= MAX_PATH)
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    Utf8FromAnsi(name, utf8);
    return 1;
}

int PathArgFromWide(LPCWSTR name, std::string *utf8)
{
    if (name == nullptr)
        return Fail(ERROR_PATH_NOT_FOUND);
    // A lone surrogate has no UTF-8 form, so no POSIX name can hold it.
    if (!Utf8FromWide(name, utf8))
        return Fail(ERROR_INVALID_NAME);
    if (utf8->size() >= 32767 * 3)
        return Fail(ERROR_FILENAME_EXCED_RANGE);
    return 1;
}

namespace {

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that no Windows file name holds.
inline bool IsForbidden(unsigned char c)
{
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

} // namespace

int PosixNameFromWindows(const char *path, PosixName *out)
{
    out->path.clear();
    out->trailingSeparator = 0;
    out->longForm = 0;
    const char *p = path;
    if (strncmp(p, "\\\\?\\", 4) == 0 || strncmp(p, "\\??\\", 4) == 0) {
        p += 4;
        out->longForm = 1;
    }
    if (*p == '\0')
        return Fail(ERROR_PATH_NOT_FOUND);

    std::string base; // the folder a relative path starts from
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') {
        if (p[0] != 'Z' && p[0] != 'z')
            return Fail(ERROR_PATH_NOT_FOUND);
        p += 2; // "Z:" alone and "Z:name" start at the root: the only drive's root
    } else if (IsSeparator(p[0]) && IsSeparator(p[1])) {
        return Fail(ERROR_BAD_NETPATH);
    } else if (!IsSeparator(p[0])) {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof(cwd)) == nullptr)
            return FailErrno();
        base = cwd;
    }

    std::vector<std::string> parts;
    if (!base.empty()) {
        size_t start = 1;
        while (start < base.size()) {
            size_t end = base.find('/', start);
            if (end == std::string::npos)
                end = base.size();
            if (end > start)
                parts.emplace_back(base, start, end - start);
            start = end + 1;
        }
    }
    size_t length = strlen(p);
    out->trailingSeparator = length > 0 && IsSeparator(p[length - 1]);
    size_t i = 0;
    while (i < length) {
        while (i < length && IsSeparator(p[i]))
            i++;
        size_t start = i;
        while (i < length && !IsSeparator(p[i])) {
            if (IsForbidden(static_cast<unsigned char>(p[i])))
                return Fail(ERROR_INVALID_NAME);
            i++;
        }
        std::string part(p + start, i - start);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        bool last = true;
        for (size_t k = i; k < length; k++)
            if (!IsSeparator(p[k]))
                last = false;
        // Windows drops trailing dots and spaces of the last name.
        if (last && !out->longForm) {
            while (!part.empty() && (part.back() == '.' || part.back() == ' '))
                part.pop_back();
            if (part.empty())
                continue;
        }
        if (part.size() > 255)
            return Fail(ERROR_FILENAME_EXCED_RANGE);
        parts.push_back(std::move(part));
    }
    if (parts.empty()) {
        out->path = "/";
        out->trailingSeparator = 0;
        return 1;
    }
    for (const std::string &part : parts) {
        out->path += '/';
        out->path += part;
    }
    return 1;
}

void SplitPosixPath(const std::string &path, std::string *folder, std::string *name)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        *folder = ".";
        *name = path;
    } else if (slash == 0) {
        *folder = "/";
        *name = path.substr(1);
    } else {
        *folder = path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

int ResolveWindowsPath(const char *utf8WindowsPath, ResolvedPath *out, PosixName *name)
{
    PosixName local;
    if (name == nullptr)
        name = &local;
    if (!PosixNameFromWindows(utf8WindowsPath, name))
        return RESOLVE_ERROR;
    return ResolvePosixPath(name->path, out);
}

int CheckExistingResult(int result, const ResolvedPath &resolved, const PosixName &name)
{
    if (result == RESOLVE_ERROR)
        return 0;
    if (result == RESOLVE_MISSING)
        return Fail(ERROR_FILE_NOT_FOUND);
    if (name.trailingSeparator && !S_ISDIR(resolved.st.st_mode))
        return Fail(ERROR_INVALID_NAME);
    return 1;
}

int ResolveExistingWindowsPath(const char *utf8WindowsPath, ResolvedPath *out, PosixName *name)
{
    return CheckExistingResult(ResolveWindowsPath(utf8WindowsPath, out, name), *out, *name);
}


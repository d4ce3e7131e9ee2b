// Private profile (INI file) functions for the POSIX build.
//
// Windows reads and edits an INI file as text: a write changes, adds or
// removes only the lines it concerns and leaves every other byte of the file
// as it was.  This implementation does the same on a line list and writes the
// result to a temporary file that then replaces the original, so a crash in
// the middle of a write leaves either the old or the new file.
#include "platform/posix/win32_profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/win32_base.h"

namespace {

// Longest POSIX path we translate a profile name into.
const size_t PROFILE_PATH_MAX = 4096;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

void TrimRange(const std::string &s, size_t &begin, size_t &end)
{
    while (begin < end && IsBlank(s[begin]))
        begin++;
    while (end > begin && IsBlank(s[end - 1]))
        end--;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string &a, const char *b)
{
    size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

// One line of the file as it stands on disk, with what it means.
enum LineKind { LINE_OTHER, LINE_SECTION, LINE_KEY };
struct ProfileLine {
    std::string text;  // without the line end
    std::string end;   // "\r\n", "\n" or "" for a last line without one
    LineKind kind = LINE_OTHER;
    std::string name;  // section or key name, trimmed
    bool hasValue = false;
    std::string value;  // trimmed, quotes kept
};

struct ProfileFile {
    std::vector<ProfileLine> lines;
};

void ParseLine(ProfileLine &line)
{
    const std::string &t = line.text;
    size_t b = 0, e = t.size();
    TrimRange(t, b, e);
    line.kind = LINE_OTHER;
    line.hasValue = false;
    line.name.clear();
    line.value.clear();
    if (b == e)
        return;
    if (t[b] == '[') {
        size_t close = t.find(']', b + 1);
        size_t nb = b + 1, ne = (close == std::string::npos || close > e) ? e : close;
        TrimRange(t, nb, ne);
        line.kind = LINE_SECTION;
        line.name.assign(t, nb, ne - nb);
        return;
    }
    if (t[b] == ';')
        return;  // comment
    size_t eq = t.find('=', b);
    line.kind = LINE_KEY;
    if (eq == std::string::npos || eq >= e) {
        line.name.assign(t, b, e - b);
        return;
    }
    size_t kb = b, ke = eq;
    TrimRange(t, kb, ke);
    line.name.assign(t, kb, ke - kb);
    size_t vb = eq + 1, ve = e;
    TrimRange(t, vb, ve);
    line.hasValue = true;
    line.value.assign(t, vb, ve - vb);
}

bool TranslatePath(const char *fileName, char *path)
{
    if (fileName == nullptr || fileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return PosixPathFromWindows(fileName, path, PROFILE_PATH_MAX) != 0;
}

// Reads and splits the file.  Returns 0 on success, else the Windows error
// (ERROR_FILE_NOT_FOUND for a missing file).
DWORD LoadProfile(const char *path, ProfileFile &file)
{
    file.lines.clear();
    FILE *f = fopen(path, "rb");
    if (f == nullptr)
        return WindowsErrorFromErrno(errno);
    std::string data;
    char chunk[8192];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed)
        return ERROR_READ_FAULT;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t nl = data.find('\n', pos);
        ProfileLine line;
        if (nl == std::string::npos) {
            line.text.assign(data, pos, std::string::npos);
            pos = data.size();
        } else {
            size_t te = nl;
            if (te > pos && data[te - 1] == '\r')
                te--;
            line.text.assign(data, pos, te - pos);
            line.end.assign(data, te, nl + 1 - te);
            pos = nl + 1;
        }
        ParseLine(line);
        file.lines.push_back(std::move(line));
    }
    return 0;
}

// Index of the section's header line, or -1.
long FindSection(const ProfileFile &file, const char *section)
{
    for (size_t i = 0; i < file.lines.size(); i++) {
        if (file.lines[i].kind == LINE_SECTION && SameName(file.lines[i].name, section))
            return static_cast<long>(i);
    }
    return -1;
}

// One past the last line of the section that starts at header.
size_t SectionEnd(const ProfileFile &file, long header)
{
    size_t i = static_cast<size_t>(header) + 1;
    while (i < file.lines.size() && file.lines[i].kind != LINE_SECTION)
        i++;
    return i;
}

long FindKey(const ProfileFile &file, long header, const char *key)
{
    size_t end = SectionEnd(file, header);
    for (size_t i = static_cast<size_t>(header) + 1; i < end; i++) {
        if (file.lines[i].kind == LINE_KEY && SameName(file.lines[i].name, key))
            return static_cast<long>(i);
    }
    return -1;
}

// Copies a list of names: each zero-terminated, then one more zero.  When
// the buffer is too small the last name is cut, two zeros end the buffer and
// the result is size - 2.
DWORD CopyNameList(const std::vector<std::string> &names, char *buffer, DWORD size)
{
    if (size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    DWORD used = 0;
    for (const std::string &name : names) {
        size_t need = name.size() + 1;
        if (used + need + 1 > size) {
            // Cut: fill what is left, then end the buffer with two zeros.
            DWORD room = size - used;
            if (room >= 2) {
                memcpy(buffer + used, name.data(), room - 2);
            }
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        memcpy(buffer + used, name.c_str(), need);
        used += static_cast<DWORD>(need);
    }
    buffer[used] = '\0';
    return used;
}

// Copies text, cut to size - 1 characters; returns the count copied.
DWORD CopyText(const char *text, size_t length, char *buffer, DWORD size)
{
    if (size == 0)
        return 0;
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

// A value enclosed in a matching pair of quotes is returned without them.
void StripQuotes(std::string &value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
}

// Writes the lines to a temporary file beside the target and renames it
// over the target.
DWORD SaveProfile(const char *path, const ProfileFile &file)
{
    std::string data;
    for (const ProfileLine &line : file.lines) {
        data += line.text;
        data += line.end;
    }
    std::string temp = std::string(path) + ".tmp" + std::to_string(static_cast<long>(getpid()));
    mode_t mode = 0666;
    struct stat st;
    bool existed = stat(path, &st) == 0;
    if (existed)
        mode = st.st_mode & 07777;
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return WindowsErrorFromErrno(errno);
    if (existed)
        (void)fchmod(fd, mode);  // not narrowed by the umask: keep the file's own bits
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            DWORD error = WindowsErrorFromErrno(errno);
            close(fd);
            unlink(temp.c_str());
            return error;
        }
        done += static_cast<size_t>(w);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        DWORD error = WindowsErrorFromErrno(errno);
        unlink(temp.c_str());
        return error;
    }
    if (rename(temp.c_str(), path) != 0) {
        DWORD error = WindowsErrorFromErrno(errno);
        unlink(temp.c_str());
        return error;
    }
    return 0;
}

// The line end used for new lines: the file's own, CR LF for a new file.
std::string LineEndOf(const ProfileFile &file)
{
    for (const ProfileLine &line : file.lines) {
        if (!line.end.empty())
            return line.end;
    }
    return "\r\n";
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName)
{
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    // The default loses its trailing blanks.
    std::string def = defaultValue != nullptr ? defaultValue : "";
    while (!def.empty() && def.back() == ' ')
        def.pop_back();

    char path[PROFILE_PATH_MAX];
    ProfileFile file;
    DWORD error = ERROR_FILE_NOT_FOUND;
    if (TranslatePath(fileName, path))
        error = LoadProfile(path, file);
    else
        error = GetLastError();

    if (section == nullptr) {
        std::vector<std::string> names;
        for (const ProfileLine &line : file.lines) {
            if (line.kind == LINE_SECTION)
                names.push_back(line.name);
        }
        DWORD n = CopyNameList(names, buffer, size);
        SetLastError(error);
        return n;
    }
    long header = FindSection(file, section);
    if (key == nullptr) {
        std::vector<std::string> names;
        if (header >= 0) {
            size_t end = SectionEnd(file, header);
            for (size_t i = static_cast<size_t>(header) + 1; i < end; i++) {
                if (file.lines[i].kind == LINE_KEY)
                    names.push_back(file.lines[i].name);
            }
        }
        DWORD n = CopyNameList(names, buffer, size);
        SetLastError(error);
        return n;
    }
    long at = header >= 0 ? FindKey(file, header, key) : -1;
    if (at >= 0 && file.lines[static_cast<size_t>(at)].hasValue) {
        std::string value = file.lines[static_cast<size_t>(at)].value;
        StripQuotes(value);
        SetLastError(error);
        return CopyText(value.data(), value.size(), buffer, size);
    }
    SetLastError(error != 0 ? error : ERROR_FILE_NOT_FOUND);
    return CopyText(def.data(), def.size(), buffer, size);
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName)
{
    char text[30];
    if (GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName) == 0)
        return static_cast<UINT>(defaultValue);
    const char *p = text;
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ')
        p++;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        p++;
    }
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O')) {
        base = 8;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
        base = 2;
        p += 2;
    }
    UINT result = 0;
    for (;; p++) {
        unsigned digit;
        char c = *p;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        result = result * base + digit;  // wraps like the Windows parser
    }
    return negative ? 0u - result : result;
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    if (section == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char path[PROFILE_PATH_MAX];
    if (!TranslatePath(fileName, path))
        return FALSE;
    ProfileFile file;
    DWORD error = LoadProfile(path, file);
    if (error != 0 && error != ERROR_FILE_NOT_FOUND) {
        SetLastError(error);
        return FALSE;
    }
    bool missing = error == ERROR_FILE_NOT_FOUND;
    std::string eol = LineEndOf(file);
    long header = FindSection(file, section);
    if (key == nullptr || value == nullptr) {
        // Deletions of what is not there change nothing.
        if (header < 0)
            return TRUE;
        if (key == nullptr) {
            size_t end = SectionEnd(file, header);
            file.lines.erase(file.lines.begin() + header, file.lines.begin() + static_cast<long>(end));
        } else {
            long at = FindKey(file, header, key);
            if (at < 0)
                return TRUE;
            file.lines.erase(file.lines.begin() + at);
        }
    } else {
        ProfileLine line;
        line.text = std::string(key) + "=" + value;
        line.end = eol;
        ParseLine(line);
        long at = header >= 0 ? FindKey(file, header, key) : -1;
        if (at >= 0) {
            ProfileLine &old = file.lines[static_cast<size_t>(at)];
            if (old.hasValue && old.value == line.value && old.text == line.text)
                return TRUE;
            line.end = old.end.empty() ? eol : old.end;
            old = line;
        } else if (header >= 0) {
            // After the section's last key, before its trailing blank lines.
            size_t end = SectionEnd(file, header);
            size_t insert = end;
            while (insert > static_cast<size_t>(header) + 1 && file.lines[insert - 1].kind == LINE_OTHER &&
                   file.lines[insert - 1].text.find_first_not_of(" \t\r\v\f") == std::string::npos)
                insert--;
            if (insert > 0 && file.lines[insert - 1].end.empty())
                file.lines[insert - 1].end = eol;
            file.lines.insert(file.lines.begin() + static_cast<long>(insert), line);
        } else {
            if (!file.lines.empty() && file.lines.back().end.empty())
                file.lines.back().end = eol;
            ProfileLine head;
            head.text = std::string("[") + section + "]";
            head.end = eol;
            ParseLine(head);
            file.lines.push_back(head);
            file.lines.push_back(line);
        }
    }
    (void)missing;
    error = SaveProfile(path, file);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

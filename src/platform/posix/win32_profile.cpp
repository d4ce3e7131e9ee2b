// Private profile (INI file) functions for the POSIX build.
//
// Windows reads and edits an INI file as text: a write changes, adds or
// removes only the lines it concerns and leaves every other byte of the file
// as it was.  This implementation does the same on a list of lines and
// writes the result to a temporary file that then replaces the original, so
// a crash in the middle of a write leaves either the old or the new file.
//
// Reading rules (those of the Windows functions):
// - lines end in CR LF, LF or a lone CR; a UTF-8 byte-order mark is skipped,
//   a UTF-16LE file (FF FE) is read and written as UTF-16LE;
// - "[name]" (blanks around it and inside the brackets ignored, text after
//   "]" ignored) starts a section; a "[" line without "]" is an ordinary
//   line; lines before the first header form the section named "";
// - "name = value": name and value lose surrounding blanks, a value in
//   matching quotes (" or ') loses them, a NUL byte ends a name or value;
// - names compare without regard to ASCII case; the first matching section,
//   and in it the first matching key, wins;
// - a line without "=" is no key for reading;  a ';' comment line is a key
//   like any other when asked for by name, but is not listed.
#include "platform/posix/win32_profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/win32_base.h"

namespace {

// Writes are read-modify-write cycles: one at a time in this process, as
// Windows serialises its profile calls, so that no update of another thread
// is lost and the temporary file (named after the process) is never shared.
std::mutex WriteLock;

// Longest POSIX path a profile name translates into.
const size_t PROFILE_PATH_MAX = 4096;
const char CRLF[] = "\r\n";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        b++;
    while (e > b && IsBlank(s[e - 1]))
        e--;
    return s.substr(b, e - b);
}

const char *SkipLeadingBlanks(const char *s)
{
    while (*s != '\0' && IsBlank(*s))
        s++;
    return s;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

// A name or value ends at a NUL byte, as a C string would.
std::string_view UpToNul(std::string_view s)
{
    size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

enum LineKind : uint8_t { LINE_OTHER, LINE_SECTION, LINE_KEY };

// One line of the file with what it means.  The text is a range of the data
// read from disk until a write changes the line, which then owns its text;
// name and value are ranges of the text.  Nothing is copied for reading.
struct ProfileLine {
    size_t begin = 0;   // in ProfileFile::data, while !owned
    size_t length = 0;  // without the line end
    std::string own;    // the text once the line is new or changed
    bool owned = false;
    uint8_t endLength = 0;  // 0 (last line without one), 1 ("\n" or "\r"), 2 ("\r\n")
    char endChar = '\n';    // '\n' or '\r' for a one-character end
    LineKind kind = LINE_OTHER;
    bool hasValue = false;  // a key line with "="
    uint32_t nameBegin = 0, nameLength = 0;    // section or key name
    uint32_t valueBegin = 0, valueLength = 0;  // trimmed value, quotes kept
};

// A section: its header line (-1 for the lines before the first header) and
// the lines [body, end).
struct SectionSpan {
    long header;
    size_t body;
    size_t end;
};

struct ProfileFile {
    std::string data;  // the file as read (single-byte text)
    std::vector<ProfileLine> lines;
    int utf16 = 0;       // 0: single bytes; 1: UTF-16LE, 2: UTF-16BE with a byte-order mark
    bool lossy = false;  // read with substitutions: must not be written back

    std::string_view Text(const ProfileLine &line) const
    {
        return line.owned ? std::string_view(line.own) : std::string_view(data).substr(line.begin, line.length);
    }
    std::string_view Name(const ProfileLine &line) const
    {
        return Text(line).substr(line.nameBegin, line.nameLength);
    }
    std::string_view Value(const ProfileLine &line) const
    {
        return Text(line).substr(line.valueBegin, line.valueLength);
    }

    size_t SectionEnd(size_t from) const
    {
        while (from < lines.size() && lines[from].kind != LINE_SECTION)
            from++;
        return from;
    }

    // The first section of that name.  The name "" is the part before the
    // first header.
    bool Find(std::string_view name, SectionSpan &span) const
    {
        if (name.empty()) {
            span = {-1, 0, SectionEnd(0)};
            return true;
        }
        for (size_t i = 0; i < lines.size(); i++) {
            if (lines[i].kind == LINE_SECTION && SameName(Name(lines[i]), name)) {
                span = {static_cast<long>(i), i + 1, SectionEnd(i + 1)};
                return true;
            }
        }
        return false;
    }

    long FindKey(const SectionSpan &span, std::string_view key) const
    {
        for (size_t i = span.body; i < span.end; i++) {
            if (lines[i].kind == LINE_KEY && SameName(Name(lines[i]), key))
                return static_cast<long>(i);
        }
        return -1;
    }
};

void ParseLine(ProfileLine &line, std::string_view t, bool first)
{
    size_t b = 0, e = t.size();
    if (first && t.substr(0, 3) == "\xEF\xBB\xBF")
        b = 3;  // UTF-8 byte-order mark
    while (b < e && IsBlank(t[b]))
        b++;
    while (e > b && IsBlank(t[e - 1]))
        e--;
    line.kind = LINE_OTHER;
    line.hasValue = false;
    line.nameBegin = line.nameLength = line.valueBegin = line.valueLength = 0;
    if (b == e)
        return;
    auto setName = [&line, t](size_t nb, size_t ne) {
        std::string_view name = UpToNul(Trim(t.substr(nb, ne - nb)));
        line.nameBegin = static_cast<uint32_t>(name.data() - t.data());
        line.nameLength = static_cast<uint32_t>(name.size());
    };
    if (t[b] == '[') {
        size_t close = t.find(']', b + 1);
        if (close != std::string_view::npos && close < e) {
            line.kind = LINE_SECTION;
            setName(b + 1, close);
            return;
        }
    }
    line.kind = LINE_KEY;
    size_t eq = t.find('=', b);
    if (eq == std::string_view::npos || eq >= e) {
        setName(b, e);
        return;
    }
    setName(b, eq);
    std::string_view value = UpToNul(Trim(t.substr(eq + 1, e - eq - 1)));
    line.hasValue = true;
    line.valueBegin = static_cast<uint32_t>(value.data() - t.data());
    line.valueLength = static_cast<uint32_t>(value.size());
    if (value.empty())
        line.valueBegin = static_cast<uint32_t>(e);
}

// A new or changed line: owns its text and ends in CR LF unless told else.
ProfileLine MakeLine(std::string text)
{
    ProfileLine line;
    line.own = std::move(text);
    line.owned = true;
    line.length = line.own.size();
    line.endLength = 2;
    ParseLine(line, line.own, false);
    return line;
}

bool TranslatePath(const char *fileName, char *path)
{
    if (fileName == nullptr || fileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return PosixPathFromWindows(fileName, path, PROFILE_PATH_MAX) != 0;
}

// UTF-16 text with code units below 256 maps byte for byte onto the
// single-byte text the A functions see; other units read as '?'.  Returns
// false when such a unit was met, so that the file is never rewritten with a
// loss.
bool NarrowUtf16(const std::string &data, bool bigEndian, std::string &out)
{
    out.clear();
    out.reserve(data.size() / 2);
    bool whole = true;
    for (size_t i = 2; i + 1 < data.size(); i += 2) {
        unsigned first = static_cast<unsigned char>(data[i]);
        unsigned second = static_cast<unsigned char>(data[i + 1]);
        unsigned unit = bigEndian ? (first << 8 | second) : (second << 8 | first);
        if (unit > 0xFF) {
            whole = false;
            unit = '?';
        }
        out += static_cast<char>(unit);
    }
    return whole;
}

// Reads and splits the file.  Returns 0, or the Windows error
// (ERROR_FILE_NOT_FOUND for a missing file).
DWORD LoadProfile(const char *path, ProfileFile &file)
{
    file.lines.clear();
    file.data.clear();
    file.utf16 = 0;
    file.lossy = false;
    FILE *f = fopen(path, "rb");
    if (f == nullptr)
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : WindowsErrorFromErrno(errno);
    std::string &data = file.data;
    char chunk[8192];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        data.append(chunk, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        data.clear();
        return ERROR_READ_FAULT;
    }
    if (data.size() >= 2 && ((data[0] == '\xFF' && data[1] == '\xFE') || (data[0] == '\xFE' && data[1] == '\xFF'))) {
        bool bigEndian = data[0] == '\xFE';
        std::string narrow;
        file.lossy = !NarrowUtf16(data, bigEndian, narrow);
        data.swap(narrow);
        file.utf16 = bigEndian ? 2 : 1;
    }
    std::string_view all(data);
    size_t pos = 0;
    while (pos < all.size()) {
        ProfileLine line;
        line.begin = pos;
        size_t stop = all.find_first_of("\r\n", pos);
        if (stop == std::string_view::npos) {
            line.length = all.size() - pos;
            line.endLength = 0;
            pos = all.size();
        } else {
            line.length = stop - pos;
            if (all[stop] == '\r' && stop + 1 < all.size() && all[stop + 1] == '\n') {
                line.endLength = 2;
            } else {
                line.endLength = 1;
                line.endChar = all[stop];
            }
            pos = stop + line.endLength;
        }
        ParseLine(line, all.substr(line.begin, line.length), file.lines.empty());
        file.lines.push_back(std::move(line));
    }
    return 0;
}

std::string Serialise(const ProfileFile &file)
{
    std::string data;
    data.reserve(file.data.size() + 64);
    for (const ProfileLine &line : file.lines) {
        data += file.Text(line);
        if (line.endLength == 2)
            data += CRLF;
        else if (line.endLength == 1)
            data += line.endChar;
    }
    if (file.utf16 == 0)
        return data;
    bool bigEndian = file.utf16 == 2;
    std::string wide = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : data) {
        if (bigEndian)
            wide += '\0';
        wide += c;
        if (!bigEndian)
            wide += '\0';
    }
    return wide;
}

DWORD WriteAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return WindowsErrorFromErrno(errno);
        }
        done += static_cast<size_t>(w);
    }
    return 0;
}

// Writes the lines to a temporary file in the same folder and renames it
// over the target: readers see the old file or the new one, never a part.
DWORD SaveProfile(const char *path, const ProfileFile &file)
{
    if (file.lossy)
        return ERROR_NO_UNICODE_TRANSLATION;
    std::string data = Serialise(file);
    mode_t mode = 0666;
    struct stat st;
    bool existed = stat(path, &st) == 0;
    if (existed) {
        // A read-only file (no write bit, as the file layer maps the READONLY
        // attribute) is refused as Windows refuses it, even to root.
        if ((st.st_mode & 0222) == 0 || access(path, W_OK) != 0)
            return ERROR_ACCESS_DENIED;
        mode = st.st_mode & 07777;
    }
    std::string temp = std::string(path) + ".~" + std::to_string(static_cast<long>(getpid()));
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : WindowsErrorFromErrno(errno);
    DWORD error = WriteAll(fd, data);
    if (error == 0 && existed && fchmod(fd, mode) != 0)
        error = WindowsErrorFromErrno(errno);
    if (error == 0 && fsync(fd) != 0)
        error = WindowsErrorFromErrno(errno);
    if (close(fd) != 0 && error == 0)
        error = WindowsErrorFromErrno(errno);
    if (error == 0 && rename(temp.c_str(), path) != 0)
        error = WindowsErrorFromErrno(errno);
    if (error != 0)
        unlink(temp.c_str());
    return error;
}

// Copies text cut to size - 1 characters; returns the count copied.
DWORD CopyText(std::string_view text, char *buffer, DWORD size)
{
    size_t length = text.size();
    if (length > size - 1)
        length = size - 1;
    if (length != 0)
        memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

// A value enclosed in a matching pair of quotes loses them.
std::string_view WithoutQuotes(std::string_view value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

// A list of names, each ending in a zero, the list ending in one more.
// When it does not fit, the first size - 2 characters are kept, two zeros
// end the buffer and the result is size - 2.
DWORD CopyNameList(const std::vector<std::string_view> &names, char *buffer, DWORD size)
{
    std::string list;
    for (std::string_view name : names) {
        list += name;
        list += '\0';
    }
    if (list.size() + 2 <= size) {
        memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                               LPCSTR fileName)
{
    if (buffer == nullptr || size == 0)
        return 0;
    // The default loses its trailing blanks and, like a stored value, a
    // pair of enclosing quotes.
    std::string def = defaultValue != nullptr ? defaultValue : "";
    while (!def.empty() && def.back() == ' ')
        def.pop_back();
    def = WithoutQuotes(def);

    char path[PROFILE_PATH_MAX];
    ProfileFile file;
    DWORD error = TranslatePath(fileName, path) ? LoadProfile(path, file) : GetLastError();

    DWORD result;
    if (section == nullptr) {
        std::vector<std::string_view> names;
        for (const ProfileLine &line : file.lines) {
            if (line.kind == LINE_SECTION && line.nameLength != 0)
                names.push_back(file.Name(line));
        }
        result = CopyNameList(names, buffer, size);
    } else {
        SectionSpan span = {};
        bool found = file.Find(Trim(section), span);
        if (key == nullptr) {
            std::vector<std::string_view> names;
            for (size_t i = span.body; found && i < span.end; i++) {
                const ProfileLine &line = file.lines[i];
                std::string_view name = file.Name(line);
                if (line.kind == LINE_KEY && line.hasValue && (name.empty() || name[0] != ';'))
                    names.push_back(name);
            }
            // A section without keys answers with the default.
            result = names.empty() ? CopyText(def, buffer, size) : CopyNameList(names, buffer, size);
        } else {
            long at = found ? file.FindKey(span, Trim(key)) : -1;
            if (at >= 0 && file.lines[static_cast<size_t>(at)].hasValue)
                result = CopyText(WithoutQuotes(file.Value(file.lines[static_cast<size_t>(at)])), buffer, size);
            else
                result = CopyText(def, buffer, size);
        }
    }
    SetLastError(error);
    return result;
}

UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName)
{
    // Windows reads the value into a 30-character buffer, so longer numbers
    // are cut before they are parsed.
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
    // Base prefixes are recognised in lower case only, as by Windows.
    unsigned base = 10;
    if (p[0] == '0' && p[1] == 'x') {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'o') {
        base = 8;
        p += 2;
    } else if (p[0] == '0' && p[1] == 'b') {
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
        result = result * base + digit;  // wraps at 32 bits, as on Windows
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
    // The temporary file replaces the file a symbolic link points at, not
    // the link itself.
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr && strlen(resolved) < PROFILE_PATH_MAX)
        memcpy(path, resolved, strlen(resolved) + 1);
    std::lock_guard<std::mutex> hold(WriteLock);
    ProfileFile file;
    DWORD error = LoadProfile(path, file);
    if (error != 0 && error != ERROR_FILE_NOT_FOUND) {
        SetLastError(error);
        return FALSE;
    }
    SectionSpan span = {};
    bool found = file.Find(Trim(section), span);
    if (key == nullptr || value == nullptr) {
        // Deleting what is not there changes nothing and succeeds.
        if (!found)
            return TRUE;
        if (key == nullptr) {
            size_t first = span.header >= 0 ? static_cast<size_t>(span.header) : span.body;
            if (first == span.end)
                return TRUE;
            file.lines.erase(file.lines.begin() + static_cast<long>(first),
                             file.lines.begin() + static_cast<long>(span.end));
        } else {
            long at = file.FindKey(span, Trim(key));
            if (at < 0)
                return TRUE;
            file.lines.erase(file.lines.begin() + at);
        }
    } else {
        // New text loses its leading blanks; trailing ones are kept.
        std::string_view newValue = SkipLeadingBlanks(value);
        long at = found ? file.FindKey(span, Trim(key)) : -1;
        if (at >= 0) {
            ProfileLine &old = file.lines[static_cast<size_t>(at)];
            if (old.hasValue && file.Value(old) == newValue)
                return TRUE;  // unchanged: the file is not touched
            // Only the value is replaced; the name keeps its spelling.
            std::string_view oldText = file.Text(old);
            std::string text(old.hasValue ? oldText.substr(0, old.valueBegin)
                                          : oldText.substr(0, oldText.find_last_not_of(" \t\v\f") + 1));
            if (!old.hasValue)
                text += '=';
            text += newValue;
            ProfileLine changed = MakeLine(std::move(text));
            if (old.endLength == 1) {
                changed.endLength = 1;
                changed.endChar = old.endChar;
            }
            old = std::move(changed);
        } else {
            ProfileLine line = MakeLine(std::string(SkipLeadingBlanks(key)) + "=" + std::string(newValue));
            if (found) {
                // After the section's last line that is not blank.
                size_t insert = span.end;
                while (insert > span.body && file.lines[insert - 1].kind == LINE_OTHER)
                    insert--;
                if (insert > 0 && file.lines[insert - 1].endLength == 0)
                    file.lines[insert - 1].endLength = 2;
                file.lines.insert(file.lines.begin() + static_cast<long>(insert), line);
            } else {
                // A new section goes at the end of the file.
                if (!file.lines.empty() && file.lines.back().endLength == 0)
                    file.lines.back().endLength = 2;
                file.lines.push_back(MakeLine("[" + std::string(SkipLeadingBlanks(section)) + "]"));
                file.lines.push_back(line);
            }
        }
    }
    error = SaveProfile(path, file);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

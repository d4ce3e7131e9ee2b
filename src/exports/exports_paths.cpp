#include "exports/exports_paths.h"

#include <cstring>

#include "common/ascii_text.h"
#include "exports/export_entry.h"
#include "exports/exports_names.h"
#include "settings/settings.h"

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool HasLongPrefix(const char *p, char sep)
{
    return p[0] == sep && p[1] == sep && p[2] == '?' && p[3] == sep;
}

} // namespace

int CheckPathSyntax(const char *path)
{
    const char *p = path;
    if (HasLongPrefix(p, '\\'))
        p += 4;
    if (IsLetter(p[0]) && p[1] == ':')
        return p[2] == 0 || p[2] == '\\';
    if (StartsWithNoCase(p, "Volume{")) {
        const char *close = strchr(p + 7, '}');
        if (close == nullptr || close == p + 7)
            return 0;
        if (memchr(p + 7, '\\', static_cast<size_t>(close - (p + 7))) != nullptr)
            return 0;
        return close[1] == 0 || close[1] == '\\';
    }
    if (p == path && p[0] == '\\' && p[1] == '\\') {
        const char *server = p + 2;
        const char *q = server;
        while (*q && *q != '\\') {
            // The server name is checked against the file-name table alone,
            // whatever the character set.
            unsigned char c = static_cast<unsigned char>(*q);
            if (c < 0x80 && AllowedChar(c) == 0)
                return 0;
            q++;
        }
        return q > server;
    }
    return 0;
}

uint32_t NormaliseRoot(char *path, size_t size)
{
    size_t length = strlen(path);
    for (size_t i = 0; i < length; i++)
        if (path[i] == '/')
            path[i] = '\\';

    size_t start = 0;
    bool unc = false;
    if (HasLongPrefix(path, '\\'))
        start = 4;
    else if (path[0] == '\\' && path[1] == '\\') {
        start = 2;
        unc = true;
    }
    if (path[start] == 0)
        return 0;
    if (!unc && IsLetter(path[start]) && path[start + 1] == ':')
        path[start] = Upper(path[start]);

    // The root ends at the next backslash; a UNC root takes the server and
    // the share name.
    const char *end = strchr(path + start, '\\');
    if (unc) {
        if (end == nullptr || end == path + start)
            return 0;                               // no server or no share
        const char *share = end + 1;
        if (*share == 0 || *share == '\\')
            return 0;
        end = strchr(share, '\\');
    }
    if (end == nullptr) {
        // The whole path is the root without its backslash: add it.
        if (length + 2 > size)
            return 0;
        path[length] = '\\';
        path[length + 1] = 0;
        return static_cast<uint32_t>(length + 1);
    }
    size_t rootLength = static_cast<size_t>(end - path) + 1;
    // Trailing backslashes go, except the root's own ("C:\" stays), so that
    // a normalised path normalises to itself.
    while (length > rootLength && path[length - 1] == '\\')
        path[--length] = 0;
    return static_cast<uint32_t>(rootLength);
}

int ToClientPath(const char *windowsPath, char *out, size_t size)
{
    char work[EXPORT_PATH_SIZE];
    size_t length = strlen(windowsPath);
    if (size == 0)
        return 0;
    if (length >= sizeof(work)) {
        out[0] = 0;
        return 0;
    }
    memcpy(work, windowsPath, length + 1);
    char *w = work;
    const bool lower = ServerSettings.Lowercase != 0;
    size_t n = 0;
    char result[EXPORT_PATH_SIZE + 1];
    if (IsLetter(w[0]) && w[1] == ':') {
        result[n++] = '/';
        result[n++] = lower ? LowerAscii(w[0]) : w[0];
        w += 2;
    } else if (HasLongPrefix(w, '\\') && IsLetter(w[4]) && w[5] == ':' && w[6] == '\\' && lower) {
        w[4] = LowerAscii(w[4]);
    }
    for (; *w; w++)
        result[n++] = (*w == '\\') ? '/' : *w;
    if (n > 0 && result[n - 1] == '/')
        n--;
    if (n + 1 > size) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, result, n);
    out[n] = 0;
    return 1;
}

int ToWindowsPath(const char *clientPath, char *out, size_t size)
{
    char work[EXPORT_PATH_SIZE + 4];
    size_t length = strlen(clientPath);
    if (size == 0)
        return 0;
    if (length >= EXPORT_PATH_SIZE) {
        out[0] = 0;
        return 0;
    }
    for (size_t i = 0; i <= length; i++)
        work[i] = clientPath[i] == '/' ? '\\' : clientPath[i];

    if (work[0] == '\\' && IsLetter(work[1]) && work[2] == '\\') {
        // "\c\rest" -> "c:\rest"
        work[0] = work[1];
        work[1] = ':';
    } else if (work[0] == '\\' && IsLetter(work[1]) && work[2] == 0) {
        // "\c" -> "c:\"
        work[0] = work[1];
        work[1] = ':';
        work[2] = '\\';
        work[3] = 0;
        length = 3;
    } else if (HasLongPrefix(work, '\\')) {
        // "\\?\part" gets a backslash when no further one follows.
        if (work[4] != 0 && strchr(work + 4, '\\') == nullptr) {
            work[length++] = '\\';
            work[length] = 0;
        }
    } else if (work[0] == '\\' && work[1] == '\\') {
        // "\\server" gets a backslash.
        if (work[2] != 0 && strchr(work + 2, '\\') == nullptr) {
            work[length++] = '\\';
            work[length] = 0;
        }
    } else if (IsLetter(work[0]) && work[1] == ':' && work[2] == 0) {
        work[2] = '\\';
        work[3] = 0;
        length = 3;
    }
    if (length + 1 > size) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, work, length + 1);
    return 1;
}

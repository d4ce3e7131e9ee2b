// The server log: one monthly text file shared by all services.
#include "log/log.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "settings/settings.h"

std::atomic<int32_t> LogLevel{0};
RankedLock LogLock(LOCK_RANK_LOG, "log");

namespace {

// The open log file; null stands for the standard error stream, which a
// windowed process discards.
FILE *LogStream = nullptr;
// Full path of the open file; a second OpenLog for the same month and folder
// keeps the open stream.
char OpenPath[1024];

FILE *CurrentStream()
{
    return LogStream != nullptr ? LogStream : stderr;
}

void CloseStreamLocked()
{
    if (LogStream != nullptr && LogStream != stderr && LogStream != stdout)
        fclose(LogStream);
    LogStream = nullptr;
    OpenPath[0] = '\0';
}

bool LocalTime(struct tm *out)
{
    time_t now = time(nullptr);
#ifdef _WIN32
    return localtime_s(out, &now) == 0;
#else
    return localtime_r(&now, out) != nullptr;
#endif
}

// Client strings (paths, names, host names) reach the log through the
// arguments of a format: every control byte in an argument, and the UTF-8
// forms of NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR, are written as
// "\xHH", so that no argument can end a line or forge one.  The format's
// own text is the program's and is kept as it is; so is a single "\n" that
// ends an argument standing last in the format (a line formatted elsewhere
// and logged with "%s").
void AppendEscaped(std::string *out, const char *text, size_t length, bool keepLineEnd)
{
    bool lineEnd = keepLineEnd && length > 0 && text[length - 1] == '\n';
    if (lineEnd)
        length--;
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t run = 0;
        if (c < 0x20 || c == 0x7F)
            run = 1;
        else if (c == 0xC2 && i + 1 < length && static_cast<unsigned char>(text[i + 1]) == 0x85)
            run = 2;
        else if (c == 0xE2 && i + 2 < length && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                 (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9))
            run = 3;
        if (run == 0) {
            out->push_back(static_cast<char>(c));
            continue;
        }
        for (size_t k = 0; k < run; k++) {
            unsigned char b = static_cast<unsigned char>(text[i + k]);
            char escaped[4] = {'\\', 'x', hex[b >> 4], hex[b & 15]};
            out->append(escaped, 4);
        }
        i += run - 1;
    }
    if (lineEnd)
        out->push_back('\n');
}

// One conversion of a numeric or pointer argument, formatted by the C
// library with the conversion's own flags, width and precision.
template <typename T> void AppendNumber(std::string *out, const std::string &directive, T value)
{
    char buffer[512];
    int n = snprintf(buffer, sizeof buffer, directive.c_str(), value);
    if (n > 0)
        out->append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

// Pads a converted string argument to its width.
void AppendPadded(std::string *out, const std::string &text, int width, bool left)
{
    size_t pad = width > 0 && static_cast<size_t>(width) > text.size() ? static_cast<size_t>(width) - text.size() : 0;
    if (!left)
        out->append(pad, ' ');
    out->append(text);
    if (left)
        out->append(pad, ' ');
}

// printf of format and args into out, with every string and character
// argument escaped.  The formats are checked by the compiler (KORVANE_PRINTF),
// so each conversion takes the argument type it names.
void FormatEscaped(std::string *out, const char *format, va_list args)
{
    for (const char *p = format; *p != '\0';) {
        if (*p != '%') {
            const char *next = strchr(p, '%');
            size_t n = next != nullptr ? static_cast<size_t>(next - p) : strlen(p);
            out->append(p, n);
            p += n;
            continue;
        }
        std::string directive = "%";
        p++;
        bool left = false;
        while (*p != '\0' && strchr("-+ #0", *p) != nullptr) {
            left = left || *p == '-';
            directive += *p++;
        }
        int width = -1;
        if (*p == '*') {
            width = va_arg(args, int);
            if (width < 0) {
                left = true;
                width = -width;
            }
            directive += std::to_string(width);
            p++;
        } else {
            if (*p >= '0' && *p <= '9')
                width = 0;
            while (*p >= '0' && *p <= '9') {
                width = width * 10 + (*p - '0');
                directive += *p++;
            }
        }
        int precision = -1;
        if (*p == '.') {
            directive += *p++;
            precision = 0;
            if (*p == '*') {
                precision = va_arg(args, int);
                p++;
                if (precision < 0)
                    directive.pop_back();  // a negative precision counts as none
                else
                    directive += std::to_string(precision);
            } else {
                while (*p >= '0' && *p <= '9') {
                    precision = precision * 10 + (*p - '0');
                    directive += *p++;
                }
            }
        }
        // Length modifiers, as many letters as the conversion has.
        const char *lengthStart = p;
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4')
            p += 3;
        else if (p[0] == 'I' && p[1] == '3' && p[2] == '2')
            p += 3;
        else
            while (*p != '\0' && strchr("hlLjztqI", *p) != nullptr)
                p++;
        std::string length(lengthStart, static_cast<size_t>(p - lengthStart));
        directive += length;
        const char conversion = *p;
        if (conversion == '\0')
            break;
        p++;
        directive += conversion;
        // The argument's type, from the length modifier.
        enum { INT, LONG, LONG_LONG, MAX, SIZE } type = INT;
        if (length == "l")
            type = LONG;
        else if (length == "ll" || length == "q" || length == "I64")
            type = LONG_LONG;
        else if (length == "j")
            type = MAX;
        else if (length == "z" || length == "t" || length == "I")
            type = SIZE;
        switch (conversion) {
        case '%':
            out->push_back('%');
            break;
        case 'd':
        case 'i':
            if (type == LONG)
                AppendNumber(out, directive, va_arg(args, long));
            else if (type == LONG_LONG)
                AppendNumber(out, directive, va_arg(args, long long));
            else if (type == MAX)
                AppendNumber(out, directive, va_arg(args, intmax_t));
            else if (type == SIZE)
                AppendNumber(out, directive, va_arg(args, ptrdiff_t));
            else
                AppendNumber(out, directive, va_arg(args, int));
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (type == LONG)
                AppendNumber(out, directive, va_arg(args, unsigned long));
            else if (type == LONG_LONG)
                AppendNumber(out, directive, va_arg(args, unsigned long long));
            else if (type == MAX)
                AppendNumber(out, directive, va_arg(args, uintmax_t));
            else if (type == SIZE)
                AppendNumber(out, directive, va_arg(args, size_t));
            else
                AppendNumber(out, directive, va_arg(args, unsigned int));
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == "L")
                AppendNumber(out, directive, va_arg(args, long double));
            else
                AppendNumber(out, directive, va_arg(args, double));
            break;
        case 'p':
            AppendNumber(out, directive, va_arg(args, void *));
            break;
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            std::string escaped;
            AppendEscaped(&escaped, &c, 1, false);
            AppendPadded(out, escaped, width, left);
            break;
        }
        case 's': {
            if (type == LONG) {  // a wide string: converted, then escaped
                std::string converted;
                AppendNumber(&converted, "%ls", va_arg(args, const wchar_t *));
                std::string escaped;
                AppendEscaped(&escaped, converted.data(), converted.size(), false);
                AppendPadded(out, escaped, width, left);
                break;
            }
            const char *text = va_arg(args, const char *);
            if (text == nullptr)
                text = "(null)";
            size_t n = precision >= 0 ? strnlen(text, static_cast<size_t>(precision)) : strlen(text);
            std::string escaped;
            AppendEscaped(&escaped, text, n, *p == '\0');
            AppendPadded(out, escaped, width, left);
            break;
        }
        case 'n':
            (void)va_arg(args, int *);  // never written
            break;
        default:
            out->append(directive);  // not a conversion: shown as it stands
            break;
        }
    }
}

// Formats one piece and writes it with a single call, so the stream's own
// lock keeps it whole.  On Windows the text-mode stream turns "\n" into
// "\r\n"; the POSIX build writes the same bytes itself so that a log file
// reads the same whichever build wrote it.
// prefix (may be null) goes out in the same write.
void WritePiece(const char *prefix, const char *format, va_list args)
{
    std::string text;
    text.reserve(256);
    if (prefix != nullptr)
        text.append(prefix);
    FormatEscaped(&text, format, args);
    FILE *stream = CurrentStream();
#ifndef _WIN32
    if (stream != stderr && text.find('\n') != std::string::npos) {
        std::string crlf;
        crlf.reserve(text.size() + 16);
        for (char c : text) {
            if (c == '\n')
                crlf += '\r';
            crlf += c;
        }
        fwrite(crlf.data(), 1, crlf.size(), stream);
        return;
    }
#endif
    fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

int LogFileName(const struct tm *when, char *buffer, size_t size)
{
    return strftime(buffer, size, "nfsd%y%m.log", when) != 0;
}

const char *LogTimestamp()
{
    // One buffer per thread: the stamp stays valid until this thread's next
    // call, whoever else logs meanwhile.
    static thread_local char stamp[31];
    struct tm now;
    if (!LocalTime(&now) || strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &now) == 0)
        snprintf(stamp, sizeof stamp, "0000-00-00 00:00:00");
    return stamp;
}

FILE *OpenLog(const char *directory)
{
    if (directory == nullptr)
        directory = "";
    LogLevel = static_cast<int32_t>(ServerSettings.Log);
    if (LogLevel == 0) {
        LockTake(&LogLock);
        CloseStreamLocked();
        LockGive(&LogLock);
        return nullptr;
    }

    char name[32];
    struct tm now;
    if (!LocalTime(&now) || !LogFileName(&now, name, sizeof name))
        snprintf(name, sizeof name, "nfsd0000.log");
    size_t dirLength = strlen(directory);
    size_t nameLength = strlen(name);
    if (dirLength + nameLength >= 1024) {
        if (LogStream == nullptr)
            LogLevel = 0;
        return nullptr;
    }
    char path[1024];
    memcpy(path, directory, dirLength);
    memcpy(path + dirLength, name, nameLength + 1);
    if (LogStream != nullptr && strcmp(OpenPath, path) == 0)
        return LogStream;

    LockTake(&LogLock);
    CloseStreamLocked();
#ifdef _WIN32
    FILE *stream = fopen(path, "a+");
#else
    char posixPath[4096];
    FILE *stream = nullptr;
    if (PosixPathFromWindows(path, posixPath, sizeof posixPath))
        stream = fopen(posixPath, "a+");
#endif
    if (stream == nullptr) {
        LogLevel = 0;
        LockGive(&LogLock);
        return nullptr;
    }
    LogStream = stream;
    memcpy(OpenPath, path, dirLength + nameLength + 1);
    LockGive(&LogLock);
    return stream;
}

void FlushLog()
{
    if (LogLevel == 0)
        return;
    LockTake(&LogLock);
    fflush(CurrentStream());
    LockGive(&LogLock);
}

void CloseLog()
{
    LogLevel = 0;
    LockTake(&LogLock);
    CloseStreamLocked();
    LockGive(&LogLock);
}

namespace {

// One piece under LogLock, after the time stamp and a blank when stamped:
// the stamp and the text go out in one write, so no other line can come
// between them.
void WriteLocked(bool stamped, const char *format, va_list args)
{
    LockTake(&LogLock);
    char stamp[40];
    if (stamped)
        snprintf(stamp, sizeof stamp, "%s ", LogTimestamp());
    WritePiece(stamped ? stamp : nullptr, format, args);
    LockGive(&LogLock);
}

}  // namespace

void LogLine(int32_t minLevel, const char *format, ...)
{
    if (LogLevel < minLevel)
        return;
    va_list args;
    va_start(args, format);
    WriteLocked(false, format, args);
    va_end(args);
}

void LogEvent(int32_t minLevel, const char *format, ...)
{
    if (LogLevel < minLevel)
        return;
    va_list args;
    va_start(args, format);
    WriteLocked(true, format, args);
    va_end(args);
}

// The start-up writers take the lock for the write itself too, so that a
// writer on the window's thread can never use the stream while the server
// thread closes it; pieces of a line may still interleave with other lines.
void LogStartup(int32_t minLevel, const char *format, ...)
{
    if (LogLevel < minLevel)
        return;
    va_list args;
    va_start(args, format);
    WriteLocked(false, format, args);
    va_end(args);
}

// The server log: one monthly text file shared by all services.
#include "log/log.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "settings/settings.h"

std::atomic<int32_t> LogLevel{0};
CRITICAL_SECTION LogLock;

namespace {

// The open log file; null stands for the standard error stream, which a
// windowed process discards.
FILE *LogStream = nullptr;
// Full path of the open file; a second OpenLog for the same month and folder
// keeps the open stream.
char OpenPath[1024];

std::once_flag LogLockOnce;

void EnsureLogLock()
{
    std::call_once(LogLockOnce, [] { InitializeCriticalSection(&LogLock); });
}

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

// Formats one piece and writes it with a single call, so the stream's own
// lock keeps it whole.  On Windows the text-mode stream turns "\n" into
// "\r\n"; the POSIX build writes the same bytes itself so that a log file
// reads the same whichever build wrote it.
// prefix (may be null) goes out in the same write.
void WritePiece(const char *prefix, const char *format, va_list args)
{
    char small[1024];
    size_t prefixLength = prefix != nullptr ? strlen(prefix) : 0;
    if (prefixLength >= 64)
        prefixLength = 63;
    if (prefixLength != 0)
        memcpy(small, prefix, prefixLength);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small + prefixLength, sizeof small - prefixLength, format, copy);
    va_end(copy);
    if (n < 0)
        return;
    std::string big;
    const char *text = small;
    size_t length = prefixLength + static_cast<size_t>(n);
    if (length >= sizeof small) {
        big.resize(length + 1);
        if (prefixLength != 0)
            memcpy(&big[0], prefix, prefixLength);
        vsnprintf(&big[prefixLength], static_cast<size_t>(n) + 1, format, args);
        big.resize(length);
        text = big.data();
    }
    FILE *stream = CurrentStream();
#ifndef _WIN32
    if (stream != stderr && memchr(text, '\n', length) != nullptr) {
        std::string crlf;
        crlf.reserve(length + 16);
        for (size_t i = 0; i < length; i++) {
            if (text[i] == '\n')
                crlf += '\r';
            crlf += text[i];
        }
        fwrite(crlf.data(), 1, crlf.size(), stream);
        return;
    }
#endif
    fwrite(text, 1, length, stream);
}

}  // namespace

int LogFileName(const struct tm *when, char *buffer, size_t size)
{
    return strftime(buffer, size, "nfsd%y%m.log", when) != 0;
}

void InitLogLock()
{
    EnsureLogLock();
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
    EnsureLogLock();
    if (directory == nullptr)
        directory = "";
    LogLevel = static_cast<int32_t>(ServerSettings.Log);
    if (LogLevel == 0) {
        EnterCriticalSection(&LogLock);
        CloseStreamLocked();
        LeaveCriticalSection(&LogLock);
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

    EnterCriticalSection(&LogLock);
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
        LeaveCriticalSection(&LogLock);
        return nullptr;
    }
    LogStream = stream;
    memcpy(OpenPath, path, dirLength + nameLength + 1);
    LeaveCriticalSection(&LogLock);
    return stream;
}

void FlushLog()
{
    if (LogLevel == 0)
        return;
    EnsureLogLock();
    EnterCriticalSection(&LogLock);
    fflush(CurrentStream());
    LeaveCriticalSection(&LogLock);
}

void CloseLog()
{
    LogLevel = 0;
    EnsureLogLock();
    EnterCriticalSection(&LogLock);
    CloseStreamLocked();
    LeaveCriticalSection(&LogLock);
}

namespace {

// One piece under LogLock, after the time stamp and a blank when stamped:
// the stamp and the text go out in one write, so no other line can come
// between them.
void WriteLocked(bool stamped, const char *format, va_list args)
{
    EnsureLogLock();
    EnterCriticalSection(&LogLock);
    char stamp[40];
    if (stamped)
        snprintf(stamp, sizeof stamp, "%s ", LogTimestamp());
    WritePiece(stamped ? stamp : nullptr, format, args);
    LeaveCriticalSection(&LogLock);
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

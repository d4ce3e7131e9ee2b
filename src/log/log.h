// The server log: one monthly text file "nfsd%y%m.log" in LogDir.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "platform/ranked_lock.h"
#include "platform/win32.h"

// The level in force: 0 when no log is open, else the "Log" setting taken
// when the log was opened.  A line of level n is written when LogLevel >= n.
// Atomic: the server thread changes it while service threads test it.
extern std::atomic<int32_t> LogLevel;
// Guards opening, closing and flushing of the log, and keeps a time stamp
// together with its line on the service threads.
extern RankedLock LogLock;

// Opens (or keeps) the month's log file in directory, taking LogLevel from
// the "Log" setting.  Returns the stream, or null when logging is off, the
// path is too long or the file cannot be opened (LogLevel is then 0).
FILE *OpenLog(const char *directory);
// Flushes the log under LogLock when logging is on.
void FlushLog();
// "%Y-%m-%d %H:%M:%S" of the local time; valid until this thread's next call.
const char *LogTimestamp();
// Sets LogLevel to 0 and closes the file (the server thread's end).
void CloseLog();
// The log file name of the month of when: "nfsd%y%m.log" (nfsd2612.log for
// December 2026).  Returns 0 when it does not fit.
int LogFileName(const struct tm *when, char *buffer, size_t size);

#if defined(__MINGW32__)
#define KORVANE_PRINTF(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__) || defined(__clang__)
#define KORVANE_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define KORVANE_PRINTF(f, a)
#endif

// Writers: nothing is written unless LogLevel >= minLevel.  Lines end in
// "\n"; on disk they end in CR LF on every platform.
// Service threads: the write is made under LogLock.
void LogLine(int32_t minLevel, const char *format, ...) KORVANE_PRINTF(2, 3);
// Service threads: the time stamp, a blank, then the text, under LogLock:
// LogEvent(1, "pmapd ready on port %u\n", port).
void LogEvent(int32_t minLevel, const char *format, ...) KORVANE_PRINTF(2, 3);
// Start-up sequence and window thread: one piece, written under LogLock
// only for the time of the write (callers need not hold it).
void LogStartup(int32_t minLevel, const char *format, ...) KORVANE_PRINTF(2, 3);

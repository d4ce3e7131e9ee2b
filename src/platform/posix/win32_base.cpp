// Threads, synchronisation, time, errors, modules and path translation of the
// Win32 subset for the POSIX build.
#include "platform/posix/win32_base.h"
#include "platform/posix/win32_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <unordered_set>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

thread_local DWORD tlsLastError = 0;

// ---------------------------------------------------------------- threads
struct ThreadObject {
    PosixObject header;
    pthread_t thread;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
    pthread_mutex_t mutex;
    pthread_cond_t done;
    int finished;
    int references;  // the handle and the running thread
    DWORD exitCode;
    DWORD id;
};

LONG nextThreadId = 1;

void ReleaseThread(ThreadObject *t)
{
    pthread_mutex_lock(&t->mutex);
    int left = --t->references;
    pthread_mutex_unlock(&t->mutex);
    if (left == 0) {
        pthread_mutex_destroy(&t->mutex);
        pthread_cond_destroy(&t->done);
        PosixObjectRetire(&t->header);
        delete t;
    }
}

thread_local DWORD tlsThreadId = 0;

void *ThreadTrampoline(void *arg)
{
    ThreadObject *t = static_cast<ThreadObject *>(arg);
    tlsThreadId = t->id;
    DWORD code = t->start(t->parameter);
    pthread_mutex_lock(&t->mutex);
    t->exitCode = code;
    t->finished = 1;
    pthread_cond_broadcast(&t->done);
    pthread_mutex_unlock(&t->mutex);
    ReleaseThread(t);
    return nullptr;
}

BOOL CloseThread(PosixObject *self)
{
    // The handle dies now; the object lives on until the thread ends.
    PosixObjectRetire(self);
    ReleaseThread(reinterpret_cast<ThreadObject *>(self));
    return TRUE;
}

// ----------------------------------------------------------------- events
struct EventObject {
    PosixObject header;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    int manualReset;
    int signalled;
};

BOOL CloseEvent(PosixObject *self)
{
    EventObject *e = reinterpret_cast<EventObject *>(self);
    pthread_mutex_destroy(&e->mutex);
    pthread_cond_destroy(&e->cond);
    PosixObjectRetire(&e->header);
    delete e;
    return TRUE;
}

// Absolute CLOCK_MONOTONIC deadline for a timed wait.
void DeadlineAfter(DWORD milliseconds, struct timespec *ts)
{
    clock_gettime(CLOCK_MONOTONIC, ts);
    ts->tv_sec += milliseconds / 1000;
    ts->tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (ts->tv_nsec >= 1000000000L) {
        ts->tv_sec++;
        ts->tv_nsec -= 1000000000L;
    }
}

void InitMonotonicCond(pthread_cond_t *cond)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(cond, &attr);
    pthread_condattr_destroy(&attr);
}

// Waits on cond until *flag is set; returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
DWORD WaitFlag(pthread_mutex_t *mutex, pthread_cond_t *cond, int *flag, DWORD milliseconds)
{
    struct timespec deadline;
    if (milliseconds != INFINITE)
        DeadlineAfter(milliseconds, &deadline);
    while (!*flag) {
        if (milliseconds == INFINITE) {
            pthread_cond_wait(cond, mutex);
        } else if (pthread_cond_timedwait(cond, mutex, &deadline) == ETIMEDOUT) {
            if (!*flag)
                return WAIT_TIMEOUT;
        }
    }
    return WAIT_OBJECT_0;
}

void FileTimeFromTimespec(const struct timespec &ts, LPFILETIME ft)
{
    // 100 ns intervals since 1601-01-01.
    ULONGLONG t = (static_cast<ULONGLONG>(ts.tv_sec) + 11644473600ULL) * 10000000ULL +
                  static_cast<ULONGLONG>(ts.tv_nsec) / 100;
    ft->dwLowDateTime = static_cast<DWORD>(t);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void SystemTimeFromTm(const struct tm &tm, long nanoseconds, LPSYSTEMTIME st)
{
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    st->wSecond = static_cast<WORD>(tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000L);
}

// The current time broken down by localtime_r or gmtime_r.
void SystemTimeNow(struct tm *(*breakDown)(const time_t *, struct tm *), LPSYSTEMTIME st)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    breakDown(&ts.tv_sec, &tm);
    SystemTimeFromTm(tm, ts.tv_nsec, st);
}

struct ModuleObject {
    PosixObject header;
};

// Modules are never unloaded on Windows while references remain; the one
// module this layer knows lives as long as the process.
BOOL CloseModule(PosixObject *) { return TRUE; }

ModuleObject kernel32Module = {{POSIX_OBJECT_MAGIC, POSIX_OBJECT_MODULE, CloseModule}};

} // namespace

// ------------------------------------------------------------------ errors
DWORD GetLastError(void) { return tlsLastError; }
void SetLastError(DWORD error) { tlsLastError = error; }

DWORD WindowsErrorFromErrno(int err)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY: return ERROR_BUSY;
    case EMLINK: return ERROR_TOO_MANY_LINKS;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ELOOP: return ERROR_CANT_ACCESS_FILE;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case EIO: return ERROR_GEN_FAILURE;
    case EFBIG: return ERROR_DISK_FULL;
    case EILSEQ: return ERROR_INVALID_NAME;        // a name the file system cannot hold
    case ETXTBSY: return ERROR_SHARING_VIOLATION;  // a running program cannot be written
    case EDEADLK: return ERROR_LOCK_VIOLATION;
    case ENXIO: case ENODEV: return ERROR_FILE_NOT_FOUND;
    case EOVERFLOW: case ESPIPE: return ERROR_INVALID_PARAMETER;
    case ENOLCK: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
    }
}

// ----------------------------------------------------------------- objects
namespace {

struct ObjectRegistry {
    std::shared_mutex lock;
    std::unordered_set<const PosixObject *> live;
    std::atomic<uint64_t> retirements{0};  // counted before each leaves live
};

// The object this thread last found live, and the count of retirements
// then: while no object has been retired since, it is live still (a
// handle used while another thread closes it is the caller's fault, as on
// Windows).  Spares the shared lock that every thread would take for every
// handle it uses.
thread_local const PosixObject *lastLive = nullptr;
thread_local uint64_t lastLiveRetirements = 0;

ObjectRegistry &Registry()
{
    static ObjectRegistry *registry = new ObjectRegistry(); // lives as long as the process
    return *registry;
}

} // namespace

void PosixObjectInit(PosixObject *object, uint32_t kind, BOOL (*close)(PosixObject *self))
{
    object->magic = POSIX_OBJECT_MAGIC;
    object->kind = kind;
    object->close = close;
    ObjectRegistry &r = Registry();
    std::unique_lock<std::shared_mutex> guard(r.lock);
    r.live.insert(object);
}

void PosixObjectRetire(PosixObject *object)
{
    ObjectRegistry &r = Registry();
    std::unique_lock<std::shared_mutex> guard(r.lock);
    r.retirements.fetch_add(1);
    if (r.live.erase(object) != 0)
        object->magic = 0;
}

PosixObject *PosixObjectFromHandle(HANDLE handle, uint32_t kind)
{
    PosixObject *object = static_cast<PosixObject *>(handle);
    if (object == &kernel32Module.header)
        return (kind == 0 || kind == POSIX_OBJECT_MODULE) ? object : (SetLastError(ERROR_INVALID_HANDLE), nullptr);
    bool live = false;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        ObjectRegistry &r = Registry();
        const uint64_t retirements = r.retirements.load();
        if (object == lastLive && retirements == lastLiveRetirements) {
            live = true;
        } else {
            std::shared_lock<std::shared_mutex> guard(r.lock);
            live = r.live.count(object) != 0;
            if (live) {
                lastLive = object;
                lastLiveRetirements = retirements;
            }
        }
    }
    if (!live || (kind != 0 && object->kind != kind)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

BOOL CloseHandle(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return TRUE; // the current process's pseudo-handle
    PosixObject *object = PosixObjectFromHandle(handle, 0);
    if (object == nullptr)
        return FALSE;
    return object->close(object);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    PosixObject *object = PosixObjectFromHandle(handle, 0);
    if (object == nullptr)
        return WAIT_FAILED;
    if (object->kind == POSIX_OBJECT_THREAD) {
        ThreadObject *t = reinterpret_cast<ThreadObject *>(object);
        pthread_mutex_lock(&t->mutex);
        DWORD result = WaitFlag(&t->mutex, &t->done, &t->finished, milliseconds);
        pthread_mutex_unlock(&t->mutex);
        return result;
    }
    if (object->kind == POSIX_OBJECT_EVENT) {
        EventObject *e = reinterpret_cast<EventObject *>(object);
        pthread_mutex_lock(&e->mutex);
        DWORD result = WaitFlag(&e->mutex, &e->cond, &e->signalled, milliseconds);
        if (result == WAIT_OBJECT_0 && !e->manualReset)
            e->signalled = 0;
        pthread_mutex_unlock(&e->mutex);
        return result;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

// ----------------------------------------------------------------- threads
HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, LPDWORD threadId)
{
    ThreadObject *t = new ThreadObject();
    PosixObjectInit(&t->header, POSIX_OBJECT_THREAD, CloseThread);
    t->start = start;
    t->parameter = parameter;
    pthread_mutex_init(&t->mutex, nullptr);
    InitMonotonicCond(&t->done);
    t->references = 2;
    t->exitCode = STILL_ACTIVE;
    t->id = static_cast<DWORD>(InterlockedIncrement(&nextThreadId));
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize >= static_cast<SIZE_T>(PTHREAD_STACK_MIN))
        pthread_attr_setstacksize(&attr, stackSize);
    int rc = pthread_create(&t->thread, &attr, ThreadTrampoline, t);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        pthread_mutex_destroy(&t->mutex);
        pthread_cond_destroy(&t->done);
        PosixObjectRetire(&t->header);
        delete t;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = t->id;
    return &t->header;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode)
{
    PosixObject *object = PosixObjectFromHandle(thread, POSIX_OBJECT_THREAD);
    if (object == nullptr)
        return FALSE;
    ThreadObject *t = reinterpret_cast<ThreadObject *>(object);
    pthread_mutex_lock(&t->mutex);
    *exitCode = t->finished ? t->exitCode : STILL_ACTIVE;
    pthread_mutex_unlock(&t->mutex);
    return TRUE;
}

DWORD GetCurrentThreadId(void)
{
    if (tlsThreadId == 0)
        tlsThreadId = static_cast<DWORD>(InterlockedIncrement(&nextThreadId));
    return tlsThreadId;
}

DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

BOOL GetThreadTimes(HANDLE thread, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel, LPFILETIME user)
{
    struct timespec ts;
    if (thread != GetCurrentThread() || clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const ULONGLONG ticks = static_cast<ULONGLONG>(ts.tv_sec) * 10000000ULL + static_cast<ULONGLONG>(ts.tv_nsec) / 100u;
    *creation = FILETIME{};
    *exit = FILETIME{};
    *kernel = FILETIME{};
    user->dwLowDateTime = static_cast<DWORD>(ticks);
    user->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

// ------------------------------------------------------------------ events
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR)
{
    EventObject *e = new EventObject();
    PosixObjectInit(&e->header, POSIX_OBJECT_EVENT, CloseEvent);
    pthread_mutex_init(&e->mutex, nullptr);
    InitMonotonicCond(&e->cond);
    e->manualReset = manualReset ? 1 : 0;
    e->signalled = initialState ? 1 : 0;
    return &e->header;
}

BOOL SetEvent(HANDLE event)
{
    PosixObject *object = PosixObjectFromHandle(event, POSIX_OBJECT_EVENT);
    if (object == nullptr)
        return FALSE;
    EventObject *e = reinterpret_cast<EventObject *>(object);
    pthread_mutex_lock(&e->mutex);
    e->signalled = 1;
    pthread_cond_broadcast(&e->cond);
    pthread_mutex_unlock(&e->mutex);
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    PosixObject *object = PosixObjectFromHandle(event, POSIX_OBJECT_EVENT);
    if (object == nullptr)
        return FALSE;
    EventObject *e = reinterpret_cast<EventObject *>(object);
    pthread_mutex_lock(&e->mutex);
    e->signalled = 0;
    pthread_mutex_unlock(&e->mutex);
    return TRUE;
}

// -------------------------------------------------------- critical sections
void InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}
void EnterCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_lock(&section->mutex); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) { return pthread_mutex_trylock(&section->mutex) == 0; }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_unlock(&section->mutex); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) { pthread_mutex_destroy(&section->mutex); }

// ------------------------------------------------------------- interlocked
LONG InterlockedIncrement(volatile LONG *value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(volatile LONG *value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(volatile LONG *target, LONG value) { return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); }
LONG InterlockedExchangeAdd(volatile LONG *target, LONG value) { return __atomic_fetch_add(target, value, __ATOMIC_SEQ_CST); }
LONG InterlockedCompareExchange(volatile LONG *target, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

// -------------------------------------------------------------------- time
void Sleep(DWORD milliseconds)
{
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

ULONGLONG GetTickCount64(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000ULL + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000ULL;
}
DWORD GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

void GetSystemTime(LPSYSTEMTIME st) { SystemTimeNow(gmtime_r, st); }

void GetSystemTimeAsFileTime(LPFILETIME ft)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    FileTimeFromTimespec(ts, ft);
}

// ----------------------------------------------------- modules, environment
DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n < 0) {
        SetLastError(WindowsErrorFromErrno(errno));
        return 0;
    }
    self[n] = '\0';
    char windows[PATH_MAX + 4];
    if (!WindowsPathFromPosix(self, windows, sizeof(windows)))
        return 0;
    size_t length = strlen(windows);
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length >= size) {
        // As on Windows: the name is cut to fit, terminated, and the full
        // buffer size is returned with ERROR_INSUFFICIENT_BUFFER.
        memcpy(buffer, windows, size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, windows, length + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(length);
}

HMODULE LoadLibraryA(LPCSTR name)
{
    // Only the system libraries the server asks for are known.
    if (name == nullptr || (strcasecmp(name, "kernel32") != 0 && strcasecmp(name, "kernel32.dll") != 0)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return &kernel32Module.header;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    PosixObject *object = PosixObjectFromHandle(module, POSIX_OBJECT_MODULE);
    if (object == nullptr || name == nullptr)
        return nullptr;
    // Hard links exist here; OpenFileById and GetFinalPathNameByHandle do
    // not, so the server's file id mode stays off on POSIX.
    if (strcmp(name, "CreateHardLinkA") == 0)
        return reinterpret_cast<FARPROC>(&CreateHardLinkA);
    if (strcmp(name, "CreateHardLinkW") == 0)
        return reinterpret_cast<FARPROC>(&CreateHardLinkW);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) { return CloseHandle(module); }

DWORD GetTempPathA(DWORD size, LPSTR buffer)
{
    const char *tmp = getenv("TMPDIR");
    if (tmp == nullptr || tmp[0] != '/')
        tmp = "/tmp";
    char windows[PATH_MAX + 4];
    if (!WindowsPathFromPosix(tmp, windows, sizeof(windows) - 1))
        return 0;
    size_t length = strlen(windows);
    if (length == 0 || windows[length - 1] != '\\') {
        windows[length++] = '\\';
        windows[length] = '\0';
    }
    if (length + 1 > size)
        return static_cast<DWORD>(length + 1);
    memcpy(buffer, windows, length + 1);
    return static_cast<DWORD>(length);
}

// Reported as Windows 10 (major 10, minor 0).
DWORD GetVersion(void) { return 0x4A64000Au; }

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE) { return ES_CONTINUOUS; }

// ------------------------------------------------------------------- paths
int PosixPathFromWindows(const char *windowsPath, char *buffer, size_t size)
{
    const char *p = windowsPath;
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (strncmp(p, "\\\\?\\", 4) == 0)
        p += 4;
    size_t out = 0;
    if (((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) && p[1] == ':') {
        if (p[0] != 'Z' && p[0] != 'z') {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return 0;
        }
        p += 2;
        if (*p != '\\' && *p != '/') {
            // "Z:" alone or drive-relative: both mean the root here.
            if (size < 2) {
                SetLastError(ERROR_FILENAME_EXCED_RANGE);
                return 0;
            }
            buffer[out++] = '/';
        }
    } else if ((p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/')) {
        // UNC paths name network shares, which this build does not reach.
        SetLastError(ERROR_BAD_NETPATH);
        return 0;
    }
    for (; *p != '\0'; p++) {
        if (out + 1 >= size) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        buffer[out++] = (*p == '\\') ? '/' : *p;
    }
    if (out >= size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    buffer[out] = '\0';
    return 1;
}

int WindowsPathFromPosix(const char *posixPath, char *buffer, size_t size)
{
    if (posixPath == nullptr || posixPath[0] != '/') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = strlen(posixPath);
    if (length + 3 > size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    buffer[0] = 'Z';
    buffer[1] = ':';
    for (size_t i = 0; i <= length; i++)
        buffer[2 + i] = (posixPath[i] == '/') ? '\\' : posixPath[i];
    return 1;
}

// Threads, synchronisation, time, errors, modules and path translation of the
// Win32 subset for the POSIX build.
#pragma once

#include <pthread.h>

#include "platform/posix/win32_types.h"

// --- Errors ---------------------------------------------------------------
DWORD GetLastError(void);
void SetLastError(DWORD error);
// The Windows error that best describes a POSIX errno value.
DWORD WindowsErrorFromErrno(int err);

// --- Kernel objects -------------------------------------------------------
// Every HANDLE of the POSIX layer points at an object that starts with this
// header, so CloseHandle and WaitForSingleObject can dispatch on its kind.
enum PosixObjectKind : uint32_t {
    POSIX_OBJECT_THREAD = 1,
    POSIX_OBJECT_EVENT,
    POSIX_OBJECT_FILE,
    POSIX_OBJECT_MAPPING,
    POSIX_OBJECT_FIND,
    POSIX_OBJECT_MODULE,
};
struct PosixObject {
    uint32_t magic;  // POSIX_OBJECT_MAGIC while the object lives
    uint32_t kind;   // PosixObjectKind
    // Releases the object; returns FALSE with the error set on failure.
    BOOL (*close)(PosixObject *self);
};
#define POSIX_OBJECT_MAGIC 0x4B4F424Au
// The object behind a handle when it is live and of the given kind (0: any),
// else null with ERROR_INVALID_HANDLE set.  Live objects are kept in a
// registry, so a handle that was already closed (or never was one) is
// refused as on Windows instead of being read.
PosixObject *PosixObjectFromHandle(HANDLE handle, uint32_t kind);
// Fills the header and enters the object in the registry of live objects.
void PosixObjectInit(PosixObject *object, uint32_t kind, BOOL (*close)(PosixObject *self));
// Takes the object out of the registry; call before freeing it.
void PosixObjectRetire(PosixObject *object);

BOOL CloseHandle(HANDLE handle);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// --- Threads --------------------------------------------------------------
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
DWORD GetCurrentThreadId(void);
DWORD GetCurrentProcessId(void);
// The calling thread's pseudo handle; GetThreadTimes takes only that one.
HANDLE GetCurrentThread(void);
// Times in 100 ns units: the thread's whole processor time is reported as
// user time (kernel time 0); creation and exit times are 0.
BOOL GetThreadTimes(HANDLE thread, LPFILETIME creation, LPFILETIME exit, LPFILETIME kernel, LPFILETIME user);
#define STILL_ACTIVE 259u

// --- Events ---------------------------------------------------------------
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// --- Critical sections (recursive, as on Windows) --------------------------
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

// --- Interlocked operations ------------------------------------------------
LONG InterlockedIncrement(volatile LONG *value);
LONG InterlockedDecrement(volatile LONG *value);
LONG InterlockedExchange(volatile LONG *target, LONG value);
LONG InterlockedCompareExchange(volatile LONG *target, LONG exchange, LONG comparand);
LONG InterlockedExchangeAdd(volatile LONG *target, LONG value);

// --- Time -----------------------------------------------------------------
void Sleep(DWORD milliseconds);
DWORD GetTickCount(void);
ULONGLONG GetTickCount64(void);
void GetSystemTime(LPSYSTEMTIME time);
void GetSystemTimeAsFileTime(LPFILETIME time);

// --- Modules and the environment --------------------------------------------
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetVersion(void);

// Keep-awake requests are accepted and have no effect on POSIX.
typedef DWORD EXECUTION_STATE;
#define ES_SYSTEM_REQUIRED 0x00000001u
#define ES_CONTINUOUS 0x80000000u
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags);

// --- Path translation --------------------------------------------------------
// The POSIX build sees the host file system as drive Z:, as Wine does:
// "Z:\srv\data" is "/srv/data".  A leading "\\?\" is accepted.  Relative
// paths keep their place and only change separators.  Other drives do not
// exist (ERROR_PATH_NOT_FOUND).  Returns 1 on success, 0 with the error set
// when the path names no POSIX path or the result does not fit.
int PosixPathFromWindows(const char *windowsPath, char *buffer, size_t size);
// The reverse: an absolute POSIX path becomes "Z:\...".  Returns 1 or 0.
int WindowsPathFromPosix(const char *posixPath, char *buffer, size_t size);

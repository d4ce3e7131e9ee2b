// nfsd_console.exe as a Windows service.  The service control manager starts
// the program with `-service [DATA-FOLDER]`; the main thread hands itself to
// the dispatcher, which runs ServiceMain on a thread of its own and the
// control handler on the main thread.
#include "app/service_win32.h"

#include <cstdio>
#include <cstring>

#include "app/headless.h"
#include "exports/export_table.h"
#include "log/log.h"
#include "platform/ranked_lock.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

int ProcessArgc = 0;
char **ProcessArgv = nullptr;
int StartResult = 0;

SERVICE_STATUS_HANDLE StatusHandle = nullptr;
RankedLock StatusLock(LOCK_RANK_LEAF, "service status");
SERVICE_STATUS Status;
HANDLE StopRequested = nullptr;
HANDLE ReloadRequested = nullptr;

// Reports a state to the service control manager; the check point counts up
// while a start or stop is pending.
void Report(DWORD state, DWORD waitHintMs, DWORD exitCode = NO_ERROR, DWORD specific = 0)
{
    LockTake(&StatusLock);
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Status.dwCurrentState = state;
    Status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE : 0;
    Status.dwWin32ExitCode = exitCode;
    Status.dwServiceSpecificExitCode = specific;
    Status.dwCheckPoint = pending ? Status.dwCheckPoint + 1 : 0;
    Status.dwWaitHint = waitHintMs;
    SetServiceStatus(StatusHandle, &Status);
    LockGive(&StatusLock);
}

// The longest a clean stop takes: the server thread's last wait for network
// input, then the services' own stop.
DWORD StopWaitHint(void) { return (DWORD)((RPCTIMEOUT > 0 ? RPCTIMEOUT : 1) + 10) * 1000u; }

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, StopWaitHint());
        SetEvent(StopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_PARAMCHANGE:
        // The service's thread reads the file: its client names may take a
        // while to resolve, and the control manager waits for this handler.
        SetEvent(ReloadRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR *)
{
    StatusHandle = RegisterServiceCtrlHandlerExA(NFSD_SERVICE_NAME, OnControl, nullptr);
    if (StatusHandle == nullptr)
        return;
    // Settings, log and the services' start: the port mapper's registrations
    // may wait for answers.
    Report(SERVICE_START_PENDING, 60000);
    StartResult = HeadlessStart(ProcessArgc, ProcessArgv);
    if (StartResult == 0) {
        Report(SERVICE_RUNNING, 0);
        HANDLE events[2] = {StopRequested, ReloadRequested};
        DWORD woken;
        while ((woken = WaitForMultipleObjects(2, events, FALSE, 1000)) == WAIT_OBJECT_0 + 1 ||
               woken == WAIT_TIMEOUT) {
            // Every second the log is written out: the control window's log
            // viewer, another process, sees the service's lines.
            FlushLog();
            if (woken == WAIT_TIMEOUT)
                continue;
            // The same load as at the start, under the export table's writer
            // lock: unchanged exports keep their ids, refused lines are
            // logged and kept in ExportsErrors.
            LogEvent(1, "nfsd   service reading the exports file again\n");
            ExportsLoad();
        }
        LogEvent(1, "nfsd   service stopping\n");
    } else {
        // Nobody sees the program's output: the log tells why.
        LogEvent(0, "nfsd   service not started: %s\n", HeadlessStatusText(StartResult).c_str());
        Report(SERVICE_STOP_PENDING, StopWaitHint());
    }
    HeadlessStop();
    if (StartResult == 0)
        Report(SERVICE_STOPPED, 0);
    else
        Report(SERVICE_STOPPED, 0, ERROR_SERVICE_SPECIFIC_ERROR, (DWORD)StartResult);
}

// Prints a failed call with Windows' text for the error.
int Failed(const char *what)
{
    DWORD error = GetLastError();
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                   (DWORD)sizeof(text), nullptr);
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = '\0';
    fprintf(stderr, "nfsd_console: %s failed: error %lu %s\n", what, (unsigned long)error, text);
    return SERVICE_EXIT_FAILED;
}

// Stops the service when it runs and waits up to 30 s until its process has
// ended, so that its program file is no longer in use.  A service still
// starting takes no stop: it is asked once it runs.
int StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)&status, sizeof(status), &needed))
        return Failed("QueryServiceStatusEx");
    if (status.dwCurrentState == SERVICE_STOPPED)
        return 0;
    HANDLE process = status.dwProcessId != 0 ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : nullptr;
    bool asked = false;
    bool stopped = false;
    for (int i = 0; i < 300 && !stopped; i++) {
        if (!asked && status.dwCurrentState == SERVICE_RUNNING) {
            SERVICE_STATUS control = {};
            asked = ControlService(service, SERVICE_CONTROL_STOP, &control) != 0;
        }
        if (process != nullptr)
            stopped = WaitForSingleObject(process, 100) == WAIT_OBJECT_0;
        else
            Sleep(100);
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, (BYTE *)&status, sizeof(status), &needed))
            break;
        if (process == nullptr)
            stopped = status.dwCurrentState == SERVICE_STOPPED;
    }
    if (process != nullptr)
        CloseHandle(process);
    if (!stopped) {
        fprintf(stderr, "nfsd_console: the service did not stop within 30 s\n");
        return SERVICE_EXIT_FAILED;
    }
    printf("Stopped the service %s\n", NFSD_SERVICE_NAME);
    return 0;
}

} // namespace

int ServiceRun(int argc, char **argv)
{
    ProcessArgc = argc;
    ProcessArgv = argv;
    StopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ReloadRequested = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    char name[] = NFSD_SERVICE_NAME;
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            fprintf(stderr, "nfsd_console: -service is for the service control manager; "
                            "install the service with -install [DATA-FOLDER]\n");
            return HEADLESS_EXIT_USAGE;
        }
        return Failed("StartServiceCtrlDispatcher");
    }
    return StartResult;
}

int ServiceInstall(const char *dataFolder)
{
    char program[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, program, (DWORD)sizeof(program));
    if (n == 0 || n >= sizeof(program))
        return Failed("GetModuleFileName");
    char folder[MAX_PATH];
    if (dataFolder != nullptr) {
        n = GetFullPathNameA(dataFolder, (DWORD)sizeof(folder), folder, nullptr);
        DWORD attributes = n == 0 || n >= sizeof(folder) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            fprintf(stderr, "nfsd_console: %s is not a folder\n", dataFolder);
            return HEADLESS_EXIT_USAGE;
        }
    } else {
        snprintf(folder, sizeof(folder), "%s", program);
        char *slash = strrchr(folder, '\\');
        if (slash != nullptr)
            slash[1] = '\0';
    }
    // A backslash before the closing quote would escape it: doubled, it
    // stands for itself.
    size_t length = strlen(folder);
    bool slash = length > 0 && folder[length - 1] == '\\';
    char command[3 * MAX_PATH];
    snprintf(command, sizeof(command), "\"%s\" -service \"%s%s\"", program, folder, slash ? "\\" : "");

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr)
        return Failed("OpenSCManager");
    SC_HANDLE service = CreateServiceA(manager, NFSD_SERVICE_NAME, NFSD_SERVICE_DISPLAY_NAME, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        int result = Failed("CreateService");
        CloseServiceHandle(manager);
        return result;
    }
    char text[] = "Serves folders of this computer to NFS clients (port mapper, mount, NFS versions 2 and 3, "
                  "lock manager).";
    SERVICE_DESCRIPTIONA description = {text};
    ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &description);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    printf("Installed the service %s, data folder %s\n", NFSD_SERVICE_NAME, folder);
    return 0;
}

int ServiceStop(void)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return Failed("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, NFSD_SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS);
    int result = service != nullptr ? StopAndWait(service) : Failed("OpenService");
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

int ServiceReload(void)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return Failed("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, NFSD_SERVICE_NAME, SERVICE_PAUSE_CONTINUE);
    SERVICE_STATUS status = {};
    int result = service == nullptr ? Failed("OpenService")
                 : !ControlService(service, SERVICE_CONTROL_PARAMCHANGE, &status) ? Failed("ControlService")
                                                                                  : 0;
    if (result == 0)
        printf("Asked the service %s to read its exports file again\n", NFSD_SERVICE_NAME);
    if (service != nullptr)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

int ServiceUninstall(void)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return Failed("OpenSCManager");
    SC_HANDLE service = OpenServiceA(manager, NFSD_SERVICE_NAME, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (service == nullptr) {
        int result = Failed("OpenService");
        CloseServiceHandle(manager);
        return result;
    }
    StopAndWait(service);
    int result = 0;
    if (DeleteService(service))
        printf("Removed the service %s\n", NFSD_SERVICE_NAME);
    else
        result = Failed("DeleteService");
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

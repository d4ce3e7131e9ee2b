// The control window's calls to the service control manager.
#include "ui/service_control_win32.h"

#include <cstdio>
#include <vector>

#include "ui/control.h"

namespace {

// The service name that `nfsd_console.exe -install` and the installer give.
const char SERVICE_NAME[] = "KorvaneNfsd";

// Opens the service with the given rights; null with the error kept.
SC_HANDLE OpenNfsService(DWORD rights)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr)
        return nullptr;
    SC_HANDLE service = OpenServiceA(manager, SERVICE_NAME, rights);
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return service;
}

bool Installed(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return false;
    CloseServiceHandle(service);
    return true;
}

DWORD StateOf(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

DWORD State(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return 0;
    DWORD state = StateOf(service);
    CloseServiceHandle(service);
    return state;
}

DWORD Start(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_START);
    if (service == nullptr)
        return GetLastError();
    DWORD error = StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

// A control sent to the service: 0 or the Windows error.
DWORD Send(DWORD rights, DWORD control)
{
    SC_HANDLE service = OpenNfsService(rights);
    if (service == nullptr)
        return GetLastError();
    SERVICE_STATUS status = {};
    DWORD error = ControlService(service, control, &status) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

DWORD Stop(void) { return Send(SERVICE_STOP, SERVICE_CONTROL_STOP); }

DWORD Reload(void) { return Send(SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_PARAMCHANGE); }

DWORD Restart(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS);
    if (service == nullptr)
        return GetLastError();
    DWORD error = 0;
    SERVICE_STATUS status = {};
    if (StateOf(service) != SERVICE_STOPPED && !ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        error = GetLastError();
    // The service's stop takes about two seconds; the manager gives a
    // service 30 s (the default of WaitToKillServiceTimeout).
    for (int i = 0; i < 300 && error == 0 && StateOf(service) != SERVICE_STOPPED; i++)
        Sleep(100);
    if (error == 0 && StateOf(service) != SERVICE_STOPPED)
        error = ERROR_SERVICE_REQUEST_TIMEOUT;
    if (error == 0 && !StartServiceA(service, 0, nullptr))
        error = GetLastError();
    CloseServiceHandle(service);
    return error;
}

bool DataFolder(char *folder, size_t size)
{
    SC_HANDLE service = OpenNfsService(SERVICE_QUERY_CONFIG);
    if (service == nullptr)
        return false;
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 1);
    QUERY_SERVICE_CONFIGA *config = reinterpret_cast<QUERY_SERVICE_CONFIGA *>(buffer.data());
    bool ok = needed != 0 && QueryServiceConfigA(service, config, needed, &needed) &&
              config->lpBinaryPathName != nullptr;
    CloseServiceHandle(service);
    std::string path = ok ? ServiceDataFolder(config->lpBinaryPathName) : std::string();
    return !path.empty() && (size_t)snprintf(folder, size, "%s", path.c_str()) < size;
}

} // namespace

ServiceControlCalls UiServiceControl = {Installed, State, Start, Stop, Restart, Reload, DataFolder};

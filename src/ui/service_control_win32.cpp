// The control window's calls to the service control manager.
#include "ui/service_control_win32.h"

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

DWORD Start(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_START);
    if (service == nullptr)
        return GetLastError();
    DWORD error = StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

DWORD Stop(void)
{
    SC_HANDLE service = OpenNfsService(SERVICE_STOP);
    if (service == nullptr)
        return GetLastError();
    SERVICE_STATUS status = {};
    DWORD error = ControlService(service, SERVICE_CONTROL_STOP, &status) ? 0 : GetLastError();
    CloseServiceHandle(service);
    return error;
}

} // namespace

ServiceControlCalls UiServiceControl = {Installed, Start, Stop};

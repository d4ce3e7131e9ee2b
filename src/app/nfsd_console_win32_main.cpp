// The headless server on Windows: `nfsd_console.exe [DATA-DIRECTORY]`.  Runs
// until Ctrl+C, Ctrl+Break or the console closes, then stops the services
// cleanly.
#include "app/headless.h"
#include "platform/win32.h"

namespace {

HANDLE StopRequested = nullptr;
HANDLE StopDone = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        SetEvent(StopRequested);
        // The process ends when this handler returns after a close, log-off
        // or shutdown: let the stop finish first.
        WaitForSingleObject(StopDone, 10000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

int main(int argc, char **argv)
{
    StopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    StopDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int status = HeadlessStart(argc, argv);
    if (status == 0)
        WaitForSingleObject(StopRequested, INFINITE);
    HeadlessStop();
    SetEvent(StopDone);
    return status;
}

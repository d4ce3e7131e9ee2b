// The headless server on Windows: `nfsd_console.exe [DATA-DIRECTORY]`.  Runs
// until Ctrl+C, Ctrl+Break or the console closes, then stops the services
// cleanly.  As a Windows service:
//   nfsd_console.exe -install [DATA-FOLDER]   installs the service
//   nfsd_console.exe -uninstall               stops and removes it
//   nfsd_console.exe -stop                    stops it and waits until its process has ended
//   nfsd_console.exe -reload                  makes the running service read its exports file again
//   nfsd_console.exe -service [DATA-FOLDER]   what the service control manager runs
#include <cstdio>
#include <cstring>

#include "app/headless.h"
#include "app/service_win32.h"
#include "log/log.h"
#include "platform/win32.h"

namespace {

const char USAGE[] = "usage: nfsd_console.exe [DATA-FOLDER]           serves until Ctrl+C\n"
                     "       nfsd_console.exe -install [DATA-FOLDER]  installs the service\n"
                     "       nfsd_console.exe -uninstall              stops and removes the service\n"
                     "       nfsd_console.exe -stop                   stops the service, waits for it\n"
                     "       nfsd_console.exe -reload                 the service reads exports again\n";

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
    if (argc >= 2 && strcmp(argv[1], "-install") == 0 && argc <= 3)
        return ServiceInstall(argc == 3 ? argv[2] : nullptr);
    if (argc == 2 && strcmp(argv[1], "-uninstall") == 0)
        return ServiceUninstall();
    if (argc == 2 && strcmp(argv[1], "-stop") == 0)
        return ServiceStop();
    if (argc == 2 && strcmp(argv[1], "-reload") == 0)
        return ServiceReload();
    if (argc >= 2 && strcmp(argv[1], "-service") == 0)
        return ServiceRun(argc, argv);
    if (argc == 2 && (strcmp(argv[1], "-help") == 0 || strcmp(argv[1], "/?") == 0)) {
        fputs(USAGE, stdout);
        return 0;
    }
    StopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    StopDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    int status = HeadlessStart(argc, argv);
    // Every second the log is written out, so that a viewer of the log file
    // sees the server's lines while it runs.
    if (status == 0)
        while (WaitForSingleObject(StopRequested, 1000) == WAIT_TIMEOUT)
            FlushLog();
    HeadlessStop();
    SetEvent(StopDone);
    return status;
}

// The Windows service of nfsd_console.exe (the one `nfsd_console.exe
// -install` makes) as the control window's Service menu reaches it.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// The calls to the service control manager; tests put in their own.
struct ServiceControlCalls {
    bool (*installed)(void);  // whether the service exists
    DWORD (*state)(void);     // SERVICE_RUNNING etc.; 0 when it cannot be asked
    DWORD (*start)(void);     // StartService: 0 or the Windows error
    DWORD (*stop)(void);      // ControlService STOP: 0 or the Windows error
    // Stops the service when it runs, waits until it has stopped (at most
    // 30 s), then starts it: 0 or the Windows error.
    DWORD (*restart)(void);
    // ControlService PARAMCHANGE (the service reads its exports file
    // again): 0 or the Windows error.
    DWORD (*reload)(void);
    // The data folder the service runs on (from its command line), ending in
    // a backslash: false when it cannot be had.
    bool (*dataFolder)(char *folder, size_t size);
};
extern ServiceControlCalls UiServiceControl;

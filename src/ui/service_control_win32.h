// The Windows service of nfsd_console.exe (the one `nfsd_console.exe
// -install` makes) as the control window's Service menu reaches it.
#pragma once

#include "platform/win32.h"

// The calls to the service control manager; tests put in their own.
struct ServiceControlCalls {
    bool (*installed)(void);  // whether the service exists
    DWORD (*start)(void);     // StartService: 0 or the Windows error
    DWORD (*stop)(void);      // ControlService STOP: 0 or the Windows error
};
extern ServiceControlCalls UiServiceControl;

// nfsd.exe: the server with its control window.
#include "platform/win32.h"
#include "ui/control_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    if (!ControlStart(instance, commandLine, show))
        return 0;
    return ControlMessageLoop();
}

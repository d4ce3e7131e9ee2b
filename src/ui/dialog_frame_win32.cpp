// Shared pieces of the dialogs.
#include "ui/dialog_frame_win32.h"

#include <commctrl.h>

#include <cstdio>

#include "ui/control_win32.h"
#include "ui/language.h"
#include "ui/resource.h"

HWND AddStatusBar(HWND dialog)
{
    return CreateStatusWindowA(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "", dialog, IDC_STATUS);
}

POINT DialogUnits(HWND dialog, int x, int y)
{
    RECT r = {0, 0, x, y};
    MapDialogRect(dialog, &r);
    return POINT{r.right, r.bottom};
}

int WindowHeight(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

int WindowWidth(HWND window)
{
    RECT r;
    GetWindowRect(window, &r);
    return r.right - r.left;
}

void MoveControl(HWND control, int x, int y, int rowHeight)
{
    int height = WindowHeight(control);
    SetWindowPos(control, nullptr, x, rowHeight > height ? y + (rowHeight - height) / 2 : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(control, nullptr, TRUE);
}

bool AskOverwrite(HWND owner, const char *fileName)
{
    char text[1024];
    snprintf(text, sizeof(text), Text(50, "CHANGED").c_str(), fileName);
    return UiMessageBox(owner, MB_YESNO | MB_ICONEXCLAMATION, text) == IDYES;
}

void ReportNotSaved(HWND owner, const char *fileName)
{
    char text[1024];
    snprintf(text, sizeof(text), Text(51, "NOTSAVED").c_str(), fileName);
    UiMessageBox(owner, MB_OK | MB_ICONHAND, text);
}

INT_PTR RunDialog(HWND owner, int resource, DLGPROC procedure, LPARAM parameter)
{
    INT_PTR result = DialogBoxParamA(Ui.instance, MAKEINTRESOURCEA(resource), owner, procedure, parameter);
    if (result == -1)
        UiMessageBox(owner, 0, Language.failed);
    return result;
}

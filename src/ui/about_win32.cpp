// The about box: title and version, a notice, the web address as a link.
#include "platform/win32.h"
#include <shellapi.h>

#include <cstdio>

#include "ui/control_win32.h"
#include "ui/dialog_frame_win32.h"
#include "ui/language.h"
#include "ui/resource.h"
#include "ui/ui_strings.h"

bool AboutLinkPressed = false;

namespace {

HBRUSH White = nullptr;

void DrawLink(const DRAWITEMSTRUCT *item)
{
    FillRect(item->hDC, &item->rcItem, White);
    bool pressed = AboutLinkPressed || (item->itemState & ODS_SELECTED);
    COLORREF colour = pressed ? GetSysColor(COLOR_WINDOWTEXT) : RGB(0, 0, 0xFF);
    SetTextColor(item->hDC, colour);
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextAlign(item->hDC, TA_CENTER | TA_TOP);
    HFONT font = (HFONT)SendMessageA(item->hwndItem, WM_GETFONT, 0, 0);
    HGDIOBJ old = SelectObject(item->hDC, font);
    const char *text = UI_WEB_ADDRESS;
    int height = item->rcItem.bottom - item->rcItem.top;
    int middle = (item->rcItem.left + item->rcItem.right) / 2;
    int top = item->rcItem.top + height / 3;
    SIZE size;
    GetTextExtentPoint32A(item->hDC, text, (int)strlen(text), &size);
    TextOutA(item->hDC, middle, top, text, (int)strlen(text));
    int free = height - (top - item->rcItem.top) - size.cy;
    int underline = item->rcItem.bottom - free / 4 - 1;
    if (underline <= top + size.cy - 2)
        underline = top + size.cy - 1;
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ oldPen = SelectObject(item->hDC, pen);
    MoveToEx(item->hDC, middle - size.cx / 2, underline, nullptr);
    LineTo(item->hDC, middle + size.cx / 2, underline);
    SelectObject(item->hDC, oldPen);
    DeleteObject(pen);
    SelectObject(item->hDC, old);
}

void Close(HWND dialog)
{
    if (White != nullptr)
        DeleteObject(White);
    White = nullptr;
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        White = CreateSolidBrush(RGB(255, 255, 255));
        if (White == nullptr)
            White = GetSysColorBrush(COLOR_BTNFACE);
        SetWindowTextA(dialog, Language.title);
        SetDlgItemTextA(dialog, IDC_ABOUT_TITLE, UI_TITLE " " UI_VERSION);
        UiDialogReady(dialog, IDD_ABOUT);
        return TRUE;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        SetBkMode((HDC)wParam, TRANSPARENT);
        return (INT_PTR)White;
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
        if (item->CtlID == IDC_ABOUT_LINK)
            DrawLink(item);
        else
            FillRect(item->hDC, &item->rcItem, White);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_ABOUT_LINK) {
            AboutLinkPressed = true;
            InvalidateRect(GetDlgItem(dialog, IDC_ABOUT_LINK), nullptr, TRUE);
            ShellExecuteA(dialog, "open", UI_WEB_ADDRESS, nullptr, nullptr, SW_SHOWNORMAL);
        } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            Close(dialog);
        }
        return TRUE;
    case WM_CLOSE:
        Close(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenAbout(HWND owner) { RunDialog(owner, IDD_ABOUT, AboutProc, 0); }

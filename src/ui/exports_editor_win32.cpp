// The exports file editor: the whole file as text.
#include "platform/win32.h"
#include <commctrl.h>

#include <string>

#include "ui/control_win32.h"
#include "ui/dialog_frame_win32.h"
#include "ui/exports_editor.h"
#include "ui/language.h"
#include "ui/resource.h"

namespace {

ExportsSnapshot Opened;

void Layout(HWND dialog, int width, int height)
{
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    SendMessageA(status, WM_SIZE, 0, 0);
    int statusHeight = WindowHeight(status);
    POINT m = DialogUnits(dialog, 5, 5);
    HWND save = GetDlgItem(dialog, IDOK), cancel = GetDlgItem(dialog, IDCANCEL);
    int saveWidth = WindowWidth(save), saveHeight = WindowHeight(save);
    int saveTop = height - statusHeight - m.y - saveHeight;
    MoveWindow(GetDlgItem(dialog, IDC_EXPORTS_TEXT), m.x, m.y, width - 2 * m.x, saveTop - 2 * m.y, TRUE);
    MoveWindow(cancel, width - m.x - saveWidth, saveTop, saveWidth, saveHeight, TRUE);
    MoveWindow(save, width - 2 * (m.x + saveWidth), saveTop, saveWidth, saveHeight, TRUE);
}

std::string EditedText(HWND dialog)
{
    HWND edit = GetDlgItem(dialog, IDC_EXPORTS_TEXT);
    std::string text((size_t)GetWindowTextLengthA(edit) + 1, '\0');
    text.resize((size_t)GetWindowTextA(edit, &text[0], (int)text.size()));
    return text;
}

// Cancel, Escape and the close box: edits are dropped only when the
// administrator says so.
void Cancel(HWND dialog)
{
    if (EditedText(dialog) != Opened.text &&
        UiMessageBox(dialog, MB_YESNO | MB_ICONQUESTION, Text(61, "DISCARD_ASK").c_str()) == IDNO)
        return;
    EndDialog(dialog, IDCANCEL);
}

void Save(HWND dialog)
{
    std::string text = EditedText(dialog);
    SaveOutcome outcome = SaveExportsText(text, Opened, false);
    if (outcome == SAVE_CHANGED_ON_DISK) {
        if (!AskOverwrite(dialog, "exports"))
            return;
        outcome = SaveExportsText(text, Opened, true);
    }
    if (outcome == SAVE_FAILED) {
        ReportNotSaved(dialog, "exports");
        return;
    }
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK EditorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetDialogTexts(dialog, IDD_EXPORTS_EDITOR);
        Opened = OpenExportsFile();
        HWND edit = GetDlgItem(dialog, IDC_EXPORTS_TEXT);
        SendMessageA(edit, EM_SETLIMITTEXT, 0, 0);  // no limit below the file's size
        SetWindowTextA(edit, Opened.text.c_str());
        AddStatusBar(dialog);
        RECT client;
        GetClientRect(dialog, &client);
        Layout(dialog, client.right, client.bottom);
        // The caret at the start, nothing selected.
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 0, 0);
        UiDialogReady(dialog, IDD_EXPORTS_EDITOR);
        return FALSE;
    }
    case WM_SIZE:
        Layout(dialog, LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO: {
        POINT minimum = DialogUnits(dialog, 300, 175);
        reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = minimum;
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            Save(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            Cancel(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void OpenExportsEditor(HWND owner)
{
    if (RunDialog(owner, IDD_EXPORTS_EDITOR, EditorProc, 0) == IDOK)
        ControlExportsChanged(owner);
}

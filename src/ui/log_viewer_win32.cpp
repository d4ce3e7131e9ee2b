// The log viewer and the printing of a log file.
#include "platform/win32.h"
#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "ui/control_win32.h"
#include "ui/dialog_frame_win32.h"
#include "ui/log_viewer.h"
#include "ui/main_view.h"
#include "ui/resource.h"

bool (*UiChoosePrinter)(HWND owner, PrinterChoice *choice) = nullptr;

namespace {

HIMAGELIST SmallImages = nullptr;
HIMAGELIST LargeImages = nullptr;

HIMAGELIST Images(int width, int height)
{
    HIMAGELIST list = ImageList_Create(width, height, ILC_MASK | ILC_COLOR32, 2, 0);
    const int icons[2] = {IDI_LOG_LINE, IDI_LOG_ERROR};
    for (int icon : icons) {
        HICON image = (HICON)LoadImageA(Ui.instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, width, height, 0);
        ImageList_AddIcon(list, image);
        DestroyIcon(image);
    }
    return list;
}

// The width of the longest message of the file shown, in pixels.
int LongestText = 0;

// The message column takes the width the other columns leave, or its
// longest line's when that is wider.
void FitMessageColumn(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    int rest = client.right;
    for (int c = 0; c < 3; c++)
        rest -= (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, (WPARAM)c, 0);
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 3, MAKELPARAM(rest > LongestText ? rest : LongestText, 0));
}

void Fill(HWND dialog, const std::string &name)
{
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    std::vector<LogRow> rows = ReadLogRows(LogDir, name);
    SendMessageA(list, LVM_SETITEMCOUNT, rows.size() > 1000 ? rows.size() : 1000, 0);
    for (size_t i = 0; i < rows.size(); i++) {
        LVITEMA item = {};
        item.mask = LVIF_IMAGE | LVIF_TEXT;
        item.iItem = (int)i;
        item.iImage = rows[i].error ? 1 : 0;
        item.pszText = const_cast<char *>("");
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        const std::string *texts[3] = {&rows[i].date, &rows[i].time, &rows[i].text};
        for (int c = 0; c < 3; c++) {
            LVITEMA cell = {};
            cell.iSubItem = c + 1;
            cell.pszText = const_cast<char *>(texts[c]->c_str());
            SendMessageA(list, LVM_SETITEMTEXTA, i, (LPARAM)&cell);
        }
    }
    // The message column is never narrower than its longest line: a line
    // wider than the window is read whole with the horizontal scroll bar.
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 3, MAKELPARAM(LVSCW_AUTOSIZE, 0));
    LongestText = (int)SendMessageA(list, LVM_GETCOLUMNWIDTH, 3, 0);
    FitMessageColumn(list);
    if (!rows.empty())
        SendMessageA(list, LVM_ENSUREVISIBLE, rows.size() - 1, FALSE);
}

std::string ChosenFile(HWND dialog)
{
    char name[128] = "";
    HWND box = GetDlgItem(dialog, IDC_FILE);
    int chosen = (int)SendMessageA(box, CB_GETCURSEL, 0, 0);
    if (chosen >= 0 && SendMessageA(box, CB_GETLBTEXTLEN, (WPARAM)chosen, 0) < (LRESULT)sizeof(name))
        SendMessageA(box, CB_GETLBTEXT, (WPARAM)chosen, (LPARAM)name);
    return name;
}

// The list fills the dialog above the row of the file box and the buttons,
// which keep their sizes and follow the bottom edge (the buttons the right).
void Layout(HWND dialog, int width, int height)
{
    HWND status = GetDlgItem(dialog, IDC_STATUS), list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (status == nullptr)
        return;  // before WM_INITDIALOG
    SendMessageA(status, WM_SIZE, 0, 0);
    POINT m = DialogUnits(dialog, 5, 5);
    HWND ok = GetDlgItem(dialog, IDOK), print = GetDlgItem(dialog, IDC_PRINT);
    int row = height - WindowHeight(status) - m.y - WindowHeight(ok);
    MoveWindow(list, m.x, m.y, width - 2 * m.x, row - 2 * m.y, TRUE);
    FitMessageColumn(list);
    InvalidateRect(list, nullptr, TRUE);
    MoveControl(GetDlgItem(dialog, IDC_FILE_LABEL), m.x, row, WindowHeight(ok));
    MoveControl(GetDlgItem(dialog, IDC_FILE), 10 * m.x, row, WindowHeight(ok));
    MoveControl(ok, width - m.x - WindowWidth(ok), row, 0);
    MoveControl(print, width - 2 * m.x - WindowWidth(ok) - WindowWidth(print), row, 0);
}

void Open(HWND dialog)
{
    SetDialogTexts(dialog, IDD_LOG_VIEWER);
    std::string current = CurrentLogName();
    HWND box = GetDlgItem(dialog, IDC_FILE);
    for (const std::string &name : ListLogFiles(LogDir, current))
        SendMessageA(box, CB_ADDSTRING, 0, (LPARAM)name.c_str());
    LRESULT at = SendMessageA(box, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)current.c_str());
    SendMessageA(box, CB_SETCURSEL, at == CB_ERR ? 0 : (WPARAM)at, 0);

    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    if (SmallImages == nullptr) {
        SmallImages = Images(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
        LargeImages = Images(GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    }
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)SmallImages);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_NORMAL, (LPARAM)LargeImages);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client;
    GetClientRect(list, &client);
    std::vector<int> widths = ColumnWidths(client.right, GetSystemMetrics(SM_CXVSCROLL), {4, 13, 11, 60});
    for (int i = 0; i < 4; i++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH | LVCF_SUBITEM | LVCF_TEXT;
        column.cx = i == 0 ? (widths[0] > 22 ? widths[0] : 22) : widths[i];
        column.pszText = const_cast<char *>("");
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column);
    }
    Fill(dialog, ChosenFile(dialog));
    AddStatusBar(dialog);
    RECT r;
    GetClientRect(dialog, &r);
    Layout(dialog, r.right, r.bottom);
}

// Ctrl+C: the selected lines, whole and as the log file holds them, to the
// clipboard as text.
void CopySelectedLines(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_LOG_LIST);
    std::string text;
    for (int row = -1; (row = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)row, LVNI_SELECTED)) >= 0;) {
        std::string date = ListText(list, row, 1);
        text += (text.empty() ? "" : "\r\n") + (date.empty() ? "" : date + " " + ListText(list, row, 2) + " ") +
                ListText(list, row, 3);
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (text.empty() || memory == nullptr || !OpenClipboard(dialog)) {
        if (memory != nullptr)
            GlobalFree(memory);
        return;
    }
    memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    EmptyClipboard();
    if (SetClipboardData(CF_TEXT, memory) == nullptr)
        GlobalFree(memory);
    CloseClipboard();
}

INT_PTR CALLBACK LogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Open(dialog);
        UiDialogReady(dialog, IDD_LOG_VIEWER);
        return TRUE;
    case WM_SIZE:
        Layout(dialog, LOWORD(lParam), HIWORD(lParam));
        return TRUE;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize = DialogUnits(dialog, 380, 100);
        return TRUE;
    case WM_NOTIFY: {
        const NMLVKEYDOWN *key = reinterpret_cast<const NMLVKEYDOWN *>(lParam);
        if (key->hdr.code == (UINT)LVN_KEYDOWN && key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0)
            CopySelectedLines(dialog);
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILE:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                Fill(dialog, ChosenFile(dialog));
            return TRUE;
        case IDC_PRINT:
            PrintLogFile(dialog, ChosenFile(dialog), 30000);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, IDOK);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

bool ChoosePrinter(HWND owner, PrinterChoice *choice)
{
    if (UiChoosePrinter != nullptr)
        return UiChoosePrinter(owner, choice);
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = owner;
    dialog.Flags = PD_RETURNDC | PD_COLLATE;
    dialog.nCopies = 1;
    if (!PrintDlgA(&dialog))
        return false;
    if (dialog.hDevMode != nullptr)
        GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames != nullptr)
        GlobalFree(dialog.hDevNames);
    choice->dc = dialog.hDC;
    choice->copies = dialog.nCopies;
    choice->collate = (dialog.Flags & PD_COLLATE) != 0;
    return dialog.hDC != nullptr;
}

}  // namespace

bool PrintLogFile(HWND owner, const std::string &name, size_t maxLines)
{
    PrinterChoice choice = {};
    if (!ChoosePrinter(owner, &choice))
        return false;
    std::vector<std::string> lines = ReadPrintLines(std::string(LogDir) + name, maxLines < 30000 ? maxLines : 30000);
    TEXTMETRICA metrics;
    GetTextMetricsA(choice.dc, &metrics);
    int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    size_t perPage = LinesPerPage(GetDeviceCaps(choice.dc, VERTRES), lineHeight);
    DOCINFOA document = {};
    document.cbSize = sizeof(document);
    document.lpszDocName = name.c_str();
    bool finished = false;
    if (StartDocA(choice.dc, &document) > 0) {
        finished = true;
        for (const PrintedPage &page : PrintOrder(lines.size(), perPage, choice.copies, choice.collate)) {
            if (StartPage(choice.dc) <= 0) {
                finished = false;
                break;
            }
            char header[256];
            int n = snprintf(header, sizeof(header), "%s  --  %u", name.c_str(), page.number);
            TextOutA(choice.dc, 0, 0, header, n);
            for (size_t i = 0; i < page.lineCount; i++) {
                const std::string &line = lines[page.firstLine + i];
                TextOutA(choice.dc, 0, (int)(2 + i) * lineHeight, line.c_str(), (int)line.size());
            }
            if (EndPage(choice.dc) <= 0) {
                finished = false;
                break;
            }
        }
        if (finished)
            EndDoc(choice.dc);
        else
            AbortDoc(choice.dc);
    }
    DeleteDC(choice.dc);
    return finished;
}

void OpenLogViewer(HWND owner) { RunDialog(owner, IDD_LOG_VIEWER, LogProc, 0); }

// The preferences: a property sheet of six pages.
#include "platform/win32.h"
#include <commctrl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "exports/export_table.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"
#include "ui/control_win32.h"
#include "ui/language.h"
#include "ui/main_view.h"
#include "ui/preferences.h"
#include "ui/resource.h"

namespace {

const UINT_PTR LIST_TIMER = 2;
const int PAGES[6] = {IDD_PAGE_NFS,    IDD_PAGE_SERVER,     IDD_PAGE_EXPORTS,
                      IDD_PAGE_MOUNTS, IDD_PAGE_PORTMAPPER, IDD_PAGE_LANGUAGE};

int SheetsOpen = 0;
// The record the settings pages were filled from (and last applied), and
// what the store held when the sheet opened (or at the last apply).
ServerSettingsRecord Shown;
std::map<std::string, int32_t> Stored;
bool Filling = false;

int PageOf(HWND page) { return (int)GetWindowLongPtrA(page, DWLP_USER); }

void SetResult(HWND page, LONG_PTR result) { SetWindowLongPtrA(page, DWLP_MSGRESULT, result); }

PageControls ReadControls(HWND page)
{
    PageControls controls = ControlsFromSettings(PageOf(page), Shown);
    for (auto &check : controls.checks)
        check.second = IsDlgButtonChecked(page, check.first) == BST_CHECKED;
    for (auto &text : controls.texts) {
        char value[64];
        GetDlgItemTextA(page, text.first, value, sizeof(value));
        text.second = value;
    }
    return controls;
}

void WriteControls(HWND page, const PageControls &controls)
{
    Filling = true;
    for (const auto &check : controls.checks)
        CheckDlgButton(page, check.first, check.second ? BST_CHECKED : BST_UNCHECKED);
    for (const auto &text : controls.texts)
        SetDlgItemTextA(page, text.first, text.second.c_str());
    // The lock manager's port means nothing while the lock manager is off.
    if (PageOf(page) == IDD_PAGE_NFS)
        EnableWindow(GetDlgItem(page, IDC_NLMPORT), IsDlgButtonChecked(page, IDC_NLM) == BST_CHECKED);
    Filling = false;
}

// A number field out of its range: says so and puts the caret in it.  True
// when the page was refused.
bool RefuseBadNumber(HWND page)
{
    NumberField bad;
    if (!FindBadNumberField(PageOf(page), ReadControls(page), &bad))
        return false;
    UiMessageBox(GetParent(page), MB_OK | MB_ICONEXCLAMATION, NumberFieldMessage(bad).c_str());
    HWND field = GetDlgItem(page, bad.id);
    SetFocus(field);
    SendMessageA(field, EM_SETSEL, 0, -1);
    return true;
}

void SetListColumns(HWND list, const std::vector<std::pair<std::string, int>> &columns)
{
    RECT client;
    GetClientRect(list, &client);
    std::vector<int> percent;
    for (const auto &c : columns)
        percent.push_back(c.second);
    std::vector<int> widths = ColumnWidths(client.right, GetSystemMetrics(SM_CXVSCROLL), percent);
    for (size_t i = 0; i < columns.size(); i++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.cx = widths[i];
        column.pszText = const_cast<char *>(columns[i].first.c_str());
        column.iSubItem = (int)i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column);
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

void FillList(HWND list, const std::vector<std::vector<std::string>> &rows, int expected)
{
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(list, LVM_SETITEMCOUNT, (WPARAM)expected, 0);
    for (size_t r = 0; r < rows.size(); r++) {
        for (size_t c = 0; c < rows[r].size(); c++) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = (int)r;
            item.iSubItem = (int)c;
            item.pszText = const_cast<char *>(rows[r][c].c_str());
            SendMessageA(list, c == 0 ? LVM_INSERTITEMA : LVM_SETITEMTEXTA, c == 0 ? 0 : r, (LPARAM)&item);
        }
    }
}

// Every error of the exports file's last load, one a line, in a box that
// takes the lower part of the list (hidden when the load had none).
void ShowErrorLines(HWND page)
{
    std::string text;
    for (const std::string &line : ExportsErrorLines())
        text += (text.empty() ? "" : "\r\n") + line;
    HWND box = GetDlgItem(page, IDC_ERROR_LINE);
    std::string shown((size_t)GetWindowTextLengthA(box) + 1, '\0');
    shown.resize((size_t)GetWindowTextA(box, &shown[0], (int)shown.size()));
    if (shown != text)
        SetWindowTextA(box, text.c_str());
    ShowWindow(box, text.empty() ? SW_HIDE : SW_SHOW);
    RECT list = {7, 18, 255, text.empty() ? 130 : 92};
    MapDialogRect(page, &list);
    SetWindowPos(GetDlgItem(page, IDC_LIST), nullptr, 0, 0, list.right - list.left, list.bottom - list.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Fills a list page from the server's own services; true when they answered.
bool RefillListPage(HWND page)
{
    HWND list = GetDlgItem(page, IDC_LIST);
    std::vector<ClientViewRow> rows;
    bool answered = false;
    switch (PageOf(page)) {
    case IDD_PAGE_EXPORTS:
        answered = QueryExportList(ServerSettings.MountPort, rows);
        FillList(list, rows, 30);
        // The folder column as wide as its longest folder.
        if (!rows.empty())
            SendMessageA(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
        ShowErrorLines(page);
        break;
    case IDD_PAGE_MOUNTS:
        answered = QueryMountList(ServerSettings.MountPort, rows);
        FillList(list, rows, 30);
        // The mount point column (the last) as wide as its longest folder,
        // never narrower than the page made it.
        if (!rows.empty()) {
            LRESULT width = SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0);
            SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE);
            if (SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0) < width)
                SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, width);
        }
        break;
    case IDD_PAGE_PORTMAPPER:
        QueryPortMapper(rows);
        FillList(list, rows, 20);
        answered = true;
        break;
    default:
        break;
    }
    return answered;
}

bool IsListPage(int page)
{
    return page == IDD_PAGE_EXPORTS || page == IDD_PAGE_MOUNTS || page == IDD_PAGE_PORTMAPPER;
}

bool IsSettingsPage(int page) { return page == IDD_PAGE_NFS || page == IDD_PAGE_SERVER || page == IDD_PAGE_EXPORTS; }

void InitPage(HWND page, int resource)
{
    SetWindowLongPtrA(page, DWLP_USER, resource);
    SetDialogTexts(page, resource);
    if (IsSettingsPage(resource))
        WriteControls(page, ControlsFromSettings(resource, Shown));
    HWND list = GetDlgItem(page, IDC_LIST);
    switch (resource) {
    case IDD_PAGE_SERVER: {
        OSVERSIONINFOA version = {};
        version.dwOSVersionInfoSize = sizeof(version);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
        GetVersionExA(&version);
        if (version.dwMajorVersion < 6)
            ShowWindow(GetDlgItem(page, IDC_FILEID), SW_HIDE);
        EnableWindow(GetDlgItem(page, IDC_FILEID), FsFindFileIdApi());
        break;
    }
    case IDD_PAGE_EXPORTS:
        SetListColumns(list, {{Text(6, "FOLDER"), 30}, {Text(7, "OPTIONS"), 30}, {Text(15, "CLIENTS"), 40}});
        ShowErrorLines(page);
        break;
    case IDD_PAGE_MOUNTS:
        SetListColumns(list, {{Text(8, "CLIENT"), 50}, {Text(16, "MOUNT"), 50}});
        break;
    case IDD_PAGE_PORTMAPPER:
        SetListColumns(list, {{Text(9, "PROGRAM"), 20}, {Text(10, "VERSION"), 15}, {Text(12, "PROT"), 20},
                              {Text(11, "PORT"), 15}, {Text(58, "SERVICE_NAME"), 30}});
        break;
    case IDD_PAGE_LANGUAGE: {
        SetDlgItemTextA(page, IDC_CURRENT, CurrentLanguageName().c_str());
        SetListColumns(list, {{Text(19, "MODULE"), 36}, {Text(18, "LANGUAGE"), 44}, {Text(10, "VERSION"), 25}});
        std::vector<std::vector<std::string>> rows;
        for (const LanguageRow &row : ListLanguages())
            rows.push_back({row.file, row.language, row.version});
        FillList(list, rows, 10);
        // The language in use starts selected; choosing another enables Apply.
        Filling = true;
        for (size_t r = 0; r < rows.size(); r++) {
            if (rows[r][1] != CurrentLanguageName())
                continue;
            LVITEMA item = {};
            item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, r, (LPARAM)&item);
        }
        Filling = false;
        break;
    }
    default:
        break;
    }
}

// Apply of a settings page: its controls into the record, the changed keys
// into the store.  False keeps the sheet open.
bool ApplyPage(HWND page)
{
    if (RefuseBadNumber(page))
        return false;
    ServerSettingsRecord wanted = ServerSettings;
    SettingsFromControls(PageOf(page), ReadControls(page), wanted);
    std::vector<std::string> conflicts;
    ApplyOutcome outcome = ApplySettings(Shown, wanted, Stored, false, &conflicts);
    if (outcome == APPLY_CONFLICT) {
        char text[1024];
        snprintf(text, sizeof(text), Text(50, "CHANGED").c_str(), "nfsd.ini");
        if (UiMessageBox(GetParent(page), MB_YESNO | MB_ICONEXCLAMATION, text) != IDYES)
            return false;
        outcome = ApplySettings(Shown, wanted, Stored, true, &conflicts);
    }
    if (outcome == APPLY_FAILED) {
        char text[1024];
        snprintf(text, sizeof(text), Text(51, "NOTSAVED").c_str(), "nfsd.ini");
        UiMessageBox(GetParent(page), MB_OK | MB_ICONHAND, text);
        return false;
    }
    // What is stored now is what the sheet shows.
    SettingsFromControls(PageOf(page), ReadControls(page), Shown);
    Stored = StoredSettings();
    return true;
}

// After Apply of the NFS page: the settings that wait for the services'
// next start are named, and a restart of them is offered.
void OfferRestart(HWND page)
{
    std::string names;
    for (int label : SettingsWaitingForRestart(UiStartedSettings, ServerSettings)) {
        char text[256] = "";
        GetDlgItemTextA(page, label, text, sizeof text);
        std::string name;
        for (const char *c = text; *c != '\0'; c++)
            if (*c != '&')
                name += *c;
        while (!name.empty() && (name.back() == ':' || name.back() == ' '))
            name.pop_back();
        names += name + "\n";
    }
    if (names.empty())
        return;
    char text[2048];
    snprintf(text, sizeof(text), Text(63, "RESTART_ASK").c_str(), names.c_str());
    if (UiMessageBox(GetParent(page), MB_YESNO | MB_ICONQUESTION, text) == IDYES)
        ControlRestart();
}

void ApplyLanguage(HWND page)
{
    HWND list = GetDlgItem(page, IDC_LIST);
    int row = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    if (row < 0)
        return;
    std::string file = ListText(list, row, 0);
    WriteUserString("nfsd", "Language", file.substr(0, 64).c_str());
    LoadLanguage();
    BuildMenusAndViews();
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        int resource = (int)reinterpret_cast<const PROPSHEETPAGEA *>(lParam)->lParam;
        InitPage(page, resource);
        UiDialogReady(page, resource);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        if (id == IDC_EDIT_EXPORTS && code == BN_CLICKED) {
            OpenExportsEditor(page);
            RefillListPage(page);
            return TRUE;
        }
        if (Filling || !IsSettingsPage(PageOf(page)) || (code != BN_CLICKED && code != EN_CHANGE))
            return FALSE;
        if (code == BN_CLICKED && PageOf(page) == IDD_PAGE_NFS) {
            PageControls controls = ReadControls(page);
            ApplyBoxRule(id, controls);
            WriteControls(page, controls);
        }
        PropSheet_Changed(GetParent(page), page);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == LIST_TIMER)
            RefillListPage(page);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
        int resource = PageOf(page);
        switch (header->code) {
        case PSN_SETACTIVE:
            if (IsListPage(resource) && (RefillListPage(page) || resource == IDD_PAGE_PORTMAPPER))
                SetTimer(page, LIST_TIMER, 2000, nullptr);
            SetResult(page, 0);
            return TRUE;
        case PSN_KILLACTIVE:
            KillTimer(page, LIST_TIMER);
            SetResult(page, IsSettingsPage(resource) && RefuseBadNumber(page));
            return TRUE;
        case PSN_APPLY:
            if (IsSettingsPage(resource) && !ApplyPage(page)) {
                SetResult(page, PSNRET_INVALID_NOCHANGEPAGE);
                return TRUE;
            }
            if (resource == IDD_PAGE_NFS)
                OfferRestart(page);
            if (resource == IDD_PAGE_LANGUAGE)
                ApplyLanguage(page);
            SetResult(page, PSNRET_NOERROR);
            return TRUE;
        case LVN_ITEMCHANGED: {
            const NMLISTVIEW *change = reinterpret_cast<const NMLISTVIEW *>(lParam);
            if (resource == IDD_PAGE_LANGUAGE && !Filling && (change->uNewState & LVIS_SELECTED) != 0 &&
                (change->uOldState & LVIS_SELECTED) == 0)
                PropSheet_Changed(GetParent(page), page);
            return FALSE;
        }
        case NM_CLICK:
            if (resource == IDD_PAGE_LANGUAGE && header->idFrom == IDC_LIST) {
                const NMITEMACTIVATE *click = reinterpret_cast<const NMITEMACTIVATE *>(lParam);
                std::string file = click->iItem >= 0 ? ListText(header->hwndFrom, click->iItem, 0) : "";
                SetDlgItemTextA(page, IDC_AUTHOR, file.empty() ? "" : LanguageAuthor(file).c_str());
            }
            return FALSE;
        default:
            return FALSE;
        }
    }
    default:
        return FALSE;
    }
}

}  // namespace

void OpenPreferences()
{
    if (SheetsOpen++ != 0)
        return;
    Shown = ServerSettings;
    Stored = StoredSettings();
    PROPSHEETPAGEA pages[6] = {};
    char titles[6][33];
    for (int i = 0; i < 6; i++) {
        const DialogTextKeys *keys = FindDialogTexts(PAGES[i]);
        pages[i].dwSize = sizeof(PROPSHEETPAGEA);
        pages[i].hInstance = Ui.instance;
        pages[i].pszTemplate = MAKEINTRESOURCEA(PAGES[i]);
        pages[i].pfnDlgProc = PageProc;
        pages[i].lParam = PAGES[i];
        if (keys != nullptr && LanguageValue("Strings", keys->captionKey, titles[i], sizeof(titles[i]))) {
            pages[i].dwFlags |= PSP_USETITLE;
            pages[i].pszTitle = titles[i];
        }
    }
    PROPSHEETHEADERA sheet = {};
    sheet.dwSize = sizeof(sheet);
    sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    sheet.hwndParent = Ui.main;
    sheet.hInstance = Ui.instance;
    sheet.pszCaption = Language.title;
    sheet.nPages = 6;
    sheet.ppsp = pages;
    PropertySheetA(&sheet);
    SheetsOpen = 0;
}

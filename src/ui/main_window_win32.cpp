// The main window: views, menus, context menu, tray icon, commands, layout
// and dropped folders.
#include "platform/win32.h"
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "exports/export_table.h"
#include "server/services.h"
#include "settings/settings.h"
#include "ui/control_win32.h"
#include "ui/dialog_frame_win32.h"
#include "ui/language.h"
#include "ui/main_view.h"
#include "ui/resource.h"
#include "ui/service_control_win32.h"

namespace {


// Sets the text of a list view cell.
void SetCell(HWND list, int row, int column, const std::string &text)
{
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char *>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
}

// Sets or inserts row `row` with its first column and its entry.
void PutRow(HWND list, int row, int count, const ViewRow &data)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = const_cast<char *>(data.columns[0].c_str());
    item.lParam = (LPARAM)data.item;
    SendMessageA(list, row < count ? LVM_SETITEMA : LVM_INSERTITEMA, 0, (LPARAM)&item);
    SetCell(list, row, 1, data.columns[1]);
    SetCell(list, row, 2, data.columns[2]);
}

// Titles and widths of the three columns (null titles: widths only).
void SetColumns(const char *const titles[3])
{
    RECT client;
    GetClientRect(Ui.list, &client);
    int widths[3];
    MainColumnWidths(client.right - client.left, GetSystemMetrics(SM_CXVSCROLL), widths);
    HWND header = (HWND)SendMessageA(Ui.list, LVM_GETHEADER, 0, 0);
    int existing = header != nullptr ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    for (int i = 0; i < 3; i++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM | (titles != nullptr ? LVCF_TEXT : 0);
        column.fmt = LVCFMT_LEFT;
        column.cx = widths[i];
        column.pszText = titles != nullptr ? const_cast<char *>(titles[i]) : nullptr;
        column.iSubItem = i;
        if (titles == nullptr && i >= existing)
            return;
        SendMessageA(Ui.list, i < existing ? LVM_SETCOLUMNA : LVM_INSERTCOLUMNA, (WPARAM)i, (LPARAM)&column);
    }
    for (int i = existing - 1; i >= 3; i--)
        SendMessageA(Ui.list, LVM_DELETECOLUMN, (WPARAM)i, 0);
}

HMENU PopupWith(const std::vector<std::pair<int, std::string>> &items)
{
    HMENU menu = CreatePopupMenu();
    for (const auto &item : items)
        AppendMenuA(menu, MF_STRING, (UINT_PTR)item.first, item.second.c_str());
    return menu;
}

void CheckViewItems()
{
    CheckMenuItem(Ui.menu, CMD_VIEW_EXPORTS, Ui.view == VIEW_EXPORTS ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(Ui.menu, CMD_VIEW_MOUNTS, Ui.view == VIEW_MOUNTS ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(Ui.menu, CMD_RESOLVE, Ui.resolve ? MF_CHECKED : MF_UNCHECKED);
}

// The bottom bar places itself along the bottom edge; the top bar (which
// does not size itself) takes its height along the top edge; the list fills
// the space between them.
void Layout(int width, int height)
{
    SendMessageA(Ui.bottomBar, WM_SIZE, 0, 0);
    RECT bar;
    GetWindowRect(Ui.bottomBar, &bar);
    int h = bar.bottom - bar.top;
    MoveWindow(Ui.topBar, 0, 0, width, h, TRUE);
    MoveWindow(Ui.list, 0, h + 1, width, height - 2 * h - 1, TRUE);
    SetColumns(nullptr);
}

void SwitchView(int view)
{
    Ui.viewAtRebuild = Ui.view;
    Ui.view = view;
    BuildMenusAndViews();
    CheckViewItems();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
}

// Remove and Disconnect: at most one entry; its row goes from the list.
void RemoveSelected(bool mounts)
{
    std::vector<int> indexes;
    std::vector<void *> items = SelectedItems(Ui.list, &indexes);
    if (items.empty())
        return;
    // Removing an export rewrites the file from the table: a change made on
    // disk since the table was loaded would be lost.
    if (!mounts && items[0] != nullptr) {
        std::string question = Text(60, "REMOVE_ASK") + "\n\n" + ListText(Ui.list, indexes[0], 0);
        if (UiMessageBox(Ui.main, MB_YESNO | MB_ICONQUESTION, question.c_str()) == IDNO)
            return;
        if (!ExportsFileUnchanged() && !AskOverwrite(Ui.main, "exports"))
            return;
    }
    int removed = mounts ? DisconnectSelectedMount(items) : RemoveSelectedExport(items);
    if (removed >= 0) {
        SendMessageA(Ui.list, LVM_DELETEITEM, (WPARAM)indexes[(size_t)removed], 0);
        if (!mounts)
            ControlExportsChanged(Ui.main);
    }
    int rows = (int)SendMessageA(Ui.list, LVM_GETITEMCOUNT, 0, 0);
    size_t shown = mounts ? (size_t)rows : (size_t)(rows > 0 ? rows - 1 : 0);
    if (mounts)
        Ui.refresh.shownMounts = (int32_t)shown;
    SendMessageA(Ui.topBar, SB_SETTEXTA, 0, (LPARAM)TopBarText(Ui.view, shown).c_str());
}

void OpenHelp()
{
    char path[PROGRAM_DIRECTORY_SIZE + 32];
    bool german = (GetUserDefaultLangID() & 0x3FF) == 0x07;
    snprintf(path, sizeof(path), "%sdoc\\%s", ProgramDirectory, german ? "nfsd-d.htm" : "nfsd.htm");
    ShellExecuteA(Ui.main, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

// The selected row is an export (not the empty row below them).
bool ListSelectionIsEntry()
{
    std::vector<int> indexes;
    std::vector<void *> items = SelectedItems(Ui.list, &indexes);
    return !items.empty() && items[0] != nullptr;
}

// Insert and Edit: the export dialog for the selected row.
void EditExport(int command)
{
    std::vector<int> indexes;
    std::vector<void *> items = SelectedItems(Ui.list, &indexes);
    if (items.empty() || Ui.view != VIEW_EXPORTS)
        return;
    if (command == CMD_EDIT && items[0] == nullptr)
        return;
    if (OpenExportDialog(Ui.main, command, indexes[0], nullptr) == 1)
        ControlExportsChanged(Ui.main);
    Ui.refresh.counter = 2;
}

void Command(int id)
{
    switch (id) {
    case CMD_VIEW_LOG:
        OpenLogViewer(Ui.main);
        break;
    case CMD_EXIT:
        DestroyWindow(Ui.main);
        break;
    case CMD_SHOW:
        ShowWindow(Ui.main, SW_RESTORE);
        SetForegroundWindow(Ui.main);
        break;
    case CMD_PREFERENCES:
        OpenPreferences();
        BuildMenusAndViews();
        Ui.refresh.counter = 1;
        break;
    case CMD_VIEW_EXPORTS:
        SwitchView(VIEW_EXPORTS);
        break;
    case CMD_VIEW_MOUNTS:
        SwitchView(VIEW_MOUNTS);
        break;
    case CMD_RESOLVE:
        Ui.resolve = !Ui.resolve;
        CheckViewItems();
        PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
        break;
    case CMD_CONTENTS:
        OpenHelp();
        break;
    case CMD_ABOUT:
        OpenAbout(Ui.main);
        break;
    case CMD_INSERT:
    case CMD_EDIT:
        EditExport(id);
        break;
    case CMD_REMOVE:
        if (Ui.view == VIEW_EXPORTS)
            RemoveSelected(false);
        break;
    case CMD_DISCONNECT:
        if (Ui.view == VIEW_MOUNTS)
            RemoveSelected(true);
        break;
    case CMD_SERVICE_START:
    case CMD_SERVICE_STOP:
    case CMD_SERVICE_RESTART:
        ControlServiceCommand(id);
        break;
    default:
        break;
    }
}

// At the mouse, or below the selected row when asked from the keyboard
// (Shift+F10, the Apps key).
void ShowPopup(HMENU menu, bool keyboard = false)
{
    POINT at;
    GetCursorPos(&at);
    RECT row;
    int selected = (int)SendMessageA(Ui.list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    row.left = LVIR_LABEL;
    if (keyboard && selected >= 0 && SendMessageA(Ui.list, LVM_GETITEMRECT, (WPARAM)selected, (LPARAM)&row)) {
        at = {row.left + 8, row.bottom};
        ClientToScreen(Ui.list, &at);
    }
    if (menu == Ui.contextMenu) {
        // Edit and Remove mean nothing on the empty row that takes new exports.
        bool entry = ListSelectionIsEntry();
        EnableMenuItem(menu, CMD_EDIT, MF_BYCOMMAND | (entry ? MF_ENABLED : MF_GRAYED));
        EnableMenuItem(menu, CMD_REMOVE, MF_BYCOMMAND | (entry ? MF_ENABLED : MF_GRAYED));
        // The service's mounts are not this process's to disconnect.
        EnableMenuItem(menu, CMD_DISCONNECT, MF_BYCOMMAND | (Ui.serviceControlled ? MF_GRAYED : MF_ENABLED));
    }
    SetForegroundWindow(Ui.main);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, Ui.main, nullptr);
}

// Start only while the service is stopped, Stop only while it is not;
// both while its state cannot be asked; none while a restart runs.
void ServiceMenuStates(HMENU menu)
{
    const DWORD state = UiServiceControl.state != nullptr ? UiServiceControl.state() : 0;
    const bool stopped = state == SERVICE_STOPPED;
    const UINT idle = Ui.restartThread != nullptr ? MF_GRAYED : MF_ENABLED;
    EnableMenuItem(menu, CMD_SERVICE_START, MF_BYCOMMAND | (stopped || state == 0 ? idle : MF_GRAYED));
    EnableMenuItem(menu, CMD_SERVICE_STOP, MF_BYCOMMAND | (stopped ? MF_GRAYED : idle));
    EnableMenuItem(menu, CMD_SERVICE_RESTART, MF_BYCOMMAND | idle);
}

void DroppedFiles(HDROP drop)
{
    char path[2048];
    if (DragQueryFileA(drop, 0, path, sizeof(path)) > 0) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            int rows = (int)SendMessageA(Ui.list, LVM_GETITEMCOUNT, 0, 0);
            if (OpenExportDialog(Ui.main, CMD_INSERT, rows > 0 ? rows - 1 : 0, path) == 1)
                ControlExportsChanged(Ui.main);
            Ui.refresh.counter = 2;
        }
    }
    DragFinish(drop);
}

}  // namespace

void LayoutMainWindow()
{
    RECT client;
    GetClientRect(Ui.main, &client);
    Layout(client.right, client.bottom);
}

std::vector<void *> SelectedItems(HWND list, std::vector<int> *indexes)
{
    std::vector<void *> items;
    int row = -1;
    while ((row = (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)row, LVNI_SELECTED)) >= 0) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item);
        items.push_back((void *)item.lParam);
        if (indexes != nullptr)
            indexes->push_back(row);
    }
    return items;
}

std::string ListText(HWND list, int row, int column)
{
    char text[4096];
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    text[0] = '\0';
    SendMessageA(list, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
    return text;
}

void AddTrayIcon()
{
    NOTIFYICONDATAA icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = Ui.main;
    icon.uID = UI_TRAY_ID;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = UI_TRAY_MESSAGE;
    icon.hIcon = Ui.trayImage;
    GetWindowTextA(Ui.main, icon.szTip, 64);
    Ui.trayPresent = Shell_NotifyIconA(NIM_ADD, &icon) != FALSE;
}

void DeleteTrayIcon()
{
    NOTIFYICONDATAA icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = Ui.main;
    icon.uID = UI_TRAY_ID;
    Shell_NotifyIconA(NIM_DELETE, &icon);
    Ui.trayPresent = false;
}

void BuildMenusAndViews()
{
    HMENU menu = LoadMenuA(Ui.instance, MAKEINTRESOURCEA(IDM_MAIN));
    for (size_t i = 0; i < TopMenuKeyCount; i++)
        SetMenuText(menu, TopMenuKeys[i].id, 0, TopMenuKeys[i].key);
    for (size_t i = 0; i < MenuItemKeyCount; i++)
        SetMenuText(menu, 0, MenuItemKeys[i].id, MenuItemKeys[i].key);
    // The Service menu, before Help, only while the service is installed.
    if (UiServiceControl.installed()) {
        HMENU service = PopupWith({{CMD_SERVICE_START, Text(53, "SVC_START")},
                                   {CMD_SERVICE_STOP, Text(54, "SVC_STOP")},
                                   {CMD_SERVICE_RESTART, Text(70, "SVC_RESTART")}});
        InsertMenuA(menu, 3, MF_BYPOSITION | MF_POPUP | MF_STRING, (UINT_PTR)service, Text(52, "SERVICE").c_str());
    }
    HMENU previous = Ui.menu;
    Ui.menu = menu;
    SetMenu(Ui.main, menu);
    DrawMenuBar(Ui.main);
    if (previous != nullptr)
        DestroyMenu(previous);
    CheckViewItems();

    std::string folder = Text(6, "FOLDER");
    std::string second = Ui.view == VIEW_MOUNTS ? Text(41, "TYPE") : Text(7, "OPTIONS");
    std::string third = Ui.view == VIEW_MOUNTS ? Text(8, "CLIENT") : Text(15, "CLIENTS");
    const char *titles[3] = {folder.c_str(), second.c_str(), third.c_str()};
    SetColumns(titles);

    HMENU context = Ui.view == VIEW_MOUNTS
                        ? PopupWith({{CMD_DISCONNECT, Text(45, "DISCONNECT")}})
                        : PopupWith({{CMD_INSERT, Text(42, "INSERT")},
                                     {CMD_EDIT, Text(43, "EDIT")},
                                     {CMD_REMOVE, Text(44, "REMOVE")}});
    if (Ui.contextMenu != nullptr)
        DestroyMenu(Ui.contextMenu);
    Ui.contextMenu = context;
    // The tray menu: the window, the log, the preferences, exit; the menu
    // bar's own texts in the language in force.
    char log[128], preferences[128];
    GetMenuStringA(menu, CMD_VIEW_LOG, log, sizeof(log), MF_BYCOMMAND);
    GetMenuStringA(menu, CMD_PREFERENCES, preferences, sizeof(preferences), MF_BYCOMMAND);
    HMENU tray = PopupWith({{CMD_SHOW, Text(59, "OPEN")},
                            {CMD_VIEW_LOG, log},
                            {CMD_PREFERENCES, preferences},
                            {CMD_EXIT, Text(21, "EXIT")}});
    SetMenuDefaultItem(tray, CMD_SHOW, FALSE);
    if (Ui.trayMenu != nullptr)
        DestroyMenu(Ui.trayMenu);
    Ui.trayMenu = tray;

    SetWindowTextA(Ui.main, Language.title);
    if (Ui.trayPresent) {
        // The tooltip follows the title into a new language.
        NOTIFYICONDATAA icon = {};
        icon.cbSize = sizeof(icon);
        icon.hWnd = Ui.main;
        icon.uID = UI_TRAY_ID;
        icon.uFlags = NIF_TIP;
        GetWindowTextA(Ui.main, icon.szTip, 64);
        Shell_NotifyIconA(NIM_MODIFY, &icon);
    }
    if (Ui.trayWanted == 0 && Ui.trayPresent)
        DeleteTrayIcon();
    else if (Ui.trayWanted != 0 && !Ui.trayPresent)
        AddTrayIcon();
}

size_t RefreshRows()
{
    // The service's views come from its mount service, asked while it runs.
    std::vector<ViewRow> rows =
        !Ui.serviceControlled ? ViewRows(Ui.view, Ui.resolve)
        : ServedViewRows(Ui.view, UiServiceControl.state() == SERVICE_RUNNING ? ServerSettings.MountPort : 0);
    SendMessageA(Ui.list, LVM_SETITEMCOUNT, 256, 0);
    int count = (int)SendMessageA(Ui.list, LVM_GETITEMCOUNT, 0, 0);
    for (size_t i = 0; i < rows.size(); i++) {
        PutRow(Ui.list, (int)i, count, rows[i]);
        if ((int)i >= count)
            count++;
    }
    while (count > (int)rows.size())
        SendMessageA(Ui.list, LVM_DELETEITEM, (WPARAM)--count, 0);
    size_t shown = CountedRows(Ui.view, rows);
    SendMessageA(Ui.topBar, SB_SETTEXTA, 0, (LPARAM)TopBarText(Ui.view, shown).c_str());
    Ui.refresh.shownMounts = Ui.view == VIEW_MOUNTS ? (int32_t)shown : 0;
    DragAcceptFiles(Ui.main, Ui.view == VIEW_EXPORTS);
    return shown;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        ControlShutdown(window);
        return 0;
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED) {
            if (Ui.trayPresent)
                SetWindowPos(window, nullptr, 0, 0, 0, 0,
                             SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
        } else if (Ui.list != nullptr) {
            Layout(LOWORD(lParam), HIWORD(lParam));
        }
        return 0;
    case WM_CLOSE:
        SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return 0;
    case WM_ENDSESSION:
        if (wParam != 0 && Ui.trayWanted != 0 && Ui.trayPresent)
            DeleteTrayIcon();
        return 1;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize.x = 300;
        reinterpret_cast<MINMAXINFO *>(lParam)->ptMinTrackSize.y = 160;
        return 0;
    case WM_NOTIFY: {
        const NMHDR *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header->hwndFrom != Ui.list)
            break;
        const bool selected = SendMessageA(Ui.list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED) >= 0;
        const bool exports = Ui.view == VIEW_EXPORTS;
        if (header->code == (UINT)NM_RCLICK && selected)
            ShowPopup(Ui.contextMenu);
        // Enter and a double click edit the export (or add one on the empty row).
        if ((header->code == (UINT)NM_RETURN || header->code == (UINT)NM_DBLCLK) && selected && exports)
            Command(ListSelectionIsEntry() ? CMD_EDIT : CMD_INSERT);
        if (header->code == (UINT)LVN_KEYDOWN) {
            WORD key = reinterpret_cast<const NMLVKEYDOWN *>(lParam)->wVKey;
            if (key == VK_DELETE && selected)
                Command(exports ? CMD_REMOVE : CMD_DISCONNECT);
            else if (key == VK_INSERT && exports)
                Command(CMD_INSERT);
        }
        break;
    }
    case WM_CONTEXTMENU:
        if ((HWND)wParam == Ui.list && lParam == -1 &&
            SendMessageA(Ui.list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED) >= 0)
            ShowPopup(Ui.contextMenu, true);
        return 0;
    case WM_COMMAND:
        Command(LOWORD(wParam));
        return 0;
    case WM_INITMENUPOPUP:
        if (GetMenuState((HMENU)wParam, CMD_SERVICE_START, MF_BYCOMMAND) != (UINT)-1)
            ServiceMenuStates((HMENU)wParam);
        break;
    case WM_TIMER:
        if (wParam == UI_REFRESH_TIMER)
            ControlTimerTick();
        return 0;
    case WM_DROPFILES:
        DroppedFiles((HDROP)wParam);
        return 0;
    case UI_REFRESH_MESSAGE:
        ControlRefresh(lParam);
        return 1;
    case UI_STARTED_MESSAGE:
        ControlStarted();
        return 1;
    case UI_RESTARTED_MESSAGE:
        ControlServiceRestarted((DWORD)wParam);
        return 1;
    case UI_TRAY_MESSAGE:
        if (Ui.trayPresent) {
            if (lParam == WM_LBUTTONDOWN) {
                ShowWindow(window, SW_RESTORE);
                SetForegroundWindow(window);
            } else if (lParam == WM_RBUTTONDOWN) {
                ShowPopup(Ui.trayMenu);
                PostMessageA(window, WM_NULL, 0, 0);
            }
        }
        return 1;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

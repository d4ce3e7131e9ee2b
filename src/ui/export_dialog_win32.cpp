// The export dialog: one export's folder, options and clients.
#include "platform/win32.h"
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exports/export_table.h"
#include "ui/control_win32.h"
#include "ui/dialog_frame_win32.h"
#include "ui/export_dialog.h"
#include "ui/exports_editor.h"
#include "ui/language.h"
#include "ui/main_view.h"
#include "ui/resource.h"

namespace {

struct DialogState {
    int command;
    int row;
    const char *folder;
};

bool Syncing = false;

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    std::string text((size_t)GetWindowTextLengthA(item) + 1, '\0');
    text.resize((size_t)GetWindowTextA(item, &text[0], (int)text.size()));
    return text;
}

void SetBoxes(HWND dialog, const std::string &options)
{
    std::vector<bool> boxes = BoxesFromOptions(options);
    for (size_t i = 0; i < boxes.size(); i++)
        CheckDlgButton(dialog, OptionBoxes[i].id, boxes[i] ? BST_CHECKED : BST_UNCHECKED);
}

void SyncFromBoxes(HWND dialog)
{
    std::vector<bool> boxes;
    for (const OptionBox &box : OptionBoxes)
        boxes.push_back(IsDlgButtonChecked(dialog, box.id) == BST_CHECKED);
    bool noClients = ItemText(dialog, IDC_CLIENTS).find_first_not_of(" \t") == std::string::npos;
    Syncing = true;
    SetDlgItemTextA(dialog, IDC_OPTIONS, SyncOptions(ItemText(dialog, IDC_OPTIONS), boxes, noClients).c_str());
    Syncing = false;
}

// A folder chosen or dropped: with a backslash, and a mapped network drive
// as its UNC name.
std::string ChosenFolder(const char *path)
{
    char folder[2048];
    snprintf(folder, sizeof(folder), "%s", path);
    ResolveExportFolder(folder, sizeof(folder));
    return folder;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH] = "";
        SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
        std::string shown = path;
        if (shown.size() > 48)
            shown = "..." + shown.substr(shown.size() - 45);
        SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, (LPARAM)shown.c_str());
    }
    return 0;
}

void Browse(HWND dialog)
{
    std::string initial = ItemText(dialog, IDC_FOLDER);
    if (initial.size() > 3 && initial.back() == '\\')
        initial.pop_back();
    char title[257];
    GetText(46, "DIR_TITLE", title, sizeof(title));
    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.lpszTitle = title;
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_NEWDIALOGSTYLE;
    browse.lpfn = BrowseCallback;
    browse.lParam = (LPARAM)initial.c_str();
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen == nullptr)
        return;
    char path[MAX_PATH] = "";
    bool got = SHGetPathFromIDListA(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (got)
        SetDlgItemTextA(dialog, IDC_FOLDER, ChosenFolder(path).c_str());
}

// The view of the main window as the exports file is rebuilt from it.
std::vector<ExportViewRow> ViewOfMainWindow()
{
    std::vector<ExportViewRow> rows;
    int count = (int)SendMessageA(Ui.list, LVM_GETITEMCOUNT, 0, 0);
    for (int row = 0; row < count; row++) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageA(Ui.list, LVM_GETITEMA, 0, (LPARAM)&item);
        rows.push_back({ListText(Ui.list, row, 0), ListText(Ui.list, row, 1), ListText(Ui.list, row, 2),
                        item.lParam != 0});
    }
    return rows;
}

void Save(HWND dialog, const DialogState *state)
{
    std::string options = ItemText(dialog, IDC_OPTIONS);
    OptionsCheck check = CheckOptions(options);
    if (check == OPTIONS_MISSING_ARGUMENT) {
        char text[256];
        GetText(49, "NOOPTARG", text, sizeof(text));
        UiMessageBox(dialog, MB_OK | MB_ICONEXCLAMATION, text);
    }
    if (check != OPTIONS_VALID)
        return;
    std::string folder = ItemText(dialog, IDC_FOLDER);
    FolderCheck place = CheckFolder(folder);
    if (place == FOLDER_EMPTY || place == FOLDER_BAD_SYNTAX || place == FOLDER_IS_FILE)
        return;
    if (place == FOLDER_MISSING) {
        char text[256];
        GetText(47, "NOTEXISTS", text, sizeof(text));
        if (UiMessageBox(dialog, MB_OKCANCEL | MB_ICONEXCLAMATION, text) != IDOK)
            return;
    }
    std::string entry = ExportLine(folder, options, ItemText(dialog, IDC_CLIENTS));
    std::vector<std::string> lines =
        ExportLinesFromView(ViewOfMainWindow(), state->row, state->command == CMD_EDIT, entry);
    SaveOutcome outcome = SaveExportsLines(lines, false);
    if (outcome == SAVE_CHANGED_ON_DISK) {
        if (!AskOverwrite(dialog, "exports"))
            return;
        outcome = SaveExportsLines(lines, true);
    }
    if (outcome == SAVE_FAILED) {
        ReportNotSaved(dialog, "exports");
        return;
    }
    EndDialog(dialog, IDOK);
}

void Open(HWND dialog, DialogState *state)
{
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    SetDialogTexts(dialog, IDD_EXPORT);
    SendMessageA(GetDlgItem(dialog, IDC_FOLDER), EM_SETLIMITTEXT, 2047, 0);
    SendMessageA(GetDlgItem(dialog, IDC_OPTIONS), EM_SETLIMITTEXT, 2559, 0);
    SendMessageA(GetDlgItem(dialog, IDC_CLIENTS), EM_SETLIMITTEXT, 2047, 0);
    Syncing = true;
    if (state->command == CMD_EDIT) {
        SetDlgItemTextA(dialog, IDC_FOLDER, ListText(Ui.list, state->row, 0).c_str());
        SetDlgItemTextA(dialog, IDC_OPTIONS, ListText(Ui.list, state->row, 1).c_str());
        SetDlgItemTextA(dialog, IDC_CLIENTS, ListText(Ui.list, state->row, 2).c_str());
    } else if (state->folder != nullptr) {
        SetDlgItemTextA(dialog, IDC_FOLDER, ChosenFolder(state->folder).c_str());
        int rows = (int)SendMessageA(Ui.list, LVM_GETITEMCOUNT, 0, 0);
        state->row = rows > 0 ? rows - 1 : 0;
    }
    Syncing = false;
    SetBoxes(dialog, ItemText(dialog, IDC_OPTIONS));
}

INT_PTR CALLBACK ExportProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    DialogState *state = reinterpret_cast<DialogState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        Open(dialog, reinterpret_cast<DialogState *>(lParam));
        UiDialogReady(dialog, IDD_EXPORT);
        return TRUE;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int code = HIWORD(wParam);
        if (id == IDOK)
            Save(dialog, state);
        else if (id == IDCANCEL)
            EndDialog(dialog, IDCANCEL);
        else if (id == IDC_BROWSE)
            Browse(dialog);
        else if (!Syncing && ((id >= IDC_OPT_READONLY && id <= IDC_OPT_UMASK && code == BN_CLICKED) ||
                              (id == IDC_CLIENTS && code == EN_CHANGE)))
            SyncFromBoxes(dialog);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

}  // namespace

int OpenExportDialog(HWND owner, int command, int row, const char *folder)
{
    DialogState state{command, row, folder};
    return RunDialog(owner, IDD_EXPORT, ExportProc, (LPARAM)&state) == IDOK;
}

// The dialogs of the real window driven by messages: the export dialog (from
// a dropped folder and from the context menu), the exports file editor, the
// preferences sheet with its six pages, the log viewer and the about box.
#include "platform/win32.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "exports/exports.h"
#include "log/log.h"
#include "server/services.h"
#include "settings/settings.h"
#include "support/data_directory.h"
#include "ui/language.h"
#include "ui/log_viewer.h"
#include "ui/resource.h"
#include "window_fixture_win32.h"

namespace {

using DialogWindow = WindowTest;

std::string Field(HWND dialog, int id)
{
    char text[4096] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The titles of a property sheet's tabs.
std::vector<std::string> TabTitles(HWND sheet)
{
    std::vector<std::string> titles;
    HWND tabs = PropSheet_GetTabControl(sheet);
    for (int i = 0; i < (int)SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0); i++) {
        char title[64] = "";
        TCITEMA tab = {};
        tab.mask = TCIF_TEXT;
        tab.pszText = title;
        tab.cchTextMax = sizeof title;
        SendMessageA(tabs, TCM_GETITEMA, (WPARAM)i, (LPARAM)&tab);
        titles.push_back(title);
    }
    return titles;
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ExportsText(const TempDir &dir) { return WithoutCarriageReturns(ReadFileBytes(dir.Native("exports"))); }

void Drop(const std::string &path)
{
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + path.size() + 2);
    DROPFILES *drop = static_cast<DROPFILES *>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    memcpy(reinterpret_cast<char *>(drop) + sizeof(DROPFILES), path.c_str(), path.size());
    GlobalUnlock(memory);
    SendMessageA(Ui.main, WM_DROPFILES, (WPARAM)memory, 0);
}

TEST_F(DialogWindow, ExportDialogAddsEditsAndTheFileFollows)
{
    LoadExports("# exports of the dialog test\n@\\first -exec\n");
    CreateDirectoryA(dir.Win("first").c_str(), nullptr);
    CreateDirectoryA(dir.Win("dropped").c_str(), nullptr);
    Start();
    std::string before = ReadFileBytes(dir.Native("exports"));

    // A dropped folder opens the dialog for a new export at the end.
    WhileModal([&] { Drop(Path("dropped")); }, [&] {
        HWND d = dialogs[IDD_EXPORT];
        EXPECT_EQ(Field(d, IDC_FOLDER), Path("dropped") + "\\");
        Click(d, IDC_OPT_READONLY);
        Click(d, IDC_OPT_NAME);
        EXPECT_EQ(Field(d, IDC_OPTIONS), " -readonly -name:");
        Click(d, IDOK);  // a name is missing
        EXPECT_EQ(messages, (std::vector<std::string>{"Option argument not specified"}));
        SetDlgItemTextA(d, IDC_OPTIONS, " -readonly -name:dropped");
        SetDlgItemTextA(d, IDC_CLIENTS, "10.0.0.9");
        Click(d, IDOK);
    });
    Pump(50);
    EXPECT_EQ(ExportsText(dir), "# exports of the dialog test\n" + Path("first") + " -exec\n" + Path("dropped") +
                                    " -readonly -name:dropped 10.0.0.9\n");
    EXPECT_EQ(ReadFileBytes(dir.Native("exports.old")), before);
    ASSERT_NE(ExportFirst()->next, nullptr);  // the table was reloaded
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
    Pump(50);
    EXPECT_EQ(Rows(Ui.list).size(), 3u);

    // Edit of the second row: the fields hold its texts; clearing a box
    // removes its word.
    Select(Ui.list, 1);
    WhileModal([] { Command(CMD_EDIT); }, [&] {
        HWND d = dialogs[IDD_EXPORT];
        EXPECT_EQ(Field(d, IDC_OPTIONS), " -name:dropped -readonly");
        EXPECT_EQ(IsDlgButtonChecked(d, IDC_OPT_READONLY), BST_CHECKED);
        Click(d, IDC_OPT_READONLY);
        Click(d, IDOK);
    });
    EXPECT_NE(ExportsText(dir).find(Path("dropped") + " -name:dropped 10.0.0.9\n"), std::string::npos);
}

TEST_F(DialogWindow, ExportsFileEditor)
{
    LoadExports("# edited as text\n@ -readonly\n");
    Start();
    WhileModal([] { OpenExportsEditor(Ui.main); }, [&] {
        HWND d = dialogs[IDD_EXPORTS_EDITOR];
        EXPECT_EQ(Field(d, IDC_EXPORTS_TEXT), "# edited as text\r\n" + Path("") + " -readonly\r\n");
        SetDlgItemTextA(d, IDC_EXPORTS_TEXT, ("# edited as text\r\n" + Path("") + " -alldirs\r\n").c_str());
        // Escape with edits asks first; No keeps them.
        messageAnswer = IDNO;
        SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(messages, (std::vector<std::string>{"Discard the changes to the exports file?"}));
        EXPECT_TRUE(IsWindowVisible(d));
        Click(d, IDOK);
    });
    EXPECT_EQ(ExportsText(dir), "# edited as text\n" + Path("") + " -alldirs\n");
    EXPECT_EQ(ExportFirst()->flags & EXPORT_ALLDIRS, (uint32_t)EXPORT_ALLDIRS);
}

TEST_F(DialogWindow, PreferencesPagesApplyAndTheLanguageSwitches)
{
    LoadExports("@ -bogus\n-alldirs\n");
    Start();
    // Every line the exports file's load refused, at start and on the Exports page.
    const std::string refused =
        "Lines of the exports file refused: 2\nLine 1 ignored, unknown option\nLine 2 ignored, expected path";
    EXPECT_EQ(messages, (std::vector<std::string>{refused}));
    messages.clear();
    RPCTIMEOUT = 1;  // no mount service answers the client pages here
    std::vector<std::string> titles;
    WhileModal([] { Command(CMD_PREFERENCES); }, [&] {
        HWND sheet = GetParent(dialogs[IDD_PAGE_NFS]);
        for (int i = 0; i < 6; i++) {
            PropSheet_SetCurSel(sheet, nullptr, i);
            Pump(50);
        }
        titles = TabTitles(sheet);
        EXPECT_EQ(Field(dialogs[IDD_PAGE_EXPORTS], IDC_ERROR_LINE),
                  "Line 1 ignored, unknown option\r\nLine 2 ignored, expected path");
        HWND nfs = dialogs[IDD_PAGE_NFS];
        PropSheet_SetCurSel(sheet, nullptr, 0);
        // A number out of range is refused on its field, with its range; nothing is stored.
        SetDlgItemTextA(nfs, IDC_PORT, "70000");
        PropSheet_PressButton(sheet, PSBTN_APPLYNOW);
        Pump(50);
        EXPECT_EQ(messages, (std::vector<std::string>{"Please enter a whole number in this range: 0 - 65535"}));
        EXPECT_EQ(GetFocus(), GetDlgItem(nfs, IDC_PORT));
        EXPECT_EQ(ReadInt("nfsd", "Port", 2049), 2049);
        SetDlgItemTextA(nfs, IDC_PORT, "2049");
        // The lock manager's port is shut while the lock manager is off.
        const bool nlm = IsDlgButtonChecked(nfs, IDC_NLM) == BST_CHECKED;
        Click(nfs, IDC_NLM);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(nfs, IDC_NLMPORT)) != FALSE, !nlm);
        Click(nfs, IDC_NLM);
        PropSheet_PressButton(sheet, PSBTN_APPLYNOW);
        Pump(50);
        // A new port waits for the services' next start, which Yes makes at once.
        SetDlgItemTextA(nfs, IDC_PORT, "2050");
        messageAnswer = IDYES;
        NfsPort = 0;
        PropSheet_PressButton(sheet, PSBTN_APPLYNOW);
        EXPECT_TRUE(Pump(2000, [] { return NfsPort != 0; }) && stopped);
        Pump(50);
        EXPECT_EQ(messages, (std::vector<std::string>{"Please enter a whole number in this range: 0 - 65535",
                                                      "These settings take effect when the server starts again:\n\n"
                                                      "NFS Server Port\n\nRestart the server now?",
                                                      refused}));

        HWND language = dialogs[IDD_PAGE_LANGUAGE];
        HWND list = GetDlgItem(language, IDC_LIST);
        EXPECT_EQ(Rows(list), (std::vector<std::string>{"Deutsch.ini|Deutsch|1.2.46", "English|English|1.2.46"}));
        EXPECT_EQ(Field(language, IDC_CURRENT), "English");
        EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED), 1);
        HWND apply = GetDlgItem(sheet, 0x3021);  // the sheet's Apply button
        EXPECT_FALSE(IsWindowEnabled(apply));
        Select(list, 0);
        EXPECT_TRUE(IsWindowEnabled(apply));
        PropSheet_PressButton(sheet, PSBTN_OK);
    });
    EXPECT_EQ(titles, (std::vector<std::string>{"NFS", "Server", "Exports", "Mounts", "PortMapper", "Language"}));
    EXPECT_EQ(MenuText(Ui.menu, 0, MF_BYPOSITION), "&Datei");

    // Opened again: every text of every page in the chosen language, and the
    // tab titles from the language file.
    titles.clear();
    WhileModal([] { Command(CMD_PREFERENCES); }, [&] {
        HWND sheet = GetParent(dialogs[IDD_PAGE_NFS]);
        for (int i = 0; i < 6; i++)
            PropSheet_SetCurSel(sheet, nullptr, i);
        titles = TabTitles(sheet);
        char value[256];
        for (size_t d = 0; d < 6; d++)
            for (size_t i = 0; i < DialogTexts[d].count; i++) {
                const ControlTextKey &key = DialogTexts[d].controls[i];
                ASSERT_TRUE(LanguageValue("Control", key.key, value, sizeof value));
                EXPECT_EQ(Field(dialogs[DialogTexts[d].resource], key.id), value) << key.key;
            }
        PropSheet_PressButton(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(titles, (std::vector<std::string>{"NFS", "Server", "Exporte", "Verbindungen", "Portmapper", "Sprache"}));
}

const std::string LongPath = "/c/exports/projects/2026/a-folder-name-long-enough-to-need-the-scroll-bar/and-more";

TEST_F(DialogWindow, LogViewerMarksErrors)
{
    Start();
    std::string name = CurrentLogName();
    CloseLog();
    WriteFileBytes(dir.Native(name), "2026-12-01 10:00:00 pmapd ready on port 111\r\n"
                                     "mountd: Line 3 ignored, expected path\r\n"
                                     "2026-12-01 10:00:05 mount3 error 10.0.0.1:" + LongPath + "\r\n");
    WriteFileBytes(dir.Native("nfsd2601.log"), "2026-01-01 00:00:00 old\r\n");
    std::vector<std::string> shown;
    std::vector<int> icons;
    WhileModal([] { Command(CMD_VIEW_LOG); }, [&] {
        HWND d = dialogs[IDD_LOG_VIEWER];
        HWND list = GetDlgItem(d, IDC_LOG_LIST);
        shown = Rows(list);
        for (int row = 0; row < (int)shown.size(); row++) {
            LVITEMA item = {};
            item.mask = LVIF_IMAGE;
            item.iItem = row;
            SendMessageA(list, LVM_GETITEMA, 0, (LPARAM)&item);
            icons.push_back(item.iImage);
        }
        EXPECT_EQ(SendMessageA(GetDlgItem(d, IDC_FILE), CB_GETCOUNT, 0, 0), 2);
        // The message column is as wide as its longest line, and wider with the window.
        std::string longest = "mount3 error 10.0.0.1:" + LongPath;
        EXPECT_GT(ListView_GetColumnWidth(list, 3),
                  SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, (LPARAM)longest.c_str()));
        // Ctrl+C copies the selected line whole.
        Select(list, 2);
        BYTE keys[256] = {};
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        SendMessageA(list, WM_KEYDOWN, 'C', 0);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        ASSERT_TRUE(OpenClipboard(nullptr));
        HANDLE copied = GetClipboardData(CF_TEXT);
        EXPECT_STREQ(copied ? (const char *)GlobalLock(copied) : "", ("2026-12-01 10:00:05 " + longest).c_str());
        CloseClipboard();
        for (int size : {1000, 10}) {  // wider, and the least size
            SetWindowPos(d, nullptr, 0, 0, size, size / 2, SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
            RECT inner, update;
            GetClientRect(list, &inner);
            int widths = 0;
            for (int c = 0; c < 4; c++)
                widths += ListView_GetColumnWidth(list, c);
            EXPECT_GE(widths, inner.right);
            // Laid out again (a restore), the list keeps no stale row: it is painted afresh.
            ValidateRect(list, nullptr);
            GetClientRect(d, &update);
            SendMessageA(d, WM_SIZE, SIZE_RESTORED, MAKELPARAM(update.right, update.bottom));
            EXPECT_TRUE(GetUpdateRect(list, &update, FALSE) && EqualRect(&update, &inner));
        }
        Click(d, IDOK);
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"|2026-12-01|10:00:00|pmapd ready on port 111",
                                               "|||mountd: Line 3 ignored, expected path",
                                               "|2026-12-01|10:00:05|mount3 error 10.0.0.1:" + LongPath}));
    EXPECT_EQ(icons, (std::vector<int>{0, 1, 1}));
}

TEST_F(DialogWindow, AboutBox)
{
    Start();
    // Its OK button closes it.
    WhileModal([] { Command(CMD_ABOUT); }, [] { Click(dialogs[IDD_ABOUT], IDOK); });
    EXPECT_FALSE(IsWindow(dialogs[IDD_ABOUT]));
}

}  // namespace

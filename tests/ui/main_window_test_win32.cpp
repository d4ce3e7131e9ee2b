// The real main window driven by messages: what the views show, what the
// menu commands, the context menu and the tray menu do, the start failures,
// the single instance, the language switch and the exit.
#include "platform/win32.h"
#include <commctrl.h>

#include "exports/exports.h"
#include "exports/mount_table.h"
#include "server/services.h"
#include "settings/settings.h"
#include "support/data_directory.h"
#include "ui/language.h"
#include "ui/resource.h"
#include "ui/service_control_win32.h"
#include "window_fixture_win32.h"

namespace {

using MainWindow = WindowTest;

std::vector<std::string> PopupItems(HMENU menu)
{
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(menu); i++)
        items.push_back(WindowTest::MenuText(menu, (UINT)i, MF_BYPOSITION));
    return items;
}

TEST_F(MainWindow, ViewsShowTheTablesAndCommandsChangeThem)
{
    LoadExports("# exports of the window test\n@ -readonly 10.0.0.1\n@\\sub -alldirs\n");
    Start();
    std::string base = Path("");
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{base + "| -readonly| 10.0.0.1", base + "\\sub| -alldirs|", "||"}));
    EXPECT_EQ(StatusText(Ui.topBar), " 2 Entries");
    EXPECT_EQ(StatusText(Ui.bottomBar), " Ready on Port 2049");
    EXPECT_EQ(GetMenuState(Ui.menu, CMD_VIEW_EXPORTS, MF_BYCOMMAND) & MF_CHECKED, (UINT)MF_CHECKED);

    Mount("10.0.0.7", MOUNT_KIND_TCP | MOUNT_KIND_WEBNFS | MOUNT_KIND_AUTO);
    Mount("10.0.0.8", MOUNT_KIND_UDP);
    Command(CMD_VIEW_MOUNTS);
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{base + "|udp|host-10.0.0.8", base + "|tcp public auto|host-10.0.0.7"}));
    EXPECT_EQ(StatusText(Ui.topBar), " 2 Clients");
    EXPECT_EQ(Ui.refresh.shownMounts, 2);
    Command(CMD_RESOLVE);
    EXPECT_EQ(Rows(Ui.list)[0], base + "|udp|10.0.0.8");
    EXPECT_EQ(GetMenuState(Ui.menu, CMD_RESOLVE, MF_BYCOMMAND) & MF_CHECKED, 0u);

    Select(Ui.list, 1);
    Command(CMD_DISCONNECT);
    EXPECT_EQ(MountCount(), 1u);
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{base + "|udp|10.0.0.8"}));
    EXPECT_EQ(StatusText(Ui.topBar), " 1 Clients");

    Command(CMD_VIEW_EXPORTS);
    Select(Ui.list, 2);
    Command(CMD_REMOVE);  // the empty row removes nothing
    EXPECT_EQ(StatusText(Ui.topBar), " 2 Entries");
    // A hand edit of the file since it was loaded: asked first, kept on No.
    std::string edited = ReadFileBytes(dir.Native("exports")) + "# by hand\r\n";
    WriteFileBytes(dir.Native("exports"), edited);
    answers = {IDYES, IDNO};
    Select(Ui.list, 0);
    Command(CMD_REMOVE);
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports")), edited);
    WriteFileBytes(dir.Native("exports"), edited.substr(0, edited.size() - 11));
    messageAnswer = IDOK;
    Command(CMD_REMOVE);
    EXPECT_EQ(StatusText(Ui.topBar), " 1 Entries");
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{base + "\\sub| -alldirs|", "||"}));
    char line[2100];
    snprintf(line, sizeof line, "%-16s -alldirs\n", (base + "\\sub").c_str());
    EXPECT_EQ(WithoutCarriageReturns(ReadFileBytes(dir.Native("exports"))), "# exports of the window test\n" + std::string(line));
}

TEST_F(MainWindow, StartFailuresAreReported)
{
    Start(SERVICES_PORTMAPPER_FAILED);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Failed to start PortMapper (port in use or not allowed: 111)");
    Pump(1500, [] { return StatusText(Ui.bottomBar) != ""; });
    EXPECT_EQ(StatusText(Ui.bottomBar), " " + messages[0]);
    // The window stays usable in the failed state.
    Command(CMD_VIEW_MOUNTS);
    EXPECT_EQ(StatusText(Ui.topBar), " 0 Clients");
}

TEST_F(MainWindow, TheServiceMenuShowsWhileTheServiceIsInstalled)
{
    static bool installed = false;
    static std::vector<int> calls;
    struct Restore {
        ServiceControlCalls real = UiServiceControl;
        ~Restore() { UiServiceControl = real; }
    } restore;
    UiServiceControl = {[] { return installed; }, [] { return (DWORD)0; },
                        [] { calls.push_back(CMD_SERVICE_START); return (DWORD)0; },
                        [] { calls.push_back(CMD_SERVICE_STOP); return (DWORD)ERROR_SERVICE_NOT_ACTIVE; },
                        nullptr, nullptr, [](char *, size_t) { return false; }};
    LoadExports("");
    Start();
    EXPECT_EQ(GetMenuItemCount(Ui.menu), 4);
    installed = true;
    BuildMenusAndViews();
    EXPECT_EQ(MenuText(Ui.menu, 3, MF_BYPOSITION) + "," + MenuText(Ui.menu, 4, MF_BYPOSITION), "&Service,&Help");
    EXPECT_EQ(PopupItems(GetSubMenu(Ui.menu, 3)), (std::vector<std::string>{"&Start", "S&top", "&Restart"}));
    Command(CMD_SERVICE_START);
    EXPECT_TRUE(messages.empty());
    Command(CMD_SERVICE_STOP);
    EXPECT_EQ(calls, (std::vector<int>{CMD_SERVICE_START, CMD_SERVICE_STOP}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("The service control manager refused: ", 0), 0u) << messages[0];
}

TEST_F(MainWindow, WhileTheServiceRunsTheWindowControlsIt)
{
    static std::vector<std::string> calls;
    static DWORD state;
    state = SERVICE_RUNNING;
    struct Restore {
        ServiceControlCalls real = UiServiceControl;
        ~Restore() { UiServiceControl = real; }
    } restore;
    static HANDLE release = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // the restart waits for it
    UiServiceControl = {[] { return true; }, [] { return state; }, nullptr, nullptr,
                        [] {
                            calls.push_back("restart");
                            WaitForSingleObject(release, 1500);
                            calls.push_back("restarted");
                            return (DWORD)0;
                        },
                        [] { calls.push_back("reload"); return (DWORD)0; }, [](char *, size_t) { return false; }};
    LoadExports("@\n");
    ASSERT_EQ(ControlStart(GetModuleHandleA(nullptr), ("\"" + Path("") + "\"").c_str(), SW_SHOWNORMAL), 1);
    state = SERVICE_STOPPED;  // the refresh asks no mount service
    Pump(300);
    // No services of its own; the service's exports file.
    EXPECT_TRUE(Ui.serviceControlled && NfsPort == 0);
    EXPECT_EQ(StatusText(Ui.bottomBar), " The service KorvaneNfsd is not running");
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{Path("") + "||", "||"}));
    // Start only while the service is stopped, Stop only while it is not.
    HMENU service = GetSubMenu(Ui.menu, 3);
    auto grayed = [service](int command) {
        SendMessageA(Ui.main, WM_INITMENUPOPUP, (WPARAM)service, 3);
        return (GetMenuState(service, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
    };
    EXPECT_TRUE(grayed(CMD_SERVICE_STOP) && !grayed(CMD_SERVICE_START));
    state = SERVICE_RUNNING;
    EXPECT_TRUE(grayed(CMD_SERVICE_START) && !grayed(CMD_SERVICE_STOP));
    state = SERVICE_STOPPED;
    // A removed export is read again by the service; Restart (the menu's and
    // the preferences' offer) restarts the service while the window answers.
    Select(Ui.list, 0);
    SendMessageA(Ui.list, WM_KEYDOWN, VK_DELETE, 0);
    const DWORD before = GetTickCount();
    Command(CMD_SERVICE_RESTART);
    EXPECT_LT(GetTickCount() - before, 1000u);
    EXPECT_EQ(StatusText(Ui.bottomBar), " Restarting the service KorvaneNfsd...");
    EXPECT_TRUE(grayed(CMD_SERVICE_RESTART));
    ControlRestart();  // not while one runs
    SetEvent(release);
    EXPECT_TRUE(Pump(2000, [&] { return !grayed(CMD_SERVICE_RESTART); }));
    SetEvent(release);
    ControlRestart();
    EXPECT_TRUE(Pump(2000, [&] { return !grayed(CMD_SERVICE_RESTART); }));
    EXPECT_EQ(calls, (std::vector<std::string>{"reload", "restart", "restarted", "restart", "restarted"}));
    EXPECT_EQ(messages, (std::vector<std::string>{"Remove this export?\n\n" + Path("")}));
    // Exit waits for a restart under way: the service is not left stopped.
    Command(CMD_SERVICE_RESTART);
    Command(CMD_EXIT);
    EXPECT_EQ(calls.back(), "restarted");
}

TEST_F(MainWindow, KeyboardReachesEveryListCommand)
{
    LoadExports("@\n@\\sub\n");
    Start();
    EXPECT_EQ(GetFocus(), Ui.list);
    // Enter on an export edits it; on the empty row it adds one.
    for (int row : {0, 2}) {
        Select(Ui.list, row);
        std::string folder = "none";
        WhileModal([] { SendMessageA(Ui.list, WM_KEYDOWN, VK_RETURN, 0); }, [&] {
            char text[1024];
            GetDlgItemTextA(dialogs[IDD_EXPORT], IDC_FOLDER, text, sizeof text);
            folder = text;
            SendMessageA(dialogs[IDD_EXPORT], WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(folder, row == 0 ? Path("") : "");
    }
    // Shift+F10 on the empty row: Edit and Remove are shut.
    UINT edit = 0, remove = 0;
    WhileModal([] { SendMessageA(Ui.main, WM_CONTEXTMENU, (WPARAM)Ui.list, -1); }, [&] {
        edit = GetMenuState(Ui.contextMenu, CMD_EDIT, MF_BYCOMMAND);
        remove = GetMenuState(Ui.contextMenu, CMD_REMOVE, MF_BYCOMMAND);
        EndMenu();
    });
    EXPECT_NE(edit & remove & MF_GRAYED, 0u);
    // Delete asks first; No keeps the export.
    Select(Ui.list, 1);
    messageAnswer = IDNO;
    SendMessageA(Ui.list, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(messages, (std::vector<std::string>{"Remove this export?\n\n" + Path("sub")}));
    EXPECT_EQ(Rows(Ui.list).size(), 3u);
    messageAnswer = IDYES;
    SendMessageA(Ui.list, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(Rows(Ui.list).size(), 2u);
}

TEST_F(MainWindow, TrayAndContextMenus)
{
    LoadExports("");
    Start();
    EXPECT_EQ(Rows(Ui.list), (std::vector<std::string>{"||"}));
    EXPECT_EQ(StatusText(Ui.topBar), " 0 Entries");
    // The taskbar of the test has no notification area: stand in for it.
    Ui.trayPresent = true;
    std::vector<std::string> shown;
    WhileModal([] { SendMessageA(Ui.main, UI_TRAY_MESSAGE, 0, WM_RBUTTONDOWN); }, [&] {
        shown = PopupItems(Ui.trayMenu);
        EndMenu();
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"&Open", "&View Log", "&Preferences", "Exit"}));
    EXPECT_EQ(GetMenuDefaultItem(Ui.trayMenu, FALSE, 0), (UINT)CMD_SHOW);

    // Minimised with a tray icon, the window hides; a click on the icon
    // brings it back.
    ShowWindow(Ui.main, SW_MINIMIZE);
    Pump(50);
    EXPECT_FALSE(IsWindowVisible(Ui.main));
    SendMessageA(Ui.main, UI_TRAY_MESSAGE, 0, WM_LBUTTONDOWN);
    Pump(50);
    EXPECT_TRUE(IsWindowVisible(Ui.main));
    EXPECT_FALSE(IsIconic(Ui.main));

    NMHDR click = {Ui.list, 0, (UINT)NM_RCLICK};
    shown.clear();
    WhileModal([&] { SendMessageA(Ui.main, WM_NOTIFY, 0, (LPARAM)&click); }, [&] {
        shown = PopupItems(Ui.contextMenu);
        EndMenu();
    });
    EXPECT_TRUE(shown.empty());  // no row selected: no menu
    Select(Ui.list, 0);
    WhileModal([&] { SendMessageA(Ui.main, WM_NOTIFY, 0, (LPARAM)&click); }, [&] {
        shown = PopupItems(Ui.contextMenu);
        EndMenu();
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"Insert", "Edit", "Remove"}));
    Command(CMD_VIEW_MOUNTS);
    EXPECT_EQ(PopupItems(Ui.contextMenu), (std::vector<std::string>{"Disconnect"}));
}

TEST_F(MainWindow, TheTranslationReachesEveryTextOfTheWindow)
{
    LoadExports("@\n");
    Start();
    UseLanguage("deutsch.ini");
    BuildMenusAndViews();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
    Pump(50);
    char value[256];
    for (size_t i = 0; i < TopMenuKeyCount; i++) {
        ASSERT_TRUE(LanguageValue("Menu", TopMenuKeys[i].key, value, sizeof value));
        EXPECT_EQ(MenuText(Ui.menu, (UINT)TopMenuKeys[i].id, MF_BYPOSITION), value);
    }
    for (size_t i = 0; i < MenuItemKeyCount; i++) {
        ASSERT_TRUE(LanguageValue("Menu", MenuItemKeys[i].key, value, sizeof value));
        EXPECT_EQ(MenuText(Ui.menu, (UINT)MenuItemKeys[i].id), value);
    }
    EXPECT_EQ(ColumnTitle(Ui.list, 0) + "," + ColumnTitle(Ui.list, 1), "Ordner,Optionen");
    EXPECT_EQ(StatusText(Ui.topBar), " 1 Eintr\xe4ge");
    EXPECT_EQ(StatusText(Ui.bottomBar), " Bereit auf Port 2049");
    EXPECT_EQ(PopupItems(Ui.contextMenu), (std::vector<std::string>{"Einf\xfcgen", "Bearbeiten", "Entfernen"}));
    char caption[128];
    GetWindowTextA(Ui.main, caption, sizeof caption);
    EXPECT_STREQ(caption, "Korvane NFS-Server");
}

TEST_F(MainWindow, ExitStopsTheServicesAndKeepsThePlace)
{
    Start(0, "-other");
    ASSERT_TRUE(IsWindowVisible(Ui.main));
    MoveWindow(Ui.main, 40, 30, 520, 260, TRUE);
    SendMessageA(Ui.main, WM_COMMAND, CMD_EXIT, 0);
    EXPECT_EQ(Ui.main, nullptr);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(ServiceStatus, SERVICES_STOPPED);
    EXPECT_EQ(ReadUserInt("nfsd", "left", -1), 40);
    EXPECT_EQ(ReadUserInt("nfsd", "width", -1), 520);
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        quit = quit || (message.message == WM_QUIT && message.wParam == 0);
    EXPECT_TRUE(quit);
}

TEST_F(MainWindow, IconicStartShowsNoWindow)
{
    Start(0, "-ICONIC");
    EXPECT_FALSE(IsWindowVisible(Ui.main));
    // Closing from the caption only minimises.
    ShowWindow(Ui.main, SW_SHOW);
    SendMessageA(Ui.main, WM_CLOSE, 0, 0);
    Pump(50);
    EXPECT_NE(Ui.main, nullptr);
    EXPECT_TRUE(IsIconic(Ui.main));
}

}  // namespace

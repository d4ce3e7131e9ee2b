// The window against the real services: tests/integration/ui_live_test.sh
// (and tools/ui-screenshots) run it with KORVANE_UI_LIVE_DATA naming a data
// folder and check each step from outside; without it the test is skipped.
#include "platform/win32.h"

#include <commctrl.h>

#include <cstdlib>

#include "exports/exports.h"
#include "rpc/transport.h"
#include "server/services.h"
#include "settings/settings.h"
#include "ui/preferences.h"
#include "ui/resource.h"
#include "window_fixture_win32.h"

namespace {

class Live : public WindowTest {
protected:
    void SetUp() override
    {
        const char *folder = getenv("KORVANE_UI_LIVE_DATA");
        if (folder == nullptr || folder[0] == '\0' || getenv("KORVANE_UI_HANDSHAKE") == nullptr)
            GTEST_SKIP() << "runs from tests/integration/ui_live_test.sh";
        data = folder;
        WindowTest::SetUp();
        UiServices = {ServicesStart, ServerLoop, ServicesStop};
    }
    void TearDown() override
    {
        if (!data.empty())
            WindowTest::TearDown();
    }

    // Starts the window with the real services on the live data folder and
    // waits until they run (the mount service answers) and the server
    // thread's refresh is done.
    void StartLive()
    {
        ServiceStatus = SERVICES_RUNNING;
        ASSERT_EQ(ControlStart(GetModuleHandleA(nullptr), ("\"" + data + "\"").c_str(), SW_SHOWNORMAL), 1);
        std::vector<ClientViewRow> rows;
        ASSERT_TRUE(Pump(60000, [&] { return QueryExportList(ServerSettings.MountPort, rows); }));
        Pump(1500, [] { return Ui.refresh.counter == 0; });
        Pump(200);
    }

    void Step(const char *name, const std::string &content = "")
    {
        std::string failure;
        EXPECT_TRUE(Handshake(std::string("step.") + name, content, &failure)) << name << ": " << failure;
    }

    // The rows of a page's list, one line each.
    static std::string PageRows(HWND page)
    {
        std::string text;
        for (const std::string &row : Rows(GetDlgItem(page, IDC_LIST)))
            text += row + "\n";
        return text;
    }

    std::string data;
};

TEST_F(Live, WindowAgainstTheRunningServer)
{
    StartLive();
    ASSERT_EQ(ServiceStatus, SERVICES_RUNNING);
    std::vector<std::string> rows = Rows(Ui.list);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_NE(rows[0].find("\\export\\data| -alldirs|"), std::string::npos) << rows[0];
    MoveWindow(Ui.main, 0, 0, 720, 260, TRUE);
    Shot("main-exports");
    Shot("context-menu");  // a right click on the first row
    if (Ui.trayPresent) {  // a right click on the icon in the system tray
        MoveWindow(Ui.main, 0, 50, 720, 260, TRUE);
        Shot("tray-menu");
        SetWindowPos(Ui.main, HWND_TOP, 0, 0, 720, 260, 0);
    }
    // With a mount by a raw client, the mounts view and the client views of
    // the preferences show what rpcinfo and showmount show.
    Step("mount");
    Command(CMD_VIEW_MOUNTS);
    EXPECT_TRUE(Pump(3000, [] { return Rows(Ui.list).size() == 1; }));
    Shot("main-mounts");
    WhileModal([] { Command(CMD_PREFERENCES); }, [&] {
        HWND sheet = GetParent(dialogs[IDD_PAGE_NFS]);
        const struct {
            int index, page;
            const char *step;
            int folder;  // the column of the folders
        } pages[] = {{2, IDD_PAGE_EXPORTS, "pages-exports", 0}, {3, IDD_PAGE_MOUNTS, "pages-mounts", 1},
                     {4, IDD_PAGE_PORTMAPPER, "pages-portmapper", 0}};
        for (const auto &p : pages) {
            PropSheet_SetCurSel(sheet, nullptr, p.index);
            Pump(200);
            Step(p.step, PageRows(dialogs[p.page]));
            HWND list = GetDlgItem(dialogs[p.page], IDC_LIST);
            for (std::string row : Rows(list)) {  // no folder is cut
                for (int c = 0; c < p.folder; c++)
                    row = row.substr(row.find('|') + 1);
                EXPECT_LE(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, (LPARAM)row.substr(0, row.find('|')).c_str()),
                          SendMessageA(list, LVM_GETCOLUMNWIDTH, p.folder, 0)) << row;
            }
            Shot(p.step + 6);
        }
        PropSheet_PressButton(sheet, PSBTN_CANCEL);
    });

    // A second start of the program brings this window forward.
    ShowWindow(Ui.main, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(Ui.main));
    Step("second-start");
    EXPECT_TRUE(Pump(5000, [] { return !IsIconic(Ui.main); }));
    SendMessageA(Ui.main, WM_COMMAND, CMD_EXIT, 0);
    Pump(100);

    // With the mount port taken, a start names the service and the port.
    SOCKET taken = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(ServerSettings.MountPort);
    ASSERT_EQ(bind(taken, (sockaddr *)&address, sizeof address), 0);
    messageShot = "start-failure";
    ASSERT_EQ(ControlStart(GetModuleHandleA(nullptr), ("\"" + data + "\"").c_str(), SW_SHOWNORMAL), 1);
    EXPECT_TRUE(Pump(10000, [] { return !messages.empty(); }));
    closesocket(taken);
    EXPECT_EQ(messages, (std::vector<std::string>{"Failed to start Mount server (port in use or not allowed: " +
                                                  std::to_string(ServerSettings.MountPort) + ")"}));
    SendMessageA(Ui.main, WM_COMMAND, CMD_EXIT, 0);
}

}  // namespace

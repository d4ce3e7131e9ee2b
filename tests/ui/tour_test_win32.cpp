// The pictures of the README's tour: the window with an office's exports and
// mounts, its menus, and a start failure.  Outside the screenshot script
// (tools/ui-screenshots) they run as quick checks of the same scenes.
#include "platform/win32.h"

#include <commctrl.h>

#include <cstdio>

#include "exports/exports.h"
#include "mount/mount_table.h"
#include "server/services.h"
#include "ui/resource.h"
#include "window_fixture_win32.h"

namespace {

class Tour : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        SetHostAddressLookup(OfficeName);
    }

    static int OfficeName(uint32_t address, char *name, size_t size)
    {
        static const char *const names[] = {"build01.lab.example", "ws-anna.lab.example", "ws-ben.lab.example"};
        snprintf(name, size, "%s", names[((address >> 24) & 0xFF) % 3]);
        return 1;
    }

    // Mounts of the n-th export.
    static void MountOf(int n, const char *client, uint32_t kind, const char *sub = nullptr)
    {
        ExportEntry *entry = ExportFirst();
        for (int i = 0; i < n; i++)
            entry = ExportNext(entry);
        std::string path = std::string(entry->path) + (sub != nullptr ? sub : "");
        uint32_t id;
        MountAdd(Addr(client), kind, path.c_str(), 9, entry, 1, 255, entry->flags, &id);
    }

    void OfficeScene()
    {
        LoadExports("# The lab's exports\n"
                    "C:\\Projects -name:projects -alldirs 192.168.1.20 192.168.1.21 192.168.1.22\n"
                    "D:\\Media -readonly -public\n"
                    "\\\\fileserver\\home -maproot:0:0 -umask:027 -range 192.168.1.1 192.168.1.254\n");
        Start();
        MountOf(0, "192.168.1.20", MOUNT_KIND_TCP);
        MountOf(0, "192.168.1.21", MOUNT_KIND_TCP | MOUNT_KIND_AUTO, "\\website");
        MountOf(1, "192.168.1.22", MOUNT_KIND_UDP | MOUNT_KIND_WEBNFS);
        MountOf(2, "192.168.1.21", MOUNT_KIND_UDP);
        MountWaitHostLookups(5000);
        MoveWindow(Ui.main, 0, 0, 720, 260, TRUE);
    }
};

TEST_F(Tour, MainWindowViewsAndMenus)
{
    OfficeScene();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
    Pump(100);
    EXPECT_EQ(StatusText(Ui.topBar), " 3 Entries");
    Shot("main-exports");
    Select(Ui.list, 0);
    NMHDR click = {Ui.list, 0, (UINT)NM_RCLICK};
    SetCursorPos(180, 110);
    WhileModal([&] { SendMessageA(Ui.main, WM_NOTIFY, 0, (LPARAM)&click); }, [] {
        Shot("context-menu");
        EndMenu();
    });
    Command(CMD_VIEW_MOUNTS);
    EXPECT_EQ(StatusText(Ui.topBar), " 4 Clients");
    Shot("main-mounts");
    Ui.trayPresent = true;
    SetCursorPos(560, 200);
    WhileModal([] { SendMessageA(Ui.main, UI_TRAY_MESSAGE, 0, WM_RBUTTONDOWN); }, [] {
        Shot("tray-menu");
        EndMenu();
    });
    Ui.trayPresent = false;
    UseLanguage("deutsch.ini");
    BuildMenusAndViews();
    Command(CMD_VIEW_EXPORTS);
    EXPECT_EQ(StatusText(Ui.topBar), " 3 Eintr\xe4ge");
    Shot("main-german");
}

TEST_F(Tour, ExportDialogAndEditor)
{
    OfficeScene();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
    Pump(100);
    Select(Ui.list, 0);
    WhileModal([] { Command(CMD_EDIT); }, [] {
        Shot("export-dialog");
        SendMessageA(dialogs[IDD_EXPORT], WM_COMMAND, IDCANCEL, 0);
    });
    WhileModal([] { OpenExportsEditor(Ui.main); }, [] {
        Shot("exports-editor");
        SendMessageA(dialogs[IDD_EXPORTS_EDITOR], WM_COMMAND, IDCANCEL, 0);
    });
}

TEST_F(Tour, StartFailure)
{
    LoadExports("C:\\Projects -alldirs\n");
    messageShot = "start-failure";
    Start(SERVICES_MOUNT_FAILED);
    EXPECT_EQ(messages, (std::vector<std::string>{"Failed to start Mount server"}));
}

}  // namespace

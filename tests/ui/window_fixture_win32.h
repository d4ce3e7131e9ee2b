// The real control window on the test's thread, with stand-in services of a
// chosen start result; the test answers message boxes and sees every dialog.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "ui/control_win32.h"
#include "ui_fixture.h"

class WindowTest : public UiTest {
protected:
    void SetUp() override;
    void TearDown() override;

public:
    // Starts the window on the test folder; the services report status.
    void Start(int status = 0, const char *options = "");
    // Handles the window's messages for ms milliseconds, or until done().
    static bool Pump(int ms, const std::function<bool()> &done = nullptr);
    // Sends a menu command and handles what it posted.
    static void Command(int id);
    static void Select(HWND list, int row);
    static std::string StatusText(HWND bar);
    static std::string ColumnTitle(HWND list, int column);
    static std::vector<std::string> Rows(HWND list);
    static std::string MenuText(HMENU menu, UINT item, UINT flags = MF_BYCOMMAND);
    // Runs script (from a timer, so inside whatever modal loop action starts)
    // and then action; the script ends the modal loop.
    static void WhileModal(const std::function<void()> &action, const std::function<void()> &script);
    // With KORVANE_UI_HANDSHAKE naming a folder: a request file there, awaited
    // until the test script removes it; false (with its reason) on failure.
    static bool Handshake(const std::string &name, const std::string &content = "",
                          std::string *failure = nullptr);
    // Asks the screenshot script for a picture of the screen as it is now.
    static void Shot(const char *name);

    // Message boxes shown so far (their texts).
    static std::vector<std::string> messages;
    static int messageAnswer;
    static std::vector<int> answers;  // answered first, in order, before messageAnswer
    // The name of the picture of the next message box (screenshots only).
    static std::string messageShot;
    // The last dialog set up, by resource id.
    static HWND dialogs[200];
    static bool stopped;
};

// The administrator's hands for the acceptance run of service_test.sh: the
// control window of another process (nfsd.exe) driven from outside by
// messages and keys, and a stand-in for netsh's firewall rules, which
// Wine's netsh accepts and forgets.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32.h"
#include "ui/resource.h"
#include "wire.h"

namespace {

// Waits up to ms milliseconds for find() to give a window.
template <typename Find> HWND WaitFor(int ms, Find find)
{
    for (int waited = 0;; waited += 100) {
        HWND window = find();
        if (window != nullptr || waited >= ms)
            return window;
        Sleep(100);
    }
}

BOOL CALLBACK FindExportDialog(HWND window, LPARAM found)
{
    if (GetDlgItem(window, IDC_FOLDER) != nullptr && IsWindowVisible(window)) {
        *reinterpret_cast<HWND *>(found) = window;
        return FALSE;
    }
    return TRUE;
}

bool SetText(HWND control, const char *text)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &result) && result;
}

}  // namespace

int RunWindowRemote(int argc, char **argv)
{
    const std::string command = argc > 2 ? argv[2] : "";
    HWND main = WaitFor(30000, [] { return FindWindowA("nfsd", nullptr); });
    if (main == nullptr) {
        fprintf(stderr, "no control window\n");
        return 1;
    }
    if (command == "status") {  // the status bar's text
        char text[256] = "";
        DWORD_PTR length = 0;
        SendMessageTimeoutA(GetDlgItem(main, IDC_BOTTOM_BAR), WM_GETTEXT, sizeof text, (LPARAM)text,
                            SMTO_ABORTIFHUNG, 5000, &length);
        printf("%s\n", text);
        return 0;
    }
    const int menu = command == "start" ? CMD_SERVICE_START : command == "stop" ? CMD_SERVICE_STOP
                     : command == "exit" ? CMD_EXIT : 0;
    if (menu != 0)
        return PostMessageA(main, WM_COMMAND, (WPARAM)menu, 0) ? 0 : 1;
    if (command != "add" || argc < 5) {
        fprintf(stderr, "usage: integration_driver --window status | start | stop | exit | add FOLDER OPTIONS\n");
        return 2;
    }
    // End, Insert: the export dialog of a new export, filled in and saved.
    HWND list = FindWindowExA(main, nullptr, "SysListView32", nullptr);
    PostMessageA(list, WM_KEYDOWN, VK_END, 0);
    PostMessageA(list, WM_KEYDOWN, VK_INSERT, 0);
    DWORD thread = GetWindowThreadProcessId(main, nullptr);
    auto dialog = [thread] {
        HWND found = nullptr;
        EnumThreadWindows(thread, FindExportDialog, (LPARAM)&found);
        return found;
    };
    HWND open = WaitFor(10000, dialog);
    if (open == nullptr || !SetText(GetDlgItem(open, IDC_FOLDER), argv[3]) ||
        !SetText(GetDlgItem(open, IDC_OPTIONS), argv[4])) {
        fprintf(stderr, "the export dialog did not open\n");
        return 1;
    }
    PostMessageA(open, WM_COMMAND, IDOK, 0);
    if (WaitFor(10000, [&] { return IsWindow(open) ? nullptr : main; }) == nullptr) {
        fprintf(stderr, "the export dialog did not save\n");
        return 1;
    }
    return 0;
}

// netsh advfirewall firewall add rule name=N ... | delete rule name=N | show
// rule name=all: the rules kept one a line in netsh-rules.txt beside the
// program; an added rule of a name already there is there twice.
int RunFirewallStandIn(int argc, char **argv)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH - 16);
    strcpy(strrchr(path, '\\') + 1, "netsh-rules.txt");
    std::string action = argc > 3 ? argv[3] : "", name = argc > 5 ? argv[5] : "", rules, line;
    if (n == 0 || argc < 6 || strcmp(argv[4], "rule") != 0 || name.rfind("name=", 0) != 0)
        return 1;
    if (FILE *file = fopen(path, "r")) {
        for (char buffer[1024]; fgets(buffer, sizeof buffer, file);)
            if (action != "delete" || std::string(buffer).rfind(name + "|", 0) != 0)
                rules += buffer;
        fclose(file);
    }
    if (action == "show") {
        fputs(rules.c_str(), stdout);
        return 0;
    }
    for (int i = 5; action == "add" && i < argc; i++)
        line += std::string(argv[i]) + (i + 1 < argc ? "|" : "\n");
    FILE *file = fopen(path, "w");
    return file != nullptr && fputs((rules + line).c_str(), file) >= 0 && fclose(file) == 0 ? 0 : 1;
}

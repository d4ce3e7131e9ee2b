// Process start, server thread, refresh timer and shutdown of the control
// window.
#include "ui/control_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "exports/export_table.h"
#include "log/log.h"
#include "rpc/transport.h"
#include "server/services.h"
#include "settings/settings.h"
#include "ui/language.h"
#include "ui/main_view.h"
#include "ui/preferences.h"
#include "ui/resource.h"
#include "ui/service_control_win32.h"

ControlWindow Ui;
ServerSettingsRecord UiStartedSettings;
ControlServices UiServices = {ServicesStart, ServerLoop, ServicesStop};
int (*UiMessageBoxHook)(HWND owner, const char *text, UINT style) = nullptr;
void (*UiDialogHook)(HWND dialog, int resource) = nullptr;

namespace {

const char CLASS_NAME[] = "nfsd";
bool WinsockUp = false;

DWORD WINAPI ServerThreadBody(LPVOID)
{
    OpenLog(LogDir);
    int status = UiServices.start();
    ServiceStatus = status;
    if (FindServiceStatusMessage(status) != nullptr)
        UiMessageBox(Ui.main, 0, StartFailureText(status).c_str());
    if (status == SERVICES_RUNNING) {
        PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
        PostMessageA(Ui.main, UI_STARTED_MESSAGE, 0, 0);
        UiServices.serve();
    }
    CloseLog();
    return 0;
}

// The failure of a start step: the message, then the window goes.
int StartFailure(HWND owner)
{
    char text[128];
    GetText(34, "NFS_ERROR_1", text, sizeof(text));
    UiMessageBox(owner, 0, text);
    if (owner != nullptr)
        DestroyWindow(owner);
    return 0;
}

// Lets dropped files and copied data through from processes of lower
// integrity, with whichever filter function user32 offers.
void AllowDropMessages(HWND window)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (user32 == nullptr)
        return;
    const UINT messages[] = {WM_DROPFILES, 0x49, WM_COPYDATA};
    typedef BOOL(WINAPI * FilterEx)(HWND, UINT, DWORD, void *);
    typedef BOOL(WINAPI * Filter)(UINT, DWORD);
    FilterEx filterEx = reinterpret_cast<FilterEx>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    Filter filter = reinterpret_cast<Filter>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    for (UINT message : messages) {
        BOOL ok = filterEx != nullptr ? filterEx(window, message, 1, nullptr)
                                      : filter != nullptr ? filter(message, 1) : FALSE;
        if (!ok)
            return;
    }
}

// Stops the services (those a failed start left running too) and waits for
// the server thread; false without one.
bool StopServerThread()
{
    if (ServiceStatus != SERVICES_STOPPED)
        UiServices.stop();
    // The server loop returns once the transports are stopped; wait for the
    // server thread to close the log rather than guessing a time.
    if (Ui.serverThread == nullptr)
        return false;
    WaitForSingleObject(Ui.serverThread, (DWORD)(RPCTIMEOUT > 0 ? RPCTIMEOUT + 3 : 5) * 1000u);
    CloseHandle(Ui.serverThread);
    Ui.serverThread = nullptr;
    return true;
}

// The service control manager's refusal, with Windows' reason.
void ShowServiceError(HWND owner, DWORD error)
{
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                   (DWORD)sizeof(reason), nullptr);
    size_t length = strlen(reason);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n'))
        reason[--length] = '\0';
    if (length == 0)
        snprintf(reason, sizeof(reason), "%lu", (unsigned long)error);
    char text[512];
    snprintf(text, sizeof(text), Text(55, "SVC_ERROR").c_str(), reason);
    UiMessageBox(owner, 0, text);
}

bool ServiceRunning()
{
    DWORD state = UiServiceControl.installed() ? UiServiceControl.state() : 0;
    return state == SERVICE_RUNNING || state == SERVICE_START_PENDING;
}

// The window controls the service from now on: the service's data folder
// (when its command line names one), settings and exports file.
void BecomeController()
{
    char folder[DATA_DIRECTORY_SIZE];
    if (UiServiceControl.dataFolder(folder, sizeof(folder)) && strcmp(folder, DataDirectory) != 0) {
        snprintf(DataDirectory, sizeof(DataDirectory), "%s", folder);
        SelectSettingsFile(DataDirectory, "nfsd", 1);
        LoadSettings("nfsd");
    }
    Ui.serviceControlled = true;
    ServiceStatus = SERVICES_STOPPED;
    UiStartedSettings = ServerSettings;
    // The table the export dialog and Remove work on; nothing is served.
    ExportsLoad();
}

void StartServerThread()
{
    ServiceStatus = SERVICES_RUNNING;
    UiStartedSettings = ServerSettings;
    Ui.serverThread = CreateThread(nullptr, 0, ServerThreadBody, nullptr, 0, nullptr);
}

void Shutdown(HWND window)
{
    if (!IsIconic(window)) {
        RECT r;
        if (GetWindowRect(window, &r)) {
            WriteUserInt("nfsd", "left", r.left, 0);
            WriteUserInt("nfsd", "top", r.top, 0);
            WriteUserInt("nfsd", "width", r.right - r.left, 0);
            WriteUserInt("nfsd", "height", r.bottom - r.top, 0);
        }
    }
    if (Ui.trayPresent)
        DeleteTrayIcon();
    if (Ui.timerStarted) {
        KillTimer(window, UI_REFRESH_TIMER);
        Ui.timerStarted = false;
    }
    if (!StopServerThread())
        Sleep(100);
    if (Ui.restartThread != nullptr) {  // the service is not left stopped
        WaitForSingleObject(Ui.restartThread, 35000);
        CloseHandle(Ui.restartThread);
        Ui.restartThread = nullptr;
    }
    if (Ui.menu != nullptr && GetMenu(window) == Ui.menu)
        SetMenu(window, nullptr);
    Ui.main = nullptr;
    PostQuitMessage(0);
}

}  // namespace

int UiMessageBox(HWND owner, UINT style, const char *text)
{
    if (style == 0)
        style = MB_ICONHAND | MB_TASKMODAL;
    if (UiMessageBoxHook != nullptr)
        return UiMessageBoxHook(owner, text, style);
    return MessageBoxExA(owner, text, Language.title, style, GetUserDefaultLangID());
}

void UiDialogReady(HWND dialog, int resource)
{
    if (UiDialogHook != nullptr)
        UiDialogHook(dialog, resource);
}

int ActivateRunningInstance()
{
    HWND window = FindWindowA(CLASS_NAME, nullptr);
    if (window == nullptr)
        return 0;
    HWND popup = GetLastActivePopup(window);
    BringWindowToTop(window);
    if (IsIconic(window) || !IsWindowVisible(window))
        PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    SetForegroundWindow(window);
    if (popup != nullptr && popup != window)
        BringWindowToTop(popup);
    return 1;
}

int ControlStart(HINSTANCE instance, const char *commandLine, int show)
{
    InitCommonControls();
    Ui = ControlWindow();
    Ui.resolve = true;
    Ui.instance = instance;

    char module[PROGRAM_DIRECTORY_SIZE];
    DWORD n = GetModuleFileNameA(instance, module, sizeof(module));
    if (n >= sizeof(module))
        n = sizeof(module) - 1;
    module[n] = '\0';
    char *slash = strrchr(module, '\\');
    if (slash != nullptr)
        slash[1] = '\0';
    snprintf(ProgramDirectory, sizeof(ProgramDirectory), "%s", module);

    if (ActivateRunningInstance())
        return 0;

    snprintf(DataDirectory, sizeof(DataDirectory), "%s", ProgramDirectory);
    StartOptions options = ParseStartOptions(SplitCommandLine(commandLine), DataDirectory, sizeof(DataDirectory));
    SelectSettingsFile(DataDirectory, "nfsd", 1);

    LoadLanguage();
    const int32_t useDefault = (int32_t)0x80000000u;
    int32_t left = ReadUserInt("nfsd", "left", useDefault);
    int32_t top = ReadUserInt("nfsd", "top", useDefault);
    int32_t width = ReadUserInt("nfsd", "width", 500);
    int32_t height = ReadUserInt("nfsd", "height", 250);
    Ui.trayWanted = ReadUserInt("nfsd", "TrayIcon", 1);

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbWndExtra = 30;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    windowClass.hIconSm = (HICON)LoadImageA(instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = CLASS_NAME;
    // A test that starts the window a second time finds the class there.
    if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return StartFailure(nullptr);

    WindowPlace place = PlaceWindow(left, top, width, height, GetSystemMetrics(SM_CXSCREEN),
                                    GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CXMIN),
                                    GetSystemMetrics(SM_CYMIN));
    Ui.main = CreateWindowExA(0, CLASS_NAME, Language.title, WS_OVERLAPPEDWINDOW, place.x, place.y, place.width,
                              place.height, nullptr, nullptr, instance, nullptr);
    if (Ui.main == nullptr)
        return StartFailure(nullptr);
    Ui.bottomBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBARS_SIZEGRIP | CCS_BOTTOM, "",
                                       Ui.main, IDC_BOTTOM_BAR);
    // The top bar is placed by the window's layout: a status bar sizing
    // itself would go to the bottom edge on some platforms.
    Ui.topBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | CCS_TOP | CCS_NORESIZE, "", Ui.main,
                                    IDC_TOP_BAR);
    Ui.list = CreateWindowExA(WS_EX_CLIENTEDGE, "SysListView32", "List1",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT, 0, 0, 300, 150, Ui.main, nullptr,
                              instance, nullptr);
    if (Ui.bottomBar == nullptr || Ui.topBar == nullptr || Ui.list == nullptr) {
        StartFailure(nullptr);
        DestroyWindow(Ui.main);
        return 0;
    }
    Ui.trayImage = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN));
    SetWindowTextA(Ui.main, Language.title);
    setlocale(LC_TIME, "");
    SendMessageA(Ui.list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);

    SetProcessShutdownParameters(0x100, SHUTDOWN_NORETRY);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return StartFailure(Ui.main);
    WinsockUp = true;

    LoadSettings("nfsd");
    BuildMenusAndViews();
    LayoutMainWindow();

    ShowWindow(Ui.main, options.iconic ? SW_HIDE : show);
    SetFocus(Ui.list);
    AllowDropMessages(Ui.main);
    Ui.timerStarted = SetTimer(Ui.main, UI_REFRESH_TIMER, 1000, nullptr) != 0;
    UiStartedSettings = ServerSettings;
    // While the service runs, its ports are taken: the window controls it.
    if (ServiceRunning()) {
        BecomeController();
        PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
        return 1;
    }
    Ui.serverThread = CreateThread(nullptr, 0, ServerThreadBody, nullptr, 0, nullptr);
    if (Ui.serverThread == nullptr)
        return StartFailure(Ui.main);
    return 1;
}

int ControlMessageLoop()
{
    MSG message;
    int result = 0;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (got == 0)
        result = (int)message.wParam;
    if (WinsockUp) {
        WSACleanup();
        WinsockUp = false;
    }
    return result;
}

// --- The frame's messages ---------------------------------------------------------

// Timer tick: retry the tray icon, count, post the refresh.
void ControlTimerTick()
{
    if (Ui.trayWanted != 0 && !Ui.trayPresent)
        AddTrayIcon();
    int32_t counter = RefreshTick(Ui.refresh);
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, (LPARAM)counter);
}

// The refresh message: status bar, rows, menus when the view changed.
void ControlRefresh(LPARAM lParam)
{
    std::string bar =
        Ui.restartThread != nullptr ? ServiceBarText(SERVICE_BAR_RESTARTING, 0)
        : Ui.serviceControlled
            ? ServiceBarText(UiServiceControl.state() == SERVICE_RUNNING ? SERVICE_BAR_SERVING : SERVICE_BAR_STOPPED,
                             ServerSettings.Port)
            : BottomBarText((int)ServiceStatus, (unsigned)NfsPort);
    SendMessageA(Ui.bottomBar, SB_SETTEXTA, 0, (LPARAM)bar.c_str());
    if (lParam != 0)
        RefreshRows();
    if (Ui.view != Ui.viewAtRebuild) {
        BuildMenusAndViews();
        Ui.viewAtRebuild = Ui.view;
    }
    RefreshHandled(Ui.refresh);
}

void ControlRestart()
{
    if (Ui.serviceControlled) {
        ControlServiceCommand(CMD_SERVICE_RESTART);
        return;
    }
    StopServerThread();
    StartServerThread();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
}

namespace {

// The end of a Service menu command (the restart's on the window thread).
void ServiceCommandDone(int command, DWORD error, bool ownStopped)
{
    if (error == 0 && command != CMD_SERVICE_STOP)
        BecomeController();
    else if (ownStopped)
        StartServerThread();
    PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 1);
    if (error != 0)
        ShowServiceError(Ui.main, error);
}

DWORD WINAPI RestartThreadBody(LPVOID window)
{
    DWORD error = UiServiceControl.restart();
    PostMessageA((HWND)window, UI_RESTARTED_MESSAGE, (WPARAM)error, 0);
    return 0;
}

}  // namespace

void ControlServiceCommand(int command)
{
    if (Ui.restartThread != nullptr)
        return;
    bool ownStopped = command != CMD_SERVICE_STOP && !Ui.serviceControlled && StopServerThread();
    if (command == CMD_SERVICE_RESTART) {
        Ui.restartThread = CreateThread(nullptr, 0, RestartThreadBody, Ui.main, 0, nullptr);
        if (Ui.restartThread != nullptr) {
            Ui.restartOwnStopped = ownStopped;
            PostMessageA(Ui.main, UI_REFRESH_MESSAGE, 1, 0);
            return;
        }
    }
    HCURSOR cursor = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    DWORD error = command == CMD_SERVICE_START  ? UiServiceControl.start()
                  : command == CMD_SERVICE_STOP ? UiServiceControl.stop()
                                                : UiServiceControl.restart();
    SetCursor(cursor);
    ServiceCommandDone(command, error, ownStopped);
}

void ControlServiceRestarted(DWORD error)
{
    if (Ui.restartThread == nullptr)
        return;
    CloseHandle(Ui.restartThread);
    Ui.restartThread = nullptr;
    ServiceCommandDone(CMD_SERVICE_RESTART, error, Ui.restartOwnStopped);
}

void ControlExportsChanged(HWND owner)
{
    DWORD error = Ui.serviceControlled ? UiServiceControl.reload() : 0;
    if (error != 0)
        ShowServiceError(owner, error);
}

void ControlStarted()
{
    std::string refused = ExportsRefusedMessage();
    if (!refused.empty())
        UiMessageBox(Ui.main, MB_OK | MB_ICONEXCLAMATION, refused.c_str());
}

void ControlShutdown(HWND window) { Shutdown(window); }

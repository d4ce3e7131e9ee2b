#include "window_fixture_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exports/exports.h"
#include "server/services.h"
#include "settings/settings.h"
#include "ui/language.h"

std::vector<std::string> WindowTest::messages;
int WindowTest::messageAnswer = IDOK;
std::vector<int> WindowTest::answers;
std::string WindowTest::messageShot;
HWND WindowTest::dialogs[200];
bool WindowTest::stopped = false;

namespace {

int StartStatus = 0;
HANDLE StopEvent = nullptr;
std::function<void()> ModalScript;

int FakeStart(void)
{
    ExportsLoad();
    NfsPort = 2049;
    ServiceFailedPort = StartStatus == SERVICES_PORTMAPPER_FAILED ? 111 : 0;
    return StartStatus;
}
void FakeServe(void) { WaitForSingleObject(StopEvent, 10000); }
void FakeStop(void)
{
    ServiceStatus = SERVICES_STOPPED;
    WindowTest::stopped = true;
    SetEvent(StopEvent);
}

BOOL CALLBACK PressAnswer(HWND window, LPARAM answer)
{
    char name[16];
    // Only the message box (its text is the static 0xFFFF), not a dialog or sheet.
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, "#32770") == 0 && GetDlgItem(window, 0xFFFF))
        PostMessageA(window, WM_COMMAND, (WPARAM)answer, 0);
    return TRUE;
}

// For the screenshots the message box is shown, pictured and then answered.
int ShownAnswer = IDOK;
void CALLBACK PictureMessage(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (!WindowTest::messageShot.empty())
        WindowTest::Shot(WindowTest::messageShot.c_str());
    EnumThreadWindows(GetCurrentThreadId(), PressAnswer, ShownAnswer);
}

int AnswerMessage(HWND owner, const char *text, UINT style)
{
    const char *show = getenv("KORVANE_UI_SHOW_MESSAGES");
    int answer = WindowTest::messageAnswer;
    if (!WindowTest::answers.empty()) {
        answer = WindowTest::answers.front();
        WindowTest::answers.erase(WindowTest::answers.begin());
    }
    if (show != nullptr && show[0] == '1') {
        ShownAnswer = answer;
        SetTimer(nullptr, 0, 300, PictureMessage);
        answer = MessageBoxExA(owner, text, Language.title, style, 0);
    }
    WindowTest::messages.push_back(text);
    return answer;
}

void SeeDialog(HWND dialog, int resource)
{
    if (resource > 0 && resource < 200)
        WindowTest::dialogs[resource] = dialog;
}

void CALLBACK RunModalScript(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    std::function<void()> script = ModalScript;
    ModalScript = nullptr;
    if (script)
        script();
}

}  // namespace

void WindowTest::SetUp()
{
    UiTest::SetUp();
    messages.clear();
    messageAnswer = IDOK;
    answers.clear();
    messageShot.clear();
    stopped = false;
    memset(dialogs, 0, sizeof(dialogs));
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    UiServices = {FakeStart, FakeServe, FakeStop};
    UiMessageBoxHook = AnswerMessage;
    UiDialogHook = SeeDialog;
    ServiceStatus = SERVICES_RUNNING;
    NfsPort = 0;
}

void WindowTest::TearDown()
{
    if (Ui.main != nullptr)
        DestroyWindow(Ui.main);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    WSACleanup();
    UiMessageBoxHook = nullptr;
    UiDialogHook = nullptr;
    CloseHandle(StopEvent);
    UiTest::TearDown();
}

void WindowTest::Start(int status, const char *options)
{
    StartStatus = status;
    std::string line = std::string(options) + " \"" + Path("") + "\"";
    ASSERT_EQ(ControlStart(GetModuleHandleA(nullptr), line.c_str(), SW_SHOWNORMAL), 1);
    // The Languages folder of the source tree stands beside the program.
    snprintf(ProgramDirectory, sizeof ProgramDirectory, "%s", UiSourceFolder().c_str());
    ASSERT_TRUE(Pump(5000, [&] { return status == 0 ? Ui.refresh.counter == 0 && NfsPort != 0 : !messages.empty(); }));
    Pump(50);
}

bool WindowTest::Pump(int ms, const std::function<bool()> &done)
{
    DWORD end = GetTickCount() + (DWORD)ms;
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done && done())
            return true;
        if ((int)(end - GetTickCount()) <= 0)
            return !done;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void WindowTest::Command(int id)
{
    SendMessageA(Ui.main, WM_COMMAND, (WPARAM)id, 0);
    Pump(30);
}

void WindowTest::Select(HWND list, int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&item);
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)row, (LPARAM)&item);
}

std::string WindowTest::StatusText(HWND bar)
{
    char text[256] = "";
    SendMessageA(bar, SB_GETTEXTA, 0, (LPARAM)text);
    return text;
}

std::string WindowTest::ColumnTitle(HWND list, int column)
{
    char text[128] = "";
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT;
    c.pszText = text;
    c.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETCOLUMNA, (WPARAM)column, (LPARAM)&c);
    return text;
}

std::vector<std::string> WindowTest::Rows(HWND list)
{
    std::vector<std::string> rows;
    HWND header = (HWND)SendMessageA(list, LVM_GETHEADER, 0, 0);
    int columns = header != nullptr ? (int)SendMessageA(header, HDM_GETITEMCOUNT, 0, 0) : 1;
    int count = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (int row = 0; row < count; row++) {
        std::string text;
        for (int column = 0; column < columns; column++)
            text += (column > 0 ? "|" : "") + ListText(list, row, column);
        rows.push_back(text);
    }
    return rows;
}

std::string WindowTest::MenuText(HMENU menu, UINT item, UINT flags)
{
    char text[256] = "";
    GetMenuStringA(menu, item, text, sizeof(text), flags);
    return text;
}

void WindowTest::WhileModal(const std::function<void()> &action, const std::function<void()> &script)
{
    ModalScript = script;
    SetTimer(nullptr, 0, 100, RunModalScript);
    action();
}

bool WindowTest::Handshake(const std::string &name, const std::string &content, std::string *failure)
{
    const char *folder = getenv("KORVANE_UI_HANDSHAKE");
    if (folder == nullptr || folder[0] == '\0')
        return true;
    Pump(300);
    std::string request = std::string(folder) + "\\" + name + ".request";
    std::string failed = std::string(folder) + "\\" + name + ".failed";
    FILE *file = fopen(request.c_str(), "wb");
    if (file == nullptr)
        return false;
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
    if (!Pump(120000, [&] { return GetFileAttributesA(request.c_str()) == INVALID_FILE_ATTRIBUTES; }))
        return false;
    FILE *answer = fopen(failed.c_str(), "rb");
    if (answer == nullptr)
        return true;
    char text[4096];
    size_t n = fread(text, 1, sizeof(text) - 1, answer);
    fclose(answer);
    text[n] = '\0';
    if (failure != nullptr)
        *failure = text;
    return false;
}

void WindowTest::Shot(const char *name) { Handshake(std::string("shot.") + name); }

// The control window on Windows: process start, the main window with its
// views, menus and tray icon, the server thread and the shutdown.  The
// deciding logic lives in control.h, main_view.h and language.h.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "settings/settings.h"
#include "ui/control.h"
#include "ui/text_keys.h"

// Window messages of the main window besides the standard ones.
#define UI_REFRESH_MESSAGE WM_USER  // wParam 1, lParam = RefreshCounter
#define UI_TRAY_MESSAGE WM_APP      // lParam = the mouse message
#define UI_STARTED_MESSAGE (WM_APP + 1)  // the server thread's services run
#define UI_RESTARTED_MESSAGE (WM_APP + 2)  // the service's restart ended; wParam = error
#define UI_TRAY_ID 0x8000
#define UI_REFRESH_TIMER 1

// The state of the control window (the window thread's, except where noted).
struct ControlWindow {
    HINSTANCE instance;
    HWND main;
    HWND topBar;
    HWND bottomBar;
    HWND list;
    HICON trayImage;
    bool trayPresent;
    int trayWanted;        // per-user "TrayIcon"
    int view;              // VIEW_EXPORTS or VIEW_MOUNTS
    int viewAtRebuild;
    bool resolve;          // View/Resolve Addresses
    RefreshState refresh;
    bool timerStarted;
    HMENU menu;            // menu bar
    HMENU contextMenu;     // pop-up of the list
    HMENU trayMenu;        // pop-up of the tray icon
    HANDLE serverThread;
    // The service runs (since the window's start or its Service/Start): the
    // window controls it and serves nothing itself; its data folder,
    // settings and exports file are the service's.
    bool serviceControlled;
    // The thread of a restart of the service while one runs (the Service
    // menu is grayed meanwhile; the window's end waits for it, so the
    // service is not left stopped); ownStopped: this process's services were
    // stopped for it (a refused restart brings them back).
    HANDLE restartThread;
    bool restartOwnStopped;
};
extern ControlWindow Ui;

// What the server thread starts, serves and stops: the services of the
// server (ServicesStart, ServerLoop, ServicesStop); tests put in their own.
struct ControlServices {
    int (*start)(void);
    void (*serve)(void);
    void (*stop)(void);
};
extern ControlServices UiServices;

// --- Start and run -------------------------------------------------------------
// The process entry's work up to the message loop (single instance, data
// directory, settings, language, window, Winsock, settings record, log lock,
// menus, timer, server thread).  Returns 1 when the loop is to run, 0 when
// the start failed (the message was shown) or another instance was brought
// forward.
int ControlStart(HINSTANCE instance, const char *commandLine, int show);
// The message loop until the quit message; then Winsock is cleaned up.
// Returns the quit message's wParam.
int ControlMessageLoop();
// Brings a running instance forward: 1 when one was found.
int ActivateRunningInstance();

// The settings the services of this process started with.
extern ServerSettingsRecord UiStartedSettings;
// Stops the services of this process (when they run) and starts them again
// on a new server thread; the start reports as the first one does.  While
// the window controls the service, restarts the service instead.
void ControlRestart();
// Start, Stop and Restart of the Service menu.  Start and Restart first stop
// the services of this process (the service takes their ports; a refused
// start brings them back); once the service was started the window controls
// it.  A refusal shows with Windows' reason.  A restart (which waits for
// the service's stop) runs on a thread of its own and ends with
// UI_RESTARTED_MESSAGE; the commands are ignored while it runs.
void ControlServiceCommand(int command);
// The restart's end: as the end of Start, with the restart's error.
void ControlServiceRestarted(DWORD error);
// The exports file was saved: while the window controls the service, the
// service is asked to read it again (a refusal shows with Windows' reason).
void ControlExportsChanged(HWND owner);

// The frame's handlers: refresh timer tick, refresh message, start, WM_DESTROY.
void ControlTimerTick();
void ControlRefresh(LPARAM lParam);
// The services run: the lines the exports file's load refused, in one message.
void ControlStarted();
void ControlShutdown(HWND window);

// --- Main window (main_window_win32.cpp) ------------------------------------------
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Menus, columns, context and tray menus, tray icon, caption.
void BuildMenusAndViews();
// Places the bars and the list in the window's client area.
void LayoutMainWindow();
// Rewrites the rows of the current view and the top bar; returns the count.
size_t RefreshRows();
void AddTrayIcon();
void DeleteTrayIcon();
// The list view's selected rows, in order, as their entries (null for a row
// without one).
std::vector<void *> SelectedItems(HWND list, std::vector<int> *indexes = nullptr);
// The three column texts of a row of a list view.
std::string ListText(HWND list, int row, int column);

// --- Messages and dialogs ------------------------------------------------------------
// The message box of every failure: the title as caption, style 0 means
// MB_ICONHAND | MB_TASKMODAL.  Returns the button pressed.
int UiMessageBox(HWND owner, UINT style, const char *text);
// Tests answer message boxes themselves: called instead of MessageBoxExA.
extern int (*UiMessageBoxHook)(HWND owner, const char *text, UINT style);
// Tests see every dialog of the control window once it is set up.
extern void (*UiDialogHook)(HWND dialog, int resource);
// Called at the end of every dialog's WM_INITDIALOG.
void UiDialogReady(HWND dialog, int resource);

// --- Language (language_win32.cpp) ---------------------------------------------------
// The control's text (id 0: the window's own, from [Strings]) from the
// language file when it has the key.
void SetControlText(HWND window, int id, const char *key);
// A menu item's text from [Menu] (by command id, or by position when id is 0).
void SetMenuText(HMENU menu, int position, int id, const char *key);
void SetControlTexts(HWND window, const ControlTextKey *keys, size_t count);
// A dialog's caption and control texts from its entry of DialogTexts.
void SetDialogTexts(HWND dialog, int resource);

// --- Dialogs of the window (opened by commands) --------------------------------------
// The printer a log file goes to (PrintDlgA; tests put in their own).
struct PrinterChoice {
    HDC dc;
    unsigned copies;
    bool collate;
};
extern bool (*UiChoosePrinter)(HWND owner, PrinterChoice *choice);
// Prints a log file of the log folder (at most maxLines, never above 30000
// lines): true when the document was finished.
bool PrintLogFile(HWND owner, const std::string &name, size_t maxLines);
// The about box's link was pressed once in this process (drawn in the text
// colour from then on).
extern bool AboutLinkPressed;

void OpenPreferences();
void OpenLogViewer(HWND owner);
void OpenAbout(HWND owner);
void OpenExportsEditor(HWND owner);
// The export dialog: command CMD_INSERT or CMD_EDIT, the row of the exports
// view it concerns, the folder of a new export (a dropped folder) or null.
// Returns 1 when the exports file was saved.
int OpenExportDialog(HWND owner, int command, int row, const char *folder);

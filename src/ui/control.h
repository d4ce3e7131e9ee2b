// The frame of the control window that does not need a window: the command
// line, the window's place, the refresh timer's counting, the status texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Splits a Windows command line (without the program name) into arguments:
// blanks separate, double quotes group, a backslash before a quote quotes it.
std::vector<std::string> SplitCommandLine(const char *commandLine);

struct StartOptions {
    bool iconic = false;         // -iconic (any case): start hidden
    bool dataDirectory = false;  // the first other argument named an existing folder
};
// Options begin with '-'; the first argument that does not ends the scan and,
// when it names an existing folder of fewer than 896 characters, becomes the
// data directory (in dataDirectory, with a backslash appended when missing).
StartOptions ParseStartOptions(const std::vector<std::string> &arguments, char *dataDirectory, size_t size);

// The window's place from the stored per-user values: x = left when left + 5
// is below the screen width (unsigned), else 0; y likewise; the size at least
// the system minimum.
struct WindowPlace {
    int x, y, width, height;
};
WindowPlace PlaceWindow(int32_t left, int32_t top, int32_t width, int32_t height, int screenWidth,
                        int screenHeight, int minWidth, int minHeight);

// The refresh timer's counting: every second while the mounts view shows at
// least one mount, else every second tick.
struct RefreshState {
    int32_t counter = 1;    // RefreshCounter: refreshes pending
    uint32_t ticks = 0;     // only the lowest bit is used
    int32_t shownMounts = 0;
};
// One timer tick: returns the counter to post with the refresh message.
int32_t RefreshTick(RefreshState &state);
// After a refresh message was handled.
void RefreshHandled(RefreshState &state);

// Bottom bar: " Ready on Port 2049" while the services run (status 0), else
// the failed start's text (below), else " Failed to start NFS server".
std::string BottomBarText(int status, unsigned port);
// Bottom bar while the window controls the service: " The service
// KorvaneNfsd serves on port 2049", " The service KorvaneNfsd is not
// running", or while a restart of it is under way " Restarting the service
// KorvaneNfsd...".
enum ServiceBarState { SERVICE_BAR_STOPPED, SERVICE_BAR_SERVING, SERVICE_BAR_RESTARTING };
std::string ServiceBarText(ServiceBarState state, unsigned port);
// The data folder of the service's command line (`"...nfsd_console.exe"
// -service "C:\Data\\"`), ending in a backslash; empty without one.
std::string ServiceDataFolder(const char *commandLine);
// Top bar: " 3 Entries" (exports view) or " 1 Clients" (mounts view).
std::string TopBarText(int view, size_t count);
// The text of a failed start's message box (statuses 2, 3, 4, 6), with the
// port that was refused ("Failed to start Mount server (port in use or not
// allowed: 1058)"); empty for others.
std::string StartFailureText(int status);

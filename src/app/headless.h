// The server without a window: the program `nfsd` on POSIX and
// `nfsd_console.exe` on Windows.  The same start-up as the window's server
// thread (data directory, settings file, Winsock, settings, log,
// ServicesStart, then ServerLoop on a server thread), the result printed on
// standard output, and ServicesStop when the platform's entry point reports
// Ctrl+C or a termination request.
#pragma once

#include <cstdint>
#include <string>

// What the headless server starts and stops, and how it serves afterwards.
struct HeadlessServices {
    int (*start)(void);       // a start result: 0, or 2, 3, 4, 6 as the window knows them
    void (*stop)(void);       // harmless when nothing was started
    void (*serve)(void);      // runs on the server thread after a good start until stop; null: none
    uint32_t (*port)(void);   // the port shown after "Ready on Port"
};
extern const HeadlessServices HeadlessServiceSet;

// Exit codes besides the start results.
#define HEADLESS_EXIT_USAGE 64
#define HEADLESS_EXIT_INIT 65

// Reads the command line (options beginning with '-' are skipped; the first
// other argument is the data directory, a Windows path or on POSIX also an
// absolute POSIX path), selects nfsd.ini there, starts Winsock, loads the
// settings, opens the log and starts the services.  Prints "Ready on Port %u"
// or the failure text.  Returns 0 when the services run, else the exit code.
int HeadlessStart(int argc, char **argv);
// Stops the services, closes the log and Winsock; prints "Stopped".
void HeadlessStop(void);
// The text printed for a start result ("Failed to start Mount server (port in
// use or not allowed: 1058)").
std::string HeadlessStatusText(int status);

// The headless server's start and stop, shared by the POSIX and Windows
// entry points.
#include "app/headless.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "platform/win32.h"
#include "rpc/transport.h"
#include "server/services.h"
#include "settings/settings.h"

namespace {

// The port the NFS service runs on (0 until it has started).
uint32_t NfsPortValue(void) { return NfsPort; }

HANDLE ServerThread = nullptr;
bool Started = false;
bool WinsockUp = false;

DWORD WINAPI ServerThreadBody(LPVOID)
{
    HeadlessServiceSet.serve();
    return 0;
}

// The program's own folder, ending in a backslash.
void ProgramDirectory(char *out, size_t size)
{
    char path[896];
    DWORD n = GetModuleFileNameA(nullptr, path, (DWORD)sizeof(path));
    if (n == 0 || n >= sizeof(path))
        path[0] = '\0';
    char *slash = strrchr(path, '\\');
    if (slash != nullptr)
        slash[1] = '\0';
    else
        path[0] = '\0';
    snprintf(out, size, "%s", path);
}

// The data directory argument as a Windows path ending in a backslash, when
// it names an existing directory.
bool DataDirectoryFrom(const char *argument, char *out, size_t size)
{
#ifndef _WIN32
    char windows[896 + 8];
    if (argument[0] == '/') {
        if (!WindowsPathFromPosix(argument, windows, sizeof(windows)))
            return false;
        argument = windows;
    }
#endif
    size_t length = strlen(argument);
    if (length == 0 || length >= 896)
        return false;
    DWORD attributes = GetFileAttributesA(argument);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    bool slash = argument[length - 1] == '\\' || argument[length - 1] == '/';
    return (size_t)snprintf(out, size, "%s%s", argument, slash ? "" : "\\") < size;
}

} // namespace

// The services of the headless server: the same start sequence, stop and
// server loop as behind the window.
const HeadlessServices HeadlessServiceSet = {ServicesStart, ServicesStop, ServerLoop, NfsPortValue};

std::string HeadlessStatusText(int status)
{
    if (status == SERVICES_RUNNING)
        return "Ready on Port";
    const ServiceStatusMessage *message = FindServiceStatusMessage(status);
    if (message == nullptr)
        return "Initialization failed";
    return WithFailedPort(message->text, PortTakenText);
}

int HeadlessStart(int argc, char **argv)
{
    const char *directory = nullptr;
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] != '-') {
            directory = argv[i];
            break;
        }
    }
    if (directory != nullptr) {
        if (!DataDirectoryFrom(directory, DataDirectory, sizeof(DataDirectory))) {
            fprintf(stderr, "nfsd: %s is not a directory\n", directory);
            return HEADLESS_EXIT_USAGE;
        }
    } else {
        ProgramDirectory(DataDirectory, sizeof(DataDirectory));
    }
    if (!SelectSettingsFile(DataDirectory, "nfsd", 1)) {
        fprintf(stderr, "nfsd: the data directory's name is too long\n");
        return HEADLESS_EXIT_USAGE;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        printf("%s\n", HeadlessStatusText(-1).c_str());
        fflush(stdout);
        return HEADLESS_EXIT_INIT;
    }
    WinsockUp = true;
    LoadSettings("nfsd");
    OpenLog(LogDir);
    Started = true;
    int status = HeadlessServiceSet.start();
    if (status != SERVICES_RUNNING) {
        printf("%s\n", HeadlessStatusText(status).c_str());
        fflush(stdout);
        return status;
    }
    if (HeadlessServiceSet.serve != nullptr) {
        ServerThread = CreateThread(nullptr, 0, ServerThreadBody, nullptr, 0, nullptr);
        if (ServerThread == nullptr) {
            printf("%s\n", HeadlessStatusText(-1).c_str());
            fflush(stdout);
            return HEADLESS_EXIT_INIT;
        }
    }
    printf("%s %u\n", HeadlessStatusText(status).c_str(), (unsigned)HeadlessServiceSet.port());
    fflush(stdout);
    return 0;
}

void HeadlessStop(void)
{
    if (Started) {
        HeadlessServiceSet.stop();
        if (ServerThread != nullptr) {
            WaitForSingleObject(ServerThread, (DWORD)(RPCTIMEOUT > 0 ? RPCTIMEOUT + 2 : 3) * 1000u);
            CloseHandle(ServerThread);
            ServerThread = nullptr;
        }
        CloseLog();
        Started = false;
    }
    if (WinsockUp) {
        WSACleanup();
        WinsockUp = false;
    }
    printf("Stopped\n");
    fflush(stdout);
}

// The headless server's start and stop, shared by the POSIX and Windows
// entry points.
#include "app/headless.h"

#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "platform/win32.h"
#include "rpc/port_mapper.h"
#include "rpc/port_mapper_internal.h"
#include "rpc/services.h"
#include "settings/settings.h"

namespace {

// Until the full service start exists, the headless server runs the port
// mapper alone (a failure is the port mapper's start result) and shows its
// port.
int StartPortMapperOnly(void)
{
    return PortMapperStart(ServerSettings.PortMapper) == 0 ? (int)SERVICES_RUNNING
                                                           : (int)SERVICES_PORTMAPPER_FAILED;
}

uint32_t PortMapperPort(void) { return ServerSettings.PortMapper ? PmapPort : 0; }

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
    char windows[896 + 8];
#ifndef _WIN32
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

// The services of the headless server.  Once the full start sequence exists
// this line becomes {ServicesStart, ServicesStop, ServerLoop, NfsPortValue}.
const HeadlessServices HeadlessServiceSet = {StartPortMapperOnly, PortMapperStop, nullptr, PortMapperPort};

const char *HeadlessStatusText(int status)
{
    switch (status) {
    case SERVICES_RUNNING: return "Ready on Port";
    case SERVICES_NFS_FAILED: return "Failed to start NFS server";
    case SERVICES_MOUNT_FAILED: return "Failed to start Mount server";
    case SERVICES_PORTMAPPER_FAILED: return "Failed to start PortMapper";
    case SERVICES_BACKEND_FAILED: return "Inode table initialization failed";
    default: return "Initialization failed";
    }
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
        printf("%s\n", HeadlessStatusText(-1));
        fflush(stdout);
        return HEADLESS_EXIT_INIT;
    }
    WinsockUp = true;
    LoadSettings("nfsd");
    InitLogLock();
    OpenLog(LogDir);
    Started = true;
    int status = HeadlessServiceSet.start();
    if (status != SERVICES_RUNNING) {
        printf("%s\n", HeadlessStatusText(status));
        fflush(stdout);
        return status;
    }
    if (HeadlessServiceSet.serve != nullptr) {
        ServerThread = CreateThread(nullptr, 0, ServerThreadBody, nullptr, 0, nullptr);
        if (ServerThread == nullptr) {
            printf("%s\n", HeadlessStatusText(-1));
            fflush(stdout);
            return HEADLESS_EXIT_INIT;
        }
    }
    printf("%s %u\n", HeadlessStatusText(status), (unsigned)HeadlessServiceSet.port());
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

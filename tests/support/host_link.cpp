#include "support/host_link.h"

#include "platform/win32.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <cstring>
#include <vector>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The host's own name of a Windows path under Wine (through Wine's
// kernel32 extension), "" when there is none.
std::string HostPath(const std::string &windowsPath)
{
    typedef char *(__cdecl * UnixNameFn)(const WCHAR *);
    FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    if (proc == nullptr)
        return "";
    UnixNameFn unixName;
    memcpy(&unixName, &proc, sizeof unixName);
    std::vector<WCHAR> wide(windowsPath.size() + 1);
    for (size_t i = 0; i <= windowsPath.size(); i++)
        wide[i] = static_cast<unsigned char>(windowsPath.c_str()[i]);
    char *name = unixName(wide.data());
    if (name == nullptr)
        return "";
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Runs a host program (Wine starts Unix programs named by a Unix path) and
// waits for it.
bool RunHost(const std::string &commandLine)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Wine does not let a Windows program wait for a Unix one: the result is
// awaited on disk, two seconds at most.
bool AwaitExists(const std::string &path, bool wanted)
{
    for (int i = 0; i < 200; i++) {
        if (Exists(path) == wanted)
            return true;
        Sleep(10);
    }
    return false;
}
#else
std::string HostPath(const std::string &windowsPath)
{
    char buffer[4096];
    return PosixPathFromWindows(windowsPath.c_str(), buffer, sizeof buffer) ? std::string(buffer) : std::string();
}
#endif

} // namespace

bool MakeHostLink(const std::string &targetPath, const std::string &linkPath, bool directory)
{
#ifdef _WIN32
    if (RunningUnderWine()) {
        RunHost("/bin/ln -s \"" + HostPath(targetPath) + "\" \"" + HostPath(linkPath) + "\"");
        return AwaitExists(linkPath, true);
    }
    // Unprivileged creation where the system allows it (developer mode).
    const DWORD flags = (directory ? 1u : 0u) | 2u;
    if (!CreateSymbolicLinkA(linkPath.c_str(), targetPath.c_str(), flags) &&
        !CreateSymbolicLinkA(linkPath.c_str(), targetPath.c_str(), directory ? 1u : 0u))
        return false;
    return Exists(linkPath);
#else
    (void)directory;
    return symlink(HostPath(targetPath).c_str(), HostPath(linkPath).c_str()) == 0;
#endif
}

bool RemoveHostLink(const std::string &linkPath, bool directory)
{
#ifdef _WIN32
    if (RunningUnderWine()) {
        RunHost("/bin/rm -f \"" + HostPath(linkPath) + "\"");
        return AwaitExists(linkPath, false);
    }
    return directory ? RemoveDirectoryA(linkPath.c_str()) != 0 : DeleteFileA(linkPath.c_str()) != 0;
#else
    (void)directory;
    return unlink(HostPath(linkPath).c_str()) == 0;
#endif
}

// Many files in one folder: CREATE_NEW of each name, then an open of each by
// a spelling in another case, then delete.  Every create is a miss of the
// case-insensitive look-up, so the cost per name must stay flat as the folder
// grows; the figures for the first and the last tenth show whether it does.
//
//   file_create_bench [count] [folder]     (default 100000 in the temp folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Name(const std::string &folder, int i, bool upper)
{
    char name[64];
    snprintf(name, sizeof(name), upper ? "FILE%07d.DAT" : "File%07d.dat", i);
    return folder + name;
}

// Runs one phase over all names; prints the whole and the first and last tenth.
bool Phase(const char *label, const std::string &folder, int count, bool (*step)(const std::string &, int))
{
    int tenth = count / 10 > 0 ? count / 10 : 1;
    double start = Now(), firstEnd = 0, lastStart = 0;
    for (int i = 0; i < count; i++) {
        if (i == count - tenth)
            lastStart = Now();
        if (!step(folder, i)) {
            fprintf(stderr, "%s failed at %d: error %lu\n", label, i, (unsigned long)GetLastError());
            return false;
        }
        if (i == tenth - 1)
            firstEnd = Now();
    }
    double end = Now();
    printf("%-28s %8.3f s  %7.2f us/op  first tenth %7.2f us/op  last tenth %7.2f us/op\n", label, end - start,
           (end - start) * 1e6 / count, (firstEnd - start) * 1e6 / tenth, (end - lastStart) * 1e6 / tenth);
    return true;
}

bool CreateStep(const std::string &folder, int i)
{
    HANDLE h = CreateFileA(Name(folder, i, false).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
}

bool OpenOtherCaseStep(const std::string &folder, int i)
{
    HANDLE h = CreateFileA(Name(folder, i, true).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h);
}

bool DeleteOtherCaseStep(const std::string &folder, int i)
{
    return DeleteFileA(Name(folder, i, true).c_str()) != FALSE;
}

#ifndef _WIN32
// The same creates straight on the file system, for comparison: what the
// layer adds is the difference.
bool RawCreateStep(const std::string &folder, int i)
{
    char path[4096];
    if (!PosixPathFromWindows(Name(folder, i, false).c_str(), path, sizeof(path)))
        return false;
    int fd = open(path, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    return fd >= 0 && close(fd) == 0;
}

bool RawDeleteStep(const std::string &folder, int i)
{
    char path[4096];
    return PosixPathFromWindows(Name(folder, i, false).c_str(), path, sizeof(path)) && unlink(path) == 0;
}
#endif

} // namespace

int main(int argc, char **argv)
{
    int count = argc > 1 ? atoi(argv[1]) : 100000;
    std::string folder;
    if (argc > 2) {
        folder = argv[2];
    } else {
        char temp[MAX_PATH];
        GetTempPathA(sizeof(temp), temp);
        folder = std::string(temp) + "korvane-create-bench-" + std::to_string(GetCurrentProcessId());
    }
    if (!CreateDirectoryA(folder.c_str(), nullptr)) {
        fprintf(stderr, "cannot create %s: error %lu\n", folder.c_str(), (unsigned long)GetLastError());
        return 1;
    }
    if (folder.back() != '\\')
        folder += '\\';
    printf("%d files in %s\n", count, folder.c_str());
    bool ok = Phase("CreateFile(CREATE_NEW)", folder, count, CreateStep) &&
              Phase("open by another case", folder, count, OpenOtherCaseStep) &&
              Phase("DeleteFile by another case", folder, count, DeleteOtherCaseStep);
#ifndef _WIN32
    ok = ok && Phase("baseline open(O_CREAT|O_EXCL)", folder, count, RawCreateStep) &&
         Phase("baseline unlink", folder, count, RawDeleteStep);
#endif
    folder.pop_back();
    RemoveDirectoryA(folder.c_str());
    return ok ? 0 : 1;
}

// What a look at a file's attributes costs with the Unix mode, owner and
// group kept beside it: the look alone (open, GetFileInformationByHandle,
// close), with the record as an extended attribute read through the same
// handle (NtQueryEaFile), and with it in a named stream ("name:KORVANE.UNIX",
// a second open and read).  Where the volume keeps no streams (the POSIX
// layer, Wine) the stream is a file of that name: the same second open.
//
//   unix_store_bench [count] [folder]     (default 2000 in the temp folder)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "platform/nt_extended_attributes.h"

namespace {

const DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const char kEa[] = "KORVANE.UNIX";

bool Look(const std::string &path, DWORD access, HANDLE *kept = nullptr)
{
    HANDLE h = CreateFileA(path.c_str(), access, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    if (kept != nullptr)
        *kept = h;
    else
        CloseHandle(h);
    return ok;
}

bool EaStep(HANDLE h, bool write)
{
    alignas(8) uint8_t buffer[128] = {};
    IO_STATUS_BLOCK io;
    if (write) {
        auto *e = reinterpret_cast<FILE_FULL_EA_INFORMATION *>(buffer);
        e->EaNameLength = sizeof kEa - 1;
        e->EaValueLength = 12;
        memcpy(e->EaName, kEa, sizeof kEa);
        return NtSetEaFile(h, &io, buffer, sizeof buffer) == 0;
    }
    alignas(8) uint8_t list[32] = {};
    auto *g = reinterpret_cast<FILE_GET_EA_INFORMATION *>(list);
    g->EaNameLength = sizeof kEa - 1;
    memcpy(g->EaName, kEa, sizeof kEa);
    return NtQueryEaFile(h, &io, buffer, sizeof buffer, TRUE, list, sizeof list, nullptr, TRUE) == 0 &&
           reinterpret_cast<FILE_FULL_EA_INFORMATION *>(buffer)->EaValueLength == 12;
}

// ":" names the stream; "." a second file where the volume has no streams.
char streamMark = ':';

bool StreamStep(const std::string &path, bool write)
{
    const std::string stream = path + streamMark + kEa;
    HANDLE h = CreateFileA(stream.c_str(), write ? GENERIC_WRITE : GENERIC_READ, kShare, nullptr,
                           write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char record[12] = {};
    DWORD done = 0;
    const bool ok = (write ? WriteFile(h, record, 12, &done, nullptr) : ReadFile(h, record, 12, &done, nullptr)) &&
                    done == 12;
    CloseHandle(h);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    const int count = argc > 1 ? atoi(argv[1]) : 2000;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder = argc > 2 ? std::string(argv[2]) + "\\" : std::string(temp) + "unix_store_bench\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> paths;
    bool eaOk = true, streamOk = true;
    for (int i = 0; i < count; i++) {
        paths.push_back(folder + "f" + std::to_string(i));
        HANDLE h = CreateFileA(paths.back().c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr, CREATE_ALWAYS,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return 1;
        eaOk = eaOk && EaStep(h, true);
        CloseHandle(h);
        if (i == 0 && !StreamStep(paths.back(), true))
            streamMark = '.';
        streamOk = streamOk && StreamStep(paths.back(), true);
    }
    for (int round = 0; round < 2; round++) {  // the first round warms the caches
        BenchClock::time_point a = BenchClock::now();
        for (const std::string &p : paths)
            Look(p, 0);
        BenchClock::time_point b = BenchClock::now();
        for (const std::string &p : paths) {
            HANDLE h;
            if (Look(p, FILE_READ_EA, &h)) {
                eaOk = EaStep(h, false) && eaOk;
                CloseHandle(h);
            }
        }
        BenchClock::time_point c = BenchClock::now();
        for (const std::string &p : paths)
            streamOk = Look(p, 0) && StreamStep(p, false) && streamOk;
        BenchClock::time_point d = BenchClock::now();
        if (round == 1)
            printf("per look, %d files: plain %.2f us, extended attribute %.2f us%s, named stream %.2f us%s\n", count,
                   1e6 * Seconds(a, b) / count, 1e6 * Seconds(b, c) / count, eaOk ? "" : " (not kept)",
                   1e6 * Seconds(c, d) / count,
                   !streamOk ? " (not kept)" : streamMark == '.' ? " (no streams here: a second file)" : "");
    }
    for (const std::string &p : paths) {
        DeleteFileA((p + streamMark + kEa).c_str());
        DeleteFileA(p.c_str());
    }
    RemoveDirectoryA(folder.c_str());
    return 0;
}

// Sequential write and read of one large file through WriteFileData and
// ReadFileData (a mounted export with its open-file cache) against plain
// positioned calls on the same file (pwrite/pread; ReadFile/WriteFile with an
// offset on Windows), in 64 KiB and 1 MiB chunks.  Then the memory of one
// export's cache at its largest (256 entries, each holding an open handle).
//
//   file_data_bench [MiB] [folder]     (default 1024 MiB in the temp folder)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "backend/file_data.h"
#include "backend/lookup.h"
#include "backend/open_file_cache.h"
#include "bench_setup.h"
#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "platform/win32.h"
#include "settings/settings.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The plain calls on the file, one handle for the whole run.
struct Plain {
#ifdef _WIN32
    HANDLE file;
    explicit Plain(const std::string &path)
    {
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
    }
    ~Plain() { CloseHandle(file); }
    bool Write(uint64_t offset, const uint8_t *data, uint32_t count)
    {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        return WriteFile(file, data, count, &done, &at) && done == count;
    }
    bool Read(uint64_t offset, uint8_t *data, uint32_t count)
    {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD done = 0;
        return ReadFile(file, data, count, &done, &at) && done == count;
    }
#else
    int fd;
    explicit Plain(const std::string &path) { fd = open(path.c_str(), O_RDWR | O_CREAT, 0644); }
    ~Plain() { close(fd); }
    bool Write(uint64_t offset, const uint8_t *data, uint32_t count)
    {
        return pwrite(fd, data, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    }
    bool Read(uint64_t offset, uint8_t *data, uint32_t count)
    {
        return pread(fd, data, count, static_cast<off_t>(offset)) == static_cast<ssize_t>(count);
    }
#endif
};

// Resident memory of the process (POSIX); -1 where unknown.
long ResidentBytes()
{
#ifdef _WIN32
    return -1;
#else
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return -1;
    long pages = 0, resident = 0;
    const int got = fscanf(statm, "%ld %ld", &pages, &resident);
    fclose(statm);
    return got == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
#endif
}

double Rate(uint64_t bytes, double seconds) { return static_cast<double>(bytes) / (1 << 20) / seconds; }

} // namespace

int main(int argc, char **argv)
{
    const uint64_t mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 1024;
    const std::string native = BenchFolder(argc > 2 ? argv[2] : nullptr, "korvane-file-data-bench");
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    static BenchExport bench;
    if (!OpenBenchExport(native, &bench))
        return 1;
    ExportEntry &entry = bench.entry;
    FileHandle root = bench.root, through;

    const std::string nativeFile = native + separator + "big.dat";
    const uint64_t total = mib << 20;
    printf("file of %llu MiB in %s\n", static_cast<unsigned long long>(mib), native.c_str());
    const uint32_t chunks[] = {64u << 10, 1u << 20};
    std::vector<uint8_t> buffer(1 << 20);
    for (size_t i = 0; i < buffer.size(); i++)
        buffer[i] = static_cast<uint8_t>(i * 7 + 1);
    // Each figure is the best of three runs (the machine may be shared), the
    // plain calls and the backend taking turns on the same file.
    for (uint32_t chunk : chunks) {
        double plainWrite = 1e9, plainRead = 1e9, ourWrite = 1e9, ourRead = 1e9;
        for (int run = 0; run < 3; run++) {
            {
                remove(nativeFile.c_str());
                Plain plain(nativeFile);
                double start = BenchNow();
                for (uint64_t at = 0; at < total; at += chunk)
                    if (!plain.Write(at, buffer.data(), chunk))
                        return fprintf(stderr, "plain write failed\n"), 1;
                plainWrite = std::min(plainWrite, BenchNow() - start);
                start = BenchNow();
                for (uint64_t at = 0; at < total; at += chunk)
                    if (!plain.Read(at, buffer.data(), chunk))
                        return fprintf(stderr, "plain read failed\n"), 1;
                plainRead = std::min(plainRead, BenchNow() - start);
            }
            {
                remove(nativeFile.c_str());
                Plain create(nativeFile);
            }
            FileAttributes attributes;
            AuthUnix who = BenchCaller();
            if (Lookup(&root, "big.dat", &through, &attributes, 0x0100007Fu, &who) != 0)
                return fprintf(stderr, "lookup failed\n"), 1;
            double start = BenchNow();
            for (uint64_t at = 0; at < total; at += chunk) {
                uint32_t count = chunk, stability = WRITE_UNSTABLE;
                who = BenchCaller();
                if (WriteFileData(&through, at, &count, &stability, buffer.data(), &attributes, nullptr, &who) != 0 ||
                    count != chunk)
                    return fprintf(stderr, "WriteFileData failed at %llu\n", static_cast<unsigned long long>(at)), 1;
            }
            ourWrite = std::min(ourWrite, BenchNow() - start);
            start = BenchNow();
            for (uint64_t at = 0; at < total; at += chunk) {
                uint32_t count = chunk;
                who = BenchCaller();
                if (ReadFileData(&through, at, &count, buffer.data(), &attributes, &who) != 0 || count != chunk)
                    return fprintf(stderr, "ReadFileData failed at %llu\n", static_cast<unsigned long long>(at)), 1;
            }
            ourRead = std::min(ourRead, BenchNow() - start);
            CacheInvalidate(&entry.options, through.inode);  // the next run's plain file is a new one
        }
        printf("chunk %5u KiB  write: plain %8.1f MiB/s  WriteFileData %8.1f MiB/s  ratio %.2f\n", chunk >> 10,
               Rate(total, plainWrite), Rate(total, ourWrite), plainWrite / ourWrite);
        printf("chunk %5u KiB  read:  plain %8.1f MiB/s  ReadFileData  %8.1f MiB/s  ratio %.2f\n", chunk >> 10,
               Rate(total, plainRead), Rate(total, ourRead), plainRead / ourRead);
    }
    remove(nativeFile.c_str());

    // The cache at its limit: every entry holds a file.
    const long before = ResidentBytes();
    for (uint32_t i = 0; i < CACHE_MAX_ENTRIES + 10; i++) {
        char name[32];
        snprintf(name, sizeof name, "small%03u", i);
        { Plain create(native + separator + name); }
        FileAttributes attributes;
        AuthUnix who = BenchCaller();
        FileHandle small;
        uint32_t count = 16;
        if (Lookup(&root, name, &small, &attributes, 0x0100007Fu, &who) != 0 ||
            ReadFileData(&small, 0, &count, buffer.data(), &attributes, &who) != 0)
            return fprintf(stderr, "small file %u failed\n", i), 1;
    }
    const long after = ResidentBytes();
    printf("cache of %u entries: %zu bytes of entries (%zu each); %u handles open; resident memory %+ld KiB "
           "(entries, handles and inode table entries of the files)\n",
           CACHE_MAX_ENTRIES, CACHE_MAX_ENTRIES * sizeof(CacheEntry), sizeof(CacheEntry),
           CacheOpenHandles(&entry.options), before >= 0 && after >= 0 ? (after - before) / 1024 : 0L);
    for (uint32_t i = 0; i < CACHE_MAX_ENTRIES + 10; i++) {
        char name[32];
        snprintf(name, sizeof name, "small%03u", i);
        remove((native + separator + name).c_str());
    }
    CloseBenchExport(&bench);
    return 0;
}

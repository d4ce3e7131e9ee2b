// Mount table benchmark: 10,000 mounts (one folder each for 40 clients),
// then the look-up every NFS request makes (ExportContextById) for ids in
// random order, a mount and its mounttab save (appended) with the table
// full, and the whole-file save and load.
//   mount_table_bench [data-folder]   (default: the temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "exports/export_context.h"
#include "exports/export_entry.h"
#include "exports/mount_table.h"
#include "mount/mounttab_file.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

int NoHostName(uint32_t, char *, size_t) { return 0; }

}  // namespace

int main(int argc, char **argv)
{
    const unsigned count = 10000;
    std::string folder;
    if (argc > 1) {
        folder = argv[1];
    } else {
        char temp[1024];
        DWORD n = GetTempPathA(sizeof(temp), temp);
        folder = n > 0 ? std::string(temp, n) : std::string();
    }
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    snprintf(DataDirectory, sizeof DataDirectory, "%s", folder.c_str());
    SetHostAddressLookup(NoHostName);
    MountsMax = 1 << 20;
    MountsPerClient = 1 << 20;

    static char exportPath[] = "C:\\bench";
    ExportEntry entry{};
    entry.self = &entry;
    entry.path = exportPath;

    std::vector<std::string> paths(count);
    std::vector<uint32_t> ids(count);
    auto t0 = Clock::now();
    for (unsigned i = 0; i < count; i++) {
        paths[i] = std::string(exportPath) + "\\folder" + std::to_string(i);
        uint32_t client = htonl(0x0A000000u + i % 40);
        if (MountAdd(client, MOUNT_KIND_UDP, paths[i].c_str(), i + 1, &entry, 1, 255, 0, &ids[i]) != MOUNT_ADD_NEW) {
            fprintf(stderr, "mount %u failed\n", i);
            return 1;
        }
    }
    auto t1 = Clock::now();
    MountWaitHostLookups(10000);

    std::vector<uint32_t> order(ids);
    std::mt19937 random(1);
    std::shuffle(order.begin(), order.end(), random);
    const unsigned rounds = 100;
    ExportContext context;
    unsigned found = 0;
    auto t2 = Clock::now();
    for (unsigned r = 0; r < rounds; r++)
        for (uint32_t id : order)
            found += ExportContextById(id, &context);
    auto t3 = Clock::now();
    // One client's requests after another: the same record again and again.
    for (unsigned r = 0; r < rounds * count; r++)
        found += ExportContextById(ids[count / 2], &context);
    auto t3b = Clock::now();

    auto t4 = Clock::now();
    MountTabSave();  // the first save of a process writes the file whole
    auto t5 = Clock::now();
    const unsigned mounts = 200;
    for (unsigned i = 0; i < mounts; i++) {
        std::string path = std::string(exportPath) + "\\extra" + std::to_string(i);
        uint32_t id = 0;
        MountAdd(htonl(0x0B000000u), MOUNT_KIND_UDP, path.c_str(), 1, &entry, 1, 255, 0, &id);
        MountTabSave();
    }
    auto t6 = Clock::now();
    MountWaitHostLookups(10000);
    MountTableFree();
    auto t7 = Clock::now();
    int loaded = MountTabLoad();  // fails the export check: measures reading and the rewrite
    auto t8 = Clock::now();

    printf("mount table with %u records\n", count);
    printf("  MountAdd:            %8.2f us per new record\n", Seconds(t0, t1) * 1e6 / count);
    printf("  ExportContextById:   %8.3f us per look-up, ids in random order\n", Seconds(t2, t3) * 1e6 / (rounds * count));
    printf("  ExportContextById:   %8.3f us per look-up, one id again and again\n",
           Seconds(t3, t3b) * 1e6 / (rounds * count));
    printf("  MountTabSave whole:  %8.2f ms\n", Seconds(t4, t5) * 1e3);
    printf("  mount + save:        %8.2f us per mount (appended)\n", Seconds(t5, t6) * 1e6 / mounts);
    printf("  MountTabLoad:        %8.2f ms (%d records; no export table here)\n", Seconds(t7, t8) * 1e3, loaded);
    char path[2048];
    snprintf(path, sizeof path, "%smounttab", folder.c_str());
    DeleteFileA(path);
    return found == 2 * rounds * count ? 0 : 1;
}

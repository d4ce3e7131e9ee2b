// Inode table benchmark: 100,000 names in one folder (AddChild), 100,000
// lookups (FindChild), one listing cycle (MarkSeen of all, PruneUnseen),
// and a reload of the table; with the memory of the in-memory indexes.
//   inode_bench [folder]   (default: the temporary folder)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_measure.h"
#include "fs/inode_table.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

using Clock = BenchClock;

}  // namespace

int main(int argc, char **argv)
{
    const unsigned count = 100000;
    ServerSettings.CharSetActive = 1;
    ServerSettings.InodeCheck = 0;
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
    std::string table = folder + "inode_bench.nfs";
    if (!OpenInodeTableAt(table.c_str(), 1)) {
        fprintf(stderr, "cannot create %s\n", table.c_str());
        return 1;
    }
    uint32_t dir = AddPath("C:\\bench\\folder");
    std::vector<std::string> names(count);
    char name[32];
    for (unsigned i = 0; i < count; i++) {
        // Scattered order, so inserts land all over the sorted list.
        snprintf(name, sizeof(name), "file-%08x.dat", static_cast<unsigned>(i * 2654435761u));
        names[i] = name;
    }
    std::vector<uint32_t> inodes(count);
    size_t heapBefore = HeapInUse();
    auto t0 = Clock::now();
    for (unsigned i = 0; i < count; i++) {
        inodes[i] = AddChild(dir, names[i].c_str());
        if (inodes[i] == 0) {
            fprintf(stderr, "AddChild failed at %u\n", i);
            return 1;
        }
    }
    auto t1 = Clock::now();
    size_t heapAfter = HeapInUse();
    unsigned misses = 0;
    for (unsigned i = 0; i < count; i++)
        if (FindChild(dir, names[i].c_str()) != inodes[i])
            misses++;
    auto t2 = Clock::now();
    for (unsigned i = 0; i < count; i++)
        MarkSeen(inodes[i]);
    PruneUnseen(dir);
    auto t3 = Clock::now();
    InodeTableStats stats;
    InodeTableStatistics(&stats);
    char reason[256] = "";
    bool consistent = InodeTableConsistent(reason, sizeof(reason));
    CloseInodeTable();
    auto t4 = Clock::now();
    bool reopened = OpenInodeTableAt(table.c_str(), 0);
    auto t5 = Clock::now();
    unsigned found = 0;
    for (unsigned i = 0; i < count; i += 97)
        found += FindChild(dir, names[i].c_str()) == inodes[i] ? 1 : 0;
    CloseInodeTable();
    DeleteFileA(table.c_str());

    printf("inode_bench: %u names in one folder, table %s\n", count, table.c_str());
    printf("  AddChild x%u:    %.3f s (%.2f us each)\n", count, Seconds(t0, t1), Seconds(t0, t1) * 1e6 / count);
    printf("  FindChild x%u:   %.3f s (%.2f us each), %u misses\n", count, Seconds(t1, t2),
           Seconds(t1, t2) * 1e6 / count, misses);
    printf("  listing cycle:    %.3f s (MarkSeen x%u + PruneUnseen)\n", Seconds(t2, t3), count);
    printf("  reload + verify:  %.3f s (%s)\n", Seconds(t4, t5), reopened ? "ok" : "FAILED");
    printf("  table: total %u bytes, used %u, entries %u, indexed lists %u\n", stats.total, stats.used,
           stats.entries, stats.indexedLists);
    printf("  index memory: %.2f MiB estimated", stats.indexBytes / 1048576.0);
    if (heapAfter > heapBefore)
        printf(", %.2f MiB heap growth during the inserts", (heapAfter - heapBefore) / 1048576.0);
    printf("\n  consistent: %s %s\n", consistent ? "yes" : "NO", reason);
    bool ok = consistent && reopened && misses == 0 && found == (count + 96) / 97 && stats.entries == count + 3;
    return ok ? 0 : 1;
}

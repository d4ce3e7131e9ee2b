// Readers search the table while loads and removals replace it.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "exports_fixture.h"
#include "log/log.h"
#include "settings/settings.h"

TEST_F(ExportsTest, SearchesDuringReloadsSeeWholeEntries)
{
    CloseLog();  // keep the log out of the timing
    std::string text;
    for (int i = 0; i < 20; i++)
        text += "C:\\d" + std::to_string(i) + " host" + std::to_string(1 + i % 9) + "\n";
    Load(text);
    ASSERT_EQ(ExportEntries().size(), 20u);

    std::atomic<bool> stop{false};
    std::atomic<long> searches{0};
    std::atomic<long> wrong{0};
    std::thread reader([&] {
        while (!stop) {
            for (int i = 0; i < 20; i++) {
                char path[EXPORT_PATH_SIZE];
                snprintf(path, sizeof(path), "/c/d%d", i);
                ExportEntry *entry = nullptr;
                int result = FindExport(path, Addr(("192.168.1." + std::to_string(1 + i % 9)).c_str()), &entry);
                // Found or not yet in the table, but never a torn entry.
                if (result == 0 && (entry == nullptr || entry->self != entry || strcmp(path, entry->path) != 0))
                    wrong++;
                if (result != 0 && result != 2)
                    wrong++;
                searches++;
            }
        }
    });
    // Bounded: a fixed number of reloads, alternating two tables so that
    // some entries are carried over and others replaced.
    const std::string other = text + "D:\\extra -ro\n";
    for (int round = 0; round < 30; round++) {
        WriteExports(round % 2 ? text : other);
        ExportsLoad();
        if (round % 10 == 9)
            ExportRemove(ExportEntries().back());
    }
    stop = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(searches.load(), 0);
}

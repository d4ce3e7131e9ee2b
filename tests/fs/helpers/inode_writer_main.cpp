// Helper program of the inode table tests.
//   inode_writer sample <table>              writes the sample table
//   inode_writer stream <table> <seed> <ops> runs a stream of changes on the
//       table and prints the number of finished operations after each one, so
//       that a test can kill it at a known point (at most 30 seconds).
//   inode_writer fill <table>                adds names to a new table until
//       it cannot grow (a full disk), prints "added N", and exits 0 when the
//       table is still consistent.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fs/helpers/inode_sample.h"
#include "fs/inode_table.h"
#include "settings/settings.h"

namespace {

std::string RandomName(std::mt19937 &rng)
{
    static const char letters[] = "abcdefghABCDEFGH0123_-.";
    size_t length = 1 + rng() % 6;
    if (rng() % 4 == 0)
        length = 17 + rng() % 60;  // names with name blocks
    std::string name;
    for (size_t i = 0; i < length; i++)
        name += letters[rng() % (sizeof(letters) - 1)];
    if (name == "." || name == "..")
        name += "x";
    return name;
}

int Stream(const char *table, unsigned seed, unsigned ops)
{
    if (!OpenInodeTableAt(table, 0)) {
        fprintf(stderr, "cannot open %s\n", table);
        return 2;
    }
    std::mt19937 rng(seed);
    std::vector<uint32_t> known;
    uint32_t top = AddPath("C:\\stream");
    known.push_back(top);
    auto start = std::chrono::steady_clock::now();
    for (unsigned i = 1; i <= ops; i++) {
        uint32_t a = known[rng() % known.size()];
        uint32_t b = known[rng() % known.size()];
        switch (rng() % 10) {
        case 0: case 1: case 2: case 3: case 4: {
            uint32_t e = AddChild(a, RandomName(rng).c_str());
            if (e != 0)
                known.push_back(e);
            break;
        }
        case 5: case 6:
            MoveInode(a == top ? 0 : a, b, RandomName(rng).c_str());
            break;
        case 7: case 8:
            if (a != top)
                DeleteInode(a);
            break;
        default:
            RegisterHardLink(a, rng() % 4, 0, 1);
            break;
        }
        if (known.size() > 4000)
            known.erase(known.begin() + 1, known.begin() + 2000);
        printf("%u\n", i);
        fflush(stdout);
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(30))
            break;
    }
    CloseInodeTable();
    return 0;
}

int Fill(const char *table)
{
    if (!OpenInodeTableAt(table, 1))
        return 2;
    unsigned added = 0;
    char path[64];
    for (; added < 1000000; added++) {
        snprintf(path, sizeof path, "C:\\full\\n%07u", added);
        if (AddPath(path) == 0)
            break;
    }
    char reason[256] = "";
    bool consistent = InodeTableConsistent(reason, sizeof reason) && AddPath("C:\\full\\n0000001") != 0;
    printf("added %u\n%s\n", added, reason);
    CloseInodeTable();
    return consistent ? 0 : 3;
}

}  // namespace

int main(int argc, char **argv)
{
    ServerSettings.CharSetActive = 1;
    if (argc == 3 && std::string(argv[1]) == "sample") {
        if (!OpenInodeTableAt(argv[2], 1))
            return 2;
        BuildSampleTable();
        CloseInodeTable();
        return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "stream")
        return Stream(argv[2], static_cast<unsigned>(strtoul(argv[3], nullptr, 10)),
                      static_cast<unsigned>(strtoul(argv[4], nullptr, 10)));
    if (argc == 3 && std::string(argv[1]) == "fill")
        return Fill(argv[2]);
    fprintf(stderr, "usage: inode_writer sample TABLE | stream TABLE SEED OPS | fill TABLE\n");
    return 1;
}

// Name operations in a large folder: CreateFileOp, Lookup, GetAttrByHandle
// and RemoveFile on the names of one folder that grows to `count` entries,
// against the plain calls (open(O_CREAT|O_EXCL)+close, stat, unlink) on a
// sibling folder of the same size.  Creates are split in halves: the first
// half guarded, the second unchecked (both make new names); look-ups,
// attribute reads and removes go in a random order.
//
//   namespace_bench [count] [folder]   (default 100000 in TMPDIR or /var/tmp)
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend/file_attributes.h"
#include "backend/lookup.h"
#include "backend/namespace_ops.h"
#include "bench_setup.h"

namespace {

std::string Name(unsigned i)
{
    char name[32];
    snprintf(name, sizeof name, "entry-%07u.dat", i);
    return name;
}

struct Row {
    const char *label;
    double ours, plain;  // operations per second
};

// Runs step over the indexes in order; the time taken, or -1 when a step
// fails (reported on stderr).
template <typename Step> double Timed(const char *label, const std::vector<unsigned> &order, Step step)
{
    const double start = BenchNow();
    for (unsigned i : order) {
        const long result = step(i);
        if (result != 0) {
            fprintf(stderr, "%s failed for %s: %ld\n", label, Name(i).c_str(), result);
            return -1;
        }
    }
    return BenchNow() - start;
}

std::vector<unsigned> Range(unsigned from, unsigned to)
{
    std::vector<unsigned> order;
    for (unsigned i = from; i < to; i++)
        order.push_back(i);
    return order;
}

} // namespace

int main(int argc, char **argv)
{
    const unsigned count = argc > 1 ? static_cast<unsigned>(strtoul(argv[1], nullptr, 10)) : 100000;
    if (count < 2) {
        fprintf(stderr, "usage: namespace_bench [count >= 2] [folder]\n");
        return 2;
    }
    const std::string base = BenchFolder(argc > 2 ? argv[2] : nullptr, "korvane-namespace-bench");
    const std::string oursNative = base + "/ours";
    const std::string plainNative = base + "/plain";
    if (mkdir(oursNative.c_str(), 0755) != 0 || mkdir(plainNative.c_str(), 0755) != 0) {
        fprintf(stderr, "cannot make %s and %s (left over from an earlier run?)\n", oursNative.c_str(),
                plainNative.c_str());
        return 1;
    }
    BenchExport bench;
    if (!OpenBenchExport(base, &bench))
        return 1;
    FileHandle folder;
    FileAttributes attributes;
    AuthUnix who = BenchCaller();
    if (Lookup(&bench.root, "ours", &folder, &attributes, 0x0100007Fu, &who) != 0) {
        fprintf(stderr, "cannot look up the folder\n");
        return 1;
    }
    printf("%u entries per folder in %s\n", count, base.c_str());

    std::vector<std::string> plainPaths(count);
    for (unsigned i = 0; i < count; i++)
        plainPaths[i] = plainNative + "/" + Name(i);
    std::vector<unsigned> shuffled = Range(0, count);
    std::mt19937 random(20261206u);
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<unsigned> shuffledAgain = shuffled;
    std::shuffle(shuffledAgain.begin(), shuffledAgain.end(), random);
    const std::vector<unsigned> firstHalf = Range(0, count / 2), secondHalf = Range(count / 2, count);
    std::vector<FileHandle> handles(count);
    const uint8_t verifier[8] = {};
    SetAttr request = {};
    request.setMode = 1;
    request.mode = 0644;

    auto ourCreate = [&](uint32_t how) {
        return [&, how](unsigned i) -> long {
            FileHandle made;
            FileAttributes madeAttributes;
            who = BenchCaller();
            return CreateFileOp(&folder, Name(i).c_str(), how, &request, verifier, &made, &madeAttributes, &who);
        };
    };
    auto plainCreate = [&](unsigned i) -> long {
        const int fd = open(plainPaths[i].c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0644);
        return fd >= 0 && close(fd) == 0 ? 0 : errno;
    };
    auto ourLookup = [&](unsigned i) -> long {
        who = BenchCaller();
        return Lookup(&folder, Name(i).c_str(), &handles[i], &attributes, 0x0100007Fu, &who);
    };
    auto ourGetAttr = [&](unsigned i) -> long {
        who = BenchCaller();
        return GetAttrByHandle(&handles[i], &attributes, &who);
    };
    auto plainStat = [&](unsigned i) -> long {
        struct stat st;
        return stat(plainPaths[i].c_str(), &st) == 0 ? 0 : errno;
    };
    auto ourRemove = [&](unsigned i) -> long {
        who = BenchCaller();
        return RemoveFile(&folder, Name(i).c_str(), &who);
    };
    auto plainRemove = [&](unsigned i) -> long { return unlink(plainPaths[i].c_str()) == 0 ? 0 : errno; };

    // The two folders grow side by side, half by half.
    const double guardedOurs = Timed("CreateFileOp guarded", firstHalf, ourCreate(CREATE_HOW_GUARDED));
    const double guardedPlain = Timed("open(O_CREAT|O_EXCL)", firstHalf, plainCreate);
    const double uncheckedOurs = Timed("CreateFileOp unchecked", secondHalf, ourCreate(CREATE_HOW_UNCHECKED));
    const double uncheckedPlain = Timed("open(O_CREAT|O_EXCL)", secondHalf, plainCreate);
    const double lookupOurs = Timed("Lookup", shuffled, ourLookup);
    const double lookupPlain = Timed("stat", shuffled, plainStat);
    const double getattrOurs = Timed("GetAttrByHandle", shuffledAgain, ourGetAttr);
    const double getattrPlain = Timed("stat", shuffledAgain, plainStat);
    const double removeOurs = Timed("RemoveFile", shuffled, ourRemove);
    const double removePlain = Timed("unlink", shuffled, plainRemove);

    const double half = count / 2, other = count - count / 2, all = count;
    const Row rows[] = {
        {"create (guarded, 1st half)", half / guardedOurs, half / guardedPlain},
        {"create (unchecked, 2nd half)", other / uncheckedOurs, other / uncheckedPlain},
        {"lookup (random order)", all / lookupOurs, all / lookupPlain},
        {"getattr (by handle)", all / getattrOurs, all / getattrPlain},
        {"remove (random order)", all / removeOurs, all / removePlain},
    };
    printf("%-30s %12s %12s %7s\n", "operation", "ours/s", "plain/s", "ratio");
    bool ok = true;
    for (const Row &row : rows) {
        if (row.ours < 0 || row.plain < 0) {
            printf("%-30s %12s %12s %7s\n", row.label, "failed", "", "");
            ok = false;
            continue;
        }
        printf("%-30s %12.0f %12.0f %7.2f\n", row.label, row.ours, row.plain, row.ours / row.plain);
    }

    CloseBenchExport(&bench);
    // Whatever a failed run left behind.
    for (unsigned i = 0; i < count; i++) {
        unlink((oursNative + "/" + Name(i)).c_str());
        unlink(plainPaths[i].c_str());
    }
    rmdir(oursNative.c_str());
    rmdir(plainNative.c_str());
    unlink((base + "/inodes.nfs").c_str());
    return ok ? 0 : 1;
}

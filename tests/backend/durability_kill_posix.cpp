// A backend killed with SIGKILL in the middle of a stream of creates,
// FILE_SYNC writes and renames: after the restart every acknowledged write is
// in its file under the name the acknowledged renames gave it, nothing else
// is there (but the one operation in flight), the inode table verifies, and
// each file's handle still names that file.
#include "handles_fixture.h"

#include <dirent.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "backend/file_data.h"
#include "backend/helpers/durability_stream.h"
#include "backend/open_file_cache.h"
#include "fs/inode_table.h"
#include "support/killed_child.h"

#ifndef DURABILITY_WRITER_PATH
#define DURABILITY_WRITER_PATH "durability_writer"
#endif

namespace {

struct File {
    uint64_t inode;
    std::string bytes;
};
using Key = std::pair<int, std::string>;  // folder (0 = a, 1 = b), name
struct Round {
    std::string folder;  // below the test folder
    std::map<Key, File> files;
    std::string inFlight;  // the operation begun but not acknowledged, if any
    unsigned acknowledged = 0;
};

// Runs the writer until it acknowledged target operations, waits delay
// microseconds and kills it; returns its lines.
std::vector<std::string> RunAndKill(const std::vector<std::string> &args, unsigned target, unsigned delay)
{
    std::vector<std::string> full = args;
    full.push_back("1000000");
    return RunUntilKilled(
        DURABILITY_WRITER_PATH, full,
        [&](const std::vector<std::string> &lines) {
            unsigned acknowledged = 0;
            for (const std::string &line : lines)
                acknowledged += line[0] != '?' ? 1 : 0;
            return acknowledged >= target;
        },
        delay);
}

// Applies an acknowledged operation to the round's files.
void Apply(Round *round, const std::string &line)
{
    std::istringstream in(line);
    char op;
    int folder;
    std::string name;
    in >> op >> folder >> name;
    if (op == 'C') {
        uint64_t inode = 0;
        in >> inode;
        round->files[{folder, name}] = File{inode, ""};
    } else if (op == 'W') {
        uint64_t offset;
        uint32_t count, key;
        in >> offset >> count >> key;
        std::string &bytes = round->files[{folder, name}].bytes;
        if (bytes.size() < offset + count)
            bytes.resize(offset + count, '\0');
        for (uint32_t i = 0; i < count; i++)
            bytes[offset + i] = static_cast<char>(DurabilityByte(key, i));
    } else if (op == 'R') {
        int toFolder;
        std::string toName;
        in >> toFolder >> toName;
        File file = round->files[{folder, name}];
        round->files.erase({folder, name});
        round->files[{toFolder, toName}] = file;
    }
}

class DurabilityKillTest : public HandlesTest {
protected:
    const char *FolderName(int f) { return f == 0 ? "a" : "b"; }
    std::string Relative(const Round &r, const Key &k) { return r.folder + "/" + FolderName(k.first) + "/" + k.second; }

    // Settles what the operation in flight did on disk (so that the round can
    // be checked exactly), then checks every file of the round on disk and
    // through the backend.
    void Check(Round *round)
    {
        SCOPED_TRACE(round->folder + " after " + std::to_string(round->acknowledged) + " operations, in flight: " +
                     round->inFlight);
        std::istringstream in(round->inFlight);
        char op = 0;
        int folder = 0;
        std::string name;
        in >> op >> folder >> name;
        Key moved{-1, ""};
        FileHandle root = Mount(Win(round->folder), 0, 022);
        FileHandle folders[2];
        for (int f = 0; f < 2; f++)
            ASSERT_EQ(LookupName(root, FolderName(f), &folders[f]), 0u);
        if (op == 'C' && FileExists(dir.Native(Relative(*round, {folder, name})))) {
            FileHandle h;
            ASSERT_EQ(LookupName(folders[folder], name.c_str(), &h), 0u);
            round->files[{folder, name}] = File{h.inode, ""};
        } else if (op == 'R' && !FileExists(dir.Native(Relative(*round, {folder, name})))) {
            Apply(round, round->inFlight);
            // A kill between the move on disk and the one in the table leaves
            // the number at the old name: the new name gets a new number.
            int toFolder;
            in >> toFolder >> moved.second;
            moved.first = toFolder;
        } else if (op == 'W') {
            uint64_t offset;
            uint32_t count, key;
            in >> offset >> count >> key;
            std::string &before = round->files[{folder, name}].bytes;
            std::string now = ReadFileBytes(dir.Native(Relative(*round, {folder, name})));
            // Each byte of the unacknowledged write is either old or new.
            ASSERT_GE(now.size(), before.size());
            ASSERT_LE(now.size(), std::max<uint64_t>(before.size(), offset + count));
            for (size_t i = 0; i < now.size(); i++) {
                char old = i < before.size() ? before[i] : '\0';
                bool written = i >= offset && i < offset + count;
                ASSERT_TRUE(now[i] == old || (written && now[i] == static_cast<char>(DurabilityByte(key, i - offset))))
                    << "byte " << i;
            }
            before = now;
        }
        round->inFlight.clear();
        for (int f = 0; f < 2; f++) {
            std::set<std::string> onDisk, expected;
            DIR *d = opendir(dir.Native(round->folder + "/" + FolderName(f)).c_str());
            ASSERT_NE(d, nullptr);
            while (dirent *e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    onDisk.insert(e->d_name);
            closedir(d);
            for (const auto &item : round->files)
                if (item.first.first == f)
                    expected.insert(item.first.second);
            EXPECT_EQ(onDisk, expected) << FolderName(f);
        }
        for (auto &item : round->files) {
            const Key &k = item.first;
            SCOPED_TRACE(Relative(*round, k));
            EXPECT_TRUE(ReadFileBytes(dir.Native(Relative(*round, k))) == item.second.bytes) << "on disk";
            FileHandle h;
            ASSERT_EQ(LookupName(folders[k.first], k.second.c_str(), &h), 0u);
            if (k == moved)
                item.second.inode = h.inode;
            EXPECT_EQ(h.inode, item.second.inode) << "the name lost its inode";
            // The handle given out before the kill still names the file.
            FileHandle old;
            MakeHandle(item.second.inode, root.mountId, &old);
            ExportContext context;
            char path[2048];
            uint64_t inode = 0;
            ASSERT_EQ(ResolveHandlePath(&old, &context, path, &inode), 0u);
            EXPECT_EQ(std::string(path), Win(Relative(*round, k)));
            std::string read(item.second.bytes.size() + 1, '\0');
            uint32_t count = static_cast<uint32_t>(read.size());
            FileAttributes a;
            AuthUnix who = caller;
            ASSERT_EQ(ReadFileData(&old, 0, &count, reinterpret_cast<uint8_t *>(&read[0]), &a, &who), 0u);
            read.resize(count);
            EXPECT_TRUE(read == item.second.bytes) << "read through the handle";
        }
    }
};

TEST_F(DurabilityKillTest, AcknowledgedWritesAndRenamesSurviveSigkill)
{
    const char *seedText = getenv("KORVANE_DURABILITY_SEED");
    unsigned seed = seedText != nullptr ? static_cast<unsigned>(strtoul(seedText, nullptr, 10)) : 20261206u;
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 rng(seed);
    std::vector<Round> rounds(8);
    std::string table = Win("inodes.nfs");
    for (size_t r = 0; r < rounds.size(); r++) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(r));
        Round &round = rounds[r];
        round.folder = "r" + std::to_string(r);
        MakeFolder(round.folder);
        CloseInodeTable();
        unsigned target = 5 + rng() % 60, delay = rng() % 5000;
        std::vector<std::string> lines =
            RunAndKill({dir.win(), Win(round.folder), std::to_string(seed + r)}, target, delay);
        for (const std::string &line : lines) {
            ASSERT_NE(line[0], '!') << line;
            if (line[0] == '?') {
                round.inFlight = line.substr(2);
            } else {
                Apply(&round, line);
                round.inFlight.clear();
                round.acknowledged++;
            }
        }
        ASSERT_GE(round.acknowledged, target) << "the writer did not run";
        ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 0));
        char reason[256] = "";
        EXPECT_TRUE(InodeTableConsistent(reason, sizeof reason)) << reason;
        std::string inFlight = round.inFlight.empty() ? "none" : round.inFlight;
        Check(&round);
        CacheCloseAll();
        printf("round %zu: killed after %u operations, %zu files, in flight: %s\n", r, round.acknowledged,
               round.files.size(), inFlight.c_str());
    }
    // Later kills and table repairs lost nothing of the earlier rounds.
    for (Round &round : rounds)
        Check(&round);
    char reason[256] = "";
    EXPECT_TRUE(InodeTableConsistent(reason, sizeof reason)) << reason;
}

}  // namespace

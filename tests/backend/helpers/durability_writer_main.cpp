// Helper program of the backend durability test.
//   durability_writer <data folder> <export folder> <seed> <ops>
// Starts the backend on the data folder (Windows paths, the data folder
// ending in a backslash; its inode table kept), exports and mounts the export
// folder and runs a stream of creates, FILE_SYNC writes and renames in its
// subfolders "a" and "b".  Before each operation it prints "? <operation>",
// after its success "<operation>", each line flushed:
//   C <folder> <name> <inode>                    file created (empty)
//   W <folder> <name> <offset> <count> <key>     bytes DurabilityByte(key, i) written
//   R <folder> <name> <to folder> <to name>      renamed, replacing the target
// Any failure ends it with "! <what>" and status 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "backend/backend_start.h"
#include "backend/file_data.h"
#include "backend/helpers/durability_stream.h"
#include "backend/lookup.h"
#include "backend/namespace_ops.h"
#include "backend/open_file_cache.h"
#include "exports/export_entry.h"
#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "fs/inode_table.h"
#include "log/log.h"
#include "settings/settings.h"

namespace {

int NoHostName(uint32_t, char *, size_t) { return 0; }

AuthUnix Caller()
{
    AuthUnix auth;
    memset(&auth, 0, sizeof auth);
    auth.uid = 1000;
    auth.gid = 100;
    auth.gids = auth.gid_list;
    auth.machinename = auth.name;
    return auth;
}

int Fail(const std::string &what, uint32_t status)
{
    printf("! %s: status %u\n", what.c_str(), status);
    fflush(stdout);
    return 1;
}

struct Known {
    int folder;
    std::string name;
    uint64_t size;
};

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: durability_writer DATA EXPORT SEED OPS\n");
        return 2;
    }
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", argv[1]);
    if (SelectSettingsFile(argv[1], "nfsd", 1) != 1)
        return Fail("settings", 0);
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.CharSet = 1;
    ServerSettings.CharSetActive = 1;
    ServerSettings.Cache = 8;
    ServerSettings.FHsize = 32;
    ServerSettings.Datasize = 32768;
    SetHostAddressLookup(NoHostName);
    // The table of the data folder, kept from the run before.
    WriteString("nfsd", "InodePath", (std::string(argv[1]) + "inodes.nfs").c_str());
    if (StartNfsBackend() != 0)
        return Fail("backend start", 0);

    static ExportEntry entry;
    std::string exportPath = argv[2];
    entry.self = &entry;
    entry.path = &exportPath[0];
    if (ProbeVolume(entry.path, &entry.volumeSerial, &entry.maxNameLength, &entry.flags) != 1)
        return Fail("volume", 0);
    entry.options.cacheSize = 8;
    CacheAllocate(&entry.options);
    uint32_t mountId = 0;
    uint32_t top = AddPath(entry.path);
    if (top == 0 || MountAdd(0x0100007Fu, 17, entry.path, top, &entry, entry.volumeSerial, entry.maxNameLength,
                             entry.flags, &mountId) == 0)
        return Fail("mount", 0);
    FileHandle root, folders[2];
    MakeHandle(top, mountId, &root);
    AuthUnix who = Caller();
    FileAttributes attributes;
    for (int f = 0; f < 2; f++) {
        uint32_t status = MakeDirectory(&root, f == 0 ? "a" : "b", nullptr, &folders[f], &attributes, &who);
        if (status != 0)
            return Fail("mkdir", status);
    }

    std::mt19937 rng(static_cast<unsigned>(strtoul(argv[3], nullptr, 10)));
    unsigned ops = static_cast<unsigned>(strtoul(argv[4], nullptr, 10));
    std::vector<Known> files;
    std::vector<uint8_t> buffer;
    for (unsigned i = 1; i <= ops; i++) {
        char line[256];
        unsigned kind = files.empty() ? 0 : rng() % 10;
        if (kind < 2) {
            Known k{static_cast<int>(rng() % 2), "f" + std::to_string(i), 0};
            snprintf(line, sizeof line, "C %d %s", k.folder, k.name.c_str());
            printf("? %s\n", line);
            fflush(stdout);
            SetAttr request;
            memset(&request, 0, sizeof request);
            uint8_t verifier[8] = {};
            FileHandle handle;
            uint32_t status = CreateFileOp(&folders[k.folder], k.name.c_str(), CREATE_HOW_GUARDED, &request,
                                           verifier, &handle, &attributes, &who);
            if (status != 0)
                return Fail(line, status);
            printf("%s %llu\n", line, static_cast<unsigned long long>(handle.inode));
            files.push_back(k);
        } else if (kind < 8) {
            Known &k = files[rng() % files.size()];
            uint64_t offset = k.size == 0 ? 0 : rng() % (k.size + 1);
            uint32_t count = 1 + rng() % 9000, key = rng() % 100000;
            snprintf(line, sizeof line, "W %d %s %llu %u %u", k.folder, k.name.c_str(),
                     static_cast<unsigned long long>(offset), count, key);
            printf("? %s\n", line);
            fflush(stdout);
            buffer.resize(count);
            for (uint32_t b = 0; b < count; b++)
                buffer[b] = DurabilityByte(key, b);
            FileHandle handle;
            uint32_t status = Lookup(&folders[k.folder], k.name.c_str(), &handle, &attributes, 0x0100007Fu, &who);
            uint32_t stability = WRITE_FILE_SYNC, written = count;
            if (status == 0)
                status = WriteFileData(&handle, offset, &written, &stability, buffer.data(), &attributes, nullptr,
                                       &who);
            if (status != 0 || written != count || stability != WRITE_FILE_SYNC)
                return Fail(std::string(line) + " written " + std::to_string(written) + " stability " +
                                std::to_string(stability),
                            status);
            if (offset + count > k.size)
                k.size = offset + count;
            printf("%s\n", line);
        } else {
            size_t from = rng() % files.size();
            int toFolder = static_cast<int>(rng() % 2);
            // One rename in four replaces another file.
            size_t target = rng() % files.size();
            bool replace = rng() % 4 == 0 && target != from;
            std::string toName = replace ? files[target].name : "r" + std::to_string(i);
            if (replace)
                toFolder = files[target].folder;
            snprintf(line, sizeof line, "R %d %s %d %s", files[from].folder, files[from].name.c_str(), toFolder,
                     toName.c_str());
            printf("? %s\n", line);
            fflush(stdout);
            uint32_t status = RenameOp(&folders[files[from].folder], files[from].name.c_str(), &folders[toFolder],
                                       toName.c_str(), &who);
            if (status != 0)
                return Fail(line, status);
            files[from].folder = toFolder;
            files[from].name = toName;
            if (replace)
                files.erase(files.begin() + static_cast<long>(target));
            printf("%s\n", line);
        }
        fflush(stdout);
    }
    StopNfsBackend();
    return 0;
}

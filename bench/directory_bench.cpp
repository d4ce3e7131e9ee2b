// Directory listing benchmark: a folder of 100,000 files listed through
// ReadDirEntryPlus (table mode, replies of 1,000 entries, as an NFS service asks
// for them) against plain opendir/readdir of the same folder; then the
// memory of all 64 search slots, each holding a listing of that folder.
//   directory_bench [native folder]   (default: /tmp/directory_bench)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <dirent.h>
#include <sys/stat.h>

#include "backend/directory_read.h"
#include "backend/directory_read_internal.h"
#include "exports/export_context.h"
#include "fs/inode_table.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// The Windows form of a native absolute path (drive Z: is the root).
std::string WindowsPath(const std::string &native)
{
    std::string path = "Z:" + native;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// One full listing in replies of `room` entries; the number of entries.
uint32_t ListOnce(ExportContext *context, uint64_t directory, uint64_t parent, uint32_t room, uint32_t mountId)
{
    uint32_t cookie = 0;
    uint32_t listed = 0;
    ListedFolder folder = {INVALID_HANDLE_VALUE, strlen(context->path)};
    for (;;) {
        for (uint32_t n = 0; n < room; n++) {
            char name[DIRECTORY_NAME_SIZE];
            uint64_t inode = 0;
            uint32_t entryMount = mountId;
            const uint32_t result =
                ReadDirEntryPlus(context, directory, parent, 0x0100007Fu, &cookie, name, &inode, &entryMount, nullptr,
                                 folder);
            if (result == 0 || result == READDIR_FAILED) {
                ListedFolderClose(&folder);
                return result == 0 ? listed : 0;
            }
            ReadDirEntryUsed(cookie);
            listed++;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const unsigned count = 100000;
    const std::string native = argc > 1 ? argv[1] : "/tmp/directory_bench";
    ServerSettings.CharSetActive = 1;
    ServerSettings.InodeCheck = 0;
    mkdir(native.c_str(), 0755);
    const std::string folder = native + "/folder";
    mkdir(folder.c_str(), 0755);
    for (unsigned i = 0; i < count; i++) {
        const std::string file = folder + "/file-" + std::to_string(i);
        FILE *f = fopen(file.c_str(), "ab");
        if (f == nullptr) {
            fprintf(stderr, "cannot create %s\n", file.c_str());
            return 1;
        }
        fclose(f);
    }
    const std::string table = WindowsPath(native + "/inodes.nfs");
    if (!OpenInodeTableAt(table.c_str(), 1)) {
        fprintf(stderr, "cannot create %s\n", table.c_str());
        return 1;
    }
    InitDirectorySearchSlots();
    ExportEntry entry;
    memset(&entry, 0, sizeof entry);
    ExportContext context;
    memset(&context, 0, sizeof context);
    context.exportEntry = &entry;
    context.maxNameLength = 255;
    const std::string path = WindowsPath(folder);
    snprintf(context.path, sizeof context.path, "%s", path.c_str());
    const uint64_t directory = AddPath(context.path);
    const uint64_t parent = ParentOfInode(static_cast<uint32_t>(directory));

    // readdir of the same folder.
    const int rounds = 5;
    Clock::time_point t0 = Clock::now();
    unsigned plain = 0;
    for (int r = 0; r < rounds; r++) {
        DIR *d = opendir(folder.c_str());
        while (readdir(d) != nullptr)
            plain++;
        closedir(d);
    }
    Clock::time_point t1 = Clock::now();
    // The platform layer's search of the same folder (what a listing reads
    // once at its start).
    unsigned found = 0;
    const std::string pattern = path + "\\*";
    for (int r = 0; r < rounds; r++) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            break;
        do
            found++;
        while (FindNextFileA(find, &data));
        FindClose(find);
    }
    Clock::time_point tf = Clock::now();
    // The first listing adds every name to the inode table.
    Clock::time_point t1b = Clock::now();
    uint32_t first = ListOnce(&context, directory, parent, 1000, 1);
    Clock::time_point t2 = Clock::now();
    uint32_t listed = 0;
    for (int r = 0; r < rounds; r++)
        listed += ListOnce(&context, directory, parent, 1000, 1);
    Clock::time_point t3 = Clock::now();
    printf("readdir:                 %10.0f entries/s\n", plain / Seconds(t0, t1));
    printf("FindFirst/NextFile:      %10.0f entries/s\n", found / Seconds(t1, tf));
    printf("ReadDirEntryPlus, first: %10.0f entries/s (%u entries, names added to the table)\n",
           first / Seconds(t1b, t2), first);
    printf("ReadDirEntryPlus, again: %10.0f entries/s (%u entries)\n", listed / Seconds(t2, t3), listed);

    // Every slot holding a listing of the folder.
    uint64_t idle = 0;
    DirectorySlotsInUse(&idle);
    for (uint32_t s = 0; s < DIRECTORY_SEARCH_SLOTS; s++) {
        uint32_t cookie = 0;
        char name[DIRECTORY_NAME_SIZE];
        uint64_t inode = 0;
        uint32_t mountId = 1;
        ListedFolder folder = {INVALID_HANDLE_VALUE, strlen(context.path)};
        ReadDirEntryPlus(&context, directory, parent, 0x0100007Fu, &cookie, name, &inode, &mountId, nullptr, folder);
        ListedFolderClose(&folder);
    }
    uint64_t full = 0;
    const uint32_t used = DirectorySlotsInUse(&full);
    printf("slots: %u in use, %.1f MB with their listings of %u names (%.1f KB with none)\n", used,
           full / 1048576.0, count, idle / 1024.0);
    CloseDirectorySearchSlots();
    CloseInodeTable();
    return 0;
}

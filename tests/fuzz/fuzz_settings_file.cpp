// Any bytes as nfsd.ini: the load must finish with a record that keeps its
// invariants (clamped handle and directory sizes, a bounded log folder, a
// character map that only substitutes forbidden characters), must be
// repeatable, and a save of the loaded record must not break a second load.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/win32.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// The folder of the fuzzed nfsd.ini.  A save replaces the file durably
// (flushed to disk first), which on a real disk costs milliseconds; on POSIX
// the folder goes to the memory file system when there is one, so the
// fuzzer runs hundreds of inputs a second instead of dozens.
struct FuzzFolder {
    std::string win;
    std::string native;
    TempDir *fallback = nullptr;

    FuzzFolder()
    {
#ifndef _WIN32
        char pattern[] = "/dev/shm/korvane-fuzz-XXXXXX";
        char buffer[4096];
        if (mkdtemp(pattern) != nullptr && WindowsPathFromPosix(pattern, buffer, sizeof buffer)) {
            native = pattern;
            win = std::string(buffer) + "\\";
            return;
        }
#endif
        fallback = new TempDir;
        win = fallback->win();
        native = fallback->native();
    }
    ~FuzzFolder()
    {
        if (fallback != nullptr) {
            delete fallback;
        } else {
            std::error_code ec;
            std::filesystem::remove_all(native, ec);
        }
    }
};

void Check(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "settings invariant broken: %s\n", what);
        abort();
    }
}

void CheckRecord()
{
    const ServerSettingsRecord &s = ServerSettings;
    Check(s.FHsize == 20 || s.FHsize == 32, "FHsize");
    Check(s.ReadSize == s.Datasize && s.WriteSize == s.Datasize, "ReadSize/WriteSize");
    Check(s.DirSize <= s.ReadSize, "DirSize");
    Check(s.NFS3Write <= 15 && (s.NFS3WriteFlag == 0 || s.NFS3WriteFlag == 16), "NFS3Write");
    Check(s.CharSetActive == s.CharSet, "CharSetActive");
    Check(s.Locktime % 1000u == 0, "Locktime");
    Check(memchr(LogDir, '\0', sizeof LogDir) != nullptr && strlen(LogDir) <= 896, "LogDir");
    for (int c = 0; c < 256; c++) {
        if (CharMap[c] == 0)
            continue;
        Check(c == 127 || (c < 127 && strchr("\"*/:<>?\\|", c) != nullptr), "CharMap index");
        Check(CharMap[c] >= 32 && CharMap[c] <= 126 && strchr("\"*/:<>?\\|", CharMap[c]) == nullptr,
              "CharMap value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzFolder dir;
    static const std::string file = dir.native + "/nfsd.ini";
    WriteFileBytes(file, std::string(reinterpret_cast<const char *>(data), size));
    if (!SelectSettingsFile(dir.win.c_str(), "nfsd", 1))
        abort();
    snprintf(DataDirectory, sizeof DataDirectory, "%s", dir.win.c_str());

    LoadSettings("nfsd");
    CheckRecord();
#ifdef _WIN32
    // In the Windows build the profile functions are the system's own; the
    // load rules over them are what is exercised here, and every further
    // pass over the file costs a Wine run many milliseconds.
    return 0;
#endif
    ServerSettingsRecord first = ServerSettings;
    uint8_t firstMap[256];
    memcpy(firstMap, CharMap, sizeof firstMap);
    std::string firstLogDir = LogDir;

    LoadSettings("nfsd");
    Check(memcmp(&first, &ServerSettings, sizeof first) == 0, "second load differs");
    Check(memcmp(firstMap, CharMap, sizeof firstMap) == 0, "second map differs");
    Check(firstLogDir == LogDir, "second LogDir differs");

    ServerSettingsRecord saved = ServerSettings;
    SaveSettings("nfsd", &saved);
    LoadSettings("nfsd");
    CheckRecord();
    return 0;
}

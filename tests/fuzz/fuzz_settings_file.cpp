// Any bytes as nfsd.ini: the load must finish with a record that keeps its
// invariants (clamped handle and directory sizes, a bounded log folder, a
// character map that only substitutes forbidden characters), must be
// repeatable, and a save of the loaded record must not break a second load.
#include "fuzz_world.h"

namespace {

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
    static TempDir *dir = InMemoryTempDir();
    WriteFileBytes(dir->Native("nfsd.ini"), std::string(reinterpret_cast<const char *>(data), size));
    Check(SelectSettingsFile(dir->win().c_str(), "nfsd", 1), "cannot select the settings file");
    snprintf(DataDirectory, sizeof DataDirectory, "%s", dir->win().c_str());

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

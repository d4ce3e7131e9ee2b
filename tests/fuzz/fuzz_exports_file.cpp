// Random exports files fed to the loader.  Besides memory errors it checks
// what the table promises: every entry has a valid normalised path and at
// most 128 clients (pairs with -range), every export admits its own clients
// at its own visible path, and a saved table reads back with the same ids.
#include "common/checksum.h"
#include "fuzz_world.h"

namespace {

TempDir *dir = nullptr;

// Names beginning with 'h' resolve to an address made from the name, never
// 0.0.0.0 or 255.255.255.255 (which would read back as names); all others
// fail.  No look-up leaves the process.
int FuzzResolver(const char *name, uint32_t *address)
{
    if (name[0] != 'h')
        return 0;
    uint32_t value = Crc32(name, strlen(name));
    if (value == 0 || value == 0xFFFFFFFFu)
        value = 0x0100007Fu;
    *address = value;
    return 1;
}


void Setup()
{
    dir = new TempDir();
    snprintf(DataDirectory, sizeof(DataDirectory), "%s", dir->win().c_str());
    // No settings file: the loader's error settings would cost a synced
    // file write per load; ExportsLastError gives the same facts.
    SelectRegistrySettings();
    memset(&ServerSettings, 0, sizeof(ServerSettings));
    ServerSettings.Cache = 24;
    ServerSettings.Lowercase = 1;
    memset(CharMap, 0, sizeof(CharMap));
    SetHostNameResolver(FuzzResolver);
}

std::vector<uint32_t> CheckTable()
{
    std::vector<uint32_t> ids;
    for (ExportEntry *e = ExportFirst(); e != nullptr; e = ExportNext(e)) {
        Check(e->self == e, "self");
        Check(e->path != nullptr && CheckPathSyntax(e->path) == 1, "path syntax");
        char again[EXPORT_PATH_SIZE];
        snprintf(again, sizeof(again), "%s", e->path);
        Check(NormaliseRoot(again, sizeof(again)) == e->options.rootLength && strcmp(again, e->path) == 0,
              "normalised path");
        const int32_t count = e->options.clientCount;
        Check(count >= 0 && count <= EXPORT_MAX_CLIENTS, "client count");
        Check((e->flags & EXPORT_RANGE) == 0 || (count > 0 && count % 2 == 0), "range pairs");
        Check(e->name == nullptr || (strlen(e->name) >= 3 && e->name[0] == '/'), "name");
        Check(FindExportById(e->options.exportId) != nullptr, "id");
        ids.push_back(e->options.exportId);

        char visible[EXPORT_PATH_SIZE];
        // (A range written high to low admits nobody: no client to try.)
        uint32_t client = count > 0 ? e->options.clients[0] : 0x0A000001u;
        if (ToClientPath(e->path, visible, sizeof(visible)) && ExportAdmits(e, client)) {
            ExportEntry *found = nullptr;
            char path[EXPORT_PATH_SIZE];
            snprintf(path, sizeof(path), "%s", visible);
            Check(FindExport(path, client, &found) == 0 && found != nullptr && ExportAdmits(found, client) == 1,
                  "an export does not admit its own client at its own visible path");
        }
    }
    return ids;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (dir == nullptr)
        Setup();
    // The first byte picks the character set: UTF-8 conversion of the path
    // and names, or the bytes as they are.
    const bool utf8 = size > 0 && (data[0] & 1) != 0;
    ServerSettings.CharSet = ServerSettings.CharSetActive = utf8 ? 2 : 1;
    ServerSettings.CodePage = 1252;

    WriteFileBytes(dir->Native("exports"), std::string(reinterpret_cast<const char *>(data), size));
    ExportsLoad();
    std::vector<uint32_t> ids = CheckTable();

    // Written back and read afresh, the table gives the same ids.  (In UTF-8
    // mode a path may be cut to fit after conversion, so only the byte mode
    // promises this.)
    if (!utf8) {
        Check(ExportsSave() == 1, "save");
        ExportTablesFree();
        ExportsLoad();
        Check(ExportsLastError(nullptr) == 0, "saved file reads without errors");
        Check(CheckTable() == ids, "ids after save and load");
    }
    ExportTablesFree();
    return 0;
}

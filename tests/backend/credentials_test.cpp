#include <gtest/gtest.h>

#include <cstring>

#include "backend/credentials.h"
#include "settings/settings.h"

// Root becomes nobody unless MapRoot; an export's -maproot and -mapall win
// over the setting, and their group only where the export names one.
TEST(Credentials, RootAndCallersAreMappedByTheSettingAndTheExport)
{
    const uint32_t MRU = EXPORT_MAPROOT_UID, MRG = EXPORT_MAPROOT_GID, MAU = EXPORT_MAPALL_UID,
                   MAG = EXPORT_MAPALL_GID;
    const struct {
        uint32_t mapRoot, flags, uid, gid, mappedUid, mappedGid;  // the setting, the export's flags, the caller
    } cases[] = {
        {0, 0, 0, 5, 65534, 65534},        {1, 0, 0, 5, 0, 0},
        {1, 0, 1000, 100, 1000, 100},      {1, MRU, 0, 0, 500, 65534},
        {1, MRU, 1000, 100, 1000, 100},    {1, MRU | MRG, 0, 0, 500, 50},
        {1, MAU, 1000, 100, 700, 100},     {1, MAU, 0, 5, 700, 5},
        {1, MAU | MAG, 1000, 100, 700, 70},
    };
    for (const auto &c : cases) {
        ServerSettings.MapRoot = c.mapRoot;
        ExportEntry entry;
        ExportContext context;
        memset(&entry, 0, sizeof entry);
        memset(&context, 0, sizeof context);
        entry.flags = context.flags = c.flags;
        entry.options.maprootUid = 500;
        entry.options.maprootGid = 50;
        entry.options.mapallUid = 700;
        entry.options.mapallGid = 70;
        context.exportEntry = &entry;
        AuthUnix who;
        memset(&who, 0, sizeof who);
        who.uid = c.uid;
        who.gid = c.gid;
        MapCredentials(&context, &who);
        MapCredentials(&context, &who);  // a second mapping changes nothing
        EXPECT_EQ(who.uid, c.mappedUid) << c.flags << " " << c.uid;
        EXPECT_EQ(who.gid, c.mappedGid) << c.flags << " " << c.uid;
    }
    ServerSettings.MapRoot = 0;
}

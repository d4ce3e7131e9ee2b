#include <gtest/gtest.h>

#include <cstring>

#include "backend/credentials.h"
#include "settings/settings.h"

namespace {

struct Export {
    ExportEntry entry;
    ExportContext context;
    Export(uint32_t flags, uint32_t umask)
    {
        memset(&entry, 0, sizeof entry);
        memset(&context, 0, sizeof context);
        entry.flags = flags;
        entry.options.umask = umask;
        context.flags = flags;
        context.exportEntry = &entry;
    }
};

AuthUnix Caller(uint32_t uid, uint32_t gid)
{
    AuthUnix auth;
    memset(&auth, 0, sizeof auth);
    auth.uid = uid;
    auth.gid = gid;
    return auth;
}

class Credentials : public ::testing::Test {
protected:
    void SetUp() override { savedMapRoot_ = ServerSettings.MapRoot; }
    void TearDown() override { ServerSettings.MapRoot = savedMapRoot_; }
    uint32_t savedMapRoot_ = 0;
};

} // namespace

// Root becomes nobody unless MapRoot; an export's -maproot and -mapall win
// over the setting, and their group only where the export names one.
TEST_F(Credentials, RootAndCallersAreMappedByTheSettingAndTheExport)
{
    const uint32_t MRU = EXPORT_MAPROOT_UID, MRG = EXPORT_MAPROOT_GID, MAU = EXPORT_MAPALL_UID,
                   MAG = EXPORT_MAPALL_GID;
    const struct {
        uint32_t mapRoot, flags, uid, gid;  // the setting, the export's flags, the caller
        uint32_t mappedUid, mappedGid;
    } cases[] = {
        {0, 0, 0, 5, 65534, 65534},        {1, 0, 0, 5, 0, 0},
        {1, 0, 1000, 100, 1000, 100},      {1, MRU, 0, 0, 500, 65534},
        {1, MRU, 1000, 100, 1000, 100},    {1, MRU | MRG, 0, 0, 500, 50},
        {1, MAU, 1000, 100, 700, 100},     {1, MAU, 0, 5, 700, 5},
        {1, MAU | MAG, 1000, 100, 700, 70},
    };
    for (const auto &c : cases) {
        ServerSettings.MapRoot = c.mapRoot;
        Export e(c.flags, 022);
        e.entry.options.maprootUid = 500;
        e.entry.options.maprootGid = 50;
        e.entry.options.mapallUid = 700;
        e.entry.options.mapallGid = 70;
        AuthUnix who = Caller(c.uid, c.gid);
        MapCredentials(&e.context, &who);
        MapCredentials(&e.context, &who);  // a second mapping changes nothing
        EXPECT_EQ(who.uid, c.mappedUid) << c.flags << " " << c.uid;
        EXPECT_EQ(who.gid, c.mappedGid) << c.flags << " " << c.uid;
    }
}

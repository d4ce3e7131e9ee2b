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

TEST_F(Credentials, RootBecomesNobodyUnlessMapRoot)
{
    Export plain(0, 022);
    ServerSettings.MapRoot = 0;
    AuthUnix root = Caller(0, 5);
    MapCredentials(&plain.context, &root);
    EXPECT_EQ(root.uid, 65534u);
    EXPECT_EQ(root.gid, 65534u);

    ServerSettings.MapRoot = 1;
    root = Caller(0, 5);
    MapCredentials(&plain.context, &root);
    EXPECT_EQ(root.uid, 0u);
    EXPECT_EQ(root.gid, 0u);

    AuthUnix user = Caller(1000, 100);
    MapCredentials(&plain.context, &user);
    EXPECT_EQ(user.uid, 1000u);
    EXPECT_EQ(user.gid, 100u);
}

TEST_F(Credentials, MaprootAndMapall)
{
    ServerSettings.MapRoot = 1;  // the export's own mapping wins
    Export maproot(EXPORT_MAPROOT_UID, 022);
    maproot.entry.options.maprootUid = 500;
    AuthUnix root = Caller(0, 0);
    MapCredentials(&maproot.context, &root);
    EXPECT_EQ(root.uid, 500u);
    EXPECT_EQ(root.gid, 65534u);
    AuthUnix user = Caller(1000, 100);
    MapCredentials(&maproot.context, &user);
    EXPECT_EQ(user.uid, 1000u);

    Export maprootGid(EXPORT_MAPROOT_UID | EXPORT_MAPROOT_GID, 022);
    maprootGid.entry.options.maprootUid = 500;
    maprootGid.entry.options.maprootGid = 50;
    root = Caller(0, 0);
    MapCredentials(&maprootGid.context, &root);
    EXPECT_EQ(root.uid, 500u);
    EXPECT_EQ(root.gid, 50u);

    Export mapall(EXPORT_MAPALL_UID, 022);
    mapall.entry.options.mapallUid = 700;
    user = Caller(1000, 100);
    MapCredentials(&mapall.context, &user);
    EXPECT_EQ(user.uid, 700u);
    EXPECT_EQ(user.gid, 100u);  // no -mapall gid: the caller's stays
    root = Caller(0, 0);
    MapCredentials(&mapall.context, &root);
    EXPECT_EQ(root.uid, 700u);

    Export mapallGid(EXPORT_MAPALL_UID | EXPORT_MAPALL_GID, 022);
    mapallGid.entry.options.mapallUid = 700;
    mapallGid.entry.options.mapallGid = 70;
    user = Caller(1000, 100);
    MapCredentials(&mapallGid.context, &user);
    MapCredentials(&mapallGid.context, &user);  // a second mapping changes nothing
    EXPECT_EQ(user.uid, 700u);
    EXPECT_EQ(user.gid, 70u);
}

TEST_F(Credentials, OwnerIsTheCallerOrTheFixedOwner)
{
    Export plain(0, 022);
    AuthUnix user = Caller(1000, 100);
    EXPECT_EQ(OwnerUid(&plain.context, &user), 1000u);
    EXPECT_EQ(OwnerGid(&plain.context, &user), 100u);
    // A caller mapped to nobody sees files owned by root.
    ServerSettings.MapRoot = 0;
    AuthUnix root = Caller(0, 0);
    MapCredentials(&plain.context, &root);
    EXPECT_EQ(OwnerUid(&plain.context, &root), 0u);
    EXPECT_EQ(OwnerGid(&plain.context, &root), 0u);

    Export fixed(EXPORT_UID | EXPORT_GID, 022);
    fixed.entry.options.uid = 42;
    fixed.entry.options.gid = 43;
    EXPECT_EQ(OwnerUid(&fixed.context, &user), 42u);
    EXPECT_EQ(OwnerGid(&fixed.context, &user), 43u);
    Export fixedUid(EXPORT_UID, 022);
    fixedUid.entry.options.uid = 42;
    EXPECT_EQ(OwnerGid(&fixedUid.context, &user), 100u);
}

TEST_F(Credentials, AccessBits)
{
    Export plain(0, 022);
    AuthUnix root = Caller(0, 0);
    EXPECT_TRUE(IsRoot(&root));
    EXPECT_EQ(AccessBits(&plain.context, &root), 0777u);
    AuthUnix user = Caller(1000, 100);
    EXPECT_FALSE(IsRoot(&user));
    EXPECT_EQ(AccessBits(&plain.context, &user), 0700u);  // without -uid every caller owns
    AuthUnix nobody = Caller(65534, 65534);
    // nobody is not the owner (shown as 0) and not in its group (shown as 0)
    EXPECT_EQ(AccessBits(&plain.context, &nobody), 0005u);

    Export fixed(EXPORT_UID | EXPORT_GID, 027);
    fixed.entry.options.uid = 42;
    fixed.entry.options.gid = 100;
    EXPECT_EQ(AccessBits(&fixed.context, &user), 0050u);  // same group
    AuthUnix stranger = Caller(1001, 101);
    EXPECT_EQ(AccessBits(&fixed.context, &stranger), 0000u);
    AuthUnix owner = Caller(42, 1);
    EXPECT_EQ(AccessBits(&fixed.context, &owner), 0700u);
    Export tight(EXPORT_UID, 0277);
    tight.entry.options.uid = 42;
    EXPECT_EQ(AccessBits(&tight.context, &owner), 0500u);
}

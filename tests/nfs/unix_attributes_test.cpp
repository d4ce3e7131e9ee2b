// The stored Unix mode, owner and group through Nfs3Dispatch, as callers
// with chosen AUTH_UNIX credentials see them: who may read, write, change
// attributes and remove names, and a file without a record as before.
#include <gtest/gtest.h>

#include "nfs/nfs_protocol.h"
#include "nfs_fixture.h"
#include "settings/settings.h"

namespace {

const uint32_t NO = ~0u;

// sattr3: mode, uid, gid (NO: leave), no size; mtime to the client's time 1
// with clientTime.
std::string Sattr(uint32_t mode, uint32_t uid = NO, uint32_t gid = NO, bool clientTime = false)
{
    std::string out;
    for (uint32_t v : {mode, uid, gid})
        out += v == NO ? Words({0}) : Words({1, v});
    return out + Words({0, 0}) + (clientTime ? Words({2, 1, 0}) : Words({0}));
}

// A caller: uid, primary group, supplementary groups.
struct Caller {
    uint32_t uid, gid;
    std::vector<uint32_t> groups;
};
const Caller OWNER = {1000, 100, {100}};
const Caller MEMBER = {2000, 200, {200, 100}};  // in the owner's group through a supplementary gid
const Caller OTHER = {3000, 300, {300}};
const Caller ROOT = {0, 0, {0}};

class UnixAttributesTest : public NfsTest {
protected:
    void SetUp() override
    {
        NfsTest::SetUp();
        ServerSettings.UnixAttributes = 1;
        ServerSettings.MapRoot = 1;
        LoadExports("@\\data 127.0.0.1\n");
        root = Fh3(MountFor(Win("data")));
    }
    void TearDown() override
    {
        ServerSettings.UnixAttributes = 0;
        ServerSettings.MapRoot = 0;
        NfsTest::TearDown();
    }
    RpcReplyView As(const Caller &c, uint32_t proc, const std::string &args)
    {
        gid = c.gid;
        groups = c.groups;
        return Call(3, proc, args, "127.0.0.1", c.uid);
    }
    uint32_t Status(const Caller &c, uint32_t proc, const std::string &args)
    {
        RpcReplyView reply = As(c, proc, args);
        return reply.results.size() >= 4 ? WordAt(reply.results, 0) : NO;
    }
    // Makes a file or folder in `in` as the caller; its fh3.
    std::string Make(const Caller &c, const std::string &in, const std::string &name, uint32_t mode,
                     bool folder = false)
    {
        RpcReplyView reply = folder ? As(c, NFSPROC3_MKDIR, in + Name(name) + Sattr(mode))
                                    : As(c, NFSPROC3_CREATE, in + Name(name) + Words({0}) + Sattr(mode));
        EXPECT_EQ(WordAt(reply.results, 0), 0u) << name;
        return reply.results.substr(8, 24);  // after the status and handle_follows
    }
    // GETATTR's mode, uid and gid.
    std::vector<uint32_t> Owners(const std::string &fh)
    {
        RpcReplyView reply = As(ROOT, NFSPROC3_GETATTR, fh);
        return {WordAt(reply.results, 8) & 07777u, WordAt(reply.results, 16), WordAt(reply.results, 20)};
    }
    // WRITE3 of one byte at 0, FILE_SYNC.
    std::string Write(const std::string &fh) { return fh + Words({0, 0, 1, 2, 1, 0x41000000}); }
    std::string root;
};

} // namespace

TEST_F(UnixAttributesTest, PermissionRules)
{
    const std::string f = Make(OWNER, root, "f", 0640);
#ifdef _WIN32
    // Wine keeps no extended attributes: the store falls back to the
    // emulation there, which the other test covers.
    if (Owners(f) != std::vector<uint32_t>{0640, 1000, 100})
        GTEST_SKIP() << "this volume (Wine) keeps no extended attributes: the emulation stays";
#endif
    const std::string read = f + Words({0, 0, 16});
    struct Case {
        const char *what;
        const Caller &caller;
        uint32_t proc;
        std::string args;
        uint32_t status;
    } cases[] = {
        {"owner reads", OWNER, NFSPROC3_READ, read, 0},
        {"group member reads", MEMBER, NFSPROC3_READ, read, 0},
        {"group member may not write 0640", MEMBER, NFSPROC3_WRITE, Write(f), 13},
        {"other may not read", OTHER, NFSPROC3_READ, read, 13},
        {"other's chmod", OTHER, NFSPROC3_SETATTR, f + Sattr(0777) + Words({0}), 1},
        {"other's time of his choice", OTHER, NFSPROC3_SETATTR, f + Sattr(NO, NO, NO, true) + Words({0}), 1},
        {"other's chown", OTHER, NFSPROC3_SETATTR, f + Sattr(NO, 3000) + Words({0}), 1},
        {"owner gives the file away", OWNER, NFSPROC3_SETATTR, f + Sattr(NO, 3000) + Words({0}), 1},
        {"owner's group he is not in", OWNER, NFSPROC3_SETATTR, f + Sattr(NO, NO, 300) + Words({0}), 1},
        {"root writes 0640 of another", ROOT, NFSPROC3_WRITE, Write(f), 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Status(c.caller, c.proc, c.args), c.status) << c.what;
    EXPECT_EQ(Owners(f), (std::vector<uint32_t>{0640, 1000, 100}));

    // ACCESS: the other's class grants nothing, the group's reading (READ
    // and LOOKUP).
    EXPECT_EQ(WordAt(As(OTHER, NFSPROC3_ACCESS, f + Words({0x3F})).results, 92), 0u);
    EXPECT_EQ(WordAt(As(MEMBER, NFSPROC3_ACCESS, f + Words({0x3F})).results, 92), 0x3u);

    // chgrp to a supplementary group of the owner; chown by root.
    groups = {100, 500};
    gid = 100;
    EXPECT_EQ(WordAt(Call(3, NFSPROC3_SETATTR, f + Sattr(NO, NO, 500) + Words({0}), "127.0.0.1", 1000).results, 0),
              0u);
    EXPECT_EQ(Owners(f), (std::vector<uint32_t>{0640, 1000, 500}));
    EXPECT_EQ(Status(ROOT, NFSPROC3_SETATTR, f + Sattr(NO, 1234, 5678) + Words({0})), 0u);
    EXPECT_EQ(Owners(f), (std::vector<uint32_t>{0640, 1234, 5678}));

    // A write by another drops set-user-id.
    const std::string s = Make(OWNER, root, "s", 04777);
    EXPECT_EQ(Owners(s)[0], 04777u);
    EXPECT_EQ(Status(OTHER, NFSPROC3_WRITE, Write(s)), 0u);
    EXPECT_EQ(Owners(s)[0], 0777u);

    // A sticky folder: only the entry's owner (or the folder's, or root)
    // removes it.
    const std::string t = Make(OWNER, root, "t", 01777, true);
    Make(MEMBER, t, "x", 0644);
    EXPECT_EQ(Status(OTHER, NFSPROC3_REMOVE, t + Name("x")), 1u);
    EXPECT_EQ(Status(MEMBER, NFSPROC3_REMOVE, t + Name("x")), 0u);
    // A folder without write permission for others.
    const std::string closed = Make(OWNER, root, "closed", 0755, true);
    EXPECT_EQ(Status(OTHER, NFSPROC3_CREATE, closed + Name("n") + Words({0}) + Sattr(0644)), 13u);
}

// With the store off a mode is emulated and nothing is stored.  (A file
// without a record shows what the emulation shows: nfs_client.c reads
// hello.txt, made by root, as mode 0644.)
TEST_F(UnixAttributesTest, StoreOffKeepsNothing)
{
    ServerSettings.UnixAttributes = 0;
    Make(OWNER, root, "g", 0640);
    ServerSettings.UnixAttributes = 1;
    EXPECT_EQ(WordAt(As(OTHER, NFSPROC3_LOOKUP, root + Name("g")).results, 32 + 4), 0644u);
}

// NFS calls through Nfs3Dispatch and Nfs2Dispatch against real folders:
// results as a client reads them, the caller checks, the refusals.
#include <gtest/gtest.h>

#include "mount/mount_table.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_protocol.h"
#include "nfs_fixture.h"
#include "settings/settings.h"

namespace {

class NfsDispatchTest : public NfsTest {
protected:
    void SetUp() override
    {
        NfsTest::SetUp();
        ServerSettings.SoftLinks = 1;
        ServerSettings.HardLinks = 1;
    }
    RpcReplyView Call3(uint32_t proc, const std::string &args, const char *client = "127.0.0.1",
                       uint32_t uid = 1000)
    {
        return Call(3, proc, args, client, uid);
    }
};

// The status word and what follows it of a successful RPC reply.
uint32_t Status(const RpcReplyView &reply)
{
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ(reply.accept_stat, 0u);
    return reply.results.size() >= 4 ? WordAt(reply.results, 0) : 0xFFFFFFFFu;
}

std::string Words(std::initializer_list<uint32_t> words)
{
    std::string out;
    for (uint32_t w : words)
        PutWord(out, w);
    return out;
}

}  // namespace

TEST_F(NfsDispatchTest, GetattrLookupAndTheirFailures)
{
    LoadExports("@\\data\n");
    const FileHandle root = MountFor(Win("data"));

    // NULL of both versions: an empty result.
    EXPECT_EQ(Call3(NFSPROC3_NULL, "").results, "");
    EXPECT_EQ(Call(2, NFSPROC_NULL, "").results, "");

    RpcReplyView reply = Call3(NFSPROC3_GETATTR, Fh3(root));
    ASSERT_EQ(Status(reply), 0u);
    ASSERT_EQ(reply.results.size(), 4u + 84);
    EXPECT_EQ(WordAt(reply.results, 4), 2u);          // a directory
    EXPECT_EQ(WordAt(reply.results, 8), 0755u);       // permission bits only
    EXPECT_EQ(WordAt(reply.results, 16), 1000u);      // shown as the caller's

    reply = Call3(NFSPROC3_LOOKUP, Fh3(root) + Name("file.txt"));
    ASSERT_EQ(Status(reply), 0u);
    ASSERT_EQ(reply.results.size(), 4u + 24 + 88 + 88);
    EXPECT_EQ(WordAt(reply.results, 4), 20u);                 // FHsize
    EXPECT_EQ(WordAt(reply.results, 28), 1u);                 // attributes follow
    EXPECT_EQ(WordAt(reply.results, 32), 1u);                 // a regular file
    EXPECT_EQ(HyperAt(reply.results, 52), 4u);                // "text"
    EXPECT_EQ(WordAt(reply.results, 116), 1u);                // the folder's attributes
    const std::string fileHandle = reply.results.substr(4, 24);
    reply = Call3(NFSPROC3_GETATTR, fileHandle);
    ASSERT_EQ(Status(reply), 0u);
    EXPECT_EQ(HyperAt(reply.results, 24), 4u);

    // A missing name, and one with a NUL inside: no such file, with the
    // folder's attributes.
    for (const std::string &name : {std::string("missing"), std::string("file.txt\0x", 10)}) {
        reply = Call3(NFSPROC3_LOOKUP, Fh3(root) + Name(name));
        EXPECT_EQ(Status(reply), 2u);
        EXPECT_EQ(reply.results.size(), 4u + 88);
    }

    // Version 2: the whole mode, 32-byte handles.
    reply = Call(2, NFSPROC_LOOKUP, Fh2(root) + Name("file.txt"));
    ASSERT_EQ(Status(reply), 0u);
    ASSERT_EQ(reply.results.size(), 4u + 32 + 68);
    EXPECT_EQ(WordAt(reply.results, 36), 1u);
    EXPECT_EQ(WordAt(reply.results, 40), 0100644u);
    EXPECT_EQ(WordAt(reply.results, 56), 4u);     // size
    EXPECT_EQ(WordAt(reply.results, 60), 4096u);  // block size
    EXPECT_EQ(WordAt(reply.results, 68), 1u);     // blocks
    reply = Call(2, NFSPROC_GETATTR, reply.results.substr(4, 32));
    ASSERT_EQ(Status(reply), 0u);
    EXPECT_EQ(WordAt(reply.results, 8), 0100644u);

    // A handle whose mount is unknown is stale.
    FileHandle stale = root;
    MakeHandle(root.inode, root.mountId + 1, &stale);
    EXPECT_EQ(Status(Call3(NFSPROC3_GETATTR, Fh3(stale))), 70u);
    EXPECT_EQ(Status(Call(2, NFSPROC_GETATTR, Fh2(stale))), 70u);
}

// A handle is not a password: the export must admit the caller's address,
// whoever mounted it.
TEST_F(NfsDispatchTest, TheExportMustAdmitTheCaller)
{
    LoadExports("@\\data 127.0.0.5\n");
    const FileHandle root = MountFor(Win("data"), "127.0.0.5");
    EXPECT_EQ(Status(Call3(NFSPROC3_GETATTR, Fh3(root), "127.0.0.5")), 0u);
    for (uint32_t proc : {NFSPROC3_GETATTR, NFSPROC3_ACCESS, NFSPROC3_FSSTAT, NFSPROC3_FSINFO, NFSPROC3_PATHCONF}) {
        RpcReplyView reply = Call3(proc, Fh3(root) + Words({0x3F}), "127.0.0.1");
        EXPECT_EQ(Status(reply), 13u) << proc;
        EXPECT_LE(reply.results.size(), 8u) << "attributes went to a caller the export refuses, proc " << proc;
    }
    RpcReplyView lookup = Call3(NFSPROC3_LOOKUP, Fh3(root) + Name("file.txt"), "127.0.0.1");
    EXPECT_EQ(Status(lookup), 13u);
    EXPECT_EQ(lookup.results.size(), 8u);
    EXPECT_EQ(Status(Call(2, NFSPROC_LOOKUP, Fh2(root) + Name("file.txt"), "127.0.0.1")), 13u);
    EXPECT_EQ(Status(Call(2, NFSPROC_STATFS, Fh2(root), "127.0.0.1")), 13u);
}

TEST_F(NfsDispatchTest, AccessFollowsTheOwnerBitsAndReadOnlyExports)
{
    LoadExports("@\\data\n@\\other -readonly\n");
    WriteFileBytes(dir.Native("other/file.txt"), "x");
    const FileHandle writable = MountFor(Win("data"));
    const FileHandle readOnly = MountFor(Win("other"));
    auto granted = [this](const FileHandle &folder, const char *name) {
        RpcReplyView lookup = Call3(NFSPROC3_LOOKUP, Fh3(folder) + Name(name));
        EXPECT_EQ(Status(lookup), 0u);
        RpcReplyView reply = Call3(NFSPROC3_ACCESS, lookup.results.substr(4, 24) + Words({0x3F}));
        EXPECT_EQ(Status(reply), 0u);
        EXPECT_EQ(reply.results.size(), 4u + 88 + 4);
        return WordAt(reply.results, 92);
    };
    EXPECT_EQ(granted(writable, "."), 0x3Fu);
    EXPECT_EQ(granted(writable, "file.txt"), 0x1Fu);  // no execute bit
    EXPECT_EQ(granted(readOnly, "."), 0x23u);         // read, lookup, execute
    EXPECT_EQ(granted(readOnly, "file.txt"), 0x3u);
    // Only what was asked for.
    RpcReplyView reply = Call3(NFSPROC3_ACCESS, Fh3(writable) + Words({0x4}));
    EXPECT_EQ(WordAt(reply.results, 92), 0x4u);
}

TEST_F(NfsDispatchTest, VolumeFactsOfBothVersions)
{
    LoadExports("@\\data -readonly\n@\\other -lowercase\n");
    const FileHandle root = MountFor(Win("data"));

    RpcReplyView fsstat = Call3(NFSPROC3_FSSTAT, Fh3(root));
    ASSERT_EQ(Status(fsstat), 0u);
    ASSERT_EQ(fsstat.results.size(), 4u + 88 + 52);
    const uint64_t total = HyperAt(fsstat.results, 92), free = HyperAt(fsstat.results, 100);
    EXPECT_GT(total, 0u);
    EXPECT_LE(free, total);
    EXPECT_EQ(total % 4096, 0u);
    EXPECT_EQ(HyperAt(fsstat.results, 116), 65535u);

    RpcReplyView fsinfo = Call3(NFSPROC3_FSINFO, Fh3(root));
    ASSERT_EQ(Status(fsinfo), 0u);
    ASSERT_EQ(fsinfo.results.size(), 4u + 88 + 48);
    const std::string &r = fsinfo.results;
    EXPECT_EQ(r.substr(92, 28), Words({8192, 8192, 4096, 8192, 8192, 4096, 4096}));
    EXPECT_EQ(HyperAt(r, 120), (1ull << 44) - (1ull << 16));  // what the volume holds
    EXPECT_EQ(r.substr(128, 8), Words({0, 100}));               // time delta
    EXPECT_EQ(WordAt(r, 136), 0x1Bu);                           // links, symlinks, homogeneous, settable times
    // Over UDP the mount stays a UDP one; FSINFO over TCP marks it.
    EXPECT_EQ(Records()[0].kind & MOUNT_KIND_TRANSPORT, MOUNT_KIND_UDP);
    EXPECT_EQ(Status(Call(3, NFSPROC3_FSINFO, Fh3(root), "127.0.0.1", 1000, RPC_PROTO_TCP)), 0u);
    EXPECT_EQ(Records()[0].kind & MOUNT_KIND_TRANSPORT, MOUNT_KIND_TCP);

    // A read-only export still keeps the case of names; a lower-casing one
    // does not.
    RpcReplyView pathconf = Call3(NFSPROC3_PATHCONF, Fh3(root));
    ASSERT_EQ(Status(pathconf), 0u);
    ASSERT_EQ(pathconf.results.size(), 4u + 88 + 24);
    EXPECT_EQ(pathconf.results.substr(92), Words({31, WordAt(pathconf.results, 96), 1, 0, 1, 1}));
    EXPECT_GE(WordAt(pathconf.results, 96), 12u);
    pathconf = Call3(NFSPROC3_PATHCONF, Fh3(MountFor(Win("other"))));
    EXPECT_EQ(WordAt(pathconf.results, 112), 0u);

    RpcReplyView statfs = Call(2, NFSPROC_STATFS, Fh2(root));
    ASSERT_EQ(Status(statfs), 0u);
    ASSERT_EQ(statfs.results.size(), 24u);
    EXPECT_EQ(WordAt(statfs.results, 4), 8192u);
    EXPECT_EQ(static_cast<uint64_t>(WordAt(statfs.results, 8)) * WordAt(statfs.results, 12), total);
}

TEST_F(NfsDispatchTest, WebNfsLookupThroughThePublicHandle)
{
    LoadExports("@\\pub -public\n");
    ServerSettings.WebNFS = 1;
    RpcReplyView reply = Call3(NFSPROC3_LOOKUP, Words({0}) + Name("docs"));
    ASSERT_EQ(Status(reply), 0u);
    RpcReplyView attributes = Call3(NFSPROC3_GETATTR, reply.results.substr(4, 24));
    ASSERT_EQ(Status(attributes), 0u);
    EXPECT_EQ(WordAt(attributes.results, 4), 2u);
    reply = Call(2, NFSPROC_LOOKUP, std::string(32, '\0') + Name("docs"));
    EXPECT_EQ(Status(reply), 0u);
    ServerSettings.WebNFS = 0;
    EXPECT_EQ(Status(Call3(NFSPROC3_LOOKUP, Words({0}) + Name("docs"))), 70u);
}

TEST_F(NfsDispatchTest, CallersWithoutUnixCredentialsAreNobody)
{
    LoadExports("@\\data -uid:500:600\n@\\other\n");
    RpcReplyView reply = Call3(NFSPROC3_GETATTR, Fh3(MountFor(Win("other"))), "127.0.0.1", ~0u);
    ASSERT_EQ(Status(reply), 0u);
    EXPECT_EQ(WordAt(reply.results, 16), 0u);  // nobody is shown as 0
    EXPECT_EQ(WordAt(reply.results, 20), 0u);
    reply = Call3(NFSPROC3_GETATTR, Fh3(MountFor(Win("data"))), "127.0.0.1", ~0u);
    EXPECT_EQ(WordAt(reply.results, 16), 500u);
}

// Arguments that do not decode get GARBAGE_ARGS and the procedure's line;
// procedures not offered get PROC_UNAVAIL and the line that names them.
TEST_F(NfsDispatchTest, RefusedCallsAndTheirLogLines)
{
    LoadExports("@\\data\n");
    const FileHandle root = MountFor(Win("data"));
    struct Garbage {
        uint32_t vers, proc;
        std::string args;
        const char *line;
    };
    const Garbage rows[] = {
        {3, NFSPROC3_GETATTR, Words({32}) + std::string(32, '\0'), "nfs3_getattr: cannot read args"},
        {3, NFSPROC3_LOOKUP, Fh3(root) + Words({600}), "nfs3_lookup: cannot read args"},
        {3, NFSPROC3_ACCESS, Fh3(root), "nfs3_access: cannot read args"},
        {3, NFSPROC3_FSSTAT, "", "nfs3_fsstat: cannot read args"},
        {3, NFSPROC3_FSINFO, Words({19}), "nfs3_fsinfo: cannot read args"},
        {3, NFSPROC3_PATHCONF, Words({20}), "nfs3_pathconf: cannot read args"},
        {2, NFSPROC_GETATTR, Fh3(root), "nfs_getattr: cannot read args"},
        {2, NFSPROC_LOOKUP, Fh2(root), "nfs_lookup: cannot read args"},
        {2, NFSPROC_STATFS, std::string(31, '\0'), "nfs_statfs: cannot read args"},
    };
    for (const Garbage &row : rows) {
        RpcReplyView reply = Call(row.vers, row.proc, row.args);
        EXPECT_EQ(reply.accept_stat, (uint32_t)GARBAGE_ARGS) << row.line;
        EXPECT_NE(LogText().find(std::string(row.line) + "\n"), std::string::npos) << row.line;
    }

    for (uint32_t proc = 0; proc <= NFSPROC3_COUNT; proc++) {
        if (Nfs3Offers(proc))
            continue;
        EXPECT_EQ(Call3(proc, Fh3(root)).accept_stat, (uint32_t)PROC_UNAVAIL) << proc;
        EXPECT_NE(LogText().find("nfsd: error, procedure " + std::to_string(proc) + " not supported\n"),
                  std::string::npos);
    }
    for (uint32_t proc : {(uint32_t)NFSPROC_ROOT, (uint32_t)NFSPROC_WRITECACHE, (uint32_t)NFSPROC_COUNT, 0xFFFFFFFFu})
        EXPECT_EQ(Call(2, proc, "").accept_stat, (uint32_t)PROC_UNAVAIL) << proc;
    EXPECT_NE(LogText().find("nfsd: error, procedure -1 not supported\n"), std::string::npos);
}

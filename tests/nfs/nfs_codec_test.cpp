// The argument decoders and result encoders of NFS versions 2 and 3 on
// bytes, and the bounds a reply keeps.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "nfs/nfs2_args.h"
#include "nfs/nfs2_results.h"
#include "nfs/nfs3_args.h"
#include "nfs/nfs3_results.h"
#include "nfs/nfs_request.h"
#include "nfs_fixture.h"
#include "rpc/transport.h"
#include "settings/settings.h"

namespace {

// A call whose arguments are bytes.
struct ArgsCall {
    explicit ArgsCall(const std::string &bytes) : data(bytes)
    {
        memset(&call, 0, sizeof call);
        call.args = reinterpret_cast<uint8_t *>(data.data());
        call.arg_length = static_cast<uint32_t>(data.size());
    }
    std::string data;
    RpcCall call;
};

typedef std::function<bool(RpcCall *)> Decoder;

template <typename Args>
Decoder With(bool (*decode)(RpcCall *, Args *))
{
    return [decode](RpcCall *call) {
        static Args args;
        return decode(call, &args);
    };
}

bool Decodes(const Decoder &decode, const std::string &bytes)
{
    ArgsCall c(bytes);
    return decode(&c.call);
}

FileHandle SampleHandle()
{
    FileHandle handle;
    MakeHandle(0x1234, 0xABCD0001u, &handle);
    return handle;
}

std::string Words(std::initializer_list<uint32_t> words)
{
    std::string out;
    for (uint32_t w : words)
        PutWord(out, w);
    return out;
}

// sattr3 with every value set, client times.
std::string FullSattr3()
{
    return Words({1, 0644, 1, 1000, 1, 100, 1, 0, 5, 2, 7, 8, 2, 9, 10});
}

std::string Verifier8()
{
    return std::string("verifier", 8);
}

FileAttributes SampleAttributes()
{
    FileAttributes a = {};
    a.type = 1;
    a.mode = 0100644;
    a.links = 1;
    a.uid = 1000;
    a.gid = 100;
    a.size = 4097;
    a.minor = 3;
    a.major = 1;
    a.fsid = 0xCAFE;
    a.fileId = 0x100000042ull;
    a.atime = 10;
    a.atimeNsec = 2000;
    a.mtime = 20;
    a.mtimeNsec = 3000;
    a.ctime = 30;
    a.ctimeNsec = 4000;
    return a;
}

std::string Encoded(uint32_t (*encode)(uint8_t *, const FileAttributes *), const FileAttributes &a)
{
    uint8_t out[128];
    uint32_t n = encode(out, &a);
    return std::string(reinterpret_cast<char *>(out), n);
}

class NfsCodecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = ServerSettings;
        ServerSettings.FHsize = 20;
        ServerSettings.ReadSize = ServerSettings.WriteSize = 8192;
    }
    void TearDown() override { ServerSettings = saved; }
    ServerSettingsRecord saved;
};

}  // namespace

// Every decoder accepts its full arguments and refuses each of them cut
// short: no length is trusted beyond the bytes received.
TEST_F(NfsCodecTest, EveryDecoderRefusesEveryTruncation)
{
    const FileHandle h = SampleHandle();
    const std::string fh3 = Fh3(h), fh2 = Fh2(h), name = Name("file"), dirop3 = fh3 + name, dirop2 = fh2 + name;
    std::string hyper;
    PutHyper(hyper, 0x100000000ull);
    struct Row {
        const char *what;
        Decoder decode;
        std::string args;
        size_t shortest;  // shorter than this fails; 0: the whole
    };
    const std::vector<Row> rows = {
        {"v3 GETATTR", With(Nfs3DecodeHandle), fh3, 0},
        {"v3 SETATTR", With(Nfs3DecodeSetattr), fh3 + FullSattr3() + Words({1, 30, 40}), 0},
        {"v3 LOOKUP", With(Nfs3DecodeDirOp), dirop3, 0},
        {"v3 ACCESS", With(Nfs3DecodeAccess), fh3 + Words({0x3F}), 0},
        {"v3 READ", With(Nfs3DecodeRange), fh3 + hyper + Words({4096}), 0},
        {"v3 WRITE", With(Nfs3DecodeWrite), fh3 + hyper + Words({8, 2, 8}) + "abcdefgh", 0},
        {"v3 CREATE", With(Nfs3DecodeCreate), dirop3 + Words({1}) + FullSattr3(), 0},
        {"v3 CREATE exclusive", With(Nfs3DecodeCreate), dirop3 + Words({2}) + Verifier8(), 0},
        {"v3 MKDIR", With(Nfs3DecodeMkdir), dirop3 + FullSattr3(), 0},
        {"v3 SYMLINK", With(Nfs3DecodeSymlink), dirop3 + FullSattr3() + Name("../tgt/x"), 0},
        {"v3 MKNOD chr", With(Nfs3DecodeMknod), dirop3 + Words({4}) + FullSattr3() + Words({1, 3}), 0},
        {"v3 MKNOD fifo", With(Nfs3DecodeMknod), dirop3 + Words({7}) + FullSattr3(), 0},
        {"v3 RENAME", With(Nfs3DecodeRename), dirop3 + dirop3, 0},
        {"v3 LINK", With(Nfs3DecodeLink), fh3 + dirop3, 0},
        {"v3 READDIR", With(Nfs3DecodeReaddir), fh3 + hyper + Verifier8() + Words({4096}), 0},
        {"v3 READDIRPLUS", With(Nfs3DecodeReaddirPlus), fh3 + hyper + Verifier8() + Words({1024, 8192}), 0},
        {"v2 GETATTR", With(Nfs2DecodeHandle), fh2, 0},
        {"v2 SETATTR", With(Nfs2DecodeSetattr), fh2 + Words({0644, 1, 2, 3, 4, 5, 6, 7}), 0},
        {"v2 LOOKUP", With(Nfs2DecodeDirOp), dirop2, 0},
        {"v2 READ", With(Nfs2DecodeRead), fh2 + Words({0, 8192, 0}), 0},
        {"v2 WRITE", With(Nfs2DecodeWrite), fh2 + Words({0, 0, 0, 4}) + "abcd", 0},
        {"v2 CREATE", With(Nfs2DecodeCreate), dirop2 + Words({0644, 1, 2, 3, 4, 5, 6, 7}), 0},
        {"v2 RENAME", With(Nfs2DecodeRename), dirop2 + dirop2, 0},
        {"v2 LINK", With(Nfs2DecodeLink), fh2 + dirop2, 0},
        {"v2 SYMLINK", With(Nfs2DecodeSymlink), dirop2 + Name("link") + Words({0, 1, 2, 3, 4, 5, 6, 7}), 0},
        {"v2 READDIR", With(Nfs2DecodeReaddir), fh2 + Words({0, 4096}), 0},
    };
    for (const Row &row : rows) {
        EXPECT_TRUE(Decodes(row.decode, row.args)) << row.what;
        size_t shortest = row.shortest != 0 ? row.shortest : row.args.size();
        for (size_t length = 0; length < shortest; length++)
            EXPECT_FALSE(Decodes(row.decode, row.args.substr(0, length))) << row.what << " cut to " << length;
    }
}

// Lengths and values the protocol does not allow fail the whole call.
TEST_F(NfsCodecTest, LimitsOfTheProtocolFailTheDecoding)
{
    const FileHandle h = SampleHandle();
    uint8_t bytes[FILE_HANDLE_SIZE];
    EncodeHandle(&h, bytes);
    const std::string raw(reinterpret_cast<char *>(bytes), FILE_HANDLE_SIZE);
    auto opaque = [](const std::string &s) {
        std::string out;
        PutOpaque(out, s);
        return out;
    };
    const std::string fh3 = Fh3(h), dirop3 = fh3 + Name("file"), zero8(8, '\0');
    struct Row {
        const char *what;
        Decoder decode;
        std::string args;
        bool decodes;
    };
    const std::vector<Row> rows = {
        {"fh3 of 20 bytes", With(Nfs3DecodeHandle), opaque(raw.substr(0, 20)), true},
        {"fh3 of 32 bytes while FHsize is 20", With(Nfs3DecodeHandle), opaque(raw), false},
        {"fh3 of 24 bytes", With(Nfs3DecodeHandle), opaque(raw.substr(0, 24)), false},
        {"fh3 of 0 bytes: the public handle", With(Nfs3DecodeHandle), opaque(""), true},
        {"name of 511 bytes", With(Nfs3DecodeDirOp), fh3 + Name(std::string(511, 'n')), true},
        {"name of 512 bytes", With(Nfs3DecodeDirOp), fh3 + Name(std::string(512, 'n')), false},
        {"link text of 2047 bytes", With(Nfs3DecodeSymlink), dirop3 + Words({0, 0, 0, 0, 0, 0}) +
                                                             Name(std::string(2047, 't')), true},
        {"link text of 2048 bytes", With(Nfs3DecodeSymlink), dirop3 + Words({0, 0, 0, 0, 0, 0}) +
                                                             Name(std::string(2048, 't')), false},
        {"WRITE data longer than its count", With(Nfs3DecodeWrite), fh3 + zero8 + Words({4, 0, 8}) + zero8, false},
        {"WRITE data shorter than its count", With(Nfs3DecodeWrite), fh3 + zero8 + Words({8, 0, 4}) + zero8, false},
        {"WRITE stability 3", With(Nfs3DecodeWrite), fh3 + zero8 + Words({4, 3, 4}) + "abcd", false},
        {"WRITE count past the bytes", With(Nfs3DecodeWrite), fh3 + zero8 + Words({0xFFFFFFF0u, 0, 0xFFFFFFF0u}), false},
        {"CREATE mode 3", With(Nfs3DecodeCreate), dirop3 + Words({3}) + zero8, false},
        {"a time set in mode 3", With(Nfs3DecodeMkdir), dirop3 + Words({0, 0, 0, 0, 3, 0}), false},
        {"MKNOD of a regular file carries nothing", With(Nfs3DecodeMknod), dirop3 + Words({1}), true},
        {"v2 READ of ReadSize + 1", With(Nfs2DecodeRead), Fh2(h) + Words({0, 8193, 0}), false},
        {"v2 WRITE of WriteSize + 1", With(Nfs2DecodeWrite), Fh2(h) + Words({0, 0, 0}) + opaque(std::string(8193, 'w')),
         false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(Decodes(row.decode, row.args), row.decodes) << row.what;

    ServerSettings.FHsize = 32;
    EXPECT_TRUE(Decodes(With(Nfs3DecodeHandle), opaque(raw)));
    EXPECT_FALSE(Decodes(With(Nfs3DecodeHandle), opaque(raw.substr(0, 20))));
}

TEST_F(NfsCodecTest, DecodedRecordsHoldWhatWasSent)
{
    const FileHandle h = SampleHandle();
    const std::string dirop3 = Fh3(h) + Name("file");

    ArgsCall setattr(Fh3(h) + FullSattr3() + Words({0}));
    Nfs3SetattrArgs s;
    ASSERT_TRUE(Nfs3DecodeSetattr(&setattr.call, &s));
    EXPECT_EQ(memcmp(&s.handle, &h, sizeof h), 0);
    EXPECT_EQ(s.attributes.mode, 0644u);
    EXPECT_EQ(s.attributes.size, 5u);
    EXPECT_EQ(s.attributes.atimeMode, (uint32_t)SET_TIME_CLIENT);
    EXPECT_EQ(s.attributes.atime, 7u);
    EXPECT_EQ(s.attributes.atimeNsec, 8u);
    EXPECT_EQ(s.attributes.mtimeMode, (uint32_t)SET_TIME_CLIENT);
    EXPECT_EQ(s.guard, 0u);

    // The server's time is filled in at decoding; unset values stay 0.
    uint32_t before = NfsUnixNow();
    ArgsCall mkdir(dirop3 + Words({0, 0, 0, 0, 1, 0}));
    Nfs3MkdirArgs m;
    ASSERT_TRUE(Nfs3DecodeMkdir(&mkdir.call, &m));
    EXPECT_EQ(m.attributes.setMode, 0u);
    EXPECT_EQ(m.attributes.atimeMode, (uint32_t)SET_TIME_SERVER);
    EXPECT_GE(m.attributes.atime, before);
    EXPECT_LE(m.attributes.atime, NfsUnixNow());
    EXPECT_EQ(m.attributes.mtimeMode, (uint32_t)SET_TIME_LEAVE);
    EXPECT_STREQ(m.where.name.text, "file");

    ArgsCall mknod(dirop3 + Words({3}) + FullSattr3() + Words({8, 1}));
    Nfs3MknodArgs n;
    ASSERT_TRUE(Nfs3DecodeMknod(&mknod.call, &n));
    EXPECT_EQ(n.type, 3u);
    EXPECT_EQ(n.major, 8u);
    EXPECT_EQ(n.minor, 1u);

    // A name with a NUL inside decodes but is not clean.
    ArgsCall nul(Fh3(h) + Name(std::string("ab\0d", 4)));
    NfsDirOp op;
    ASSERT_TRUE(Nfs3DecodeDirOp(&nul.call, &op));
    EXPECT_EQ(op.name.length, 4u);
    EXPECT_FALSE(NfsNameIsClean(&op.name));

    // Version 2 sattr: all-ones words are unset; microseconds of a million
    // or more mean the server's time.
    ArgsCall sattr2(Fh2(h) + Words({0100600, 0xFFFFFFFFu, 7, 0xFFFFFFFFu, 5, 250, 6, 1000000}));
    Nfs2SetattrArgs v2;
    ASSERT_TRUE(Nfs2DecodeSetattr(&sattr2.call, &v2));
    EXPECT_EQ(v2.attributes.setMode, 1u);
    EXPECT_EQ(v2.attributes.mode, 0100600u);
    EXPECT_EQ(v2.attributes.setUid, 0u);
    EXPECT_EQ(v2.attributes.setGid, 1u);
    EXPECT_EQ(v2.attributes.setSize, 0u);
    EXPECT_EQ(v2.attributes.atimeMode, (uint32_t)SET_TIME_CLIENT);
    EXPECT_EQ(v2.attributes.atime, 5u);
    EXPECT_EQ(v2.attributes.atimeNsec, 250000u);
    EXPECT_EQ(v2.attributes.mtimeMode, (uint32_t)SET_TIME_SERVER);
    EXPECT_GE(v2.attributes.mtime, before);

    ArgsCall write(Fh3(h) + Words({0, 9, 4, 1, 4}) + "data");
    Nfs3WriteArgs w;
    ASSERT_TRUE(Nfs3DecodeWrite(&write.call, &w));
    EXPECT_EQ(w.offset, 9u);
    EXPECT_EQ(w.stable, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(w.data), w.count), "data");
}

TEST_F(NfsCodecTest, AttributesOnTheWire)
{
    const FileAttributes a = SampleAttributes();
    // fattr3: the mode without its type bits; used equals size; rdev major,
    // minor; fsid and fileid as 64 bits.
    std::string v3 = Encoded(NfsPutFattr3, a);
    ASSERT_EQ(v3.size(), 84u);
    const std::string expected3 = Words({1, 0644, 1, 1000, 100, 0, 4097, 0, 4097, 1, 3, 0, 0xCAFE, 1, 0x42, 10,
                                         2000, 20, 3000, 30, 4000});
    EXPECT_EQ(v3, expected3);

    // fattr: the whole mode, 4096-byte blocks, rdev minor | major << 8, the
    // low word of the file id, microseconds.
    std::string v2 = Encoded(NfsPutFattr2, a);
    ASSERT_EQ(v2.size(), 68u);
    EXPECT_EQ(v2, Words({1, 0100644, 1, 1000, 100, 4097, 4096, 0x103, 2, 0xCAFE, 0x42, 10, 2, 20, 3, 30, 4}));

    // Version 2 cannot tell sizes of 4 GiB and more: the largest it can, not
    // a wrapped one; a fifo is a character device numbered all ones.
    FileAttributes big = a;
    big.size = 5ull << 30;
    big.type = 7;
    std::string v2big = Encoded(NfsPutFattr2, big);
    EXPECT_EQ(WordAt(v2big, 0), 4u);
    EXPECT_EQ(WordAt(v2big, 20), 0xFFFFFFFFu);
    EXPECT_EQ(WordAt(v2big, 28), 0xFFFFFFFFu);
    EXPECT_EQ(WordAt(v2big, 32), 5u << 18);

    uint8_t out[256];
    NfsWcc wcc = {};
    wcc.beforePresent = 1;
    wcc.before = a;
    wcc.afterPresent = 1;
    wcc.after = a;
    ASSERT_EQ(NfsPutWcc(out, &wcc), 4u + 24 + 4 + 84);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 28), Words({1, 0, 4097, 20, 3000, 30, 4000}));
    wcc.beforePresent = 0;
    wcc.afterPresent = 0;
    EXPECT_EQ(NfsPutWcc(out, &wcc), 8u);
}

TEST_F(NfsCodecTest, ResultLayouts)
{
    uint8_t out[1024];
    auto bytes = [&out](uint32_t n) { return std::string(reinterpret_cast<char *>(out), n); };

    Nfs3LookupResult lookup = {};
    lookup.object = SampleHandle();
    lookup.objectAttributes.present = 1;
    EXPECT_EQ(Nfs3PutLookupResult(out, &lookup), 4u + 24 + 88 + 4);
    EXPECT_EQ(WordAt(bytes(8), 4), 20u);  // FHsize bytes of handle
    lookup.status = 2;
    lookup.dirAttributes.present = 1;
    EXPECT_EQ(Nfs3PutLookupResult(out, &lookup), 4u + 88);

    Nfs3CreateResult create = {};
    create.handlePresent = 1;
    create.attributes.present = 1;
    EXPECT_EQ(Nfs3PutCreateResult(out, &create), 4u + 28 + 88 + 8);
    create.status = 17;
    EXPECT_EQ(Nfs3PutCreateResult(out, &create), 4u + 8);

    Nfs3WriteResult write = {};
    write.count = 5;
    write.committed = WRITE_FILE_SYNC;
    memcpy(write.verifier, "12345678", 8);
    ASSERT_EQ(Nfs3PutWriteResult(out, &write), 4u + 8 + 16);
    EXPECT_EQ(bytes(28), Words({0, 0, 0, 5, 2}) + "12345678");

    Nfs3FsinfoResult fsinfo = {};
    EXPECT_EQ(Nfs3PutFsinfoResult(out, &fsinfo), 4u + 4 + 7 * 4 + 8 + 8 + 4);
    Nfs3PathconfResult pathconf = {};
    EXPECT_EQ(Nfs3PutPathconfResult(out, &pathconf), 4u + 4 + 24);
    Nfs3FsstatResult fsstat = {};
    fsstat.status = 5;
    EXPECT_EQ(Nfs3PutFsstatResult(out, &fsstat), 8u);

    Nfs2DirOpResult dirop = {};
    EXPECT_EQ(Nfs2PutDirOpResult(out, &dirop), 4u + 32 + 68);
    Nfs2StatfsResult statfs = {0, 8192, 4096, 10, 5, 5};
    ASSERT_EQ(Nfs2PutStatfsResult(out, &statfs), 24u);
    EXPECT_EQ(bytes(24), Words({0, 8192, 4096, 10, 5, 5}));
}

// READ data and directory entries are written where the reply carries them;
// the encoders neither copy nor clobber them, and entries that do not fit
// are left out whole.
TEST_F(NfsCodecTest, DataInPlaceAndEntriesThatFit)
{
    uint8_t out[512];
    memset(out, 0xEE, sizeof out);
    memcpy(out + NFS3_READ_DATA_OFFSET, "hello", 5);
    Nfs3ReadResult read = {};
    read.attributes.present = 1;
    read.count = 5;
    read.eof = 1;
    read.data = out + NFS3_READ_DATA_OFFSET;
    ASSERT_EQ(Nfs3PutReadResult(out, &read), NFS3_READ_DATA_OFFSET + 8);
    EXPECT_EQ(WordAt(std::string(reinterpret_cast<char *>(out), 104), 92), 5u);
    EXPECT_EQ(WordAt(std::string(reinterpret_cast<char *>(out), 104), 96), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out) + NFS3_READ_DATA_OFFSET, 8), std::string("hello\0\0\0", 8));

    // entry3: 1, fileid, name, cookie = 24 + padded name.
    EXPECT_EQ(Nfs3PutEntry(out, 31, 7, "name1", 5, 9), 0u);
    uint32_t n = Nfs3PutEntry(out, 32, 7, "name1", 5, 9);
    ASSERT_EQ(n, 32u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), Words({1, 0, 7, 5}) + std::string("name1\0\0\0", 8) +
                                                                Words({0, 9}));
    NfsPostOpAttr attributes = {};
    attributes.present = 1;
    FileHandle handle = SampleHandle();
    const uint32_t plus = 32 + 88 + 4 + 4 + 20;
    EXPECT_EQ(Nfs3PutEntryPlus(out, plus - 1, 7, "name1", 5, 9, &attributes, &handle), 0u);
    EXPECT_EQ(Nfs3PutEntryPlus(out, plus, 7, "name1", 5, 9, &attributes, &handle), plus);
    EXPECT_EQ(Nfs2PutEntry(out, 23, 7, "name1", 5, 9), 0u);
    EXPECT_EQ(Nfs2PutEntry(out, 24, 7, "name1", 5, 9), 24u);

    // A READDIR result whose entries lie elsewhere gets them copied.
    uint8_t entries[64];
    uint32_t length = Nfs3PutEntry(entries, sizeof entries, 1, "a", 1, 1);
    Nfs3ReaddirResult dir = {};
    dir.entries = entries;
    dir.entriesLength = length;
    dir.eof = 1;
    ASSERT_EQ(Nfs3PutReaddirResult(out, &dir), NfsReaddirEntriesOffset(0) + length + NFS_READDIR_END_SIZE);
    EXPECT_EQ(memcmp(out + NfsReaddirEntriesOffset(0), entries, length), 0);
    EXPECT_EQ(WordAt(std::string(reinterpret_cast<char *>(out), 100), NfsReaddirEntriesOffset(0) + length + 4), 1u);
}

// A reply never runs past the transfer buffer, whatever verifier the call
// carries, nor past one datagram over UDP; ranges never wrap.
TEST_F(NfsCodecTest, RepliesStayWithinTheirBuffer)
{
    RpcTransport transport = {};
    transport.capacity = 8192 + 512;
    transport.protocol = RPC_PROTO_UDP;
    RpcCall call;
    memset(&call, 0, sizeof call);
    NfsRequest request = {};
    request.transport = &transport;
    request.call = &call;

    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), 8192u);
    call.verf_length = 400;
    const uint32_t limit = NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192);
    EXPECT_EQ(limit, 8704u - 24 - 400 - NFS3_READ_DATA_OFFSET);
    EXPECT_LE(24 + 400 + NFS3_READ_DATA_OFFSET + limit, transport.capacity);
    call.verf_length = 399;  // padded like 400
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), limit);

    transport.capacity = 1u << 20;
    call.verf_length = 0;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 1u << 20), (65507u - 24 - NFS3_READ_DATA_OFFSET) & ~3u);
    EXPECT_EQ(NfsTransferLimit(&transport, NFS2_READ_DATA_OFFSET, 1u << 20), (65507u - 24 - 76) & ~3u);
    transport.protocol = RPC_PROTO_TCP;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 1u << 19), 1u << 19);
    transport.capacity = 64;
    EXPECT_EQ(NfsDataLimit(&request, NFS3_READ_DATA_OFFSET, 8192), 0u);

    uint64_t end = 0;
    EXPECT_TRUE(NfsRangeEnd(5, 10, &end));
    EXPECT_EQ(end, 15u);
    EXPECT_TRUE(NfsRangeEnd(~0ull - 10, 10, &end));
    EXPECT_FALSE(NfsRangeEnd(~0ull - 10, 11, &end));
}

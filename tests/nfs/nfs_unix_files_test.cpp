// Unix files on a Windows volume, through Nfs3Dispatch and Nfs2Dispatch:
// fifos and sockets, names with the characters Windows forbids, and times
// to the 100 ns the volume keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "fs/win_file_access.h"
#include "nfs/nfs_dispatch.h"
#include "nfs/nfs_protocol.h"
#include "nfs_fixture.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

uint64_t HyperAt(const std::string &bytes, size_t at) { return (uint64_t)WordAt(bytes, at) << 32 | WordAt(bytes, at + 4); }

// sattr3 with a mode (~0u: none) and two times: how (0 leave, 1 server,
// 2 client) and, for the client's, seconds and nanoseconds.
std::string Sattr3(uint32_t mode, std::initializer_list<uint32_t> atime = {0}, std::initializer_list<uint32_t> mtime = {0})
{
    return (mode == ~0u ? Words({0}) : Words({1, mode})) + Words({0, 0, 0}) + Words(atime) + Words(mtime);
}

// U+F000 + c in UTF-8: how a character Windows forbids lies on the volume.
std::string Kept(unsigned char c)
{
    return {'\xEF', static_cast<char>(0x80 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
}

class NfsUnixFilesTest : public NfsTest {
protected:
    void SetUp() override
    {
        NfsTest::SetUp();
        ServerSettings.HardLinks = 1;
        FsFindHardLinkApi();
        ServerSettings.CharSet = ServerSettings.CharSetActive = 2;
        LoadExports("@\\data 127.0.0.1\n");
        root = MountFor(Win("data"));
    }
    uint32_t Status(const RpcReplyView &reply)
    {
        EXPECT_TRUE(reply.valid);
        return reply.results.size() >= 4 ? WordAt(reply.results, 0) : 0xFFFFFFFFu;
    }
    std::string Handle3(const std::string &name)
    {
        RpcReplyView reply = Call(3, NFSPROC3_LOOKUP, Fh3(root) + Name(name));
        EXPECT_EQ(Status(reply), 0u) << name;
        return reply.results.substr(4, 24);
    }
    // GETATTR's fattr3 of the name (version 3) or fattr (version 2).
    std::string Attributes(const std::string &name, uint32_t version = 3)
    {
        if (version == 3)
            return Call(3, NFSPROC3_GETATTR, Handle3(name)).results.substr(4, 84);
        return Call(2, NFSPROC_LOOKUP, Fh2(root) + Name(name)).results.substr(36, 68);
    }
    FileHandle root;
};

}  // namespace

TEST_F(NfsUnixFilesTest, FifosAndSocketsShowTheirType)
{
    // type, version 2 type, device and mode.
    const struct {
        uint32_t type, type2, device2, mode2;
    } kinds[] = {{NF3FIFO, NF3CHR, 0xFFFFFFFFu, 010640u}, {NF3SOCK, NF3SOCK, 0, 0140640u}};
    for (const auto &k : kinds) {
        const std::string name = "node" + std::to_string(k.type);
        ASSERT_EQ(Status(Call(3, NFSPROC3_MKNOD, Fh3(root) + Name(name) + Words({k.type}) + Sattr3(0640))), 0u);
        const std::string a3 = Attributes(name);
        EXPECT_EQ(a3.substr(0, 8), Words({k.type, 0640})) << name;
        const std::string a2 = Attributes(name, 2);
        EXPECT_EQ(a2.substr(0, 8), Words({k.type2, k.mode2})) << name;
        EXPECT_EQ(WordAt(a2, 28), k.device2) << name;
    }
    // Version 2 makes a socket from the type bits of CREATE's mode.
    const std::string unset = Words({~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u});
    RpcReplyView created = Call(2, NFSPROC_CREATE, Fh2(root) + Name("s2") + Words({0140600}) + unset);
    ASSERT_EQ(Status(created), 0u);
    EXPECT_EQ(created.results.substr(36, 8), Words({NF3SOCK, 0140600}));
    // A hard-linked device counts its names.
    ASSERT_EQ(Status(Call(3, NFSPROC3_MKNOD,
                          Fh3(root) + Name("tty") + Words({NF3CHR}) + Sattr3(0600) + Words({4, 1}))),
              0u);
    ASSERT_EQ(Status(Call(3, NFSPROC3_LINK, Handle3("tty") + Fh3(root) + Name("tty2"))), 0u);
    EXPECT_EQ(WordAt(Attributes("tty"), 8), 2u);
    // Where copies stand in for hard links, LINK copies the file.
    ServerSettings.HardLinks = 2;
    WriteFileBytes(dir.Native("data/orig"), "bytes");
    ASSERT_EQ(Status(Call(3, NFSPROC3_LINK, Handle3("orig") + Fh3(root) + Name("copy"))), 0u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/copy")), "bytes");
    EXPECT_EQ(WordAt(Attributes("orig"), 8), 1u);
    ServerSettings.HardLinks = 1;
}

TEST_F(NfsUnixFilesTest, EveryUnixNameRoundTrips)
{
    std::string controls;
    for (char c = 1; c < 32; c++)
        controls += c;
    CharMap[static_cast<unsigned char>('<')] = '(';  // an administrator's substitute comes first
    // Name as the client sends it, as the volume holds it, as it is listed.
    const struct {
        std::string name, onDisk, listed;
    } names[] = {
        {"q?*[x]", "q" + Kept('?') + Kept('*') + "[x]", "q?*[x]"},
        {"\\:\">|" + controls + ".", Kept('\\') + Kept(':') + Kept('"') + Kept('>') + Kept('|'), ""},
        {"blank ", "blank" + Kept(' '), "blank "},
        {"...", ".." + Kept('.'), "..."},
        {"a.b<", "a.b(", "a.b("},
    };
    std::set<std::string> expected, onDisk;
    for (const auto &n : names) {
        ASSERT_EQ(Status(Call(3, NFSPROC3_CREATE, Fh3(root) + Name(n.name) + Words({0}) + Sattr3(0644))), 0u);
        Handle3(n.listed.empty() ? n.name : n.listed);
        expected.insert(n.listed.empty() ? n.name : n.listed);
    }
    for (const auto &entry : std::filesystem::directory_iterator(dir.Native("data"))) {
        const auto name = entry.path().filename().u8string();
        onDisk.insert(std::string(name.begin(), name.end()));
    }
    for (const auto &n : names) {
        std::string disk = n.onDisk;
        if (n.listed.empty()) {
            for (char c : controls)
                disk += Kept(static_cast<unsigned char>(c));
            disk += Kept('.');
        }
        EXPECT_EQ(onDisk.count(disk), 1u) << n.name;
    }
    RpcReplyView listing =
        Call(3, NFSPROC3_READDIR, Fh3(root) + std::string(16, '\0') + Words({8192}));
    ASSERT_EQ(Status(listing), 0u);
    const std::string &r = listing.results;
    std::set<std::string> listed;
    for (size_t at = 4 + 88 + 8; WordAt(r, at) == 1;) {
        const uint32_t length = WordAt(r, at + 12);
        listed.insert(r.substr(at + 16, length));
        at += 16 + ((length + 3) & ~3u) + 8;
    }
    for (const std::string &name : expected)
        EXPECT_EQ(listed.count(name), 1u) << name;
}

TEST_F(NfsUnixFilesTest, TimesToTheHundredNanoseconds)
{
    ASSERT_EQ(Status(Call(3, NFSPROC3_CREATE, Fh3(root) + Name("t") + Words({0}) + Sattr3(0644))), 0u);
    const std::string fh = Handle3("t");
    // The client's times, kept to 100 ns; version 2 tells microseconds.
    ASSERT_EQ(Status(Call(3, NFSPROC3_SETATTR,
                          fh + Sattr3(~0u, {2, 1600000000, 123456789}, {2, 1700000000, 987654321}) + Words({0}))),
              0u);
    std::string a = Attributes("t");
    EXPECT_EQ(a.substr(60, 16), Words({1600000000, 123456700, 1700000000, 987654300}));
    EXPECT_EQ(Attributes("t", 2).substr(44, 16), Words({1600000000, 123456, 1700000000, 987654}));
    // A change of mode moves the change time on, never the write time.
    const std::string before = a;
    Sleep(30);  // past the host clock's step of file times
    ASSERT_EQ(Status(Call(3, NFSPROC3_SETATTR, fh + Sattr3(0444) + Words({0}))), 0u);
    a = Attributes("t");
    EXPECT_EQ(a.substr(68, 8), before.substr(68, 8));
    EXPECT_GT(HyperAt(a, 76), HyperAt(before, 76));
    // The server's time, to the 100 ns.
    FILETIME earlier, later;
    GetSystemTimeAsFileTime(&earlier);
    ASSERT_EQ(Status(Call(3, NFSPROC3_SETATTR, fh + Sattr3(~0u, {0}, {1}) + Words({0}))), 0u);
    GetSystemTimeAsFileTime(&later);
    a = Attributes("t");
    const auto ticks = [](uint64_t seconds, uint64_t nanoseconds) {
        return (seconds + 11644473600ull) * 10000000ull + nanoseconds / 100;
    };
    const uint64_t set = ticks(WordAt(a, 68), WordAt(a, 72));
    EXPECT_GE(set, static_cast<uint64_t>(earlier.dwHighDateTime) << 32 | earlier.dwLowDateTime);
    EXPECT_LE(set, static_cast<uint64_t>(later.dwHighDateTime) << 32 | later.dwLowDateTime);
}

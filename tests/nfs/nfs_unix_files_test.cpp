// Unix files on a Windows volume through Nfs3Dispatch: names with the
// characters Windows forbids as the volume holds them and a listing gives
// them back; LINK where copies stand in for hard links.  (Fifos, sockets and
// times to the 100 ns: NfsWire CallTable on the running server.)
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "nfs/nfs_protocol.h"
#include "nfs_fixture.h"
#include "settings/settings.h"

namespace {

// U+F000 + c in UTF-8: how a character Windows forbids lies on the volume.
std::string Kept(unsigned char c)
{
    return {'\xEF', static_cast<char>(0x80 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
}

}  // namespace

TEST_F(NfsTest, EveryUnixNameRoundTrips)
{
    ServerSettings.CharSet = ServerSettings.CharSetActive = 2;
    LoadExports("@\\data 127.0.0.1\n");
    const FileHandle root = MountFor(Win("data"));
    auto status = [](const RpcReplyView &reply) { return reply.results.size() >= 4 ? WordAt(reply.results, 0) : ~0u; };
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
    std::set<std::string> expected, onDisk;  // as listed, as on the volume
    for (const auto &n : names) {
        ASSERT_EQ(status(Call(3, NFSPROC3_CREATE, Fh3(root) + Name(n.name) + Words({0, 1, 0644, 0, 0, 0, 0, 0}))), 0u);
        const std::string shown = n.listed.empty() ? n.name : n.listed;
        EXPECT_EQ(status(Call(3, NFSPROC3_LOOKUP, Fh3(root) + Name(shown))), 0u) << shown;
        expected.insert(shown);
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
    RpcReplyView listing = Call(3, NFSPROC3_READDIR, Fh3(root) + std::string(16, '\0') + Words({8192}));
    ASSERT_EQ(status(listing), 0u);
    for (const std::string &name : expected)
        EXPECT_NE(listing.results.find(Name(name)), std::string::npos) << name;
}

// Where copies stand in for hard links (HardLinks 2), LINK copies the file:
// its bytes and its mode at the new name, one link each.
TEST_F(NfsTest, LinkCopiesWhereCopiesStandInForHardLinks)
{
    ServerSettings.HardLinks = 2;
    ServerSettings.UnixAttributes = 1;
    LoadExports("@\\data 127.0.0.1\n");
    const std::string root = Fh3(MountFor(Win("data")));
    WriteFileBytes(dir.Native("data/orig"), "bytes");
    const std::string orig = Call(3, NFSPROC3_LOOKUP, root + Name("orig")).results.substr(4, 24);
    ASSERT_EQ(WordAt(Call(3, NFSPROC3_SETATTR, orig + Words({1, 0640, 0, 0, 0, 0, 0, 0})).results, 0), 0u);
    ASSERT_EQ(WordAt(Call(3, NFSPROC3_LINK, orig + root + Name("copy")).results, 0), 0u);
    EXPECT_EQ(ReadFileBytes(dir.Native("data/copy")), "bytes");
    EXPECT_EQ(WordAt(Call(3, NFSPROC3_GETATTR, orig).results, 4 + 8), 1u);
    // The mode the file shows (0640 where its volume keeps Unix records).
    const std::string copy = Call(3, NFSPROC3_LOOKUP, root + Name("copy")).results;
    EXPECT_EQ(WordAt(copy, 4 + 24 + 4 + 4), WordAt(Call(3, NFSPROC3_GETATTR, orig).results, 4 + 4));
    ServerSettings.HardLinks = 1;
    ServerSettings.UnixAttributes = 0;
}

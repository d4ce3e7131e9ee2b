// Which exports a client sees, and the EXPORT and DUMP lists on the wire.
#include <cstring>
#include <string>
#include <vector>

#include "mount/mount_lists.h"
#include "mount/mount_service.h"
#include "mount_fixture.h"
#include "rpc/xdr.h"
#include "settings/settings.h"

namespace {

// A decoded exportlist / mountlist.
struct Listed {
    std::string directory;
    std::vector<std::string> groups;  // exportlist: groups; mountlist: {host}
};

struct Reader {
    const uint8_t *data;
    uint32_t length;
    uint32_t pos = 0;
    bool ok = true;

    uint32_t Word()
    {
        if (pos + 4 > length) {
            ok = false;
            return 0;
        }
        uint32_t value = XdrLoad32(data + pos);
        pos += 4;
        return value;
    }
    std::string String()
    {
        uint32_t size = Word();
        if (!ok || pos + XdrPadded(size) > length) {
            ok = false;
            return std::string();
        }
        std::string text(reinterpret_cast<const char *>(data + pos), size);
        for (uint32_t i = size; i < XdrPadded(size); i++)
            if (data[pos + i] != 0)
                ok = false;
        pos += XdrPadded(size);
        return text;
    }
};

// An exportlist (directory, then its groups) or a mountlist (host name,
// then directory): entries behind 1, the list ended by 0 and nothing after.
std::vector<Listed> Decode(const uint8_t *data, uint32_t length, bool mounts)
{
    Reader in{data, length};
    std::vector<Listed> out;
    while (in.ok && in.Word() == 1) {
        Listed item;
        if (mounts) {
            item.groups.push_back(in.String());
            item.directory = in.String();
        } else {
            item.directory = in.String();
            while (in.ok && in.Word() == 1)
                item.groups.push_back(in.String());
        }
        out.push_back(item);
    }
    EXPECT_TRUE(in.ok);
    EXPECT_EQ(in.pos, length) << "the list ends with its last word";
    return out;
}

std::vector<Listed> ExportList(const char *client, uint32_t limit = 7000)
{
    std::vector<uint8_t> buffer(limit + 64, 0xEE);
    uint32_t length = EncodeExportList(Addr(client), buffer.data(), limit);
    EXPECT_LE(length, limit);
    return Decode(buffer.data(), length, false);
}

std::vector<std::string> Directories(const std::vector<Listed> &list)
{
    std::vector<std::string> out;
    for (const Listed &item : list)
        out.push_back(item.directory);
    return out;
}

}  // namespace

TEST_F(MountTest, ExportListShowsClientsThenOptionsInProtocolOrder)
{
    LoadExports("@\\data -name:stuff -readonly -lowercase -alldirs -exec -umask:027 -sub:95,126 -maproot:0:5 "
                "-mapall:-2 -uid:100:200 host1 host2\n"
                "@\\other -public -range -sub:43 -maproot:-2 -mapall:3:4 -uid:9 10.0.0.1 10.0.0.9\n"
                "@\\pub -hide\n");
    std::vector<Listed> list = ExportList("127.0.0.1");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].directory, "/stuff");
    EXPECT_EQ(list[0].groups,
              (std::vector<std::string>{"192.168.1.1", "192.168.1.2", "-readonly", "-lowercase", "-alldirs", "-exec",
                                        "-umask:027", "-sub:95,126", "-maproot:0:5", "-mapall:65534", "-uid:100:200"}));
    EXPECT_EQ(list[1].directory, ClientForm(Win("other")));
    EXPECT_EQ(list[1].groups, (std::vector<std::string>{"10.0.0.1", "10.0.0.9", "-public", "-sub:43",
                                                        "-maproot:65534", "-mapall:3:4", "-uid:9", "-range"}));
}

TEST_F(MountTest, FilterExportsHidesWhatAClientCannotMount)
{
    LoadExports("@\\data host1\n@\\other\n@\\pub -range 10.0.0.1 10.0.0.9\n@\\data\\sub -hide\n");
    const std::string data = ClientForm(Win("data"));
    const std::string other = ClientForm(Win("other"));
    const std::string pub = ClientForm(Win("pub"));

    // Off: everyone sees every export but the hidden one.
    ServerSettings.FilterExports = 0;
    EXPECT_EQ(Directories(ExportList("10.7.7.7")), (std::vector<std::string>{data, other, pub}));

    ServerSettings.FilterExports = 1;
    EXPECT_EQ(Directories(ExportList("10.7.7.7")), (std::vector<std::string>{other}));
    EXPECT_EQ(Directories(ExportList("192.168.1.1")), (std::vector<std::string>{data, other}));
    EXPECT_EQ(Directories(ExportList("10.0.0.5")), (std::vector<std::string>{other, pub}));
    // The local host sees everything that is not hidden.
    EXPECT_EQ(Directories(ExportList("127.0.0.1")), (std::vector<std::string>{data, other, pub}));
}

TEST_F(MountTest, ExportListStopsBeforeAnExportThatDoesNotFit)
{
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "@\\data -name:export" + std::to_string(100 + i) + " host1 host2 host3\n";
    LoadExports(text);
    ASSERT_EQ(ExportEntries().size(), 40u);
    std::vector<Listed> all = ExportList("127.0.0.1", 7000);
    EXPECT_EQ(all.size(), 40u);
    // Each element here takes 4 + 16 + 3 * 20 + 4 = 84 bytes.
    std::vector<Listed> some = ExportList("127.0.0.1", 4 + 84 * 5 + 83);
    ASSERT_EQ(some.size(), 5u);
    EXPECT_EQ(some[4].directory, "/export104");
    EXPECT_EQ(some[4].groups.size(), 3u);
    EXPECT_TRUE(ExportList("127.0.0.1", 4).empty());
}

TEST_F(MountTest, MountListNamesHostsAndMountedFolders)
{
    LoadExports("@\\data -alldirs\n@\\other host1\n");
    ExportEntry *data = ExportEntries().at(0);
    ExportEntry *other = ExportEntries().at(1);
    uint32_t id = 0;
    ASSERT_NE(MountAdd(Addr("10.9.9.9"), MOUNT_KIND_UDP, data->path, 1, data, 1, 255, 0, &id), 0);
    ASSERT_NE(MountAdd(Addr("192.168.1.1"), MOUNT_KIND_TCP, Win("data\\sub").c_str(), 2, data, 1, 255, 0, &id), 0);
    ASSERT_NE(MountAdd(Addr("192.168.1.1"), MOUNT_KIND_UDP, other->path, 3, other, 1, 255, 0, &id), 0);
    ASSERT_TRUE(MountWaitHostLookups(5000));

    uint8_t buffer[8192];
    uint32_t length = EncodeMountList(Addr("127.0.0.1"), buffer, 7000);
    std::vector<Listed> list = Decode(buffer, length, true);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].groups[0], "client-192-168-1-1");
    EXPECT_EQ(list[0].directory, ClientForm(Win("other")));
    EXPECT_EQ(list[1].directory, ClientForm(Win("data\\sub")));
    // No host name: the address stands in.
    EXPECT_EQ(list[2].groups[0], "10.9.9.9");
    EXPECT_EQ(list[2].directory, ClientForm(Win("data")));

    // With FilterExports the mounts of exports the caller cannot see drop out.
    ServerSettings.FilterExports = 1;
    length = EncodeMountList(Addr("10.1.1.1"), buffer, 7000);
    EXPECT_EQ(Decode(buffer, length, true).size(), 2u);
    // An element that does not fit ends the list.
    length = EncodeMountList(Addr("127.0.0.1"), buffer, 40);
    EXPECT_TRUE(Decode(buffer, length, true).empty());
}

// The EXPORT list stops before an export that does not fit its room.  (The
// lists' contents and what each client sees: showmount -e and -a in
// integration mount_test.sh.)
#include <string>
#include <vector>

#include "mount/mount_lists.h"
#include "mount_fixture.h"
#include "rpc/xdr.h"

namespace {

struct Listed {
    std::string directory;
    std::vector<std::string> groups;
};

// The exportlist encoded for client in limit bytes: entries behind 1, the
// list ended by 0 and nothing after.
std::vector<Listed> ExportList(const char *client, uint32_t limit)
{
    std::vector<uint8_t> buffer(limit + 64, 0xEE);
    const uint32_t length = EncodeExportList(Addr(client), buffer.data(), limit);
    EXPECT_LE(length, limit);
    uint32_t pos = 0;
    auto word = [&] {
        pos += 4;
        return pos <= length ? XdrLoad32(&buffer[pos - 4]) : 0u;
    };
    auto text = [&] {
        const uint32_t size = word();
        std::string out(reinterpret_cast<const char *>(&buffer[pos]), size);
        pos += XdrPadded(size);
        return out;
    };
    std::vector<Listed> out;
    while (pos < length && word() == 1) {
        Listed item;
        item.directory = text();
        while (pos < length && word() == 1)
            item.groups.push_back(text());
        out.push_back(item);
    }
    EXPECT_EQ(pos, length) << "the list ends with its last word";
    return out;
}

}  // namespace

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

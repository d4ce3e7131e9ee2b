// The file mounttab: its line format, the save, and the load after a
// restart (ids, order, lines that no longer hold).
#include <cstring>

#include "exports/export_context.h"
#include "mount/mount_folder.h"
#include "mount/mounttab_file.h"
#include "mount_fixture.h"

namespace {

// Mounts a folder as MNT does (probe, inode, record).
uint32_t Mount(uint32_t client, const std::string &path, ExportEntry *entry, uint32_t kind = MOUNT_KIND_UDP)
{
    uint64_t inode = 0;
    uint32_t id = 0;
    EXPECT_EQ(MountFolderFor(client, kind, path.c_str(), entry, &inode, &id, nullptr), 0) << path;
    return id;
}

}  // namespace

TEST(MountTabLine, IsHexAddressInHostOrderThenPaths)
{
    ExportEntry entry{};
    char exportPath[] = "C:\\data";
    entry.path = exportPath;
    char none[] = "";
    char sub[] = "C:\\data\\sub";
    MountRecord record{};
    record.clientAddress = htonl(0xC0A8010Au);  // 192.168.1.10
    record.kind = MOUNT_KIND_UDP;
    record.exportEntry = &entry;
    record.path = none;
    char line[MOUNTTAB_LINE_SIZE];
    EXPECT_EQ(FormatMountTabLine(&record, line, sizeof line), strlen("c0a8010a C:\\data\n"));
    EXPECT_STREQ(line, "c0a8010a C:\\data\n");

    record.path = sub;
    record.clientAddress = htonl(0x0A000001u);
    record.kind = MOUNT_KIND_UDP | MOUNT_KIND_WEBNFS;
    FormatMountTabLine(&record, line, sizeof line);
    EXPECT_STREQ(line, "a000001 C:\\data\\sub|C:\\data\n");

    record.kind = MOUNT_KIND_TCP | MOUNT_KIND_AUTO;
    EXPECT_EQ(FormatMountTabLine(&record, line, sizeof line), 0u);
    record.kind = MOUNT_KIND_UDP;
    EXPECT_EQ(FormatMountTabLine(&record, line, 10), 0u);  // does not fit
}

TEST(MountTabLine, ParsesBackAndRejectsMalformedLines)
{
    uint32_t address = 0;
    const char *mounted = nullptr;
    const char *exported = nullptr;
    char plain[] = "c0a8010a C:\\data";
    ASSERT_EQ(ParseMountTabLine(plain, &address, &mounted, &exported), 1);
    EXPECT_EQ(address, htonl(0xC0A8010Au));
    EXPECT_STREQ(mounted, "C:\\data");
    EXPECT_STREQ(exported, "C:\\data");

    char split[] = "A000001 C:\\data\\sub|C:\\data";
    ASSERT_EQ(ParseMountTabLine(split, &address, &mounted, &exported), 1);
    EXPECT_EQ(address, htonl(0x0A000001u));
    EXPECT_STREQ(mounted, "C:\\data\\sub");
    EXPECT_STREQ(exported, "C:\\data");

    for (const char *bad : {"", "c0a8010a", "c0a8010a ", "c0a8010aC:\\data", "xyz C:\\data", "1c0a8010a C:\\data",
                            "c0a8010a |C:\\data", "c0a8010a C:\\data|"}) {
        char line[64];
        snprintf(line, sizeof line, "%s", bad);
        EXPECT_EQ(ParseMountTabLine(line, &address, &mounted, &exported), 0) << bad;
    }
}

TEST_F(MountTest, SaveWritesUdpMountsNewestFirstWithTheirOwnPaths)
{
    LoadExports("@\\data -alldirs\n@\\other\n");
    ExportEntry *data = Exports().at(0);
    ExportEntry *other = Exports().at(1);
    Mount(Addr("192.168.1.10"), data->path, data);
    Mount(Addr("192.168.1.11"), Win("data\\sub"), data, MOUNT_KIND_UDP | MOUNT_KIND_AUTO);
    Mount(Addr("192.168.1.12"), other->path, other, MOUNT_KIND_TCP);
    ASSERT_EQ(MountTabSave(), 1);
    const std::string expected = "c0a8010b " + Win("data\\sub") + "|" + data->path + "\n" + "c0a8010a " +
                                 data->path + "\n";
    EXPECT_EQ(MountTab(), expected);
    // A text file: CR LF on disk on both builds, and no temporary file left.
    EXPECT_NE(ReadFileBytes(dir.Native("mounttab")).find("\r\n"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.Native("mounttab.new")));

    // Removing the last UDP mounts leaves an empty file.
    MountRemoveClient(Addr("192.168.1.10"), nullptr, 0);
    MountRemoveClient(Addr("192.168.1.11"), nullptr, 0);
    ASSERT_EQ(MountTabSave(), 1);
    EXPECT_EQ(MountTab(), "");
}

TEST_F(MountTest, LoadAfterRestartRestoresOrderAndIds)
{
    LoadExports("@\\data -alldirs\n@\\other\n");
    ExportEntry *data = Exports().at(0);
    ExportEntry *other = Exports().at(1);
    uint32_t first = Mount(Addr("192.168.1.10"), data->path, data);
    uint32_t second = Mount(Addr("192.168.1.11"), Win("data\\sub"), data);
    uint32_t third = Mount(Addr("192.168.1.10"), other->path, other);
    ASSERT_EQ(MountTabSave(), 1);
    const std::string saved = MountTab();

    // A restart: the table and the id counter start empty, the exports are
    // read again.
    ASSERT_TRUE(MountWaitHostLookups(5000));
    MountTableFree();
    ExportTablesFree();
    LoadExports("@\\data -alldirs\n@\\other\n");
    EXPECT_EQ(MountTabLoad(), 3);
    std::vector<MountRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].mountId, third);
    EXPECT_EQ(records[1].mountId, second);
    EXPECT_EQ(records[2].mountId, first);
    EXPECT_EQ(std::string(records[1].path), Win("data\\sub"));
    EXPECT_EQ(records[1].kind, MOUNT_KIND_UDP);
    EXPECT_EQ(Exports().at(0)->options.mountCount, 2u);

    // A handle made before the restart still finds its folder.
    ExportContext context;
    ASSERT_EQ(ExportContextById(second, &context), 1);
    EXPECT_EQ(std::string(context.path), Win("data\\sub"));
    ASSERT_EQ(MountTabSave(), 1);
    EXPECT_EQ(MountTab(), saved);
}

TEST_F(MountTest, LoadSkipsLinesThatNoLongerHold)
{
    LoadExports("@\\data -alldirs host1\n@\\other\n@\\pub\n");
    const std::string data = Win("data");
    const std::string text =
        // admitted
        "c0a80101 " + data + "\n" +
        // client no longer in the list of the export
        "c0a80102 " + data + "\n" +
        // a folder outside the export it names
        "c0a80101 " + Win("other") + "|" + data + "\n" +
        // a subfolder of an export without -alldirs
        "c0a80101 " + Win("pub\\docs") + "|" + Win("pub") + "\n" +
        // a folder that is gone
        "c0a80101 " + Win("data\\gone") + "|" + data + "\n" +
        // garbage
        "zz " + data + "\n" + "\n" + "c0a80101\n" + std::string(9000, 'x') + "\n" +
        // no final line end
        "c0a80103 " + Win("other");
    WriteMountTab(text);
    EXPECT_EQ(MountTabLoad(), 2);
    std::vector<MountRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].clientAddress, Addr("192.168.1.1"));
    EXPECT_STREQ(records[0].path, "");
    EXPECT_EQ(records[1].clientAddress, Addr("192.168.1.3"));
}

TEST_F(MountTest, MissingMountTabLeavesTheTableEmpty)
{
    LoadExports("@\\data\n");
    EXPECT_EQ(MountTabLoad(), 0);
    EXPECT_EQ(MountCount(), 0u);
}

// The file mounttab: its line format, appending and compacting, and the
// load of old files and of lines that no longer hold.  (Ids kept across
// restarts, also after an unmount of another record: mount_test.sh.)
#include <algorithm>
#include <cstring>

#include "exports/export_context.h"
#include "mount/mount_folder.h"
#include "mount/mounttab_file.h"
#include "mount_fixture.h"

namespace {

// Mounts a folder as MNT does (probe, inode, record); the new record's id.
uint32_t Mount(uint32_t client, const std::string &path, ExportEntry *entry, uint32_t kind = MOUNT_KIND_UDP)
{
    uint64_t inode = 0;
    uint32_t root = 0;
    EXPECT_EQ(MountFolderFor(client, kind, path.c_str(), entry, &inode, &root, nullptr), 0) << path;
    LockTake(&MountLock);
    const uint32_t id = MountTableHead() != nullptr ? MountTableHead()->mountId : 0;
    LockGive(&MountLock);
    return id;
}

}  // namespace

// Lines that are no record nor removal are refused.  (Records with and
// without ids, and removals, read back: the cases below.)
TEST(MountTabLine, RejectsMalformedLines)
{
    for (const char *bad : {"", "c0a8010a", "c0a8010a ", "c0a8010aC:\\data", "xyz C:\\data", "1c0a8010a C:\\data",
                            "c0a8010a |C:\\data", "c0a8010a C:\\data|", "c0a8010a: C:\\data", "-c0a8010a",
                            "-c0a8010a:5 C:\\data", "c0a8010a:123456789 C:\\data"}) {
        char line[64];
        snprintf(line, sizeof line, "%s", bad);
        MountTabLine parsed;
        EXPECT_EQ(ParseMountTabLine(line, &parsed), MOUNTTAB_BAD) << bad;
    }
}

// Changes are appended as they happen; the whole file is written at the
// first save, and again once it holds more than twice the lines it needs.
TEST_F(MountTest, SaveAppendsChangesAndCompactsNowAndThen)
{
    LoadExports("@\\data -alldirs\n@\\other\n");
    ExportEntry *data = ExportEntries().at(0);
    ExportEntry *other = ExportEntries().at(1);
    uint32_t a = Mount(Addr("192.168.1.10"), data->path, data);
    uint32_t b = Mount(Addr("192.168.1.11"), Win("data\\sub"), data, MOUNT_KIND_UDP | MOUNT_KIND_AUTO);
    Mount(Addr("192.168.1.12"), other->path, other, MOUNT_KIND_TCP);
    ASSERT_EQ(MountTabSave(), 1);
    char expected[4096];
    snprintf(expected, sizeof expected, "c0a8010a:%8.8x %s\nc0a8010b:%8.8x %s|%s\n", a, data->path, b,
             Win("data\\sub").c_str(), data->path);
    EXPECT_EQ(MountTab(), expected);
    // A text file: CR LF on disk on both builds, and no temporary file left.
    EXPECT_NE(ReadFileBytes(dir.Native("mounttab")).find("\r\n"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.Native("mounttab.new")));

    // A removal and a mount that turns to TCP are appended as removals; an
    // unchanged file is left alone.
    MountRemoveClient(Addr("192.168.1.10"), nullptr, 0);
    MarkMountTcp(Addr("192.168.1.11"), data);
    ASSERT_EQ(MountTabSave(), 1);
    char appended[128];
    snprintf(appended, sizeof appended, "-c0a8010a:%8.8x\n-c0a8010b:%8.8x\n", a, b);
    EXPECT_EQ(MountTab(), std::string(expected) + appended);
    ASSERT_EQ(MountTabSave(), 1);
    EXPECT_EQ(MountTab(), std::string(expected) + appended);

    // Mounts and unmounts of one client: the file never grows past twice
    // what it needs (plus a margin of 64 lines).
    size_t longest = 0;
    for (int i = 0; i < 100; i++) {
        Mount(Addr("192.168.1.20"), data->path, data);
        ASSERT_EQ(MountTabSave(), 1);
        MountRemoveClient(Addr("192.168.1.20"), nullptr, 0);
        ASSERT_EQ(MountTabSave(), 1);
        const std::string text = MountTab();
        longest = std::max(longest, static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
    }
    EXPECT_LE(longest, 65u);
    MountTableFree();
    EXPECT_EQ(MountTabLoad(), 0);  // every record the file held was removed
}

// A file written before ids were kept (newest first, no ids) still loads,
// with the ids the records had, and is written again with ids.
TEST_F(MountTest, FilesWithoutIdsLoadWithTheIdsTheyGave)
{
    LoadExports("@\\data -alldirs\n@\\other\n");
    const std::string data = Win("data");
    WriteMountTab("c0a8010a " + Win("other") + "\nc0a8010b " + Win("data\\sub") + "|" + data + "\nc0a8010a " + data +
                  "\n");
    EXPECT_EQ(MountTabLoad(), 3);
    std::vector<MountRecord> records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].mountId, MountIdOf(0, Addr("192.168.1.10"), data.c_str()));
    EXPECT_EQ(records[1].mountId, MountIdOf(1, Addr("192.168.1.11"), Win("data\\sub").c_str()));
    EXPECT_EQ(records[0].mountId, MountIdOf(2, Addr("192.168.1.10"), Win("other").c_str()));
    char expected[4096];
    snprintf(expected, sizeof expected, "c0a8010a:%8.8x %s\nc0a8010b:%8.8x %s|%s\nc0a8010a:%8.8x %s\n",
             records[2].mountId, data.c_str(), records[1].mountId, Win("data\\sub").c_str(), data.c_str(),
             records[0].mountId, Win("other").c_str());
    EXPECT_EQ(MountTab(), expected);
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

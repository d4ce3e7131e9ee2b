// Mounts that would leave their export (WebNFS lookups out of the public
// folder, MNT through links) and automatic mounts of folders reached while
// browsing.  (Lookups through the public handle: NfsWire CallTable.)
#include <cstring>
#include <filesystem>

#include "exports/export_context.h"
#include "exports/export_table.h"
#include "exports/mount_table.h"
#include "fs/file_handle.h"
#include "fs/inode_table.h"
#include "mount/mount_folder.h"
#include "mount/mount_service.h"
#include "mount_fixture.h"
#include "settings/settings.h"
#include "support/host_link.h"

namespace {

// The status of a WebNFS lookup of name.
int Lookup(const std::string &name, const char *client = "192.168.1.1")
{
    FileHandle handle;
    char buffer[4096];
    snprintf(buffer, sizeof buffer, "%s", name.c_str());
    return WebNfsLookup(&handle, buffer, Addr(client), MOUNT_KIND_UDP);
}

}  // namespace

TEST_F(MountTest, WebNfsRefusesWhatLeavesThePublicFolder)
{
    LoadExports("@\\data\n@\\pub -public host1\n");
    ServerSettings.WebNFS = 1;
    EXPECT_EQ(Lookup(".."), 13);
    EXPECT_EQ(Lookup("docs/../../data"), 13);
    EXPECT_EQ(Lookup("docs/..."), 13);
    EXPECT_EQ(Lookup(ClientForm(Win("data"))), 13);
    EXPECT_EQ(Lookup(ClientForm(Win("pub")) + "x"), 13);  // "pubx" is not below "pub"
    EXPECT_EQ(Lookup("\x80relative\\path"), 13);
    EXPECT_EQ(Lookup("docs", "192.168.1.2"), 13);  // no public folder for this client
    EXPECT_EQ(Lookup("nothing"), 2);
    EXPECT_EQ(Lookup("docs/" + std::string(2100, 'a')), 63);
    EXPECT_EQ(MountCount(), 0u);
}

TEST_F(MountTest, AutoMountFollowsTheAutomountSetting)
{
    LoadExports("@\\data -readonly\n@\\other host1\n");
    ExportEntry *data = ExportEntries().at(0), *other = ExportEntries().at(1);
    uint32_t fromId = 0, id = 0, first = 0;
    ASSERT_NE(MountAdd(Addr("192.168.1.1"), MOUNT_KIND_TCP, data->path, 1, data, 1, 255, data->flags, &fromId), 0);
    ExportContext context, mounted;
    ASSERT_EQ(ExportContextById(fromId, &context), 1);
    uint64_t inode = 0;
    auto autoMount = [&](uint32_t setting, const char *client, const char *folder) {
        ServerSettings.Automount = setting;
        const int made = MountFolderAutomatically(Addr(client), Win(folder).c_str(), &context, &inode, &id);
        return made == 1 && ExportContextById(id, &mounted) == 1 ? mounted.exportEntry : nullptr;
    };
    EXPECT_EQ(autoMount(0, "192.168.1.1", "other"), nullptr);
    // 1: only what the export table admits for the client; again, the same record.
    EXPECT_EQ(autoMount(1, "192.168.1.2", "other"), nullptr);
    EXPECT_EQ(autoMount(1, "192.168.1.1", "other"), other);
    EXPECT_EQ(inode, AddPath(Win("other").c_str()));
    first = id;
    EXPECT_EQ(autoMount(1, "192.168.1.1", "other"), other);
    EXPECT_EQ(id, first);
    // 2: a folder the table refuses is mounted under the export it was reached from.
    EXPECT_EQ(autoMount(2, "192.168.1.2", "pub"), data);
    EXPECT_EQ(std::string(mounted.path), Win("pub"));
    EXPECT_EQ(mounted.flags & EXPORT_READONLY, EXPORT_READONLY);
    // 3: the export it was reached from, without asking; a file is no mount.
    EXPECT_EQ(autoMount(3, "192.168.1.3", "data\\file.txt"), nullptr);
    EXPECT_EQ(autoMount(3, "192.168.1.3", "other"), data);
    // Only UDP mounts go to mounttab; these came over TCP.
    EXPECT_EQ(MountTab(), "");
}

// A path of several components whose middle one is a link to a folder
// outside the public folder: refused, never mounted.
TEST_F(MountTest, WebNfsPathsDoNotPassThroughLinks)
{
    std::filesystem::create_directories(dir.Native("outside/inner"));
    LoadExports("@\\pub -public host1\n");
    ServerSettings.WebNFS = 1;
    ScopedHostLink link(Win("outside"), Win("pub\\docs\\escape"), true);
    if (!link.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    EXPECT_NE(Lookup("docs/escape/inner"), 0);
    EXPECT_NE(Lookup("docs/escape"), 0);
    EXPECT_EQ(MountCount(), 0u);
    EXPECT_EQ(Lookup("docs"), 0);
}

// A folder of an -alldirs export that is a link to a folder outside: MNT
// refuses it, and every path through it, instead of handing out the outside.
TEST_F(MountTest, MountsThroughALinkAreRefused)
{
    std::filesystem::create_directories(dir.Native("outside/inner"));
    std::filesystem::create_directories(dir.Native("data/sub"));
    LoadExports("@\\data -alldirs\n");
    ScopedHostLink link(Win("outside"), Win("data\\escape"), true);
    if (!link.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    auto mount = [&](const char *below) {
        char path[EXPORT_PATH_SIZE];
        snprintf(path, sizeof path, "%s", ClientForm(Win(below)).c_str());
        ExportEntry *entry = nullptr;
        uint64_t inode = 0;
        uint32_t id = 0;
        return FindExport(path, Addr("127.0.0.1"), &entry) != 0 ? -1
               : MountFolderFor(Addr("127.0.0.1"), MOUNT_KIND_UDP, path, entry, &inode, &id, nullptr);
    };
    EXPECT_NE(mount("data\\escape"), 0);
    EXPECT_NE(mount("data\\escape\\inner"), 0);
    EXPECT_EQ(MountCount(), 0u);
    EXPECT_EQ(mount("data\\sub"), 0);
}

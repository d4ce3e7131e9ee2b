// The volume probe of export paths and the root inode of a loaded export.
#include <cstring>
#include <filesystem>
#include <string>

#include "exports_fixture.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"

TEST_F(ExportsTest, ProbeVolumeOfAnExistingFolder)
{
    std::string folder = dir.win().substr(0, dir.win().size() - 1);
    uint32_t serial = 0, maxName = 0;
    uint32_t flags = EXPORT_READONLY | EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID;
    ASSERT_EQ(ProbeVolume(folder.c_str(), &serial, &maxName, &flags), 1);
    EXPECT_GT(maxName, 0u);
    EXPECT_EQ(flags & EXPORT_READONLY, EXPORT_READONLY);  // option bits are left alone
    EXPECT_EQ(flags & (EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID), 0u);
    EXPECT_EQ(flags & EXPORT_FILEID_MODE, 0u);  // the FileId setting is off
    // The same folder through the long prefix: the same volume, one more bit.
    std::string longForm = "\\\\?\\" + folder;
    uint32_t serial2 = 0, maxName2 = 0, flags2 = 0;
    ASSERT_EQ(ProbeVolume(longForm.c_str(), &serial2, &maxName2, &flags2), 1);
    EXPECT_EQ(serial2, serial);
    EXPECT_EQ(maxName2, maxName);
    EXPECT_EQ(flags2, (flags & ~EXPORT_READONLY) | EXPORT_LONG_PREFIX);
}

TEST_F(ExportsTest, ProbeVolumeFileIdModeNeedsNtfsTheApiAndNoCi)
{
    std::string folder = dir.win();
    ServerSettings.FileId = 1;
    FsFindFileIdApi();
    uint32_t serial = 0, maxName = 0, flags = 0;
    ASSERT_EQ(ProbeVolume(folder.c_str(), &serial, &maxName, &flags), 1);
    const bool expected = FileIdApi && (flags & EXPORT_VOLUME_NTFS) != 0;
    EXPECT_EQ((flags & EXPORT_FILEID_MODE) != 0, expected);
    flags = EXPORT_CI;
    ASSERT_EQ(ProbeVolume(folder.c_str(), &serial, &maxName, &flags), 1);
    EXPECT_EQ(flags & EXPORT_FILEID_MODE, 0u);
    // NTFS on a local drive always takes hard links.
    if (flags & EXPORT_VOLUME_NTFS) {
        EXPECT_NE(flags & EXPORT_VOLUME_HARDLINKS, 0u);
    }
}

TEST_F(ExportsTest, ProbeVolumeOfAMissingDrive)
{
    uint32_t serial = 7, maxName = 7, flags = EXPORT_VOLUME_NTFS;
    EXPECT_EQ(ProbeVolume("\\\\?\\Q:\\x", &serial, &maxName, &flags), 0);
    EXPECT_EQ(flags & (EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID), static_cast<uint32_t>(EXPORT_LONG_PREFIX));
    // The volume GUID form is seen in the path, whatever the volume says.
    flags = 0;
    ProbeVolume("\\\\?\\volume{00000000-0000-0000-0000-000000000000}\\x", &serial, &maxName, &flags);
    EXPECT_EQ(flags & (EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID),
              static_cast<uint32_t>(EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID));
    // A load keeps an export whose volume cannot be examined, with its volume
    // facts zero and the bits of the path itself.
    Load("\\\\?\\Q:\\x -ro\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->volumeSerial, 0u);
    EXPECT_EQ(entries[0]->maxNameLength, 0u);
    EXPECT_EQ(entries[0]->flags, static_cast<uint32_t>(EXPORT_READONLY | EXPORT_LONG_PREFIX));
}

TEST_F(ExportsTest, LoadedExportHasItsVolumeAndRootInode)
{
    ASSERT_TRUE(OpenInodeTableAt(dir.Win("inodes.nfs").c_str(), 1));
    std::string folder = dir.Win("shared");
    std::filesystem::create_directory(dir.Native("shared"));
    Load("\"" + folder + "\" -ro\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    uint32_t serial = 0, maxName = 0, flags = 0;
    ASSERT_EQ(ProbeVolume(folder.c_str(), &serial, &maxName, &flags), 1);
    EXPECT_EQ(entries[0]->volumeSerial, serial);
    EXPECT_EQ(entries[0]->maxNameLength, maxName);
    EXPECT_EQ(entries[0]->flags, flags | EXPORT_READONLY);
    ASSERT_NE(entries[0]->options.rootInode, 0u);
    char path[INODE_PATH_SIZE];
    ASSERT_NE(PathOfInode(static_cast<uint32_t>(entries[0]->options.rootInode), path), nullptr);
    EXPECT_STREQ(path, folder.c_str());
    CloseInodeTable();
}

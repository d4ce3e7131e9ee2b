// Volume statistics, FSINFO properties and PATHCONF values of a real export.
#include "handles_fixture.h"

#include <filesystem>

#include "backend/fs_stats.h"
#include "exports/export_entry.h"
#include "settings/settings.h"

TEST_F(HandlesTest, StatFsCountsBlocksOf4096Bytes)
{
    FileHandle root = Mount(Win("data"), 0, 022);
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    ASSERT_EQ(StatFs(&root, &freeBlocks, &totalBlocks, &blockSize), 0u);
    EXPECT_EQ(blockSize, 4096u);
    std::filesystem::space_info space = std::filesystem::space(dir.native());
    EXPECT_EQ(totalBlocks, space.capacity / 4096);
    EXPECT_LE(freeBlocks, totalBlocks);
    // Free space moves while other programs write; a few MiB of slack.
    const uint64_t slack = 4096;
    const uint64_t expected = space.free / 4096;
    EXPECT_LE(freeBlocks, expected + slack);
    EXPECT_GE(freeBlocks + slack, expected);
}

TEST_F(HandlesTest, StatFsOfAStaleHandleOrAVanishedRoot)
{
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle bad = root;
    bad.check ^= 1;
    uint64_t freeBlocks = 7, totalBlocks = 7;
    uint32_t blockSize = 7;
    EXPECT_EQ(StatFs(&bad, &freeBlocks, &totalBlocks, &blockSize), 70u);
    EXPECT_EQ(blockSize, 7u);

    // An export whose folder is gone cannot be asked.
    MakeFolder("gone");
    FileHandle gone = Mount(Win("gone"), 0, 022);
    ASSERT_TRUE(RemoveDirectoryA(Win("gone").c_str()));
    EXPECT_EQ(StatFs(&gone, &freeBlocks, &totalBlocks, &blockSize), 5u);
    EXPECT_NE(LogText().find("nfs_statfs: " + Win("gone") + " error "), std::string::npos) << LogText();
}

TEST_F(HandlesTest, FsInfoReportsHardLinksOfTheVolume)
{
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    const bool volumeLinks = (entry->flags & EXPORT_VOLUME_HARDLINKS) != 0;
    FileAttributes attributes;
    AuthUnix who = caller;

    ServerSettings.HardLinks = 1;
    uint32_t properties = 0x18;
    ASSERT_EQ(FsInfo(&root, &properties, &attributes, &who), 0u);
    EXPECT_EQ(properties, volumeLinks ? 0x19u : 0x18u);
    EXPECT_EQ(attributes.type, 2u);

    ServerSettings.HardLinks = 0;
    properties = 0x1B;
    ASSERT_EQ(FsInfo(&root, &properties, &attributes, &who), 0u);
    EXPECT_EQ(properties, 0x1Au);

    FileHandle bad = root;
    bad.mark = 21;
    EXPECT_EQ(FsInfo(&bad, &properties, &attributes, &who), 70u);
}

TEST_F(HandlesTest, PathConfValues)
{
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    const bool volumeLinks = (entry->flags & EXPORT_VOLUME_HARDLINKS) != 0;
    uint32_t linkMaximum = 0, nameMaximum = 0, writable = 9;
    FileAttributes attributes;
    AuthUnix who = caller;
    ServerSettings.HardLinks = 1;
    ASSERT_EQ(PathConf(&root, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 0u);
    EXPECT_EQ(linkMaximum, volumeLinks ? 31u : 1u);
    EXPECT_EQ(nameMaximum, entry->maxNameLength);
    EXPECT_GE(nameMaximum, 13u);
    EXPECT_EQ(writable, 1u);
    EXPECT_EQ(attributes.type, 2u);

    ServerSettings.HardLinks = 0;
    FileHandle readOnly = Mount(Win("data"), EXPORT_READONLY, 022);
    ASSERT_EQ(PathConf(&readOnly, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 0u);
    EXPECT_EQ(linkMaximum, 1u);
    EXPECT_EQ(writable, 0u);
}

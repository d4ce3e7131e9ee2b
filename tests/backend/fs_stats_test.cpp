// Volume statistics failures, FSINFO properties and PATHCONF values of a real export.
#include "handles_fixture.h"


#include "backend/fs_stats.h"
#include "exports/export_entry.h"
#include "settings/settings.h"

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

// With HardLinks on, FSINFO and PATHCONF show the volume's links on the
// wire (NfsDispatchTest VolumeFactsOfBothVersions); here the setting off, a
// read-only export and a stale handle.
TEST_F(HandlesTest, FsInfoAndPathConfWithoutLinksAndReadOnly)
{
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), 0, 022, &entry);
    FileAttributes attributes;
    AuthUnix who = caller;
    ServerSettings.HardLinks = 0;
    uint32_t properties = 0x1B;
    ASSERT_EQ(FsInfo(&root, &properties, &attributes, &who), 0u);
    EXPECT_EQ(properties, 0x1Au);
    EXPECT_EQ(attributes.type, 2u);
    uint32_t linkMaximum = 0, nameMaximum = 0, writable = 9;
    ASSERT_EQ(PathConf(&root, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 0u);
    EXPECT_EQ(linkMaximum, 1u);
    EXPECT_EQ(nameMaximum, entry->maxNameLength);
    EXPECT_EQ(writable, 1u);
    FileHandle readOnly = Mount(Win("data"), EXPORT_READONLY, 022);
    ASSERT_EQ(PathConf(&readOnly, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 0u);
    EXPECT_EQ(writable, 0u);

    FileHandle bad = root;
    bad.mark = 21;
    EXPECT_EQ(FsInfo(&bad, &properties, &attributes, &who), 70u);
    EXPECT_EQ(PathConf(&bad, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 70u);
}

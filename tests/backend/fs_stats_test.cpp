// Volume statistics of a vanished export, FSINFO properties and PATHCONF
// values of a real export.
#include "handles_fixture.h"

#include "backend/fs_stats.h"
#include "exports/export_entry.h"
#include "settings/settings.h"

// An export whose folder is gone cannot be asked.
TEST_F(HandlesTest, StatFsOfAVanishedRoot)
{
    MakeFolder("gone");
    FileHandle gone = Mount(Win("gone"), 0, 022);
    ASSERT_TRUE(RemoveDirectoryA(Win("gone").c_str()));
    uint64_t freeBlocks = 0, totalBlocks = 0;
    uint32_t blockSize = 0;
    EXPECT_EQ(StatFs(&gone, &freeBlocks, &totalBlocks, &blockSize), 5u);
    EXPECT_NE(LogText().find("nfs_statfs: " + Win("gone") + " error "), std::string::npos) << LogText();
}

// With HardLinks on, FSINFO and PATHCONF show the volume's links on the
// wire (NfsWire CallTable, FSINFO rows); here the setting off.
TEST_F(HandlesTest, FsInfoAndPathConfWithoutLinks)
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
    uint32_t linkMaximum = 0, nameMaximum = 0, writable = 0;
    ASSERT_EQ(PathConf(&root, &linkMaximum, &nameMaximum, &writable, &attributes, &who), 0u);
    EXPECT_EQ(linkMaximum, 1u);
    EXPECT_EQ(nameMaximum, entry->maxNameLength);
}

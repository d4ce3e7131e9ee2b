// Lookup of ".." at the top of a mount and of a volume, and of names in a
// lower-case export.
#include "exports/mount_table.h"
#include "handles_fixture.h"

#include <cstring>

#include "backend/lookup.h"
#include "exports/export_entry.h"
#include "platform/win32.h"
#include "settings/settings.h"

// A mounted subfolder is a top too, though its parent is known.  (".",
// ".." below and at the top of an export: NfsWire CallTable.)
TEST_F(HandlesTest, DotDotStopsAtAMountedSubfolder)
{
    MakeFolder("data/a/b");
    FileHandle sub = Mount(Win("data\\a"), 0, 022), b, up;
    ASSERT_EQ(LookupName(sub, "b", &b), 0u);
    ASSERT_EQ(LookupName(b, "..", &up), 0u);
    EXPECT_EQ(up.inode, sub.inode);
    EXPECT_EQ(LookupName(sub, "..", &up), 70u);
}

// The parent of a folder in the root of a volume is the volume's root, which
// keeps its backslash ("X:\", not "X:").
TEST_F(HandlesTest, DotDotReachesTheRootOfAVolume)
{
    const std::string temp = dir.win();
    ASSERT_GE(temp.size(), 4u);
    ASSERT_EQ(temp.substr(1, 2), ":\\");
    const std::string volumeRoot = temp.substr(0, 3);
    const std::string first = temp.substr(3, temp.find('\\', 3) - 3);
    FileHandle root = Mount(volumeRoot, 0, 022);
    FileHandle child, up;
    FileAttributes attributes;
    ASSERT_EQ(LookupName(root, first.c_str(), &child), 0u) << first;
    ASSERT_EQ(LookupName(child, "..", &up, &attributes), 0u);
    EXPECT_EQ(up.inode, root.inode);
    EXPECT_EQ(attributes.type, 2u);
    EXPECT_EQ(LookupName(root, "..", &up), 70u);
}

TEST_F(HandlesTest, LowercaseExportFindsFilesStoredInAnyCase)
{
    MakeFile("data/UPPER.TXT", "x");
    ExportEntry *entry = nullptr;
    FileHandle root = Mount(Win("data"), EXPORT_LOWERCASE, 022, &entry);
    FileHandle handle;
    FileAttributes attributes;
    ASSERT_EQ(LookupName(root, "UPPER.TXT", &handle, &attributes), 0u);
    EXPECT_EQ(attributes.size, 1u);
    ExportContext context;
    ASSERT_EQ(ExportContextById(root.mountId, &context), 1);
    char path[EXPORT_PATH_SIZE];
    ASSERT_NE(PathOfHandle(&context, handle.inode, path), nullptr);
    // The inode table stores the name as the client saw it, in lower case;
    // in file id mode Windows gives the name as it is on the volume.
    std::string text = path;
    const bool fileIdMode = (entry->flags & EXPORT_FILEID_MODE) != 0;
    EXPECT_EQ(text.substr(text.size() - 10), fileIdMode ? "\\UPPER.TXT" : "\\upper.txt");
}

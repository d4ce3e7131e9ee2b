// File id mode: inode numbers are NTFS file IDs, paths come back from
// Windows.  The POSIX layer has no OpenFileById, so these run only where
// Windows (or Wine) offers it.
#include "exports/mount_table.h"
#include "handles_fixture.h"

#include <cstring>

#include "exports/export_entry.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"

namespace {

std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

class FileIdTest : public HandlesTest {
protected:
    // Mounts data in file id mode; false when the volume cannot do it.
    bool MountFileIdMode(FileHandle *root)
    {
        ServerSettings.FileId = 1;
        ExportEntry *entry = nullptr;
        *root = Mount(Win("data"), 0, 022, &entry);
        return (entry->flags & EXPORT_FILEID_MODE) != 0;
    }
};

} // namespace

// Handles carry file IDs and paths come back; IDs a client makes up outside
// the export are stale.
TEST_F(FileIdTest, HandlesCarryFileIdsAndPathsComeBack)
{
    MakeFolder("data/sub/deeper");
    MakeFile("data/sub/file", "abc");
    MakeFile("outside", "secret");
    MakeFile("database", "x");
    FileHandle root;
    if (!MountFileIdMode(&root))
        GTEST_SKIP() << "no file id mode on this volume";
    EXPECT_EQ(root.inode, FileIdOfPath(Win("data").c_str()));
    FileHandle sub, file, deeper, up;
    FileAttributes attributes;
    ASSERT_EQ(LookupName(root, "sub", &sub), 0u);
    ASSERT_EQ(LookupName(sub, "file", &file, &attributes), 0u);
    EXPECT_EQ(file.inode, FileIdOfPath(Win("data\\sub\\file").c_str()));
    EXPECT_EQ(attributes.fileId, file.inode);
    EXPECT_EQ(attributes.size, 3u);

    ExportContext context;
    ASSERT_EQ(ExportContextById(file.mountId, &context), 1);
    char path[EXPORT_PATH_SIZE];
    ASSERT_NE(PathOfHandle(&context, file.inode, path), nullptr);
    EXPECT_EQ(Lower(path), Lower(Win("data\\sub\\file")));

    ASSERT_EQ(LookupName(sub, "deeper", &deeper), 0u);
    ASSERT_EQ(LookupName(deeper, "..", &up), 0u);
    EXPECT_EQ(up.inode, sub.inode);
    ASSERT_EQ(LookupName(sub, "..", &up), 0u);
    EXPECT_EQ(up.inode, root.inode);
    EXPECT_EQ(LookupName(root, "..", &up), 70u);
    // A client can make up any file ID of the volume.
    for (const char *name : {"outside", "database"}) {
        FileHandle forged;
        MakeHandle(FileIdOfPath(Win(name).c_str()), root.mountId, &forged);
        EXPECT_EQ(Attributes(forged, &attributes), 70u) << name;
    }
    FileHandle missing;
    MakeHandle(0x7FFFFFFFFFFFull, root.mountId, &missing);
    EXPECT_EQ(Attributes(missing, &attributes), 70u);
}

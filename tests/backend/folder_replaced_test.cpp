// A folder replaced by a link after its handles were given: the handles of
// the folder and of the files in it go stale instead of reaching the link's
// target, every look-up in it answers stale, whether or not the name exists
// behind the link, and it is not listed, so no answer tells anything about
// what lies outside.
#include "handles_fixture.h"

#include <filesystem>

#include "backend/directory_read.h"
#include "backend/unix_mode.h"
#include "support/host_link.h"

TEST_F(HandlesTest, LookupInAFolderReplacedByALinkIsStaleForEveryName)
{
    MakeFolder("data/sub");
    MakeFolder("outside/deeper");
    MakeFile("data/sub/file", "inside");
    MakeFile("outside/file", "outside");
    MakeFile("outside/only", "outside");
    FileHandle root = Mount(Win("data"), 0, 022);
    FileHandle sub, file, found;
    ASSERT_EQ(LookupName(root, "sub", &sub), 0u);
    ASSERT_EQ(LookupName(sub, "file", &file), 0u);
    std::filesystem::rename(dir.Native("data/sub"), dir.Native("data/moved"));
    ScopedHostLink link(Win("outside"), Win("data/sub"), true);
    if (!link.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    FileAttributes attributes;
    EXPECT_EQ(Attributes(file, &attributes), 70u);
    const char *names[] = {"file", "only", "deeper", "missing", ".", "..", "bad\\name"};
    for (const char *name : names)
        EXPECT_EQ(LookupName(sub, name, &found), 70u) << name;
    // Nor is it listed: the names behind the link stay unseen.
    uint64_t inode = 0, parent = 0;
    ExportContext context;
    EXPECT_EQ(DirHandleInfo(&sub, &inode, &parent, &context), 70u);
    if (Attributes(sub, &attributes) == 0) {
        EXPECT_EQ(attributes.type, static_cast<uint32_t>(FILE_TYPE_SYMLINK));
    }
    // Inside, the same names still answer as before.
    FileHandle moved;
    ASSERT_EQ(LookupName(root, "moved", &moved), 0u);
    EXPECT_EQ(LookupName(moved, "file", &found), 0u);
    EXPECT_EQ(LookupName(moved, "missing", &found), 2u);
    EXPECT_EQ(LookupName(moved, ".", &found), 0u);
    EXPECT_EQ(found.inode, moved.inode);
    EXPECT_EQ(DirHandleInfo(&moved, &inode, &parent, &context), 0u);
}

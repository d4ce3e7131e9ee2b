// Symbolic links as Windows shows them: reparse points that name changes act
// on as themselves, never on their targets.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

TEST(Symlinks, AreReparsePointsRemovedAsThemselves)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine 8 creates no symbolic links (CreateSymbolicLinkW returns TRUE, creates nothing)";
    TempDir dir;
    const std::string folder = dir.Win("target"), file = dir.Win("target\\file");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(Make(file, "kept"));
    const DWORD anyone = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    struct Case {
        const char *link;
        std::string target;
        DWORD flags;
        DWORD attributes;   // expected, beyond what may vary
        bool asFolder;      // removed with RemoveDirectory
    } cases[] = {
        {"folderlink", folder, SYMBOLIC_LINK_FLAG_DIRECTORY | anyone,
         FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, true},
        {"filelink", file, anyone, FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"dangling", dir.Win("nothing"), anyone, FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"relative", "target\\file", anyone, FILE_ATTRIBUTE_REPARSE_POINT, false},
    };
    for (const Case &c : cases) {
        const std::string link = dir.Win(c.link);
        if (!CreateSymbolicLinkA(link.c_str(), c.target.c_str(), c.flags))
            GTEST_SKIP() << "no right to create symbolic links here (error " << GetLastError() << ")";
        EXPECT_FALSE(CreateSymbolicLinkA(link.c_str(), c.target.c_str(), c.flags)) << c.link;
        const DWORD attributes = GetFileAttributesA(link.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << c.link;
        EXPECT_EQ(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY), c.attributes) << c.link;
        // The wrong kind of removal is refused.
        if (c.asFolder) {
            EXPECT_FALSE(DeleteFileA(link.c_str())) << c.link;
        } else {
            EXPECT_FALSE(RemoveDirectoryA(link.c_str())) << c.link;
        }
        EXPECT_TRUE(c.asFolder ? RemoveDirectoryA(link.c_str()) : DeleteFileA(link.c_str())) << c.link;
        EXPECT_EQ(GetFileAttributesA(link.c_str()), INVALID_FILE_ATTRIBUTES) << c.link;
        EXPECT_EQ(ReadAll(file), "kept") << c.link;
    }
}

// Symbolic links as Windows shows them: reparse points that name changes act
// on as themselves, never on their targets.
#include <gtest/gtest.h>

#include <string>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include <winioctl.h>
#endif

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
        // The link itself opens for its reparse data, never for data.
        HANDLE itself = Open(link, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
        ASSERT_NE(itself, INVALID_HANDLE_VALUE) << c.link;
        unsigned char data[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
        DWORD got = 0;
        ASSERT_TRUE(DeviceIoControl(itself, FSCTL_GET_REPARSE_POINT, nullptr, 0, data, sizeof data, &got, nullptr))
            << c.link;
        CloseHandle(itself);
        ASSERT_GE(got, 20u);
        EXPECT_EQ(data[0] | data[1] << 8 | data[2] << 16 | (unsigned)data[3] << 24, IO_REPARSE_TAG_SYMLINK);
        const bool relative = c.target[1] != ':';
        EXPECT_EQ(data[16], relative ? 1u : 0u) << c.link;
        const unsigned printOffset = data[12] | data[13] << 8, printLength = data[14] | data[15] << 8;
        std::string print;
        for (unsigned i = 0; i < printLength; i += 2)
            print += static_cast<char>(data[20 + printOffset + i]);
        EXPECT_EQ(print, c.target) << c.link;
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

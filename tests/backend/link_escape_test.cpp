// Links inside an export never lead out of it: a lookup and a hard link's
// name stay where the export's folder really is.
#include "handles_fixture.h"

#include "backend/pinned_path.h"
#include "backend/unix_mode.h"
#include "fs/win_file_access.h"
#include "settings/settings.h"
#include "support/host_link.h"

using HostLink = ScopedHostLink;

// A name that is a link gives the link object (where SoftLinks shows it) or
// nothing, and never a way through to what lies behind it.
TEST_F(HandlesTest, LookupNeverWalksThroughALink)
{
    MakeFolder("outside");
    MakeFolder("data/sub");
    MakeFile("outside/passwd", "secret");
    MakeFile("data/sub/inner", "inside");
    HostLink out(Win("outside"), Win("data/out"), true);
    HostLink in(Win("data/sub"), Win("data/in"), true);
    HostLink file(Win("outside/passwd"), Win("data/passwd"), false);
    if (!out.made || !in.made || !file.made)
        GTEST_SKIP() << "this system makes no symbolic links for this user";
    FileHandle root = Mount(Win("data"), 0, 022);
    for (uint32_t softLinks : {1u, 7u}) {
        ServerSettings.SoftLinks = softLinks;
        for (const char *name : {"out", "in", "passwd"}) {
            FileHandle link, behind;
            FileAttributes attributes;
            if (LookupName(root, name, &link, &attributes) != 0)
                continue;  // refused
            EXPECT_EQ(attributes.type, static_cast<uint32_t>(FILE_TYPE_SYMLINK)) << name << " " << softLinks;
            EXPECT_NE(LookupName(link, "passwd", &behind), 0u) << name;
            EXPECT_NE(LookupName(link, "inner", &behind), 0u) << name;
        }
    }
    FileHandle sub, inner;
    ASSERT_EQ(LookupName(root, "sub", &sub), 0u);
    EXPECT_EQ(LookupName(sub, "inner", &inner), 0u);
}

// One file with names in two exports: each export's handle resolves to the
// name inside that export, whichever name the table met first.
TEST_F(HandlesTest, AHardLinkInTwoExportsResolvesInEach)
{
    MakeFolder("one");
    MakeFolder("two");
    MakeFile("one/first", "shared");
    ASSERT_TRUE(FsCreateHardLink(Win("two/second").c_str(), Win("one/first").c_str(), nullptr)) << GetLastError();
    FileHandle one = Mount(Win("one"), 0, 022);
    FileHandle two = Mount(Win("two"), 0, 022);
    FileHandle first, second;
    FileAttributes attributes;
    ASSERT_EQ(LookupName(one, "first", &first), 0u);
    ASSERT_EQ(LookupName(two, "second", &second), 0u);
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(Attributes(second, &attributes), 0u);
        EXPECT_EQ(attributes.size, 6u);
        ASSERT_EQ(Attributes(first, &attributes), 0u);
        EXPECT_EQ(attributes.links, 2u);
    }
    // Looked up again, the name in the second export gives the file's one
    // number, which must resolve there too.
    FileHandle again;
    ASSERT_EQ(LookupName(two, "second", &again), 0u);
    EXPECT_EQ(again.inode, first.inode);
    EXPECT_EQ(Attributes(again, &attributes), 0u);
}

// The folders a change is made in are held from the export's root down: none
// of them can be moved or removed while held, a link or junction on the way
// is refused, and so is a path that no longer leads to the judged folder.
TEST_F(HandlesTest, PinnedFoldersStayWhereTheyAre)
{
    MakeFolder("data/a/b");
    MakeFolder("data/c");
    PinnedPath pins;
    ASSERT_EQ(PinFolderPath(Win("data").c_str(), Win("data\\a\\b").c_str(), &pins), 0u);
    EXPECT_EQ(pins.folders.size(), 3u);
    for (const char *held : {"data\\a", "data\\a\\b"}) {
        EXPECT_FALSE(MoveFileA(Win(held).c_str(), Win("data\\moved").c_str())) << held;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << held;
    }
    EXPECT_FALSE(RemoveDirectoryA(Win("data\\a\\b").c_str()));
    BY_HANDLE_FILE_INFORMATION other;
    HANDLE c = CreateFileA(Win("data\\c").c_str(), 0, 7, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(c, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(GetFileInformationByHandle(c, &other));
    CloseHandle(c);
    EXPECT_EQ(PinFolderPath(Win("data").c_str(), Win("data\\a\\b").c_str(), &pins, &other), 70u);
    EXPECT_TRUE(pins.folders.empty());
    // Let go: the folders move again.
    ASSERT_EQ(PinFolderPath(Win("data").c_str(), Win("data\\a").c_str(), &pins), 0u);
    pins.Unpin();
    EXPECT_TRUE(MoveFileA(Win("data\\a").c_str(), Win("data\\moved").c_str()));
    if (RunningUnderWine())
        return;  // Wine 8 makes no symbolic links
    CreateSymbolicLinkA(Win("data\\l").c_str(), Win("data\\c").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if ((GetFileAttributesA(Win("data\\l").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        EXPECT_EQ(PinFolderPath(Win("data").c_str(), Win("data\\l").c_str(), &pins), 70u);
    }
}

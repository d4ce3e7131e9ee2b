// Links inside an export never lead out of it: a lookup and a hard link's
// name stay where the export's folder really is.
#include "handles_fixture.h"

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

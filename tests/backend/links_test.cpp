// Hard links, symbolic links, special files, and folders that are links:
// the server never acts on what a link leads to.
#include "handles_fixture.h"

#include <cstring>
#include <string>

#include "backend/links.h"
#include "backend/namespace_ops.h"
#include "fs/inode_table.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {
const uint8_t VERIFIER[8] = {9, 9, 9, 9, 9, 9, 9, 9};
} // namespace

// Links inside the export that lead out of it: every operation acts on the
// link name itself or fails, and the outside stays as it was.
TEST_F(HandlesTest, LinksLeadingOutsideGiveNoAccess)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine 8 creates no symbolic links (CreateSymbolicLinkW returns TRUE, creates nothing)";
    MakeFolder("outside");
    MakeFile("outside/secret", "secret");
    MakeFile("data/f", "mine");
    const DWORD folderFlag = SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    CreateSymbolicLinkA(Win("data\\esc").c_str(), Win("outside").c_str(), folderFlag);
    CreateSymbolicLinkA(Win("data\\fl").c_str(), Win("outside\\secret").c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    CreateSymbolicLinkA(Win("data\\dl").c_str(), Win("outside\\ghost").c_str(),
                        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if ((GetFileAttributesA(Win("data\\esc").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        GTEST_SKIP() << "no symbolic links can be made here";
    ServerSettings.SoftLinks = 3;  // symbolic links shown as links, reparse points included
    FileHandle root = Mount(Win("data"), 0, 022);
    // Handles of the link folder as a client could hold one (the inode
    // table is asked directly: lookup may well refuse to give it).
    FileHandle esc, f;
    MakeHandle(AddChild(static_cast<uint32_t>(root.inode), "esc"), root.mountId, &esc);
    ASSERT_EQ(LookupName(root, "f", &f), 0u);
    SetAttr truncate = {};
    truncate.setSize = 1;
    FileHandle out;
    FileAttributes attributes;
    struct Case {
        const char *what;
        uint32_t status;  // what is refused carries no particular status: 0 = must fail
    };
    Case refused[] = {
        {"create in link", CreateFileOp(&esc, "new", CREATE_HOW_UNCHECKED, nullptr, VERIFIER, &out, &attributes,
                                        &caller)},
        {"mkdir in link", MakeDirectory(&esc, "d", nullptr, &out, &attributes, &caller)},
        {"symlink in link", MakeSymlink(&esc, "s", nullptr, "x", 1, nullptr, nullptr, &caller)},
        {"mknod in link", MakeNode(&esc, "n", 7, nullptr, 0, 0, &out, &attributes, &caller)},
        {"rename into link", RenameOp(&root, "f", &esc, "f", &caller)},
        {"rename out of link", RenameOp(&esc, "secret", &root, "taken", &caller)},
        {"link into link", MakeLink(&f, &esc, "h", nullptr, nullptr, &caller)},
        {"remove in link", RemoveFile(&esc, "secret", &caller)},
        {"truncate through file link",
         CreateFileOp(&root, "fl", CREATE_HOW_UNCHECKED, &truncate, VERIFIER, &out, &attributes, &caller)},
        {"create through dangling link",
         CreateFileOp(&root, "dl", CREATE_HOW_UNCHECKED, nullptr, VERIFIER, &out, &attributes, &caller)},
        {"guarded create of dangling link",
         CreateFileOp(&root, "dl", CREATE_HOW_GUARDED, nullptr, VERIFIER, &out, &attributes, &caller)},
        {"mkdir of dangling link", MakeDirectory(&root, "dl", nullptr, &out, &attributes, &caller)},
        {"rmdir of folder link", RemoveDir(&root, "esc", &caller)},
    };
    for (const Case &c : refused)
        EXPECT_NE(c.status, 0u) << c.what;
    auto outsideIntact = [&](const char *when) {
        EXPECT_EQ(ReadFileBytes(dir.Native("outside/secret")), "secret") << when;
        for (const char *name : {"new", "d", "s", "n", "f", "h", "ghost"})
            EXPECT_FALSE(FileExists(dir.Native(std::string("outside/") + name))) << when << " " << name;
        EXPECT_TRUE(FileExists(dir.Native("data/f"))) << when;
    };
    outsideIntact("refused");

    // READLINK gives the link's text; the server resolves nothing.
    char text[SYMLINK_TEXT_MAX + 1];
    uint32_t length = 0;
    ASSERT_EQ(ReadLink(&esc, text, SYMLINK_TEXT_MAX, &length), 0u);
    const std::string shown(text, length);
    EXPECT_EQ(shown.substr(0, 1), "/");
    EXPECT_EQ(shown.substr(shown.size() - 8), "/outside") << shown;
    CreateSymbolicLinkA(Win("data\\rel").c_str(), "f\\..\\f", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    FileHandle rel;
    MakeHandle(AddChild(static_cast<uint32_t>(root.inode), "rel"), root.mountId, &rel);
    ASSERT_EQ(ReadLink(&rel, text, SYMLINK_TEXT_MAX, &length), 0u);
    EXPECT_EQ(std::string(text, length), "f/../f");

    // What acts on the link name moves or removes the link alone.
    EXPECT_EQ(RenameOp(&root, "esc", &root, "esc2", &caller), 0u);
    EXPECT_EQ(RemoveFile(&root, "esc2", &caller), 0u);
    EXPECT_EQ(RemoveFile(&root, "dl", &caller), 0u);
    EXPECT_EQ(RenameOp(&root, "f", &root, "fl", &caller), 0u);  // replaces the link, not its target
    EXPECT_EQ(ReadFileBytes(dir.Native("data/fl")), "mine");
    MakeFile("data/f", "mine");
    outsideIntact("link names changed");
    EXPECT_TRUE(FileExists(dir.Native("outside")));
}

// Symbolic links kept as reparse points: made and read back as sent, as a
// file or a folder link by their target.
#include "handles_fixture.h"

#include <string>

#include "backend/links.h"
#include "backend/links_reparse.h"
#include "exports/exports_paths.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

// The client's form of a Windows path.
std::string ClientForm(const std::string &windows)
{
    char out[1024];
    return ToClientPath(windows.c_str(), out, sizeof out) ? out : "";
}

} // namespace

class ReparseLinksTest : public HandlesTest {
protected:
    void SetUp() override
    {
        HandlesTest::SetUp();
        if (RunningUnderWine())
            GTEST_SKIP() << "Wine 8 sets no reparse data (FSCTL_SET_REPARSE_POINT fails with error 50)";
        ServerSettings.SoftLinks = 2;
        MakeFolder("data/target");
        MakeFile("data/target/file", "kept");
        root = Mount(Win("data"), 0, 022);
    }
    uint32_t Symlink(const char *name, const std::string &text, FileHandle *link = nullptr)
    {
        FileAttributes attributes;
        return MakeSymlink(&root, name, nullptr, text.data(), static_cast<uint32_t>(text.size()), link,
                           link != nullptr ? &attributes : nullptr, &caller);
    }
    FileHandle root;
};

TEST_F(ReparseLinksTest, TextRoundTripsAsSent)
{
    const std::string cases[] = {ClientForm(Win("data\\target")), ClientForm(Win("data\\target\\file")),
                                 "target/file", "../elsewhere/x.d", "missing"};
    int n = 0;
    for (const std::string &text : cases) {
        const std::string name = "l" + std::to_string(n++);
        FileHandle link;
        ASSERT_EQ(Symlink(name.c_str(), text, &link), 0u) << text;
        const DWORD attributes = GetFileAttributesA(Win("data\\" + name).c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << text;
        char buffer[SYMLINK_TEXT_MAX + 1];
        uint32_t length = 0;
        ASSERT_EQ(ReadLink(&link, buffer, SYMLINK_TEXT_MAX, &length), 0u) << text;
        EXPECT_EQ(std::string(buffer, length), text);
        FileAttributes shown;
        ASSERT_EQ(Attributes(link, &shown), 0u);
        EXPECT_EQ(shown.type, 5u) << text;
    }
    EXPECT_EQ(Symlink("l0", "other"), 17u);
}

TEST_F(ReparseLinksTest, TargetDecidesFileOrFolder)
{
    const std::string link = Win("data\\link");
    struct Case {
        uint32_t kind;
        std::string target;
        bool folder;
    } cases[] = {
        {REPARSE_LINK_ABSOLUTE, Win("data\\target"), true}, {REPARSE_LINK_ABSOLUTE, Win("data\\target\\file"), false},
        {REPARSE_LINK_RELATIVE, "target", true},          {REPARSE_LINK_RELATIVE, "target\\file", false},
        {REPARSE_LINK_MOUNT_POINT, Win("data\\target\\file"), true}, {REPARSE_LINK_RELATIVE, "gone\\x.d", false},
        {REPARSE_LINK_RELATIVE, "x.D", false},            {REPARSE_LINK_RELATIVE, "x.txt", true},
        {REPARSE_LINK_RELATIVE, "a.b.d", true},           {REPARSE_LINK_RELATIVE, "noext", true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TargetIsDirectory(c.kind, c.target.c_str(), link.c_str()), c.folder) << c.target;
}

// The name checks with their substitutions, an export whose volume cannot be
// examined and the folder the editor hands over.
#include <string>

#include "exports_fixture.h"
#include "settings/settings.h"

namespace {

// CheckName on a copy: the result and the rewritten name ("" when rejected).
std::string Checked(const char *name, uint8_t colon = 0, uint8_t question = 0)
{
    char buffer[256];
    snprintf(buffer, sizeof(buffer), "%s", name);
    return CheckName(buffer, sizeof buffer, colon, question) ? std::string(buffer) : std::string("<rejected>");
}

} // namespace

TEST_F(ExportsTest, CheckNameSubstitutes)
{
    EXPECT_EQ(Checked(""), "");
    EXPECT_EQ(Checked("plain name.txt"), "plain name.txt");
    EXPECT_EQ(Checked("a:b"), "<rejected>");
    EXPECT_EQ(Checked("a:b?", '_', '!'), "a_b!");
    EXPECT_EQ(Checked("a?b", '_'), "<rejected>");  // no second character, no CharMap entry
    CharMap[static_cast<unsigned char>('?')] = '#';
    CharMap[static_cast<unsigned char>('*')] = '+';
    EXPECT_EQ(Checked("a?b*", '_'), "a#b+");
    EXPECT_EQ(Checked("tab\there"), "<rejected>");
    EXPECT_EQ(Checked("del\x7f"), "<rejected>");
    // A -sub: character that is itself forbidden stands for nothing.
    EXPECT_EQ(Checked("a:b", '\\'), "<rejected>");
    CharMap[static_cast<unsigned char>(':')] = '_';
    EXPECT_EQ(Checked("a:b", '/'), "a_b");
}

TEST_F(ExportsTest, CheckNameNeverMakesDotsOnly)
{
    EXPECT_EQ(Checked("..", '_'), "..");  // the callers handle "." and ".." themselves
    EXPECT_EQ(Checked("::", '.'), "<rejected>");
    EXPECT_EQ(Checked(":", '.'), "<rejected>");
    EXPECT_EQ(Checked(":x", '.'), ".x");
    CharMap[static_cast<unsigned char>('?')] = '.';
    EXPECT_EQ(Checked("??"), "<rejected>");
}

TEST_F(ExportsTest, CheckNameInAsciiMode)
{
    EXPECT_EQ(Checked("caf\xc3\xa9"), "caf\xc3\xa9");
    ServerSettings.CharSetActive = 0;
    EXPECT_EQ(Checked("caf\xc3\xa9"), "<rejected>");
    EXPECT_EQ(Checked("a:b", 0xE9), "<rejected>");  // the -sub: character is no ASCII
    EXPECT_EQ(AllowedChar(0xE9), 0);
    ServerSettings.CharSetActive = 2;
    EXPECT_EQ(AllowedChar(0xE9), 0xE9);
}

TEST_F(ExportsTest, ProbeVolumeOfAMissingDrive)
{
    uint32_t serial = 7, maxName = 7, flags = EXPORT_VOLUME_NTFS;
    EXPECT_EQ(ProbeVolume("\\\\?\\Q:\\x", &serial, &maxName, &flags), 0);
    EXPECT_EQ(flags & (EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID), static_cast<uint32_t>(EXPORT_LONG_PREFIX));
    // The volume GUID form is seen in the path, whatever the volume says.
    flags = 0;
    ProbeVolume("\\\\?\\volume{00000000-0000-0000-0000-000000000000}\\x", &serial, &maxName, &flags);
    EXPECT_EQ(flags & (EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID),
              static_cast<uint32_t>(EXPORT_LONG_PREFIX | EXPORT_VOLUME_GUID));
    // A load keeps an export whose volume cannot be examined, with its volume
    // facts zero and the bits of the path itself.
    Load("\\\\?\\Q:\\x -ro\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]->volumeSerial, 0u);
    EXPECT_EQ(entries[0]->maxNameLength, 0u);
    EXPECT_EQ(entries[0]->flags, static_cast<uint32_t>(EXPORT_READONLY | EXPORT_LONG_PREFIX));
}

// (That a folder gets its backslash shows in DialogWindow.ExportDialogAddsEditsAndTheFileFollows.)
TEST_F(ExportsTest, ResolveExportFolderAppendsTheBackslash)
{
    char full[6] = "Q:\\ab";
    ResolveExportFolder(full, sizeof(full));  // no room for it
    EXPECT_STREQ(full, "Q:\\ab");
    char missing[16] = "Q:\\ab";
    ResolveExportFolder(missing, sizeof(missing));
    EXPECT_STREQ(missing, "Q:\\ab\\");
}

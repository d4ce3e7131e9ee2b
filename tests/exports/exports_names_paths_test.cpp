// Names and paths: client and Windows path forms, address texts, the name
// checks with their substitutions, code page conversion, an export whose
// volume cannot be examined and the folder the editor hands over.
#include <cstring>
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

std::string Client(const char *windowsPath)
{
    char out[EXPORT_PATH_SIZE];
    EXPECT_TRUE(ToClientPath(windowsPath, out, sizeof(out))) << windowsPath;
    return out;
}

std::string Windows(const char *clientPath)
{
    char out[EXPORT_PATH_SIZE];
    EXPECT_TRUE(ToWindowsPath(clientPath, out, sizeof(out))) << clientPath;
    return out;
}

} // namespace

TEST_F(ExportsTest, ToClientPathForms)
{
    EXPECT_EQ(Client("C:\\data\\"), "/c/data");
    EXPECT_EQ(Client("C:\\"), "/c");
    EXPECT_EQ(Client("\\\\srv\\share"), "//srv/share");
    EXPECT_EQ(Client("\\\\?\\C:\\x"), "//?/c:/x");
    ServerSettings.Lowercase = 0;
    EXPECT_EQ(Client("C:\\data"), "/C/data");
    char small[4];
    EXPECT_EQ(ToClientPath("C:\\data", small, sizeof(small)), 0);
    EXPECT_STREQ(small, "");
}

TEST_F(ExportsTest, ToWindowsPathForms)
{
    EXPECT_EQ(Windows("/c/data"), "c:\\data");
    EXPECT_EQ(Windows("/c"), "c:\\");
    EXPECT_EQ(Windows("//srv/share/dir"), "\\\\srv\\share\\dir");
    EXPECT_EQ(Windows("//?/c:/x"), "\\\\?\\c:\\x");
    EXPECT_EQ(Windows("c:"), "c:\\");
    EXPECT_EQ(Windows("/data/x"), "\\data\\x");
    // In place, and growing by a character.
    char buffer[EXPORT_PATH_SIZE] = "/c";
    EXPECT_EQ(ToWindowsPath(buffer, buffer, sizeof(buffer)), 1);
    EXPECT_STREQ(buffer, "c:\\");
    char small[3];
    EXPECT_EQ(ToWindowsPath("/c", small, sizeof(small)), 0);
    std::string tooLong(EXPORT_PATH_SIZE, 'a');
    char out[EXPORT_PATH_SIZE];
    EXPECT_EQ(ToWindowsPath(tooLong.c_str(), out, sizeof(out)), 0);
}

TEST_F(ExportsTest, AddressTexts)
{
    uint32_t address = 1;
    EXPECT_EQ(ParseAddress("192.168.1.10", &address), 1);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&address);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[3], 10);
    char text[16];
    EXPECT_STREQ(FormatAddress(address, text), "192.168.1.10");
    EXPECT_STREQ(FormatAddress(0xFFFFFFFFu, text), "255.255.255.255");
    const char *bad[] = {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.4 ", "1..3.4", "99999999999.1.1.1"};
    for (const char *t : bad) {
        address = 5;
        EXPECT_EQ(ParseAddress(t, &address), 0) << t;
        EXPECT_EQ(address, 0u) << t;
    }
}

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

TEST_F(ExportsTest, ConvertCodePageBothWays)
{
    char text[32] = "caf\xe9";
    EXPECT_EQ(ConvertCodePage(1, 1252, text, sizeof(text)), 5u);
    EXPECT_STREQ(text, "caf\xc3\xa9");
    EXPECT_EQ(ConvertCodePage(0, 1252, text, sizeof(text)), 4u);
    EXPECT_STREQ(text, "caf\xe9");
    // A result that fills the buffer is cut before its last byte, never in
    // the middle of a UTF-8 sequence.
    char small[6] = "ab\xe9\xe9";
    EXPECT_EQ(ConvertCodePage(1, 1252, small, sizeof(small)), 4u);
    EXPECT_STREQ(small, "ab\xc3\xa9");
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

TEST_F(ExportsTest, ResolveExportFolderAppendsTheBackslash)
{
    char path[EXPORT_PATH_SIZE];
    snprintf(path, sizeof(path), "%s", dir.win().substr(0, dir.win().size() - 1).c_str());
    ResolveExportFolder(path, sizeof(path));
    EXPECT_EQ(path, dir.win());  // a local folder keeps its name
    ResolveExportFolder(path, sizeof(path));
    EXPECT_EQ(path, dir.win());  // only one backslash

    char full[6] = "Q:\\ab";
    ResolveExportFolder(full, sizeof(full));  // no room for it
    EXPECT_STREQ(full, "Q:\\ab");
    char missing[16] = "Q:\\ab";
    ResolveExportFolder(missing, sizeof(missing));
    EXPECT_STREQ(missing, "Q:\\ab\\");
}

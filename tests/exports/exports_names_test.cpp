// Name checks and code page conversion.
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

TEST_F(ExportsTest, AllowedCharacters)
{
    for (int c : {int{'"'}, int{'*'}, int{'/'}, int{':'}, int{'<'}, int{'>'}, int{'?'}, int{'\\'}, int{'|'}, 0x7F,
                  0x1F, 0, 256, -1})
        EXPECT_EQ(AllowedChar(c), 0) << c;
    for (int c : {int{' '}, int{'a'}, int{'.'}, int{'#'}, int{'~'}, int{'_'}, 0x80, 0xFF})
        EXPECT_EQ(AllowedChar(c), c) << c;
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
    char exact[6] = "abc\xe9";
    EXPECT_EQ(ConvertCodePage(1, 1252, exact, sizeof(exact)), 5u);
    EXPECT_STREQ(exact, "abc\xc3\xa9");
    char empty[4] = "";
    EXPECT_EQ(ConvertCodePage(1, 1252, empty, sizeof(empty)), 0u);
}

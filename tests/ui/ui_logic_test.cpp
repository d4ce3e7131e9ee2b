// The deciding logic of the control window: language texts, command line,
// window place, and the rows of the views.
#include <cstring>

#include "exports/exports.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "ui/control.h"
#include "ui/language.h"
#include "ui/text_keys.h"
#include "ui/ui_strings.h"
#include "ui_fixture.h"

namespace {

using UiLogic = UiTest;

int GermanUser(void) { return 0x407; }

// A German user without a choice gets deutsch.ini; a missing file gives the
// built-in texts.
TEST_F(UiLogic, DefaultAndMissingLanguageFiles)
{
    UserLanguageId = GermanUser;
    UseLanguage("");
    EXPECT_EQ(CurrentLanguageName(), "Deutsch");
    UseLanguage("missing.ini");
    EXPECT_EQ(CurrentLanguageName(), "English");
}

TEST_F(UiLogic, GermanFileCoversEveryKeyAndTheTitleComesBack)
{
    UseLanguage("deutsch.ini");
    EXPECT_STREQ(Language.title, "Korvane NFS-Server");
    EXPECT_EQ(Text(35, "NFS_ERROR_2"), "NFS-Server konnte nicht gestartet werden");
    EXPECT_EQ(Text(50, "CHANGED").find("\n\n") != std::string::npos, true);  // escapes resolved
    char value[256];
    std::vector<std::string> missing;
    for (size_t i = 0; i < BuiltinTextCount; i++)
        if (!LanguageValue("Strings", BuiltinTexts[i].key, value, sizeof value))
            missing.push_back(std::string("Strings/") + BuiltinTexts[i].key);
    for (size_t d = 0; d < DialogTextCount; d++) {
        if (!LanguageValue("Strings", DialogTexts[d].captionKey, value, sizeof value))
            missing.push_back(std::string("Strings/") + DialogTexts[d].captionKey);
        for (size_t i = 0; i < DialogTexts[d].count; i++)
            if (!LanguageValue("Control", DialogTexts[d].controls[i].key, value, sizeof value))
                missing.push_back(std::string("Control/") + DialogTexts[d].controls[i].key);
    }
    for (size_t i = 0; i < TopMenuKeyCount; i++)
        if (!LanguageValue("Menu", TopMenuKeys[i].key, value, sizeof value))
            missing.push_back(std::string("Menu/") + TopMenuKeys[i].key);
    for (size_t i = 0; i < MenuItemKeyCount; i++)
        if (!LanguageValue("Menu", MenuItemKeys[i].key, value, sizeof value))
            missing.push_back(std::string("Menu/") + MenuItemKeys[i].key);
    EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing);

    UseLanguage("English");  // the built-in row: no such file
    EXPECT_STREQ(Language.title, UI_TITLE);
    EXPECT_EQ(Text(35, "NFS_ERROR_2"), STR_35);
}

TEST_F(UiLogic, CommandLine)
{
    EXPECT_EQ(SplitCommandLine("  -iconic \"C:\\My Data\" x\\\"y "),
              (std::vector<std::string>{"-iconic", "C:\\My Data", "x\"y"}));
    char data[1024] = "unchanged";
    std::string folder = Path("");
    StartOptions options = ParseStartOptions({"-ICONIC", "-other", folder, "-x"}, data, sizeof data);
    EXPECT_TRUE(options.iconic);
    EXPECT_TRUE(options.dataDirectory);
    EXPECT_EQ(std::string(data), folder + "\\");
    strcpy(data, "unchanged");
    options = ParseStartOptions({Path("missing"), folder}, data, sizeof data);
    EXPECT_FALSE(options.iconic || options.dataDirectory);
    EXPECT_STREQ(data, "unchanged");
}

TEST_F(UiLogic, WindowPlace)
{
    WindowPlace p = PlaceWindow((int32_t)0x80000000u, (int32_t)0x80000000u, 500, 250, 1024, 768, 112, 27);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    p = PlaceWindow(-1200, 100, 50, 10, 1024, 768, 112, 27);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 100);
    EXPECT_EQ(p.width, 112);
    EXPECT_EQ(p.height, 27);
    EXPECT_EQ(PlaceWindow(1019, 0, 500, 250, 1024, 768, 0, 0).x, 0);

}

TEST_F(UiLogic, ExportRowsShowOptionsAndClients)
{
    LoadExports("@ -name:data -readonly -umask:027 -maproot:0:0 -mapall:-2 -sub:95 -cache:5 -range 10.0.0.1 "
                "10.0.0.9\n\"@\\with blank\" -alldirs -exec -public -lowercase -hide -ci -uid:5:6\n");
    std::vector<ViewRow> rows = ExportRows();
    std::string base = Path("");
    EXPECT_EQ(RowsText(rows), base + "| -name:data -readonly -umask:027 -sub:95 -maproot:0:0 -mapall:65534 -cache:5 "
                                     "-range| 10.0.0.1 10.0.0.9\n" +
                                  base + "\\with blank| -ci -hide -lowercase -public -alldirs -exec -uid:5:6|\n||\n");
    EXPECT_EQ(rows.back().item, nullptr);
    EXPECT_EQ(CountedRows(VIEW_EXPORTS, rows), 2u);
    LoadExports("");
    EXPECT_EQ(RowsText(ExportRows()), "||\n");
}

}  // namespace

// The deciding logic of the control window: language texts, command line,
// window place, and the rows of the views.
#include "exports/exports.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "ui/control.h"
#include "ui/language.h"
#include "ui/main_view.h"
#include "ui/text_keys.h"
#include "ui/ui_strings.h"
#include "ui_fixture.h"

namespace {

using UiLogic = UiTest;

int GermanUser(void) { return 0x407; }

// A German user without a choice gets deutsch.ini; a missing file gives the
// built-in texts back.
TEST_F(UiLogic, DefaultAndMissingLanguageFiles)
{
    UserLanguageId = GermanUser;
    UseLanguage("");
    EXPECT_EQ(CurrentLanguageName(), "Deutsch");
    UseLanguage("missing.ini");
    EXPECT_EQ(CurrentLanguageName(), "English");
    EXPECT_EQ(std::string(Language.title) + "|" + Text(35, "NFS_ERROR_2"), std::string(UI_TITLE) + "|" + STR_35);
}

TEST_F(UiLogic, GermanFileCoversEveryKey)
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
    for (size_t d = 0; d < DialogTextCount; d++)
        if (!LanguageValue("Strings", DialogTexts[d].captionKey, value, sizeof value))
            missing.push_back(std::string("Strings/") + DialogTexts[d].captionKey);
    EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing);
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

// The service's command line as the installer and -install write it.
TEST_F(UiLogic, ServiceDataFolder)
{
    EXPECT_EQ(ServiceDataFolder("\"C:\\P\\nfsd_console.exe\" -service \"C:\\Program Data\\K\\\\\""), "C:\\Program Data\\K\\");
    EXPECT_EQ(ServiceDataFolder("\"C:\\P\\nfsd_console.exe\" -service \"D:\\data\""), "D:\\data\\");
}

// The service's exports view: the file's exports (listed by name or client
// path, or not at all), then what only the service lists.
TEST_F(UiLogic, ServedExportRows)
{
    LoadExports("@ -name:data\n@\\sub\n@\\gone\n");
    char sub[EXPORT_PATH_SIZE];
    ASSERT_TRUE(ToClientPath(Path("sub").c_str(), sub, sizeof sub));
    std::string shown;
    for (const ViewRow &row : ServedExportRows({{"/elsewhere", " -readonly", ""}, {sub, "", ""}, {"/data", "", ""}}))
        shown += row.columns[0] + "|" + row.columns[1] + (row.item != nullptr ? "|entry\n" : "\n");
    EXPECT_EQ(shown, Path("") + "| -name:data|entry\n" + Path("sub") + "||entry\n" + Path("gone") +
                         "||entry\n/elsewhere| -readonly\n|\n");
}

}  // namespace

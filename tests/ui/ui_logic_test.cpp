// The deciding logic of the control window: language texts, command line,
// window place, refresh counting, and the rows and commands of the views.
#include <cstring>

#include "exports/exports.h"
#include "mount/mount_table.h"
#include "server/services.h"
#include "settings/settings.h"
#include "ui/control.h"
#include "ui/language.h"
#include "ui/text_keys.h"
#include "ui/ui_strings.h"
#include "support/data_directory.h"
#include "ui_fixture.h"

namespace {

using UiLogic = UiTest;

int GermanUser(void) { return 0x407; }

TEST_F(UiLogic, EscapesOfLanguageValues)
{
    const struct {
        const char *in, *out;
    } cases[] = {{"a\\tb", "a\tb"}, {"a\\nb", "a\nb"}, {"a\\\\b", "a\\b"}, {"a\\xb", "axb"}, {"ab\\", "ab"}};
    for (const auto &c : cases) {
        char text[32];
        strcpy(text, c.in);
        ResolveEscapes(text);
        EXPECT_STREQ(text, c.out) << c.in;
    }
}

TEST_F(UiLogic, BuiltinTextsWithoutLanguageFile)
{
    EXPECT_STREQ(Language.title, UI_TITLE);
    EXPECT_EQ(Text(32, "READY"), "Ready on Port");
    EXPECT_EQ(Text(0, "NFS"), "");  // a key without built-in text
    EXPECT_EQ(CurrentLanguageName(), "English");
    for (size_t i = 0; i < BuiltinTextCount; i++)
        EXPECT_STREQ(BuiltinText(BuiltinTexts[i].id), BuiltinTexts[i].text) << BuiltinTexts[i].id;
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

TEST_F(UiLogic, GermanUserGetsTheGermanFileByDefault)
{
    UserLanguageId = GermanUser;
    UseLanguage("");
    EXPECT_EQ(CurrentLanguageName(), "Deutsch");
    UseLanguage("missing.ini");
    EXPECT_EQ(CurrentLanguageName(), "English");
}

TEST_F(UiLogic, LanguageListAndAuthors)
{
    std::vector<LanguageRow> rows = ListLanguages();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].file, "Deutsch.ini");  // first letter upper-cased
    EXPECT_EQ(rows[0].language, "Deutsch");
    EXPECT_EQ(rows[1].file, "English");
    EXPECT_EQ(rows[1].version, UI_VERSION);
    EXPECT_EQ(LanguageAuthor("deutsch.ini"), "Korvane-Entwicklerteam");
    EXPECT_EQ(LanguageAuthor("English"), "");
    // A file that declares English replaces the built-in row.
    snprintf(ProgramDirectory, sizeof ProgramDirectory, "%s", dir.win().c_str());
    CreateDirectoryA(dir.Win("Languages").c_str(), nullptr);
    WriteFileBytes(dir.Native("Languages/uk.ini"), "[Common]\r\nLANGUAGE=english\r\n");
    WriteFileBytes(dir.Native("Languages/none.ini"), "[Common]\r\nVERSION=1\r\n");
    rows = ListLanguages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].file, "Uk.ini");
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

TEST_F(UiLogic, WindowPlaceAndRefreshCounting)
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
    EXPECT_EQ(PlaceWindow(1018, 0, 500, 250, 1024, 768, 0, 0).x, 1018);

    RefreshState state;
    std::vector<int32_t> posted;
    for (int i = 0; i < 4; i++)
        posted.push_back(RefreshTick(state));
    EXPECT_EQ(posted, (std::vector<int32_t>{1, 2, 2, 3}));  // every second tick
    state.shownMounts = 1;
    EXPECT_EQ(RefreshTick(state), 4);  // every tick with mounts shown
    RefreshHandled(state);
    EXPECT_EQ(state.counter, 3);
    state.counter = 0;
    RefreshHandled(state);
    EXPECT_EQ(state.counter, 0);
}

TEST_F(UiLogic, StatusTexts)
{
    EXPECT_EQ(BottomBarText(SERVICES_RUNNING, 2049), " Ready on Port 2049");
    EXPECT_EQ(BottomBarText(SERVICES_MOUNT_FAILED, 2049), " Failed to start NFS server");
    EXPECT_EQ(StartFailureText(SERVICES_MOUNT_FAILED), "Failed to start Mount server");
    EXPECT_EQ(StartFailureText(SERVICES_PORTMAPPER_FAILED), "Failed to start PortMapper");
    EXPECT_EQ(StartFailureText(SERVICES_STOPPED), "");
    EXPECT_EQ(TopBarText(VIEW_EXPORTS, 0), " 0 Entries");
    EXPECT_EQ(TopBarText(VIEW_MOUNTS, 2), " 2 Clients");
    UseLanguage("deutsch.ini");
    EXPECT_EQ(TopBarText(VIEW_EXPORTS, 3), " 3 Eintr\xe4ge");
    EXPECT_EQ(StartFailureText(SERVICES_BACKEND_FAILED), "Initialisierung der Inode-Tabelle fehlgeschlagen");
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

TEST_F(UiLogic, MountRowsAndDisconnect)
{
    LoadExports("@\n");
    Mount("10.0.0.7", MOUNT_KIND_TCP | MOUNT_KIND_WEBNFS | MOUNT_KIND_AUTO);
    Mount("10.0.0.8", MOUNT_KIND_UDP);
    std::vector<ViewRow> rows = MountRows(true);
    EXPECT_EQ(RowsText(rows), Path("") + "|udp|host-10.0.0.8\n" + Path("") + "|tcp public auto|host-10.0.0.7\n");
    EXPECT_EQ(RowsText(MountRows(false)), Path("") + "|udp|10.0.0.8\n" + Path("") + "|tcp public auto|10.0.0.7\n");
    EXPECT_EQ(MountTypeText(0x42), "");

    // The first selected row still in the table goes; one per command.
    MountRecord *gone = static_cast<MountRecord *>(rows[0].item);
    ASSERT_EQ(MountRemove(gone), 1);
    EXPECT_EQ(DisconnectSelectedMount({gone, rows[1].item}), 1);
    EXPECT_EQ(MountCount(), 0u);
    EXPECT_EQ(DisconnectSelectedMount({nullptr, rows[1].item}), -1);
}

TEST_F(UiLogic, RemoveExportRewritesTheFile)
{
    LoadExports("# kept\n@\\a\n@\\b 10.1.1.1\n");
    std::vector<ViewRow> rows = ExportRows();
    EXPECT_EQ(RemoveSelectedExport({rows[2].item}), -1);  // the empty row ends the command
    EXPECT_EQ(RemoveSelectedExport({rows[0].item, rows[1].item}), 0);
    EXPECT_EQ(RemoveSelectedExport({rows[0].item, rows[1].item}), 1);  // the first is gone already
    EXPECT_EQ(ExportFirst(), nullptr);
    EXPECT_EQ(WithoutCarriageReturns(ReadFileBytes(dir.Native("exports"))), "# kept\n");
    EXPECT_NE(ReadFileBytes(dir.Native("exports.old")).find("10.1.1.1"), std::string::npos);
}

TEST_F(UiLogic, ColumnWidths)
{
    int widths[3];
    MainColumnWidths(420, 20, widths);
    EXPECT_EQ(widths[0], 200);
    EXPECT_EQ(widths[1], 100);
    EXPECT_EQ(widths[2], 100);
    EXPECT_EQ(ColumnWidths(10, 20, {50}), (std::vector<int>{0}));
}

}  // namespace

// The decisions behind the dialogs: the export dialog's option and folder
// checks, the exports editor's saves, the preferences' settings rules and
// Apply, and the log viewer's rows and printed pages.
#include "exports/exports.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "support/data_directory.h"
#include "ui/export_dialog.h"
#include "ui/exports_editor.h"
#include "ui/log_viewer.h"
#include "ui/preferences.h"
#include "ui/resource.h"
#include "ui_fixture.h"

namespace {

using Dialogs = UiTest;

// The export dialog refuses a folder that is a file, missing, no path or
// empty, and cuts what follows a folder's name.
TEST_F(Dialogs, FolderCheck)
{
    WriteFileBytes(dir.Native("plain"), "x");
    const struct {
        std::string folder;
        FolderCheck result;
    } rows[] = {{Path("") + "\\ \t", FOLDER_OK},      {Path("plain"), FOLDER_IS_FILE}, {Path("missing"), FOLDER_MISSING},
                {"data", FOLDER_BAD_SYNTAX}, {"  ", FOLDER_EMPTY}};
    for (const auto &row : rows) {
        std::string folder = row.folder;
        EXPECT_EQ(CheckFolder(folder), row.result) << row.folder;
    }
}

TEST_F(Dialogs, EditorSavesWholeFilesAndKeepsTheOldOne)
{
    WriteFileBytes(dir.Native("exports"), "# head\r\n@ -readonly\rjunk\nlast");
    ExportsSnapshot opened = OpenExportsFile();
    EXPECT_EQ(opened.text, "# head\r\n@ -readonly\r\nlast\r\n");
    ASSERT_EQ(SaveExportsText("# new\r\n" + Path("") + "\r\n", opened, false), SAVE_DONE);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports")), "# new\r\n" + Path("") + "\r\n");
    EXPECT_EQ(ReadFileBytes(dir.Native("exports.old")), "# head\r\n@ -readonly\rjunk\nlast");
    EXPECT_FALSE(FileExists(dir.Native("exports.new")));
    ASSERT_NE(ExportFirst(), nullptr);  // reloaded

    // Without a file the editor opens empty and a save creates it.
    remove(dir.Native("exports").c_str());
    opened = OpenExportsFile();
    EXPECT_EQ(opened.text, "");
    EXPECT_EQ(SaveExportsText("# first\r\n", opened, false), SAVE_DONE);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports")), "# first\r\n");
}

TEST_F(Dialogs, ReplacementIsAllOrNothing)
{
    WriteFileBytes(dir.Native("exports"), "old\r\n");
    WriteFileBytes(dir.Native("exports.old"), "older\r\n");
    auto halfThenFail = [](FILE *out, void *) { return fputs("half", out) >= 0 ? 0 : 0; };
    EXPECT_EQ(ReplaceDataFile(dir.Win("exports").c_str(), dir.Win("exports.old").c_str(), "w", halfThenFail,
                              nullptr),
              0);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports")), "old\r\n");
    EXPECT_EQ(ReadFileBytes(dir.Native("exports.old")), "older\r\n");
    EXPECT_FALSE(FileExists(dir.Native("exports.new")));
}

TEST_F(Dialogs, SettingsPagesRules)
{
    ServerSettingsRecord s = {};
    s.Threads = 4;
    s.Datasize = 8192;
    s.NFS3Write = 0x10 | 1;
    s.SoftLinks = 1;
    s.HardLinks = 1;
    s.CharSet = 2;
    PageControls nfs = ControlsFromSettings(IDD_PAGE_NFS, s);
    EXPECT_TRUE(nfs.checks[IDC_UTF8]);
    s.TcpTransferSize = 1048576;
    // Numbers out of range or not numbers are refused, never clamped.
    const struct {
        const char *threads, *datasize, *port;
        int bad;
    } cases[] = {{"32", "65536", " 0 ", 0},          {"1", "4096", "65535", 0},     {"33", "8192", "2049", IDC_THREADS},
                 {"4", "100", "2049", IDC_DATASIZE}, {"4", "8192", "", IDC_PORT}, {"abc", "8192", "1", IDC_THREADS},
                 {"4", "99999999999", "1", IDC_DATASIZE}};
    for (const auto &c : cases) {
        nfs.texts[IDC_THREADS] = c.threads;
        nfs.texts[IDC_DATASIZE] = nfs.texts[IDC_TCPSIZE] = c.datasize;
        nfs.texts[IDC_PORT] = c.port;
        NumberField bad = {};
        EXPECT_EQ(FindBadNumberField(IDD_PAGE_NFS, nfs, &bad) ? bad.id : 0, c.bad) << c.threads << c.datasize << c.port;
    }
    nfs.checks[IDC_V2] = nfs.checks[IDC_V3] = false;
    ApplyBoxRule(IDC_V3, nfs);
    EXPECT_TRUE(nfs.checks[IDC_V2]);
    nfs.checks[IDC_UDP] = nfs.checks[IDC_TCP] = false;
    ApplyBoxRule(IDC_UDP, nfs);
    EXPECT_TRUE(nfs.checks[IDC_TCP]);
    nfs.checks[IDC_ANSI] = true;
    ApplyBoxRule(IDC_ANSI, nfs);
    EXPECT_FALSE(nfs.checks[IDC_UTF8]);
    nfs.checks[IDC_ANSI] = false;
    ServerSettingsRecord r = s;
    SettingsFromControls(IDD_PAGE_NFS, nfs, r);
    EXPECT_EQ(r.CharSet, 0u);

    PageControls server = ControlsFromSettings(IDD_PAGE_SERVER, s);
    EXPECT_TRUE(server.checks[IDC_NFS2WRITE]);
    server.checks[IDC_NFS2WRITE] = false;
    server.checks[IDC_NFS3WRITE] = true;
    server.checks[IDC_REPARSE] = true;
    server.checks[IDC_NTFS] = false;
    server.checks[IDC_HARD] = true;
    SettingsFromControls(IDD_PAGE_SERVER, server, r);
    EXPECT_EQ(r.NFS2Write, 2u);
    EXPECT_EQ(r.NFS3Write, 0x12u);  // the higher bits stay
    EXPECT_EQ(r.SoftLinks, 3u);
    EXPECT_EQ(r.HardLinks, 2u);
}

TEST_F(Dialogs, ApplyWritesOnlyChangesAndNeverOverAChangeOnDisk)
{
    LoadSettings("nfsd");
    WriteInt("nfsd", "Threads", 9, 4);  // a hand edit after the start
    ServerSettingsRecord shown = ServerSettings;
    std::map<std::string, int32_t> opened = StoredSettings();
    ServerSettingsRecord wanted = shown;
    wanted.MountPort = 1059;
    std::vector<std::string> conflicts;
    ASSERT_EQ(ApplySettings(shown, wanted, opened, false, &conflicts), APPLY_SAVED);
    EXPECT_EQ(ReadInt("nfsd", "Mount-Port", 0), 1059);
    EXPECT_EQ(ReadInt("nfsd", "Threads", 0), 9);  // not touched by the sheet: kept
    EXPECT_EQ(ServerSettings.MountPort, 1059);
    EXPECT_FALSE(FileExists(dir.Native("nfsd.ini.new")));

    // The port changed on disk while the sheet was open.
    opened = StoredSettings();
    WriteInt("nfsd", "Port", 3000, 2049);
    wanted.Port = 2050;
    ASSERT_EQ(ApplySettings(ServerSettings, wanted, opened, false, &conflicts), APPLY_CONFLICT);
    EXPECT_EQ(conflicts, (std::vector<std::string>{"Port"}));
    EXPECT_EQ(ReadInt("nfsd", "Port", 0), 3000);
    ASSERT_EQ(ApplySettings(ServerSettings, wanted, opened, true, &conflicts), APPLY_SAVED);
    EXPECT_EQ(ReadInt("nfsd", "Port", 0), 2050);
}

TEST_F(Dialogs, LogRowsAndPrintedPages)
{
    std::string line(1500, 'x');
    WriteFileBytes(dir.Native("nfsd2612.log"), "2026-12-01 10:00:00 first\r\n\r\na\r\n" + line + "\r\n");
    std::vector<LogRow> rows = ReadLogRows(dir.win(), "nfsd2612.log");
    ASSERT_EQ(rows.size(), 3u);  // lines under 3 characters skipped; the long line in two rows
    EXPECT_EQ(rows[1].text.size(), 1023u);
    EXPECT_EQ(rows[2].text.size(), 477u);
    EXPECT_EQ(ListLogFiles(dir.win(), "nfsd2701.log"), (std::vector<std::string>{"nfsd2612.log"}));
    EXPECT_EQ(ListLogFiles(dir.win() + "none\\", "nfsd2701.log"), (std::vector<std::string>{"nfsd2701.log"}));

    // Two copies of three pages, collated or not; the last page holds the rest.
    std::vector<unsigned> pages[2];
    for (bool collate : {true, false})
        for (const PrintedPage &p : PrintOrder(100, 40, 2, collate))
            pages[collate].push_back(p.number);
    EXPECT_EQ(pages[1], (std::vector<unsigned>{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(pages[0], (std::vector<unsigned>{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(PrintOrder(100, 40, 1, true)[2].lineCount, 20u);
}

}  // namespace

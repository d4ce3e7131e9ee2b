// Reading the exports file: every error code with its settings and log line,
// and the cases of the file format.
#include <cstring>
#include <string>

#include "exports_fixture.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

bool Contains(const std::string &text, const std::string &piece) { return text.find(piece) != std::string::npos; }

} // namespace

// --- error codes -----------------------------------------------------------

TEST_F(ExportsTest, MissingFileIsCode1WithLineZero)
{
    WriteInt("nfsd", "ExportsLine", 7, 0);
    ExportsLoad();
    EXPECT_EQ(StoredError(), 1);
    EXPECT_EQ(StoredLine(), 0);
    EXPECT_TRUE(ExportEntries().empty());
    EXPECT_TRUE(Contains(LogText(), "mountd: Failed to open exports file\n")) << LogText();
}

// A faulty line is skipped (or the entry dropped) with its code, its line
// number and its log line; what comes before and after it still loads.
TEST_F(ExportsTest, FaultyLinesGiveTheirCodeLineAndLogLine)
{
    const int Any = -1;
    struct Case {
        std::string text;
        std::vector<std::string> paths;  // the entries loaded
        int error, line;
        const char *log;                 // or null
        int firstClients, firstFlags;    // of the first entry, or Any
    };
    std::vector<Case> cases = {
        // A blank line ends the client list of C:\a, so host2 begins a line.
        {"C:\\a host1\n\nhost2 D:\\skipped\nE:\\b\n", {"C:\\a", "E:\\b"}, 3, 3,
         "mountd: Line 3 ignored, expected path\n", 1, Any},
        {"C:\\data -readonly\n-bogus host1\nD:\\x\n", {"D:\\x"}, 5, 2,
         "mountd: Line 2 ignored, unknown/invalid option -bogus\n", Any, Any},
        {"C:\\a host1\n   nosuchhost host2\nD:\\b\n", {"D:\\b"}, 6, 2,
         "mountd: Line 2 ignored, invalid client nosuchhost\n", Any, Any},
        {"C:\\a -range\nD:\\b\n", {"D:\\b"}, 6, 1, "mountd: Line 1 ignored, invalid client -range\n", Any, Any},
        // A netgroup written as in other servers' files must not open the
        // folder to every client.
        {"C:\\secret -ro @admins host2\nD:\\x\n", {"D:\\x"}, 6, 1,
         "mountd: Line 1 ignored, invalid client @admins\n", Any, Any},
        // An invalid word later ends the list with the clients read so far.
        {"C:\\data host1 @bad host2\nD:\\x\n", {"C:\\data", "D:\\x"}, 3, 1, nullptr, 1, Any},
        // An option after the clients ends the entry and is not applied.
        {"C:\\data host1 -ro\n", {"C:\\data"}, 3, 1, nullptr, 1, 0},
        // Options may follow on later lines, but a blank line ends the clients.
        {"C:\\data\n\n-ro\n# note\n-alldirs host1\n\nhost2\n", {"C:\\data"}, 3, 7, nullptr, 1,
         EXPORT_READONLY | EXPORT_ALLDIRS},
        {"C:\\data -ro host1\r\nhost2\r\n\r\nbad\r\n", {"C:\\data"}, 3, 4, nullptr, 2, EXPORT_READONLY},
    };
    // Words that are no path, client or option; a zero byte ends no word
    // early; an option knows no quotes.
    cases.push_back({"C:\\a host1 .x _y\nD:\\ok\n", {"C:\\a", "D:\\ok"}, 3, 1, nullptr, 1, Any});
    cases.push_back({std::string("C:\\a\0b x\nD:\\ok\n", 15), {"D:\\ok"}, 3, 1, nullptr, Any, Any});
    cases.push_back({"C:\\a -\"a b\"\n", {}, 5, 1, "unknown/invalid option -\"a\n", Any, Any});
    for (const char *path : {"C:data", "\\\\srv", "Volume{abc", "\\\\a|b\\share"})
        cases.push_back({std::string(path) + " host1\nD:\\ok\n", {"D:\\ok"}, 3, 1, nullptr, Any, Any});
    // Options match exactly and with their case.
    for (const char *option : {"-RO", "-readonlyx", "-umask"})
        cases.push_back({std::string("C:\\data ") + option + "\n", {}, 5, 1, nullptr, Any, Any});

    for (const Case &c : cases) {
        Load(c.text);
        std::vector<std::string> paths;
        for (const ExportEntry *e : ExportEntries())
            paths.push_back(e->path);
        EXPECT_EQ(paths, c.paths) << c.text;
        EXPECT_EQ(StoredError(), c.error) << c.text;
        EXPECT_EQ(StoredLine(), c.line) << c.text;
        if (c.log != nullptr) {
            EXPECT_TRUE(Contains(LogText(), c.log)) << c.text << LogText();
        }
        if (c.firstClients != Any) {
            EXPECT_EQ(ExportEntries().at(0)->options.clientCount, c.firstClients) << c.text;
        }
        if (c.firstFlags != Any) {
            EXPECT_EQ(ExportEntries().at(0)->flags & 0xFFFF, static_cast<uint32_t>(c.firstFlags)) << c.text;
        }
    }
}

TEST_F(ExportsTest, MoreThan128ClientsIsCode7KeepingTheFirst128)
{
    std::string text = "# header\nC:\\many";
    for (int i = 1; i <= 129; i++)
        text += " 10.0.0." + std::to_string(i) + (i % 10 == 0 ? "\n" : "");
    Load(text + "\nD:\\next\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 2u);
    ASSERT_EQ(entries[0]->options.clientCount, 128);
    EXPECT_EQ(StoredError(), 7);
    EXPECT_EQ(StoredLine(), 2);
    EXPECT_TRUE(Contains(LogText(), "mountd: Line 2 truncated, too many clients\n")) << LogText();
    EXPECT_EQ(ExportAdmits(entries[0], Addr("10.0.0.128")), 1);
    EXPECT_EQ(ExportAdmits(entries[0], Addr("10.0.0.129")), 0);
}

TEST_F(ExportsTest, IdenticalLinesAreCode8)
{
    Load("C:\\data -ro host1\n\nC:\\data -ro host1\nC:\\data -ro host2\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Clients(entries[1]), std::vector<std::string>{"192.168.1.2"});
    EXPECT_NE(entries[0]->options.exportId, entries[1]->options.exportId);
    EXPECT_EQ(StoredError(), 8);
    EXPECT_EQ(StoredLine(), 3);
    EXPECT_TRUE(Contains(LogText(), "mountd: Line 3 ignored, duplicate entry\n")) << LogText();
}

TEST_F(ExportsTest, LastErrorWinsAndACleanLoadClearsIt)
{
    Load("bad\nC:\\a\nD:\\b -nope\n");
    EXPECT_EQ(StoredError(), 5);
    EXPECT_EQ(StoredLine(), 3);
    std::string log = LogText();
    EXPECT_TRUE(Contains(log, "mountd: Line 1 ignored, expected path\n")) << log;
    EXPECT_TRUE(Contains(log, "mountd: Line 3 ignored, unknown/invalid option -nope\n")) << log;
    Load("C:\\a\n");
    EXPECT_EQ(StoredError(), 0);
    EXPECT_EQ(StoredLine(), 0);
}

// --- the file format -------------------------------------------------------

TEST_F(ExportsTest, CommentsEndTheirLine)
{
    Load("# exports\n  # indented\nC:\\data # host1\n -ro#x host2 # host3\n");
    EXPECT_EQ(StoredError(), 5);  // "-ro#x" is one option word
    Load("C:\\data # host1\n-ro host2 # host3\nD:\\x\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Clients(entries[0]), std::vector<std::string>{"192.168.1.2"});
    EXPECT_EQ(StoredError(), 0);
}

TEST_F(ExportsTest, QuotedPathsHoldBlanks)
{
    Load("\"C:\\My Data\" -alldirs -maproot:0:0\nC:\\a\" b\"\\c host1\n\"D:\\open\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0]->path, "C:\\My Data");
    EXPECT_EQ(entries[0]->flags & 0xFFFF, EXPORT_ALLDIRS | EXPORT_MAPROOT_UID | EXPORT_MAPROOT_GID);
    EXPECT_EQ(entries[0]->options.clientCount, 0);
    EXPECT_STREQ(entries[1]->path, "C:\\a b\\c");
    // The unclosed quote on line 3 makes its word invalid.
    EXPECT_EQ(StoredError(), 3);
    EXPECT_EQ(StoredLine(), 3);
}

TEST_F(ExportsTest, WordsLongerThan2047CharactersAreRejected)
{
    std::string longPath = "C:\\" + std::string(2045, 'x');  // 2048 characters
    Load(longPath + " host1\nD:\\x\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0]->path, "D:\\x");
    EXPECT_EQ(StoredError(), 3);
    EXPECT_EQ(StoredLine(), 1);

    std::string fits = "C:\\" + std::string(2044, 'y');  // 2047 characters
    Load(fits + "\n");
    entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(strlen(entries[0]->path), 2047u);
}

TEST_F(ExportsTest, PathsAreNormalised)
{
    Load("c:\\data\\\nd:\nE:\\\n\\\\srv\\share\\dir\\\n\\\\srv\\share\n\\\\?\\f:\\long\nVolume{1234}\\x\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_STREQ(entries[0]->path, "C:\\data");
    EXPECT_STREQ(entries[1]->path, "D:\\");
    EXPECT_STREQ(entries[2]->path, "E:\\");
    EXPECT_STREQ(entries[3]->path, "\\\\srv\\share\\dir");
    EXPECT_EQ(entries[3]->options.rootLength, 12u);
    EXPECT_STREQ(entries[4]->path, "\\\\srv\\share\\");
    EXPECT_STREQ(entries[5]->path, "\\\\?\\F:\\long");
    EXPECT_EQ(entries[5]->options.rootLength, 7u);
    EXPECT_NE(entries[5]->flags & EXPORT_LONG_PREFIX, 0u);
    EXPECT_STREQ(entries[6]->path, "Volume{1234}\\x");
    EXPECT_NE(entries[6]->flags & EXPORT_VOLUME_GUID, 0u);
    EXPECT_EQ(StoredError(), 0);
}

TEST_F(ExportsTest, RangesArePairsAndAnOddCountRepeatsTheLast)
{
    Load("C:\\net -range 10.0.0.1 10.0.0.9 10.0.0.20\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Clients(entries[0]), (std::vector<std::string>{"10.0.0.1", "10.0.0.9", "10.0.0.20", "10.0.0.20"}));
    for (const char *in : {"10.0.0.1", "10.0.0.5", "10.0.0.9", "10.0.0.20"})
        EXPECT_EQ(ExportAdmits(entries[0], Addr(in)), 1) << in;
    for (const char *out : {"10.0.0.0", "10.0.0.10", "10.0.0.19", "10.0.0.21", "11.0.0.5"})
        EXPECT_EQ(ExportAdmits(entries[0], Addr(out)), 0) << out;
    // Ranges compare in host order: 10.0.1.0 lies between 10.0.0.200 and 10.0.2.0.
    Load("C:\\net -range 10.0.0.200 10.0.2.0\n");
    EXPECT_EQ(ExportAdmits(ExportEntries()[0], Addr("10.0.1.0")), 1);
}

TEST_F(ExportsTest, ClientWordsResolve)
{
    Load("C:\\a 1.2.3.4 server host9 0.0.0.0\n");
    EXPECT_EQ(StoredError(), 6);  // 0.0.0.0 is taken as a host name, unknown here
    Load("C:\\a 1.2.3.4 server host9 001.002.003.004\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Clients(entries[0]), (std::vector<std::string>{"1.2.3.4", "10.1.2.3", "192.168.1.9", "1.2.3.4"}));
}

TEST_F(ExportsTest, OptionValuesThatAreIgnored)
{
    Load("C:\\a -umask:x -umask:8 -sub: -sub:92 -sub:95,47 -sub:300 -uid: -uid:x -maproot:: -name:d -name:a/b "
         "-name:1abc -name:a:b -name:a\\b -cache: -cache:99\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    const ExportEntry *e = entries[0];
    EXPECT_EQ(e->flags & ~EXPORT_VOLUME_BITS, 0u);
    EXPECT_EQ(e->options.umask, 022u);
    EXPECT_EQ(e->name, nullptr);
    EXPECT_EQ(e->options.cacheSize, 24u);  // never above the Cache setting
    EXPECT_EQ(StoredError(), 0);
    Load("C:\\a -umask:1777 -sub:95,0\n");
    EXPECT_EQ(ExportEntries()[0]->options.umask, 0777u);
    EXPECT_EQ(ExportEntries()[0]->options.subColon, '_');
    EXPECT_EQ(ExportEntries()[0]->options.subQuestion, 0);
}

TEST_F(ExportsTest, Utf8ModeConvertsPathAndNameFromTheCodePage)
{
    ServerSettings.CharSet = ServerSettings.CharSetActive = 2;
    ServerSettings.CodePage = 1252;
    Load("C:\\caf\xe9 -name:r\xe9sum\xe9\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0]->path, "C:\\caf\xc3\xa9");
    EXPECT_STREQ(entries[0]->name, "/r\xc3\xa9sum\xc3\xa9");
    char line[256];
    FormatExportText(line, sizeof(line), entries[0], 0);
    EXPECT_STREQ(line, "C:\\caf\xe9          -name:r\xe9sum\xe9\n");
}

TEST_F(ExportsTest, ReloadCarriesOverEntriesWithTheSameId)
{
    Load("C:\\a host1\nC:\\b host2\n");
    auto first = ExportEntries();
    ASSERT_EQ(first.size(), 2u);
    first[0]->options.mountCount = 3;
    first[0]->options.rootInode = 77;
    Load("C:\\b host2 host3\nC:\\a host1\n");
    auto second = ExportEntries();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1], first[0]);  // same record, now second in the table
    EXPECT_EQ(second[1]->options.mountCount, 3u);
    EXPECT_EQ(second[1]->options.rootInode, 77u);
    EXPECT_NE(second[0], first[1]);  // changed client list: a new record
    // The replaced record is kept intact for whoever still holds it.
    EXPECT_STREQ(first[1]->path, "C:\\b");
    EXPECT_EQ(Clients(first[1]), std::vector<std::string>{"192.168.1.2"});
}

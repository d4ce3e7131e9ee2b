// Writing the table back: ExportsSave, FormatExport, ExportRemove.
#include <string>
#include <vector>

#include "exports_fixture.h"
#include "settings/settings.h"

namespace {

// The file's lines without their line ends (CR LF or LF).
std::vector<std::string> Lines(const std::string &bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

const char kRichFile[] =
    "# Exports of the test server\n"
    "#   second comment line\n"
    "C:\\data -readonly -name:data 192.168.1.10 host2\n"
    "\"C:\\My Documents\" -alldirs -maproot:0:0\n"
    "D:\\pub -public -hide -ci -exec -lowercase -umask:027 -sub:95,33 -mapall:-2:-1 -uid:70000\n"
    "# a comment in the middle is not kept\n"
    "E:\\net -range -cache:4 10.0.0.1 10.0.0.9 10.0.0.20\n"
    "\\\\srv\\share\\dir -uid:1:2 server\n"
    "\\\\?\\F:\\long -maproot:5 host1\n"
    "Volume{0123}\\x\n";

} // namespace

// The save writes every option back in its own order and keeps the old file
// and the leading comments.
TEST_F(ExportsTest, SaveKeepsTheOldFileAndItsLeadingComments)
{
    Load(kRichFile);
    ASSERT_EQ(StoredError(), 0);
    ASSERT_EQ(ExportEntries().size(), 7u);
    ASSERT_EQ(ExportsSave(), 1);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports.old")), kRichFile);
    EXPECT_EQ(ReadExports().rfind("# Exports of the test server\r\n", 0), 0u);  // Windows line ends
    std::vector<std::string> lines = Lines(ReadExports());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "# Exports of the test server");
    EXPECT_EQ(lines[1], "#   second comment line");
    EXPECT_EQ(lines[2], "C:\\data          -name:data -readonly  192.168.1.10 192.168.1.2");
    EXPECT_EQ(lines[3], "\"C:\\My Documents\" -alldirs -maproot:0:0");
    EXPECT_EQ(lines[4], "D:\\pub           -ci -hide -lowercase -public -exec -umask:027 -sub:95,33 "
                        "-mapall:65534:65535 -uid:4464");
    EXPECT_EQ(lines[5], "E:\\net           -range -cache:4  10.0.0.1 10.0.0.9 10.0.0.20 10.0.0.20");
    EXPECT_EQ(lines[6], "\\\\srv\\share\\dir  -uid:1:2  10.1.2.3");
    EXPECT_EQ(lines[7], "\\\\?\\F:\\long      -maproot:5  192.168.1.1");
    EXPECT_EQ(lines[8], "Volume{0123}\\x  ");
    // Saved again: the same bytes, and the old file is the first save (that
    // a saved table reads back with the same ids, fuzz_exports_file holds).
    std::string saved = ReadExports();
    ASSERT_EQ(ExportsSave(), 1);
    EXPECT_EQ(ReadExports(), saved);
    EXPECT_EQ(ReadFileBytes(dir.Native("exports.old")), saved);
}

TEST_F(ExportsTest, LongAndUnterminatedCommentLinesStayWhole)
{
    std::string longComment = "#" + std::string(5000, 'c');
    Load(longComment + "\n#last comment without line end");
    ASSERT_EQ(ExportsSave(), 1);
    Load(ReadExports() + "C:\\a\n");  // an entry after the copied comments must stay an entry
    ASSERT_EQ(ExportsSave(), 1);
    std::vector<std::string> lines = Lines(ReadExports());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], longComment);
    EXPECT_EQ(lines[1], "#last comment without line end");
    EXPECT_EQ(lines[2], "C:\\a            ");
    EXPECT_EQ(ExportEntries().size(), 1u);
}

TEST_F(ExportsTest, RemoveRewritesTheFileAndKeepsTheEntry)
{
    Load("# head\nC:\\a host1\nC:\\b\nC:\\c\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 3u);
    entries[1]->options.mountCount = 2;
    EXPECT_EQ(ExportRemove(entries[1]), 1);
    EXPECT_EQ(ExportEntries(), (std::vector<ExportEntry *>{entries[0], entries[2]}));
    EXPECT_EQ(Lines(ReadExports()), (std::vector<std::string>{"# head", "C:\\a              192.168.1.1",
                                                               "C:\\c            "}));
    EXPECT_EQ(ExportRemove(entries[1]), 0);
    EXPECT_STREQ(entries[1]->path, "C:\\b");  // still readable by whoever holds it
    EXPECT_EQ(ExportRemove(entries[2]), 1);
    EXPECT_EQ(ExportRemove(entries[0]), 1);
    EXPECT_TRUE(ExportEntries().empty());
    EXPECT_EQ(Lines(ReadExports()), std::vector<std::string>{"# head"});
    // Removed records stay intact for whoever still holds them.
    Load("C:\\d\n");
    EXPECT_STREQ(entries[1]->path, "C:\\b");
    EXPECT_EQ(entries[1]->options.mountCount, 2u);
}

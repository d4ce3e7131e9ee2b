// Conformance of the private profile functions.  The same cases run against
// the POSIX implementation and, in the Windows build, against kernel32 (under
// Wine).  Windows is the reference: where Wine behaves otherwise the case
// names the Wine deviation and is skipped under Wine only.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

#define SKIP_WINE_DEVIATION(what)                                    \
    do {                                                             \
        if (RunningUnderWine())                                      \
            GTEST_SKIP() << "Wine deviation: " << (what);            \
    } while (0)

class Profile : public ::testing::Test {
protected:
    TempDir dir;
    std::string file = dir.Win("t.ini");
    std::string native = dir.Native("t.ini");

    void Put(const std::string &bytes) { WriteFileBytes(native, bytes); }
    std::string Bytes() { return FileExists(native) ? ReadFileBytes(native) : "<missing>"; }

    // The value and the returned count of one read.
    struct Result {
        DWORD count;
        std::string text;
    };
    Result Get(const char *section, const char *key, const char *def = "dflt", DWORD size = 200)
    {
        char buffer[256];
        memset(buffer, '#', sizeof buffer);
        DWORD n = GetPrivateProfileStringA(section, key, def, buffer, size, file.c_str());
        return {n, std::string(buffer, size == 0 ? 0 : n)};
    }
    // A list read: the raw bytes up to and including the returned count + 2.
    std::string List(const char *section, DWORD size, DWORD *count, char *raw)
    {
        memset(raw, '#', 256);
        *count = GetPrivateProfileStringA(section, nullptr, "", raw, size, file.c_str());
        return std::string(raw, *count);
    }
    BOOL Write(const char *section, const char *key, const char *value)
    {
        return WritePrivateProfileStringA(section, key, value, file.c_str());
    }
    UINT Int(const std::string &value, INT def = 7)
    {
        Put("[s]\r\n" + value + "\r\n");
        return GetPrivateProfileIntA("s", "k", def, file.c_str());
    }
};

// ---------------------------------------------------------------- reading

TEST_F(Profile, NamesAndValuesLoseSurroundingBlanksAndCase)
{
    Put("  [ Sec ]  \r\n  Key  =  some value \t \r\n\tTab\t=\tx\t\r\n");
    Result r = Get("sec", "KEY");
    EXPECT_EQ(r.text, "some value");
    EXPECT_EQ(r.count, 10u);
    EXPECT_EQ(Get("SEC", "tab").text, "x");
    // The names asked for lose their blanks too.
    EXPECT_EQ(Get(" sec ", " key ").text, "some value");
}

TEST_F(Profile, FirstSectionAndFirstKeyWin)
{
    Put("[s]\r\nk=1\r\nk=2\r\nx=0\r\n[S]\r\nk=3\r\ny=4\r\n");
    EXPECT_EQ(Get("s", "k").text, "1");
    // Only the first section of a name is searched.
    EXPECT_EQ(Get("s", "y").text, "dflt");
}

TEST_F(Profile, ValueMayContainEqualsAndInnerBlanks)
{
    Put("[s]\r\nk=a = b\r\nname with blanks=v\r\n");
    EXPECT_EQ(Get("s", "k").text, "a = b");
    EXPECT_EQ(Get("s", "name with blanks").text, "v");
}

TEST_F(Profile, MatchingQuotesAreRemoved)
{
    Put("[s]\r\nd=\"v\"\r\ns='v'\r\nmixed=\"v'\r\nopen=\"v\r\nempty=\"\"\r\ninner=\"a\"b\"\r\n"
        "blanks= \" v \" \r\nlone=\"\r\n");
    EXPECT_EQ(Get("s", "d").text, "v");
    EXPECT_EQ(Get("s", "s").text, "v");
    EXPECT_EQ(Get("s", "mixed").text, "\"v'");
    EXPECT_EQ(Get("s", "open").text, "\"v");
    EXPECT_EQ(Get("s", "empty").text, "");
    EXPECT_EQ(Get("s", "inner").text, "a\"b");
    // Blanks outside the quotes go, blanks inside stay.
    EXPECT_EQ(Get("s", "blanks").text, " v ");
    EXPECT_EQ(Get("s", "lone").text, "\"");
}

TEST_F(Profile, EmptyValueIsNotTheDefault)
{
    Put("[s]\r\nempty=\r\nblank =   \r\nnoequals\r\n");
    Result r = Get("s", "empty");
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(Get("s", "blank").text, "");
    // A line without "=" holds no value.
    EXPECT_EQ(Get("s", "noequals").text, "dflt");
}

TEST_F(Profile, DefaultLosesTrailingBlanksOnly)
{
    Put("[s]\r\nx=1\r\n");
    Result r = Get("s", "missing", "def  ");
    EXPECT_EQ(r.text, "def");
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(Get("s", "missing", "  def").text, "  def");
    EXPECT_EQ(Get("s", "missing", nullptr).text, "");
    EXPECT_EQ(Get("nosection", "x", "d2").text, "d2");
}

TEST_F(Profile, MissingFileGivesTheDefault)
{
    SetLastError(0);
    Result r = Get("s", "k", "fallback");
    EXPECT_EQ(r.text, "fallback");
    EXPECT_EQ(r.count, 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists(native));
    Put("");
    EXPECT_EQ(Get("s", "k", "fallback").text, "fallback");
}

TEST_F(Profile, CommentLineAnswersNoOtherKey)
{
    Put("; header comment\r\n[s]\r\n;k=commented\r\n  ; also=commented\r\nreal=1\r\n");
    EXPECT_EQ(Get("s", "k").text, "dflt");
    EXPECT_EQ(Get("s", "also").text, "dflt");
    EXPECT_EQ(Get("s", "real").text, "1");
}

TEST_F(Profile, LineEndsOfEveryKind)
{
    Put("[a]\nk=lf\n[b]\r\nk=crlf\r\n[c]\r\nk=last");
    EXPECT_EQ(Get("a", "k").text, "lf");
    EXPECT_EQ(Get("b", "k").text, "crlf");
    EXPECT_EQ(Get("c", "k").text, "last");
}

TEST_F(Profile, HeaderRules)
{
    // Text after "]" is ignored; "[" without "]" starts no section.
    Put("[s] trailing words\r\nk=v\r\n[broken\r\nj=w\r\n");
    EXPECT_EQ(Get("s", "k").text, "v");
    EXPECT_EQ(Get("broken", "j").text, "dflt");
    EXPECT_EQ(Get("s", "j").text, "w");
}

TEST_F(Profile, ValueIsCutToTheBuffer)
{
    Put("[s]\r\nk=abcdef\r\nq=\"abcdef\"\r\n");
    Result r = Get("s", "k", "d", 4);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(r.text, "abc");
    r = Get("s", "k", "d", 7);
    EXPECT_EQ(r.count, 6u);
    EXPECT_EQ(r.text, "abcdef");
    r = Get("s", "k", "d", 1);
    EXPECT_EQ(r.count, 0u);
    r = Get("s", "q", "d", 4);
    EXPECT_EQ(r.text, "abc");
    r = Get("s", "missing", "defaultvalue", 5);
    EXPECT_EQ(r.count, 4u);
    EXPECT_EQ(r.text, "defa");
}

TEST_F(Profile, SizeZeroWritesNothing)
{
    Put("[s]\r\nk=abcdef\r\n");
    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(GetPrivateProfileStringA("s", "k", "d", buffer, 0, file.c_str()), 0u);
    EXPECT_EQ(buffer[0], '#');
}

TEST_F(Profile, QuotedValueThatJustFits)
{
    SKIP_WINE_DEVIATION("a quoted value exactly as long as the buffer allows loses its last character");
    Put("[s]\r\nq=\"abcdef\"\r\n");
    Result r = Get("s", "q", "d", 7);
    EXPECT_EQ(r.count, 6u);
    EXPECT_EQ(r.text, "abcdef");
}

TEST_F(Profile, NulByteEndsAValue)
{
    Put(std::string("[s]\r\nk=a\0b\r\nj=w\r\n", 17));
    EXPECT_EQ(Get("s", "k").text, "a");
    EXPECT_EQ(Get("s", "j").text, "w");
}

std::string Utf16(const std::string &text, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

TEST_F(Profile, ByteOrderMarks)
{
    Put("\xEF\xBB\xBF[s]\r\nk=utf8\r\n");
    EXPECT_EQ(Get("s", "k").text, "utf8");
    Put(Utf16("[s]\r\nk=little\r\n", false));
    EXPECT_EQ(Get("s", "k").text, "little");
    Put(Utf16("[s]\r\nk=big\r\n", true));
    EXPECT_EQ(Get("s", "k").text, "big");
}

TEST_F(Profile, Utf16FileStaysUtf16)
{
    Put(Utf16("[s]\r\nk=v\r\n", false));
    EXPECT_TRUE(Write("s", "k", "w"));
    EXPECT_TRUE(Write("t", "j", "x"));
    EXPECT_EQ(Bytes(), Utf16("[s]\r\nk=w\r\n[t]\r\nj=x\r\n", false));
}

// ---------------------------------------------------------------- listing

TEST_F(Profile, NullKeyListsTheKeysThatHaveValues)
{
    Put("[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n[t]\r\nother=1\r\n");
    char raw[256];
    DWORD count;
    std::string list = List("s", 200, &count, raw);
    EXPECT_EQ(count, 18u);
    EXPECT_EQ(list, std::string("name1\0name2\0name4\0", 18));
    EXPECT_EQ(raw[18], '\0');
}

TEST_F(Profile, NullSectionListsTheSections)
{
    Put("[a]\r\nx=1\r\n[ bb ]\r\n[c]\r\n");
    char raw[256];
    memset(raw, '#', sizeof raw);
    DWORD count = GetPrivateProfileStringA(nullptr, nullptr, "", raw, 200, file.c_str());
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(std::string(raw, 8), std::string("a\0bb\0c\0\0", 8));
}

TEST_F(Profile, ListCutToTheBufferEndsInTwoZeros)
{
    Put("[s]\r\nalpha=1\r\nbeta=2\r\n");
    char raw[256];
    DWORD count;
    List("s", 9, &count, raw);
    EXPECT_EQ(count, 7u);  // size - 2
    EXPECT_EQ(std::string(raw, 8), std::string("alpha\0b\0", 8));
    EXPECT_EQ(raw[9], '#');  // nothing beyond the buffer
}

TEST_F(Profile, ListCutHasSecondZeroInLastByte)
{
    SKIP_WINE_DEVIATION("a cut list ends in one zero, the last byte of the buffer is left alone");
    Put("[s]\r\nalpha=1\r\nbeta=2\r\n");
    char raw[256];
    DWORD count;
    List("s", 9, &count, raw);
    EXPECT_EQ(raw[8], '\0');
}

// ---------------------------------------------------------------- integers

TEST_F(Profile, IntegerReading)
{
    EXPECT_EQ(Int("k=5"), 5u);
    EXPECT_EQ(Int("k= 42 "), 42u);
    EXPECT_EQ(static_cast<INT>(Int("k=-5")), -5);
    EXPECT_EQ(Int("k=+5"), 5u);
    EXPECT_EQ(Int("k=0x10"), 16u);
    EXPECT_EQ(Int("k=010"), 10u);  // no octal
    EXPECT_EQ(Int("k=12abc"), 12u);
    EXPECT_EQ(Int("k=1e3"), 1u);
    EXPECT_EQ(Int("k=\"9\""), 9u);
    // A value that is not a number reads as 0, not as the default.
    EXPECT_EQ(Int("k=abc"), 0u);
    EXPECT_EQ(Int("k=-"), 0u);
    // Missing or empty values give the default.
    EXPECT_EQ(Int("k="), 7u);
    EXPECT_EQ(Int("x=1"), 7u);
    EXPECT_EQ(Int("k"), 7u);
    EXPECT_EQ(static_cast<INT>(Int("x=1", -3)), -3);
    EXPECT_EQ(GetPrivateProfileIntA("s", "k", 11, dir.Win("none.ini").c_str()), 11u);
}

// ---------------------------------------------------------------- writing

TEST_F(Profile, WriteCreatesFileWithCrLf)
{
    EXPECT_TRUE(Write("s", "k", "v"));
    EXPECT_EQ(Bytes(), "[s]\r\nk=v\r\n");
    EXPECT_TRUE(Write("s", "empty", ""));
    EXPECT_EQ(Bytes(), "[s]\r\nk=v\r\nempty=\r\n");
    EXPECT_EQ(Get("s", "empty").text, "");
}

TEST_F(Profile, WriteReplacesValueAndKeepsTheName)
{
    Put("[S]\r\nK=old\r\nx=1\r\n");
    EXPECT_TRUE(Write("s", "k", "new"));
    EXPECT_EQ(Bytes(), "[S]\r\nK=new\r\nx=1\r\n");
}

TEST_F(Profile, WriteAddsKeyToItsSectionAndSectionAtTheEnd)
{
    Put("[a]\r\nx=1\r\n[b]\r\ny=2\r\n");
    EXPECT_TRUE(Write("a", "z", "3"));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2\r\n");
    EXPECT_TRUE(Write("c", "w", "4"));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2\r\n[c]\r\nw=4\r\n");
}

TEST_F(Profile, NewSectionAfterALastLineWithoutLineEnd)
{
    Put("[a]\r\nx=1");
    EXPECT_TRUE(Write("b", "y", "2"));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\n[b]\r\ny=2\r\n");
}

TEST_F(Profile, WriteKeepsCommentsBlankLinesAndLayout)
{
    SKIP_WINE_DEVIATION("a write rewrites the whole file: blank lines go and 'x = 1' becomes 'x=1'");
    Put("; settings\r\n[a]\r\n  x = 1 \r\n\r\n; note\r\ny=2\r\n\r\n[b]\r\nq=1\r\n");
    EXPECT_TRUE(Write("a", "y", "3"));
    EXPECT_EQ(Bytes(), "; settings\r\n[a]\r\n  x = 1 \r\n\r\n; note\r\ny=3\r\n\r\n[b]\r\nq=1\r\n");
    EXPECT_TRUE(Write("b", "q", nullptr));
    EXPECT_EQ(Bytes(), "; settings\r\n[a]\r\n  x = 1 \r\n\r\n; note\r\ny=3\r\n\r\n[b]\r\n");
}

TEST_F(Profile, WriteOfTheSameValueLeavesTheFileAlone)
{
    Put("[a]\r\n k = v \r\n");
    EXPECT_TRUE(Write("a", "k", "v"));
    EXPECT_EQ(Bytes(), "[a]\r\n k = v \r\n");
}

TEST_F(Profile, NullValueDeletesTheKey)
{
    Put("[a]\r\nx=1\r\ny=2\r\n[b]\r\nx=3\r\n");
    EXPECT_TRUE(Write("a", "X", nullptr));
    EXPECT_EQ(Bytes(), "[a]\r\ny=2\r\n[b]\r\nx=3\r\n");
    EXPECT_EQ(Get("a", "x").text, "dflt");
    EXPECT_EQ(Get("b", "x").text, "3");
    // Deleting the last key leaves the header.
    EXPECT_TRUE(Write("a", "y", nullptr));
    EXPECT_EQ(Bytes(), "[a]\r\n[b]\r\nx=3\r\n");
}

TEST_F(Profile, NullKeyDeletesTheWholeSection)
{
    Put("[a]\r\nx=1\r\n[b]\r\ny=2\r\n; belongs to b\r\n[c]\r\nz=3\r\n");
    EXPECT_TRUE(Write("B", nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\n[c]\r\nz=3\r\n");
    EXPECT_EQ(Get("b", "y").text, "dflt");
}

TEST_F(Profile, DeletingWhatIsNotThereSucceedsAndChangesNothing)
{
    Put("[a]\r\nx=1\r\n");
    EXPECT_TRUE(Write("a", "missing", nullptr));
    EXPECT_TRUE(Write("nosection", "x", nullptr));
    EXPECT_TRUE(Write("nosection", nullptr, nullptr));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\n");
    std::string other = dir.Win("other.ini");
    EXPECT_TRUE(WritePrivateProfileStringA("a", "x", nullptr, other.c_str()));
    EXPECT_FALSE(FileExists(dir.Native("other.ini")));
}

TEST_F(Profile, WriteThenReadBack)
{
    for (int i = 0; i < 50; i++) {
        std::string key = "key" + std::to_string(i);
        std::string value = "value " + std::to_string(i * 7);
        ASSERT_TRUE(Write(i % 2 ? "odd" : "even", key.c_str(), value.c_str()));
    }
    for (int i = 0; i < 50; i++) {
        std::string key = "KEY" + std::to_string(i);
        EXPECT_EQ(Get(i % 2 ? "ODD" : "EVEN", key.c_str()).text, "value " + std::to_string(i * 7));
        EXPECT_EQ(Get(i % 2 ? "even" : "odd", key.c_str()).text, "dflt");
    }
    // Only the profile itself is left in the folder: no temporary files.
    int entries = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.native())) {
        (void)entry;
        entries++;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(Profile, ConcurrentWritersLoseNoUpdate)
{
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < 15; i++) {
                std::string key = "t" + std::to_string(t) + "k" + std::to_string(i);
                EXPECT_TRUE(Write(t % 2 ? "odd" : "even", key.c_str(), std::to_string(i).c_str()));
            }
        });
    }
    for (std::thread &w : writers)
        w.join();
    for (int t = 0; t < 4; t++) {
        for (int i = 0; i < 15; i++) {
            std::string key = "t" + std::to_string(t) + "k" + std::to_string(i);
            EXPECT_EQ(Get(t % 2 ? "odd" : "even", key.c_str()).text, std::to_string(i)) << key;
        }
    }
}

#ifndef _WIN32
TEST_F(Profile, WriteThroughASymbolicLinkChangesTheTarget)
{
    WriteFileBytes(dir.Native("real.ini"), "[a]\r\nx=1\r\n");
    std::filesystem::create_symlink(dir.Native("real.ini"), native);
    EXPECT_TRUE(Write("a", "x", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(native));
    EXPECT_EQ(ReadFileBytes(dir.Native("real.ini")), "[a]\r\nx=2\r\n");
}
#endif

TEST_F(Profile, WriteToMissingFolderFails)
{
    std::string path = dir.Win("nofolder\\t.ini");
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("a", "k", "v", path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Profile, ReadOnlyFileIsNotChanged)
{
    Put("[a]\r\nx=1\r\n");
    std::filesystem::permissions(native,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(Write("a", "x", "2"));
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\n");
    EXPECT_EQ(Get("a", "x").text, "1");
}

TEST_F(Profile, ReadOnlyFileReportsAccessDenied)
{
    SKIP_WINE_DEVIATION("the refused write leaves the last error at 0");
    Put("[a]\r\nx=1\r\n");
    std::filesystem::permissions(native,
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    SetLastError(0);
    EXPECT_FALSE(Write("a", "x", "2"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace

// Conformance of the private profile functions, against the POSIX layer and,
// in the Windows build, kernel32 under Wine (Windows is the reference).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

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
        return {n, std::string(buffer, n)};
    }
    BOOL Write(const char *section, const char *key, const char *value)
    {
        return WritePrivateProfileStringA(section, key, value, file.c_str());
    }
};

std::string Utf16(const std::string &text, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
        out += bigEndian ? '\0' : c;
        out += bigEndian ? c : '\0';
    }
    return out;
}

// ---------------------------------------------------------------- reading

// Each row: the file, one read, the value it gives; the returned count is
// always the length of that value.
TEST_F(Profile, ReadingRules)
{
    const std::string twice = "[s]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\ny=4\r\n";
    const std::string quotes = "[s]\r\nd=\"v\"\r\nmixed=\"v'\r\ninner=\"a\"b\"\r\n";
    const std::string empty = "[s]\r\nempty=\r\nnoequals\r\n;k=commented\r\n";
    const std::string ends = "[a] trailing words\nk=lf\n[broken\r\nj=w\r\n[c]\r\nk=last";
    const struct {
        std::string file;
        const char *section, *key, *def;
        DWORD size;
        const char *value;
    } rows[] = {
        // Names and values lose surrounding blanks and case, also the names asked for.
        {"  [ Sec ]  \r\n  Key  =  some value \t \r\n", " sec ", "KEY", "dflt", 200, "some value"},
        // The first key of the first section of a name wins; later sections are not searched.
        {twice, "s", "k", "dflt", 200, "1"},
        {twice, "s", "y", "dflt", 200, "dflt"},
        // Matching quotes go.
        {quotes, "s", "d", "dflt", 200, "v"},
        {quotes, "s", "mixed", "dflt", 200, "\"v'"},
        // An empty value is not the default; a line without "=" or a comment holds no value.
        {empty, "s", "empty", "dflt", 200, ""},
        {empty, "s", "noequals", "dflt", 200, "dflt"},
        {empty, "s", "k", "dflt", 200, "dflt"},
        // Either line end; text after "]" is ignored; "[" without "]" starts no section.
        {ends, "a", "k", "dflt", 200, "lf"},
        {ends, "a", "j", "dflt", 200, "w"},
        {"\xEF\xBB\xBF[s]\r\nk=utf8\r\n", "s", "k", "dflt", 200, "utf8"},
        {Utf16("[s]\r\nk=little\r\n", false), "s", "k", "dflt", 200, "little"},
        {Utf16("[s]\r\nk=big\r\n", true), "s", "k", "dflt", 200, "big"},
        // Values and defaults are cut to the buffer, which keeps its terminator.
        {"[s]\r\nk=abcdef\r\n", "s", "k", "d", 4, "abc"},
    };
    for (const auto &row : rows) {
        Put(row.file);
        const Result r = Get(row.section, row.key, row.def, row.size);
        EXPECT_EQ(r.text, row.value) << row.section << "/" << row.key << " in " << row.file;
        EXPECT_EQ(r.count, strlen(row.value)) << row.section << "/" << row.key << " in " << row.file;
    }
}

// ---------------------------------------------------------------- writing

// Each row: the file before (null: none), one write, the file after.  A
// null value deletes the key.
TEST_F(Profile, WritingRules)
{
    const struct {
        const char *before;
        const char *section, *key, *value;
        std::string after;
    } rows[] = {
        // A replaced value keeps the name as it was spelt; a key goes after
        // an unterminated last line; deleting the last key leaves its header
        // (the settings store's saves show the rest in settings_file_test).
        {"[S]\r\nK=old\r\nx=1\r\n", "s", "k", "new", "[S]\r\nK=new\r\nx=1\r\n"},
        {"[a]\r\nx=1", "b", "y", "2", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
        {"[a]\r\ny=2\r\n[b]\r\nx=3\r\n", "a", "Y", nullptr, "[a]\r\n[b]\r\nx=3\r\n"},
        // Deleting what is not there changes nothing and makes no file.
        {nullptr, "a", "x", nullptr, "<missing>"},
    };
    for (const auto &row : rows) {
        std::remove(native.c_str());
        if (row.before != nullptr)
            Put(row.before);
        const std::string what = std::string(row.section) + "/" + (row.key != nullptr ? row.key : "(null)");
        EXPECT_TRUE(Write(row.section, row.key, row.value)) << what;
        EXPECT_EQ(Bytes(), row.after) << what;
    }
    // A UTF-16 file stays UTF-16 in its byte order.
    Put(Utf16("[s]\r\nk=v\r\n", false));
    EXPECT_TRUE(Write("s", "k", "w"));
    EXPECT_TRUE(Write("t", "j", "x"));
    EXPECT_EQ(Bytes(), Utf16("[s]\r\nk=w\r\n[t]\r\nj=x\r\n", false));
}

// Writes of several threads in any order: each one kept, found again in any
// case, and no temporary file left behind.
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
            std::string key = "T" + std::to_string(t) + "K" + std::to_string(i);
            EXPECT_EQ(Get(t % 2 ? "ODD" : "EVEN", key.c_str()).text, std::to_string(i)) << key;
            EXPECT_EQ(Get(t % 2 ? "even" : "odd", key.c_str()).text, "dflt") << key;
        }
    }
    auto names = std::filesystem::directory_iterator(dir.native());
    EXPECT_EQ(std::distance(names, std::filesystem::directory_iterator()), 1);
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

TEST_F(Profile, ReadOnlyFileIsNotChanged)
{
    Put("[a]\r\nx=1\r\n");
    using std::filesystem::perms;
    std::filesystem::permissions(native, perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
    SetLastError(0);
    EXPECT_FALSE(Write("a", "x", "2"));
    // Wine deviation: the refused write leaves the last error at 0.
    if (!RunningUnderWine()) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(Bytes(), "[a]\r\nx=1\r\n");
    EXPECT_EQ(Get("a", "x").text, "1");
}

}  // namespace

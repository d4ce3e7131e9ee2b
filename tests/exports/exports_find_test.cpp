// FindExport: the mount service's search for a client's path.
#include <cstring>
#include <string>

#include "exports_fixture.h"
#include "settings/settings.h"

namespace {

struct Found {
    int result;
    std::string path;
    ExportEntry *entry;
};

Found Find(const std::string &clientPath, const char *client)
{
    char path[EXPORT_PATH_SIZE];
    snprintf(path, sizeof(path), "%s", clientPath.c_str());
    ExportEntry *entry = nullptr;
    int result = FindExport(path, Addr(client), &entry);
    return Found{result, path, entry};
}

} // namespace

TEST_F(ExportsTest, FindMatchesTheVisiblePathAndGivesTheWindowsPath)
{
    Load("C:\\data host1\n");
    Found f = Find("/c/data", "192.168.1.1");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.path, "C:\\data");
    EXPECT_EQ(f.entry, Entries()[0]);
    EXPECT_EQ(Find("/c/data/", "192.168.1.1").result, 0);   // one trailing slash goes
    EXPECT_EQ(Find("/C/DATA", "192.168.1.1").result, 0);    // ASCII case does not count
    EXPECT_EQ(Find("/c/data//", "192.168.1.1").result, 2);
    EXPECT_EQ(Find("/c/database", "192.168.1.1").result, 2);
    EXPECT_EQ(Find("/c", "192.168.1.1").result, 2);
    EXPECT_EQ(Find("/c/data/sub", "192.168.1.1").result, 2);  // no -alldirs
    EXPECT_EQ(Find("", "192.168.1.1").result, 2);
}

TEST_F(ExportsTest, FindRefusesClientsNotInTheList)
{
    Load("C:\\data host1 host2\n");
    Found f = Find("/c/data/", "192.168.1.3");
    EXPECT_EQ(f.result, 13);
    EXPECT_EQ(f.entry, Entries()[0]);
    EXPECT_EQ(f.path, "/c/data/");  // left as the client sent it
    EXPECT_EQ(Find("/c/data", "192.168.1.2").result, 0);
}

TEST_F(ExportsTest, FindGoesOnToTheNextEntryOfTheSameFolder)
{
    Load("C:\\data -ro host1\nC:\\data host2\n");
    auto entries = Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Find("/c/data", "192.168.1.1").entry, entries[0]);
    Found f = Find("/c/data", "192.168.1.2");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.entry, entries[1]);
    Found g = Find("/c/data", "192.168.1.3");
    EXPECT_EQ(g.result, 13);
    EXPECT_EQ(g.entry, entries[1]);
}

TEST_F(ExportsTest, FindSubfoldersWithAlldirs)
{
    Load("C:\\data -alldirs\nD:\\ -alldirs\n\\\\srv\\share -alldirs\n");
    EXPECT_EQ(Find("/c/data/sub/deeper", "1.1.1.1").path, "C:\\data\\sub\\deeper");
    EXPECT_EQ(Find("/d", "1.1.1.1").path, "D:\\");
    EXPECT_EQ(Find("/d/x", "1.1.1.1").path, "D:\\x");
    EXPECT_EQ(Find("//srv/share", "1.1.1.1").path, "\\\\srv\\share\\");
    EXPECT_EQ(Find("//srv/share/dir/", "1.1.1.1").path, "\\\\srv\\share\\dir");
    EXPECT_EQ(Find("//srv/sharex", "1.1.1.1").result, 2);
}

TEST_F(ExportsTest, FindByVisibleName)
{
    Load("C:\\data -name:data host1\nD:\\stuff -name:st -alldirs\nE:\\x -name:a\n");
    Found f = Find("/data", "192.168.1.1");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.path, "C:\\data");
    EXPECT_EQ(Find("/data/sub", "192.168.1.1").result, 2);  // no -alldirs
    EXPECT_EQ(Find("/st/sub", "1.1.1.1").path, "D:\\stuff\\sub");
    EXPECT_EQ(Find("/st", "1.1.1.1").path, "D:\\stuff");
    EXPECT_EQ(Find("/stx", "1.1.1.1").result, 2);
    EXPECT_EQ(Find("/a", "1.1.1.1").result, 2);  // a one-character name is ignored
    EXPECT_EQ(Find("/data", "192.168.1.2").result, 13);
    EXPECT_TRUE(LogText().find("mountd: name data --> /c/data\n") != std::string::npos) << LogText();
}

TEST_F(ExportsTest, FindLongPrefixForms)
{
    Load("C:\\data -alldirs\n\\\\?\\D:\\long\n");
    EXPECT_EQ(Find("//?/C:/data", "1.1.1.1").path, "C:\\data");
    EXPECT_EQ(Find("//?/c:/data/x", "1.1.1.1").path, "C:\\data\\x");
    // An export named with the prefix is seen with it.
    Found f = Find("//?/d:/long", "1.1.1.1");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.path, "\\\\?\\D:\\long");
    EXPECT_EQ(Find("/d/long", "1.1.1.1").result, 2);
}

TEST_F(ExportsTest, FindNeverOverrunsThePathBuffer)
{
    // A name that rewrites a long client path past 2048 characters ends the
    // search with what was found so far.
    std::string folder = "C:\\" + std::string(1500, 'f');
    Load(folder + " -name:nm -alldirs\n");
    std::string longPath = "/nm/" + std::string(1000, 'x');
    Found f = Find(longPath, "1.1.1.1");
    EXPECT_EQ(f.result, 2);
    EXPECT_EQ(f.path, longPath);
    std::string fits = "/nm/" + std::string(400, 'y');
    Found g = Find(fits, "1.1.1.1");
    EXPECT_EQ(g.result, 0);
    EXPECT_EQ(g.path, folder + "\\" + std::string(400, 'y'));
    EXPECT_EQ(Find(std::string(2047, '/'), "1.1.1.1").result, 2);
}

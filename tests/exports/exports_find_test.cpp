// FindExport: the mount service's search for a client's path.
#include <string>
#include <vector>

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

// Drive roots, shares and the long prefix (plain folders, names, spellings
// and refusals show on the wire in mount_test.sh): a found path is given as
// the Windows path, a refused one is left as the client sent it.
TEST_F(ExportsTest, FindMatchesRootsSharesAndTheLongPrefix)
{
    struct Case {
        const char *path, *client;
        int result;
        const char *found;  // the path after the search, when the search succeeded
    };
    struct Group {
        const char *exports;
        std::vector<Case> cases;
    };
    const Group groups[] = {
        {"C:\\data -alldirs\nD:\\ -alldirs\n\\\\srv\\share -alldirs\n",
         {{"/c/data/sub/deeper", "1.1.1.1", 0, "C:\\data\\sub\\deeper"},
          {"/c/database", "1.1.1.1", 2, nullptr},
          {"/d", "1.1.1.1", 0, "D:\\"},
          {"//srv/share", "1.1.1.1", 0, "\\\\srv\\share\\"},
          {"//srv/share/dir/", "1.1.1.1", 0, "\\\\srv\\share\\dir"},
          {"//srv/sharex", "1.1.1.1", 2, nullptr},
          {"//?/c:/data/x", "1.1.1.1", 0, "C:\\data\\x"}}},
        // An export named with the long prefix is seen with it.
        {"\\\\?\\D:\\long\n",
         {{"//?/d:/long", "1.1.1.1", 0, "\\\\?\\D:\\long"}, {"/d/long", "1.1.1.1", 2, nullptr}}},
    };
    for (const Group &g : groups) {
        Load(g.exports);
        for (const Case &c : g.cases) {
            Found f = Find(c.path, c.client);
            EXPECT_EQ(f.result, c.result) << c.path << " from " << c.client;
            EXPECT_EQ(f.path, c.found != nullptr ? c.found : c.path) << c.path;
        }
    }
}

TEST_F(ExportsTest, FindGoesOnToTheNextEntryOfTheSameFolder)
{
    Load("C:\\data -ro host1\nC:\\data host2\n");
    auto entries = ExportEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Find("/c/data", "192.168.1.1").entry, entries[0]);
    Found f = Find("/c/data", "192.168.1.2");
    EXPECT_EQ(f.result, 0);
    EXPECT_EQ(f.entry, entries[1]);
    Found g = Find("/c/data", "192.168.1.3");
    EXPECT_EQ(g.result, 13);
    EXPECT_EQ(g.entry, entries[1]);
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

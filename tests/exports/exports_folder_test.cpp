// The folder the exports editor hands over for a new export.
#include <cstring>
#include <string>

#include "exports_fixture.h"

TEST_F(ExportsTest, ResolveExportFolderAppendsTheBackslash)
{
    char path[EXPORT_PATH_SIZE];
    snprintf(path, sizeof(path), "%s", dir.win().substr(0, dir.win().size() - 1).c_str());
    ResolveExportFolder(path, sizeof(path));
    EXPECT_EQ(path, dir.win());  // a local folder keeps its name
    ResolveExportFolder(path, sizeof(path));
    EXPECT_EQ(path, dir.win());  // only one backslash

    char full[6] = "Q:\\ab";
    ResolveExportFolder(full, sizeof(full));  // no room for it
    EXPECT_STREQ(full, "Q:\\ab");
    char missing[16] = "Q:\\ab";
    ResolveExportFolder(missing, sizeof(missing));
    EXPECT_STREQ(missing, "Q:\\ab\\");
}

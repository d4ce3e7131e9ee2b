// Client mount paths: one form for every spelling of a folder, and no way
// out of an export through ".", ".." or empty components.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "exports/export_entry.h"
#include "mount/mount_path.h"
#include "mount/mount_status.h"

TEST(MountPath, SpellingsOfOneFolderMeetAndDotsAreRefused)
{
    struct Case {
        const char *path;
        const char *canonical;  // null: refused with MNT3ERR_INVAL
    };
    const Case cases[] = {
        {"/c/data", "/c/data"},
        {"/c/data/", "/c/data"},
        {"/c/data///", "/c/data"},
        {"/c/data.", "/c/data"},
        {"/c/data. . ", "/c/data"},
        {"/c/da ta/sub.x", "/c/da ta/sub.x"},
        {"\\c\\data\\sub", "/c/data/sub"},
        {"/", "/"},
        {"//server/share/dir", "//server/share/dir"},
        {"//?/c:/data", "//?/c:/data"},
        {"/data", "/data"},
        {"/c/data/..", nullptr},
        {"/c/data/../secret", nullptr},
        {"/c/data/./sub", nullptr},
        {"/c/data/.. /x", nullptr},
        {"/c/data/.../x", nullptr},
        {"/c/data//sub", nullptr},
        {"///c/data", nullptr},
        {"/c/data\\..\\x", nullptr},
        {"/c/data/x:$INDEX_ALLOCATION", nullptr},
        {"/c:/data", nullptr},
        {"//?/c:/data/..", nullptr},
    };
    for (const Case &c : cases) {
        char path[EXPORT_PATH_SIZE];
        snprintf(path, sizeof path, "%s", c.path);
        uint32_t status = CanonicalMountPath(path);
        if (c.canonical == nullptr) {
            EXPECT_EQ(status, MNT3ERR_INVAL) << c.path;
            EXPECT_STREQ(path, c.path);
        } else {
            EXPECT_EQ(status, MNT3_OK) << c.path;
            EXPECT_STREQ(path, c.canonical) << c.path;
        }
    }
    std::string tooLong(EXPORT_PATH_SIZE, 'a');
    std::string copy = tooLong;
    EXPECT_EQ(CanonicalMountPath(&copy[0]), MNT3ERR_NAMETOOLONG);
}

// Attributes of real files and folders: DOS attributes to modes, sizes,
// times, link counts, owners and file IDs.
#include "handles_fixture.h"

#include <string>
#include <vector>

#include "backend/lookup.h"
#include "backend/mode_attributes.h"
#include "backend/unix_mode.h"
#include "exports/export_entry.h"
#include "fs/inode_table.h"
#include "fs/win_file_access.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

const uint32_t RO = FILE_ATTRIBUTE_READONLY;
const uint32_t HID = FILE_ATTRIBUTE_HIDDEN;
const uint32_t SYS = FILE_ATTRIBUTE_SYSTEM;
const uint32_t NORMAL = FILE_ATTRIBUTE_NORMAL;

} // namespace

TEST_F(HandlesTest, ModesFollowTheDosAttributes)
{
    struct Case {
        const char *name;
        uint32_t attributes;
        uint32_t type, mode;
    };
    const Case cases[] = {
        {"plain", NORMAL, 1, 0100644},       {"readonly", RO, 1, 0100444},
        {"hidden", HID, 1, 0100755},         {"hiddenro", HID | RO, 1, 0100555},
        {"setuid", HID | SYS, 1, 0104755},   {"systemro", SYS | RO, 1, 0100444},
        {"link", SYS, 5, 0120777},           {"dir", 0, 2, 040755},
        {"dirhidden", HID, 2, 040644},       {"dirsticky", SYS, 2, 041755},
        {"dirreadonly", RO, 2, 040555},
    };
    std::vector<bool> held;
    for (const Case &c : cases) {
        const std::string name = std::string("data/") + c.name;
        MakeFile(name, c.type == 2 ? nullptr : "x");
        held.push_back(c.attributes == 0 || SetAttributes(name, c.attributes));
    }
    FileHandle root = Mount(Win("data"), 0, 022);
    for (size_t i = 0; i < held.size(); i++) {
        const Case &c = cases[i];
        if (!held[i])
            continue;  // Wine cannot hold these attributes
        FileHandle handle;
        FileAttributes attributes;
        ASSERT_EQ(LookupName(root, c.name, &handle, &attributes), 0u) << c.name;
        EXPECT_EQ(attributes.type, c.type) << c.name;
        EXPECT_EQ(attributes.mode, c.mode) << c.name << " mode " << std::oct << attributes.mode;
        if (c.type == 2) {
            EXPECT_EQ(attributes.size, 4096u) << c.name;
        }
        // The handle gives the same attributes later.
        FileAttributes again;
        ASSERT_EQ(Attributes(handle, &again), 0u) << c.name;
        EXPECT_EQ(again.mode, attributes.mode) << c.name;
        EXPECT_EQ(again.fileId, attributes.fileId) << c.name;
    }
}

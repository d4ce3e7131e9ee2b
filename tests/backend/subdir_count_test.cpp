// The link count of a folder stays true while counts are remembered: every
// change of the folder's names, the server's own right after a count and
// another program's, shows in the next count.
#include "handles_fixture.h"

#include <ctime>
#include <string>

#include "backend/namespace_ops.h"
#include "platform/win32.h"
#include "settings/settings.h"

namespace {

const uint8_t VERIFIER[8] = {1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

TEST_F(HandlesTest, FolderLinkCountFollowsEveryChange)
{
    MakeFolder("data/box");
    MakeFolder("data/box/old");
    FileHandle root = Mount(Win("data"), 0, 0);
    FileHandle box;
    FileAttributes attributes;
    ASSERT_EQ(LookupName(root, "box", &box, &attributes), 0u);
    EXPECT_EQ(attributes.links, 3u);

    // Changes by the server in quick succession, each followed by a count
    // (as the reply to a change carries the folder's attributes).  The
    // folder keeps one recent time throughout, as a coarse clock gives
    // changes made within one of its ticks.
    const uint32_t tick = static_cast<uint32_t>(time(nullptr)) + 5;
    SetTimes("data/box", tick, tick);
    struct Step {
        const char *what;
        const char *name;
        uint32_t links;
    };
    const Step steps[] = {
        {"file", "f1", 3}, {"folder", "d1", 4}, {"file", "f2", 4},    {"rmdir", "d1", 3},
        {"folder", "d2", 4}, {"remove", "f1", 4}, {"rename", "d2", 4}, {"rmdir", "d3", 3},
    };
    for (const Step &step : steps) {
        const std::string what = step.what;
        FileHandle made;
        FileAttributes madeAttributes;
        uint32_t status = 1;
        if (what == "file")
            status = CreateFileOp(&box, step.name, CREATE_HOW_GUARDED, nullptr, VERIFIER, &made, &madeAttributes,
                                  &caller);
        else if (what == "folder")
            status = MakeDirectory(&box, step.name, nullptr, &made, &madeAttributes, &caller);
        else if (what == "remove")
            status = RemoveFile(&box, step.name, &caller);
        else if (what == "rmdir")
            status = RemoveDir(&box, step.name, &caller);
        else if (what == "rename")
            status = RenameOp(&box, step.name, &box, "d3", &caller);
        ASSERT_EQ(status, 0u) << what << " " << step.name;
        SetTimes("data/box", tick, tick);
        ASSERT_EQ(Attributes(box, &attributes), 0u);
        EXPECT_EQ(attributes.links, step.links) << what << " " << step.name;
    }

    // Another program's change of a folder whose count was taken long
    // after its last change.
    SetTimes("data/box", 1000000000, 1000000000);
    ASSERT_EQ(Attributes(box, &attributes), 0u);
    EXPECT_EQ(attributes.links, 3u);
    MakeFolder("data/box/outside");
    ASSERT_EQ(Attributes(box, &attributes), 0u);
    EXPECT_EQ(attributes.links, 4u);
    // With DirCount every folder has that count.
    ServerSettings.DirCount = 1;
    ASSERT_EQ(Attributes(box, &attributes), 0u);
    EXPECT_EQ(attributes.links, 1u);
}

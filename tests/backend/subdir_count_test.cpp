// The link count of a folder stays true while counts are remembered: every
// change of the folder's names, the server's own right after a count and
// another program's, shows in the next count.
#include "handles_fixture.h"

#include <ctime>
#include <functional>
#include <string>

#include "backend/file_attributes.h"
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
    FileHandle made;
    FileAttributes madeAttributes;
    const struct {
        const char *what;
        uint32_t links;
        std::function<uint32_t()> change;
    } steps[] = {
        {"file f1", 3, [&] { return CreateFileOp(&box, "f1", CREATE_HOW_GUARDED, nullptr, VERIFIER, &made, &madeAttributes, &caller); }},
        {"folder d1", 4, [&] { return MakeDirectory(&box, "d1", nullptr, &made, &madeAttributes, &caller); }},
        {"file f2", 4, [&] { return CreateFileOp(&box, "f2", CREATE_HOW_GUARDED, nullptr, VERIFIER, &made, &madeAttributes, &caller); }},
        {"rmdir d1", 3, [&] { return RemoveDir(&box, "d1", &caller); }},
        {"folder d2", 4, [&] { return MakeDirectory(&box, "d2", nullptr, &made, &madeAttributes, &caller); }},
        {"remove f1", 4, [&] { return RemoveFile(&box, "f1", &caller); }},
        {"rename d2", 4, [&] { return RenameOp(&box, "d2", &box, "d3", &caller); }},
        {"rmdir d3", 3, [&] { return RemoveDir(&box, "d3", &caller); }},
    };
    for (const auto &step : steps) {
        ASSERT_EQ(step.change(), 0u) << step.what;
        SetTimes("data/box", tick, tick);
        ASSERT_EQ(Attributes(box, &attributes), 0u);
        EXPECT_EQ(attributes.links, step.links) << step.what;
    }

    // A folder made while a change of the server's own that may make one
    // is under way, and a file of the server's made meanwhile.
    BeginSubdirChange(Win("data/box").c_str());
    BeginFileNameChange(Win("data/box").c_str());
    MakeFolder("data/box/made");
    SetTimes("data/box", tick + 1, tick + 1);
    ASSERT_EQ(Attributes(box, &attributes), 0u);
    EXPECT_EQ(attributes.links, 4u);
    EndSubdirChange(Win("data/box").c_str());
    EndFileNameChange(Win("data/box").c_str(), true);
    RemoveDirectoryA(Win("data/box/made").c_str());

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

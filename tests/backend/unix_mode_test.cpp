#include <gtest/gtest.h>

#include "backend/unix_mode.h"
#include "platform/win32.h"

namespace {

const uint32_t RO = FILE_ATTRIBUTE_READONLY;
const uint32_t SYS = FILE_ATTRIBUTE_SYSTEM;
const uint32_t ARC = FILE_ATTRIBUTE_ARCHIVE;

struct Shown {
    uint32_t type, mode;
};

Shown Show(uint32_t attributes, uint32_t umask, bool exec = false, const SpecialRecord *special = nullptr)
{
    Shown shown{99, 99};
    UnixModeFromDos(attributes, special, exec, umask, &shown.type, &shown.mode);
    return shown;
}

const SpecialRecord kNoRecord = {SPECIAL_NO_RECORD, 0100666, 0, 0};
const SpecialRecord kUnreadable = {SPECIAL_UNREADABLE, 0, 0, 0};

} // namespace

TEST(UnixMode, SystemFilesDependOnTheirRecord)
{
    // Exactly system, no record: a symbolic link, never masked.
    Shown link = Show(SYS | ARC, 077, false, &kNoRecord);
    EXPECT_EQ(link.type, 5u);
    EXPECT_EQ(link.mode, 0120777u);
    // System and read-only without a record: a regular file without execute bits.
    Shown plain = Show(SYS | RO, 0, true, &kNoRecord);
    EXPECT_EQ(plain.type, 1u);
    EXPECT_EQ(plain.mode, 0100444u);
    // Unreadable: no type.
    Shown unknown = Show(SYS, 022, false, &kUnreadable);
    EXPECT_EQ(unknown.type, 0u);
    EXPECT_EQ(unknown.mode, 0100644u);
    EXPECT_EQ(Show(SYS, 0, false, nullptr).type, 0u);
    // A character device record: its mode, masked.
    const SpecialRecord device = {FILE_TYPE_CHARACTER, 0020666, 1, 3};
    Shown character = Show(SYS, 022, false, &device);
    EXPECT_EQ(character.type, 4u);
    EXPECT_EQ(character.mode, 0020644u);
    const SpecialRecord fifo = {FILE_TYPE_FIFO, 0640, 0, 0};
    Shown pipe = Show(SYS | RO, 0, false, &fifo);
    EXPECT_EQ(pipe.type, 7u);
    EXPECT_EQ(pipe.mode, 0440u);
}

// The export's umask and EXEC option decide the hidden and read-only
// attributes of a new file (the plain modes are set on real files by
// ModesSetThroughTheAttributes).
TEST(UnixMode, AttributesForARequestedModeFollowTheExport)
{
    EXPECT_EQ(DosAttributesForMode(FILE_TYPE_REGULAR, 0755, true, 022), FILE_ATTRIBUTE_NORMAL);  // exec for all anyway
    EXPECT_EQ(DosAttributesForMode(FILE_TYPE_REGULAR, 0744, false, 0100), FILE_ATTRIBUTE_NORMAL);  // x masked
    EXPECT_EQ(DosAttributesForMode(FILE_TYPE_REGULAR, 0644, false, 0200), RO);  // w masked
}

#include <gtest/gtest.h>

#include <string>

#include "backend/dos_name.h"

namespace {
const uint32_t kLongNames = 255;
} // namespace

// Device names in any case and with any extension, and names of dots only,
// are refused (on every volume); names that only resemble them are not.
TEST(CheckDosName, DeviceNamesAndDotsAreRefused)
{
    for (const char *name : {"aux", "CON", "Nul", "prn", "nul.txt", "com1", "COM1.tar.gz", "com9", "LPT1", "lpt9.doc",
                             "nul ", "con .x", ".", "..", "...", ""}) {
        EXPECT_EQ(CheckDosName(name, kLongNames), 13u) << name;
        EXPECT_EQ(CheckDosName(name, 12), 13u) << name;
    }
    for (const char *name : {"com0", "com10", "coma", "nul1", "nulx.txt", "auxiliary", "con_", "lpt0", ".nul", "xcon",
                             "prn_", "com", ".a"})
        EXPECT_EQ(CheckDosName(name, kLongNames), 0u) << name;
}

// Lengths: a volume of long names takes its maximum component length, one of
// short names (at most 12) the 8.3 form; blanks have no short form.
TEST(CheckDosName, LengthsOfLongAndShortNameVolumes)
{
    const struct {
        std::string name;
        uint32_t maxLength, status;
    } cases[] = {
        {"a name with blanks.and a long extension", 255, 0}, {std::string(255, 'x'), 255, 0},
        {std::string(256, 'x'), 255, 63}, {"xxx " + std::string(252, 'x'), 255, 63},
        {"abcdefghijklm", 13, 0}, {"abcdefghijklmn", 13, 63},
        {"abcdefgh.txt", 12, 0}, {"ABCDEFGH", 12, 0}, {"abcdefghi", 12, 63}, {"abcdefghi.txt", 12, 63},
        {"a.text", 12, 63}, {"a b.txt", 12, 2}, {"readme", 8, 0}, {"x.", 12, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckDosName(c.name.c_str(), c.maxLength), c.status) << c.name << " " << c.maxLength;
}

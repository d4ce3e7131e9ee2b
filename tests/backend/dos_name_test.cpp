#include <gtest/gtest.h>

#include <string>

#include "backend/dos_name.h"

// Names of dots only are refused; a volume of long names takes its maximum
// component length, one of short names (at most 12) the 8.3 form; blanks
// have no short form.  (Device names: NfsWire CallTable.)
TEST(CheckDosName, DotsAndLengthsOfLongAndShortNameVolumes)
{
    const struct {
        std::string name;
        uint32_t maxLength, status;
    } cases[] = {
        {".", 255, 13}, {"...", 12, 13}, {"", 255, 13}, {"a name with blanks.and a long extension", 255, 0}, {std::string(255, 'x'), 255, 0},
        {std::string(256, 'x'), 255, 63}, {"xxx " + std::string(252, 'x'), 255, 63},
        {"abcdefghijklm", 13, 0}, {"abcdefghijklmn", 13, 63},
        {"abcdefgh.txt", 12, 0}, {"ABCDEFGH", 12, 0}, {"abcdefghi", 12, 63}, {"abcdefghi.txt", 12, 63},
        {"a.text", 12, 63}, {"a b.txt", 12, 2}, {"readme", 8, 0}, {"x.", 12, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckDosName(c.name.c_str(), c.maxLength), c.status) << c.name << " " << c.maxLength;
}

#include <gtest/gtest.h>

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

TEST(CheckDosName, LongNameVolumes)
{
    EXPECT_EQ(CheckDosName("a name with blanks.and a long extension", kLongNames), 0u);
    // The maximum component length itself is a valid length; one more is too long,
    // blanks or not.
    std::string longest(255, 'x');
    EXPECT_EQ(CheckDosName(longest.c_str(), kLongNames), 0u);
    std::string tooLong(256, 'x');
    EXPECT_EQ(CheckDosName(tooLong.c_str(), kLongNames), 63u);
    tooLong[3] = ' ';
    EXPECT_EQ(CheckDosName(tooLong.c_str(), kLongNames), 63u);
    // Thirteen is the smallest length that counts as a long-name volume.
    EXPECT_EQ(CheckDosName("abcdefghijklm", 13), 0u);
    EXPECT_EQ(CheckDosName("abcdefghijklmn", 13), 63u);
}

TEST(CheckDosName, ShortNameVolumes)
{
    EXPECT_EQ(CheckDosName("abcdefgh.txt", 12), 0u);
    EXPECT_EQ(CheckDosName("ABCDEFGH", 12), 0u);
    EXPECT_EQ(CheckDosName("abcdefghi", 12), 63u);      // a base of nine
    EXPECT_EQ(CheckDosName("abcdefghi.txt", 12), 63u);
    EXPECT_EQ(CheckDosName("a.text", 12), 63u);         // an extension of four
    EXPECT_EQ(CheckDosName("a b.txt", 12), 2u);         // blanks have no short form
    EXPECT_EQ(CheckDosName("readme", 8), 0u);
    EXPECT_EQ(CheckDosName("x.", 12), 0u);
}

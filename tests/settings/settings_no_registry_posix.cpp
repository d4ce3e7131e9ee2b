// The POSIX build has no registry: with no settings file selected every read
// gives its default and every write fails.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings.h"

namespace {

TEST(NoRegistry, ReadsGiveDefaultsAndWritesFail)
{
    SelectRegistrySettings();
    EXPECT_EQ(ReadInt("nfsd", "Port", 2049), 2049);
    EXPECT_EQ(ReadUserInt("nfsd", "width", 500), 500);
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ReadString("nfsd", "InodePath", "dflt", buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(ReadUserString("nfsd", "Language", "a-long-default", buffer, 5), 4u);
    EXPECT_STREQ(buffer, "a-lo");
    EXPECT_EQ(WriteInt("nfsd", "Port", 3000, 2049), 0);
    EXPECT_EQ(WriteString("nfsd", "InodePath", "x"), 0);
    EXPECT_EQ(WriteUserInt("nfsd", "width", 640, 0), 0);
    EXPECT_EQ(WriteUserString("nfsd", "Language", nullptr), 0);
}

}  // namespace

// Text helpers of the registry back end: key paths and "%d" parsing.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/registry_store.h"

namespace {

TEST(RegistryText, KeyPath)
{
    char path[64];
    ASSERT_EQ(RegistryKeyPath("nfsd", path, sizeof path), 1);
    EXPECT_STREQ(path, "Software\\Korvane\\nfsd");
    ASSERT_EQ(RegistryKeyPath("Other", path, sizeof path), 1);
    EXPECT_STREQ(path, "Software\\Korvane\\nfsd\\Other");
    EXPECT_EQ(RegistryKeyPath("a-section-name-that-is-far-too-long-for-the-buffer-given", path, 40), 0);
}

TEST(RegistryText, DecimalParsing)
{
    int32_t v = 99;
    EXPECT_EQ(ParseDecimal("42", &v), 1);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(ParseDecimal("  -17xyz", &v), 1);
    EXPECT_EQ(v, -17);
    EXPECT_EQ(ParseDecimal("+8", &v), 1);
    EXPECT_EQ(v, 8);
    EXPECT_EQ(ParseDecimal("0x10", &v), 1);  // "%d" stops at the x
    EXPECT_EQ(v, 0);
    EXPECT_EQ(ParseDecimal("4294967297", &v), 1);  // low 32 bits
    EXPECT_EQ(v, 1);
    v = 99;
    EXPECT_EQ(ParseDecimal("", &v), 0);
    EXPECT_EQ(ParseDecimal("abc", &v), 0);
    EXPECT_EQ(ParseDecimal("-", &v), 0);
    EXPECT_EQ(ParseDecimal("- 5", &v), 0);
    EXPECT_EQ(v, 99);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>

#include "backend/containment.h"
#include "exports/export_context.h"
#include "fs/win_file_access.h"
#include "support/temp_dir.h"

namespace {

ExportContext Context(const char *root, uint32_t flags, uint32_t serial)
{
    ExportContext context;
    memset(&context, 0, sizeof context);
    snprintf(context.path, sizeof context.path, "%s", root);
    context.flags = flags;
    context.volumeSerial = serial;
    return context;
}

} // namespace

TEST(CheckContainment, PathsBelowTheRootAtComponentBoundaries)
{
    ExportContext context = Context("C:\\data", EXPORT_VOLUME_FIXED, 0);
    EXPECT_EQ(CheckContainment("C:\\data", &context), 0);
    EXPECT_EQ(CheckContainment("c:\\DATA\\sub\\file", &context), 0);
    EXPECT_NE(CheckContainment("C:\\database\\secret", &context), 0);
    EXPECT_NE(CheckContainment("C:\\dat", &context), 0);
    EXPECT_NE(CheckContainment("C:\\other", &context), 0);
    EXPECT_NE(CheckContainment("C:\\data\\..\\other", &context), 0);
    EXPECT_NE(CheckContainment("C:\\data\\sub\\..", &context), 0);
    EXPECT_EQ(CheckContainment("C:\\data\\..name", &context), 0);
    ExportContext driveRoot = Context("C:\\", EXPORT_VOLUME_FIXED, 0);
    EXPECT_EQ(CheckContainment("C:\\", &driveRoot), 0);
    EXPECT_EQ(CheckContainment("C:\\anything", &driveRoot), 0);
    EXPECT_NE(CheckContainment("C:", &driveRoot), 0);
    EXPECT_NE(CheckContainment("D:\\anything", &driveRoot), 0);
    ExportContext empty = Context("", EXPORT_VOLUME_FIXED, 0);
    EXPECT_NE(CheckContainment("C:\\", &empty), 0);
}

TEST(CheckContainment, VolumeSerialUnlessFixed)
{
    TempDir dir;
    DWORD serial = 0;
    ASSERT_TRUE(VolumeSerialOfPath(dir.win().c_str(), &serial));
    std::string root = dir.win();
    root.pop_back();
    ExportContext same = Context(root.c_str(), 0, serial);
    EXPECT_EQ(CheckContainment(dir.Win("file").c_str(), &same), 0);
    ExportContext other = Context(root.c_str(), 0, serial + 1);
    EXPECT_NE(CheckContainment(dir.Win("file").c_str(), &other), 0);
    other.flags = EXPORT_VOLUME_FIXED;
    EXPECT_EQ(CheckContainment(dir.Win("file").c_str(), &other), 0);
}

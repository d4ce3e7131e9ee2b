#include <gtest/gtest.h>

#include "fs/nfs_status.h"

TEST(NfsStatusFromWindowsError, EveryListedError)
{
    struct Case {
        uint32_t error, status;
    };
    const Case cases[] = {
        {2, 2},    {3, 2},    {15, 2},   {18, 2},   {161, 2},  {5, 13},   {16, 13},  {82, 13},  {108, 13},
        {19, 30},  {55, 19},  {80, 17},  {183, 17}, {112, 28}, {145, 66}, {206, 63}, {267, 20}, {1816, 69},
    };
    for (const Case &c : cases)
        EXPECT_EQ(NfsStatusFromWindowsError(c.error), c.status) << "error " << c.error;
}

TEST(NfsStatusFromWindowsError, DeviceAndSharingRangeIsAccess)
{
    for (uint32_t error = 20; error <= 36; error++)
        EXPECT_EQ(NfsStatusFromWindowsError(error), 13u) << "error " << error;
    EXPECT_EQ(NfsStatusFromWindowsError(37), 5u);
}

TEST(NfsStatusFromWindowsError, AnythingElseIsIo)
{
    const uint32_t others[] = {0, 1, 4, 6, 8, 14, 17, 50, 87, 120, 122, 123, 1142, 4390, 0xFFFFFFFFu};
    for (uint32_t error : others)
        EXPECT_EQ(NfsStatusFromWindowsError(error), 5u) << "error " << error;
}

// GetFileInformationByHandleEx's FILE_BASIC_INFO: the change time moves on
// with a change of attributes, the write time does not; times to 100 ns.
#include <gtest/gtest.h>

#include "platform/win32.h"
#include "support/temp_dir.h"

TEST(FileChangeTime, BasicInfoThroughAHandleWithoutAccess)
{
    TempDir dir;
    const std::string f = dir.Win("f");
    HANDLE h = CreateFileA(f.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME odd;
    odd.dwHighDateTime = 0x01D00000u;
    odd.dwLowDateTime = 0x1234567u;  // not a whole microsecond
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &odd));
    CloseHandle(h);
    h = CreateFileA(f.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILE_BASIC_INFO before, after;
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &before, sizeof before));
    EXPECT_EQ(before.LastWriteTime.QuadPart, static_cast<LONGLONG>(0x01D0000001234567ull));
    Sleep(30);  // past the host clock's step of file times
    ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileBasicInfo, &after, sizeof after));
    EXPECT_GT(after.ChangeTime.QuadPart, before.ChangeTime.QuadPart);
    EXPECT_EQ(after.LastWriteTime.QuadPart, before.LastWriteTime.QuadPart);
    EXPECT_EQ(after.FileAttributes & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    CloseHandle(h);
    SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
}

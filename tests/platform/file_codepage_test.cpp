// Code-page conversion: UTF-8 with and without MB_ERR_INVALID_CHARS (the ANSI
// code page 1252 stays checked by ExportsTest.Utf8ModeConvertsPathAndNameFromTheCodePage).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

std::vector<WCHAR> ToWide(UINT codePage, DWORD flags, const char *text, int length = -1)
{
    WCHAR buffer[64];
    int n = MultiByteToWideChar(codePage, flags, text, length, buffer, 64);
    return std::vector<WCHAR>(buffer, buffer + (n > 0 ? n : 0));
}

} // namespace

TEST(FileCodePage, Utf8ToWide)
{
    EXPECT_EQ(ToWide(CP_UTF8, 0, "a\xc3\xa9\xe2\x82\xac"), (std::vector<WCHAR>{'a', 0xE9, 0x20AC, 0}));
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xf0\x9f\x98\x80"), (std::vector<WCHAR>{0xD83D, 0xDE00, 0}));
    // Invalid bytes become U+FFFD, or fail the call under MB_ERR_INVALID_CHARS.
    EXPECT_EQ(ToWide(CP_UTF8, 0, "a\xff" "b"), (std::vector<WCHAR>{'a', 0xFFFD, 'b', 0}));
    EXPECT_EQ(ToWide(CP_UTF8, 0, "\xe2\x82"), (std::vector<WCHAR>{0xFFFD, 0}));
    for (const char *bad : {"a\xff", "\xc0\xaf", "\xed\xa0\x80", "\xe2\x82", "\xf4\x90\x80\x80", "\x80"}) {
        SetLastError(0);
        WCHAR out[16];
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, -1, out, 16), 0) << bad;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
    }
}

TEST(FileCodePage, WideToUtf8)
{
    const WCHAR text[] = {'A', 0xE9, 0xD83D, 0xDE00, 0};
    char out[16];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), nullptr, nullptr);
    ASSERT_EQ(n, 8);
    EXPECT_EQ(std::string(out, n), std::string("A\xc3\xa9\xf0\x9f\x98\x80", 8));
    const WCHAR lone[] = {'A', 0xD800, 'B', 0};
    n = WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, sizeof(out), nullptr, nullptr);
    ASSERT_EQ(n, 6);
    EXPECT_EQ(std::string(out, n), std::string("A\xef\xbf\xbd" "B", 6));
}

// Path conversions and checks, and address texts.
#include <cstring>
#include <string>

#include "exports_fixture.h"
#include "settings/settings.h"

namespace {

std::string Client(const char *windowsPath)
{
    char out[EXPORT_PATH_SIZE];
    EXPECT_TRUE(ToClientPath(windowsPath, out, sizeof(out))) << windowsPath;
    return out;
}

std::string Windows(const char *clientPath)
{
    char out[EXPORT_PATH_SIZE];
    EXPECT_TRUE(ToWindowsPath(clientPath, out, sizeof(out))) << clientPath;
    return out;
}

} // namespace

TEST_F(ExportsTest, ToClientPathForms)
{
    EXPECT_EQ(Client("C:\\data\\"), "/c/data");
    EXPECT_EQ(Client("C:\\"), "/c");
    EXPECT_EQ(Client("\\\\srv\\share"), "//srv/share");
    EXPECT_EQ(Client("\\\\?\\C:\\x"), "//?/c:/x");
    EXPECT_EQ(Client("\\\\?\\Volume{ab}\\x"), "//?/Volume{ab}/x");
    ServerSettings.Lowercase = 0;
    EXPECT_EQ(Client("C:\\data"), "/C/data");
    EXPECT_EQ(Client("\\\\?\\C:\\x"), "//?/C:/x");
    char small[4];
    EXPECT_EQ(ToClientPath("C:\\data", small, sizeof(small)), 0);
    EXPECT_STREQ(small, "");
}

TEST_F(ExportsTest, ToWindowsPathForms)
{
    EXPECT_EQ(Windows("/c/data"), "c:\\data");
    EXPECT_EQ(Windows("/c"), "c:\\");
    EXPECT_EQ(Windows("//srv/share/dir"), "\\\\srv\\share\\dir");
    EXPECT_EQ(Windows("//srv"), "\\\\srv\\");
    EXPECT_EQ(Windows("//?/c:"), "\\\\?\\c:\\");
    EXPECT_EQ(Windows("//?/c:/x"), "\\\\?\\c:\\x");
    EXPECT_EQ(Windows("c:"), "c:\\");
    EXPECT_EQ(Windows("/data/x"), "\\data\\x");
    // In place, and growing by a character.
    char buffer[EXPORT_PATH_SIZE] = "/c";
    EXPECT_EQ(ToWindowsPath(buffer, buffer, sizeof(buffer)), 1);
    EXPECT_STREQ(buffer, "c:\\");
    char small[3];
    EXPECT_EQ(ToWindowsPath("/c", small, sizeof(small)), 0);
    std::string tooLong(EXPORT_PATH_SIZE, 'a');
    char out[EXPORT_PATH_SIZE];
    EXPECT_EQ(ToWindowsPath(tooLong.c_str(), out, sizeof(out)), 0);
}

TEST_F(ExportsTest, PathSyntax)
{
    const char *good[] = {"C:", "C:\\", "z:\\x y", "\\\\?\\C:\\", "Volume{x}", "\\\\?\\volume{x}\\a", "\\\\srv",
                          "\\\\srv\\share"};
    const char *bad[] = {"", "C", "C:x", "1:\\", "Volume{}", "Volume{x", "Volume{x}y", "\\\\", "\\\\a?b",
                         "\\\\?\\\\\\srv\\s", "\\x", "data"};
    for (const char *p : good)
        EXPECT_EQ(CheckPathSyntax(p), 1) << p;
    for (const char *p : bad)
        EXPECT_EQ(CheckPathSyntax(p), 0) << p;
    char full[4] = "C:";
    EXPECT_EQ(NormaliseRoot(full, 3), 0u);  // no room for the backslash
}

TEST_F(ExportsTest, AddressTexts)
{
    uint32_t address = 1;
    EXPECT_EQ(ParseAddress("192.168.1.10", &address), 1);
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&address);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[3], 10);
    char text[16];
    EXPECT_STREQ(FormatAddress(address, text), "192.168.1.10");
    EXPECT_STREQ(FormatAddress(0xFFFFFFFFu, text), "255.255.255.255");
    const char *bad[] = {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.4 ", " 1.2.3.4", "1..3.4", "a.b.c.d",
                         "1.2.3.-4", "1.2.3.4x", "99999999999.1.1.1"};
    for (const char *t : bad) {
        address = 5;
        EXPECT_EQ(ParseAddress(t, &address), 0) << t;
        EXPECT_EQ(address, 0u) << t;
    }
}

// The server log: file name, level rules, failure to open, CR LF lines on
// disk in both builds, and whole lines from concurrent writers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "platform/win32.h"
#include "settings/settings.h"
#include "support/temp_dir.h"

namespace {

std::string MonthFileName()
{
    time_t now = time(nullptr);
    struct tm local;
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char name[32];
    EXPECT_EQ(LogFileName(&local, name, sizeof name), 1);
    return name;
}

bool IsTimestamp(const std::string &s)
{
    if (s.size() != 19)
        return false;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        char expected = (i == 4 || i == 7) ? '-' : (i == 10) ? ' ' : (i == 13 || i == 16) ? ':' : '0';
        if (expected == '0' ? (c < '0' || c > '9') : c != expected)
            return false;
    }
    return true;
}

std::vector<std::string> SplitCrLf(const std::string &text, bool *onlyCrLf)
{
    std::vector<std::string> lines;
    *onlyCrLf = true;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(pos));
            *onlyCrLf = false;
            break;
        }
        if (nl == pos || text[nl - 1] != '\r')
            *onlyCrLf = false;
        size_t end = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back(text.substr(pos, end - pos));
        pos = nl + 1;
    }
    return lines;
}

class Log : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override { InitLogLock(); }
    void TearDown() override { CloseLog(); }

    int FileCount()
    {
        int n = 0;
        for (const auto &entry : std::filesystem::directory_iterator(dir.native())) {
            (void)entry;
            n++;
        }
        return n;
    }
};

TEST(LogName, MonthlyFileName)
{
    struct tm when = {};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 31;
    char name[32];
    ASSERT_EQ(LogFileName(&when, name, sizeof name), 1);
    EXPECT_STREQ(name, "nfsd2612.log");
    when.tm_year = 2031 - 1900;
    when.tm_mon = 0;
    ASSERT_EQ(LogFileName(&when, name, sizeof name), 1);
    EXPECT_STREQ(name, "nfsd3101.log");
    EXPECT_EQ(LogFileName(&when, name, 8), 0);
}

TEST(LogName, TimestampText)
{
    std::string stamp = LogTimestamp();
    EXPECT_TRUE(IsTimestamp(stamp)) << stamp;
    // Each thread has its own buffer: a stamp taken elsewhere does not
    // overwrite this one.
    const char *mine = LogTimestamp();
    const char *other = nullptr;
    std::thread t([&] { other = LogTimestamp(); });
    t.join();
    EXPECT_NE(mine, other);
}

TEST_F(Log, LevelOneAppendsToTheMonthsFile)
{
    std::string name = MonthFileName();
    WriteFileBytes(dir.Native(name), "earlier line\r\n");
    ServerSettings.Log = 1;
    FILE *stream = OpenLog(dir.win().c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(LogLevel.load(), 1);
    LogEvent(1, "pmapd ready on port %u\n", 111u);
    LogLine(2, "nfs3_read: invalid read args\n");  // verbose: not written
    LogLine(1, "mountd: cannot bind udp socket\n");
    LogStartup(1, "%s nfsd   started on %u", LogTimestamp(), 2049u);
    LogStartup(1, ", %u udp threads", 4u);
    LogStartup(1, "\n");
    LogStartup(1, "two\nlines\n");
    CloseLog();
    EXPECT_EQ(LogLevel.load(), 0);

    std::string text = ReadFileBytes(dir.Native(name));
    bool onlyCrLf;
    std::vector<std::string> lines = SplitCrLf(text, &onlyCrLf);
    EXPECT_TRUE(onlyCrLf) << text;
    ASSERT_EQ(lines.size(), 6u) << text;
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_TRUE(IsTimestamp(lines[1].substr(0, 19))) << lines[1];
    EXPECT_EQ(lines[1].substr(19), " pmapd ready on port 111");
    EXPECT_EQ(lines[2], "mountd: cannot bind udp socket");
    EXPECT_EQ(lines[3].substr(19), " nfsd   started on 2049, 4 udp threads");
    EXPECT_EQ(lines[4], "two");
    EXPECT_EQ(lines[5], "lines");
}

TEST_F(Log, VerboseLevelWritesVerboseLinesAndASecondOpenKeepsTheStream)
{
    ServerSettings.Log = 2;
    FILE *first = OpenLog(dir.win().c_str());
    ASSERT_NE(first, nullptr);
    LogLine(2, "nfs_unlink %s error %u\n", "a.txt", 5u);
    LogLine(3, "not at level 2\n");
    FlushLog();
    // Flushed lines are on disk while the log stays open.
    EXPECT_EQ(ReadFileBytes(dir.Native(MonthFileName())), "nfs_unlink a.txt error 5\r\n");
    EXPECT_EQ(OpenLog(dir.win().c_str()), first);
    LogLine(1, "two\n");
    CloseLog();
    EXPECT_EQ(ReadFileBytes(dir.Native(MonthFileName())), "nfs_unlink a.txt error 5\r\ntwo\r\n");
}

// Text that clients send (paths, names, host names) reaches the log as an
// argument: its control bytes and Unicode line breaks are escaped, so it can
// neither end its line nor forge another one; the format's own line ends
// stay, as does the line end of a line logged whole with "%s".
TEST_F(Log, ArgumentsCannotForgeLines)
{
    ServerSettings.Log = 2;
    ASSERT_NE(OpenLog(dir.win().c_str()), nullptr);
    LogEvent(1, "mount%u %s:%s\n", 3u, "10.0.0.1", "/x\n2026-01-01 00:00:00 mount3 forged\r\x1b[2J");
    LogLine(2, "mountd: path not in exports list %-6s|%.3s|%c\n", "a\tb", "ab\nc", '\n');
    LogLine(2, "name %s \xe2\x80\xa8 kept in the format\n", "u\xe2\x80\xa8v\xc2\x85w \xc3\xa9");
    LogStartup(1, "%s", "C:\\data -name:data\n");
    LogLine(2, "%s%s", "ends\n", "not\n");
    LogLine(2, "\n%d %5u %lld %x %%\n", -7, 42u, -5000000000ll, 255u);
    CloseLog();
    std::string text = ReadFileBytes(dir.Native(MonthFileName()));
    bool onlyCrLf;
    std::vector<std::string> lines = SplitCrLf(text, &onlyCrLf);
    EXPECT_TRUE(onlyCrLf) << text;
    ASSERT_EQ(lines.size(), 7u) << text;
    EXPECT_EQ(lines[0].substr(19), " mount3 10.0.0.1:/x\\x0a2026-01-01 00:00:00 mount3 forged\\x0d\\x1b[2J");
    EXPECT_EQ(lines[1], "mountd: path not in exports list a\\x09b|ab\\x0a|\\x0a");
    EXPECT_EQ(lines[2], "name u\\xe2\\x80\\xa8v\\xc2\\x85w \xc3\xa9 \xe2\x80\xa8 kept in the format");
    EXPECT_EQ(lines[3], "C:\\data -name:data");
    EXPECT_EQ(lines[4], "ends\\x0anot");
    EXPECT_EQ(lines[5], "");
    EXPECT_EQ(lines[6], "-7    42 -5000000000 ff %");
}

TEST_F(Log, DirectoryWithoutBackslashPrefixesTheName)
{
    std::filesystem::create_directory(dir.Native("logs"));
    ServerSettings.Log = 1;
    std::string logDir = dir.Win("logs");  // no trailing backslash
    ASSERT_NE(OpenLog(logDir.c_str()), nullptr);
    LogLine(1, "x\n");
    CloseLog();
    EXPECT_TRUE(FileExists(dir.Native("logs" + MonthFileName())));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Native("logs")));
}

// Level 0, a missing folder and a folder name too long: no log, no file.
TEST_F(Log, LevelZeroOrAnUnusableDirectoryTurnsLoggingOff)
{
    const std::string tooLong = dir.win() + std::string(1020 - dir.win().size(), 'a') + "\\";
    const struct {
        uint32_t level;
        std::string where;
    } cases[] = {{0, dir.win()}, {2, dir.Win("missing\\")}, {2, tooLong}};
    for (const auto &c : cases) {
        ServerSettings.Log = c.level;
        EXPECT_EQ(OpenLog(c.where.c_str()), nullptr);
        EXPECT_EQ(LogLevel.load(), 0);
        LogLine(1, "nfsd: hidden\n");
        LogEvent(1, "pmapd ready on port %u\n", 111u);
        LogStartup(1, "verbose\n");
        FlushLog();
        CloseLog();
        EXPECT_EQ(FileCount(), 0);
    }
}

TEST_F(Log, ConcurrentWritersProduceWholeLines)
{
    ServerSettings.Log = 1;
    ASSERT_NE(OpenLog(dir.win().c_str()), nullptr);
    const int threads = 4;
    const int perThread = 400;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([t] {
            std::string payload(40 + t * 30, static_cast<char>('a' + t));
            for (int i = 0; i < perThread; i++) {
                if (i % 3 == 0)
                    LogEvent(1, "mount%u %s:%d\n", static_cast<unsigned>(t), payload.c_str(), i);
                else if (i % 3 == 1)
                    LogLine(1, "nfsd%u %s:%d\n", static_cast<unsigned>(t), payload.c_str(), i);
                else
                    LogStartup(1, "start%u %s:%d\n", static_cast<unsigned>(t), payload.c_str(), i);
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    CloseLog();

    bool onlyCrLf;
    std::vector<std::string> lines = SplitCrLf(ReadFileBytes(dir.Native(MonthFileName())), &onlyCrLf);
    EXPECT_TRUE(onlyCrLf);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    std::set<std::string> seen;
    for (const std::string &raw : lines) {
        std::string line = raw;
        if (line.compare(0, 5, "mount") != 0 && line.compare(0, 4, "nfsd") != 0 &&
            line.compare(0, 5, "start") != 0) {
            ASSERT_TRUE(IsTimestamp(line.substr(0, 19))) << line;
            ASSERT_EQ(line[19], ' ');
            line = line.substr(20);
        }
        size_t space = line.find(' ');
        size_t colon = line.rfind(':');
        ASSERT_NE(space, std::string::npos) << line;
        ASSERT_NE(colon, std::string::npos) << line;
        int t = line[space - 1] - '0';
        ASSERT_TRUE(t >= 0 && t < threads) << line;
        EXPECT_EQ(line.substr(space + 1, colon - space - 1), std::string(40 + t * 30, static_cast<char>('a' + t)))
            << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), lines.size());
}

TEST_F(Log, ClosingWhileOthersWriteIsSafe)
{
    ServerSettings.Log = 1;
    ASSERT_NE(OpenLog(dir.win().c_str()), nullptr);
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; t++) {
        writers.emplace_back([&written, t] {
            for (int i = 0; i < 2000; i++) {
                if (t == 0)
                    LogStartup(1, "window line %d\n", i);
                else
                    LogLine(1, "service line %d\n", i);
                written++;
            }
        });
    }
    while (written.load() < 300)
        std::this_thread::yield();
    CloseLog();  // later lines go nowhere; the file holds only whole lines
    for (std::thread &w : writers)
        w.join();
    EXPECT_EQ(LogLevel.load(), 0);
    bool onlyCrLf;
    std::vector<std::string> lines = SplitCrLf(ReadFileBytes(dir.Native(MonthFileName())), &onlyCrLf);
    EXPECT_TRUE(onlyCrLf);
    EXPECT_GE(lines.size(), 1u);
    EXPECT_LE(lines.size(), 6000u);
    for (const std::string &line : lines) {
        bool whole = line.compare(0, 12, "window line ") == 0 || line.compare(0, 13, "service line ") == 0;
        EXPECT_TRUE(whole) << line;
        EXPECT_NE(line.back(), ' ') << line;
    }
}

}  // namespace

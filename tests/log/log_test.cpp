// The server log: the monthly file, level rules, failure to open, CR LF lines
// on disk in both builds, escaped client text, and whole lines from concurrent
// writers with a close among them.
#include <gtest/gtest.h>

#include <atomic>
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

// The lines of the month's file; every line must end in CR LF.
std::vector<std::string> LogLines(const TempDir &dir)
{
    std::string text = ReadFileBytes(dir.Native(MonthFileName()));
    std::vector<std::string> lines;
    for (size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
        nl = text.find('\n', pos);
        EXPECT_TRUE(nl != std::string::npos && nl > pos && text[nl - 1] == '\r') << text;
        if (nl == std::string::npos)
            break;
        lines.push_back(text.substr(pos, nl - 1 - pos));
    }
    return lines;
}

class Log : public ::testing::Test {
protected:
    TempDir dir;
    void TearDown() override { CloseLog(); }
};

TEST_F(Log, LevelsAppendToTheMonthsFile)
{
    WriteFileBytes(dir.Native(MonthFileName()), "earlier line\r\n");
    ServerSettings.Log = 2;
    FILE *stream = OpenLog(dir.win().c_str());
    ASSERT_NE(stream, nullptr);
    LogLine(3, "not at level 2\n");
    LogLine(2, "nfs_unlink %s error %u\n", "a.txt", 5u);
    FlushLog();  // flushed lines are on disk while the log stays open
    EXPECT_EQ(LogLines(dir).size(), 2u);
    EXPECT_EQ(OpenLog(dir.win().c_str()), stream);
    LogStartup(1, "started on %u", 2049u);  // a line in pieces
    LogStartup(1, ", %u udp threads\n", 4u);
    CloseLog();
    EXPECT_EQ(LogLevel.load(), 0);
    EXPECT_EQ(LogLines(dir), (std::vector<std::string>{"earlier line", "nfs_unlink a.txt error 5",
                                                       "started on 2049, 4 udp threads"}));
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
    LogLine(2, "%d %5u %lld %x %%\n", -7, 42u, -5000000000ll, 255u);
    CloseLog();
    std::vector<std::string> lines = LogLines(dir);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(19), " mount3 10.0.0.1:/x\\x0a2026-01-01 00:00:00 mount3 forged\\x0d\\x1b[2J");
    EXPECT_EQ(lines[1], "mountd: path not in exports list a\\x09b|ab\\x0a|\\x0a");
    EXPECT_EQ(lines[2], "name u\\xe2\\x80\\xa8v\\xc2\\x85w \xc3\xa9 \xe2\x80\xa8 kept in the format");
    EXPECT_EQ(lines[3], "C:\\data -name:data");
    EXPECT_EQ(lines[4], "ends\\x0anot");
    EXPECT_EQ(lines[5], "-7    42 -5000000000 ff %");
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
        LogStartup(1, "verbose\n");
        CloseLog();
        EXPECT_TRUE(std::filesystem::is_empty(dir.native()));
    }
}

// Writers of every kind in several threads, and a close among them: the
// file holds whole lines only, none mixed with another, and every line
// written before the close.
TEST_F(Log, ConcurrentWritersAndACloseLeaveWholeLines)
{
    ServerSettings.Log = 1;
    ASSERT_NE(OpenLog(dir.win().c_str()), nullptr);
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; t++) {
        writers.emplace_back([&written, t] {
            const std::string payload(40 + t * 30, static_cast<char>('a' + t));
            for (int i = 0; i < 2000; i++, written++) {
                if (i % 3 == 0)
                    LogEvent(1, "w%d %s:%d\n", t, payload.c_str(), i);
                else if (i % 3 == 1)
                    LogLine(1, "w%d %s:%d\n", t, payload.c_str(), i);
                else
                    LogStartup(1, "w%d %s:%d\n", t, payload.c_str(), i);
            }
        });
    }
    while (written.load() < 600)
        std::this_thread::yield();
    CloseLog();  // later lines go nowhere
    for (std::thread &w : writers)
        w.join();
    EXPECT_EQ(LogLevel.load(), 0);
    std::vector<std::string> lines = LogLines(dir);
    EXPECT_GE(lines.size(), 600u);
    std::set<std::string> seen;
    for (std::string line : lines) {
        if (line[0] != 'w')
            line = line.substr(20);  // the time stamp of LogEvent
        int t = line[1] - '0';
        ASSERT_TRUE(t >= 0 && t < 3) << line;
        EXPECT_EQ(line.substr(3, line.rfind(':') - 3), std::string(40 + t * 30, static_cast<char>('a' + t))) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), lines.size());
}

}  // namespace

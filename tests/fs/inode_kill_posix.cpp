// A writer killed with SIGKILL in the middle of a stream of changes leaves
// a table file that the next start opens without a crash, consistent, with
// the entries that survived.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fs/inode_fixture.h"

#ifndef INODE_WRITER_PATH
#define INODE_WRITER_PATH "inode_writer"
#endif

namespace {

// Starts the writer, reads its progress lines until it finished target
// operations (or ended, or 20 seconds passed), then kills it.  Returns the
// operations it reported.
unsigned RunAndKill(const std::string &table, unsigned seed, unsigned target, unsigned delayMicroseconds)
{
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::string seedText = std::to_string(seed);
        execl(INODE_WRITER_PATH, "inode_writer", "stream", table.c_str(), seedText.c_str(), "1000000",
              static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    unsigned done = 0;
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ended = false;
    while (done < target && !ended && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof(buffer));
        if (n <= 0) {
            ended = true;
            break;
        }
        for (ssize_t i = 0; i < n; i++) {
            if (buffer[i] == '\n') {
                done = static_cast<unsigned>(strtoul(line.c_str(), nullptr, 10));
                line.clear();
            } else {
                line += buffer[i];
            }
        }
    }
    if (delayMicroseconds > 0)
        usleep(delayMicroseconds);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(fds[0]);
    return done;
}

TEST(InodeKillTest, TableSurvivesSigkillAtTwentyPoints)
{
    ServerSettings.CharSetActive = 1;
    ServerSettings.InodeCheck = 0;
    TempDir dir;
    std::string table = dir.Win("inodes.nfs");
    // Start from a table with some content.
    ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 1));
    AddPath("C:\\before\\the\\kills");
    CloseInodeTable();
    std::string report;
    for (unsigned round = 0; round < 20; round++) {
        unsigned target = 25 + round * 61;
        unsigned ops = RunAndKill(table, 1000 + round, target, (round * 37) % 300);
        ASSERT_GT(ops, 0u) << "the writer did not run (round " << round << ")";
        ASSERT_TRUE(OpenInodeTableAt(table.c_str(), 0)) << round;
        char reason[256] = "";
        EXPECT_TRUE(InodeTableConsistent(reason, sizeof(reason))) << round << ": " << reason;
        InodeTableStats stats;
        ASSERT_TRUE(InodeTableStatistics(&stats));
        EXPECT_NE(FindChild(FindChild(FindChild(0, "C:"), "before"), "the"), 0u) << round;
        // The table goes on working after the repair.
        EXPECT_NE(AddChild(AddPath("C:\\after"), ("round" + std::to_string(round)).c_str()), 0u);
        EXPECT_TRUE(InodeTableConsistent(reason, sizeof(reason))) << round << ": " << reason;
        CloseInodeTable();
        report += "round " + std::to_string(round) + ": killed after " + std::to_string(ops) + " operations, " +
                  std::to_string(stats.entries) + " entries survived\n";
    }
    printf("%s", report.c_str());
    RecordProperty("kills", 20);
}

}  // namespace

// A writer killed with SIGKILL in the middle of a stream of changes leaves
// a table file that the next start opens without a crash, consistent, with
// the entries that survived; a table that cannot grow on a full disk stops
// growing without a crash.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fs/inode_fixture.h"
#include "support/killed_child.h"

#ifndef INODE_WRITER_PATH
#define INODE_WRITER_PATH "inode_writer"
#endif

namespace {

// Runs the writer's stream of changes until it reported target operations,
// then kills it; returns the operations it reported.
unsigned RunAndKill(const std::string &table, unsigned seed, unsigned target, unsigned delayMicroseconds)
{
    auto done = [](const std::vector<std::string> &lines) {
        return lines.empty() ? 0u : static_cast<unsigned>(strtoul(lines.back().c_str(), nullptr, 10));
    };
    std::vector<std::string> lines = RunUntilKilled(
        INODE_WRITER_PATH, {"stream", table, std::to_string(seed), "1000000"},
        [&](const std::vector<std::string> &sofar) { return done(sofar) >= target; }, delayMicroseconds);
    return done(lines);
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

// The table grows into a file system that has no room for it (a small
// tmpfs in a mount namespace of the writer's own): the growth fails, the
// adds report 0 as the table's out-of-space rule says, and nothing is lost.
// (Growing the file without reserving its space used to end the writer
// with SIGBUS at the first write into the new part.)
TEST(InodeFullDiskTest, GrowthOnAFullDiskFailsCleanly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a mount namespace";
    TempDir dir;
    std::string point = dir.Native("small");
    ASSERT_EQ(mkdir(point.c_str(), 0755), 0);
    std::string table = dir.Win("small\\inodes.nfs");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        // 2 MiB of table and a little more: the first growth (to 3 MiB) fails.
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", point.c_str(), "tmpfs", 0, "size=2304k") != 0)
            _exit(77);
        execl(INODE_WRITER_PATH, "inode_writer", "fill", table.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace here";
    ASSERT_FALSE(WIFSIGNALED(status)) << "the writer died of signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    unsigned added = 0;
    ASSERT_EQ(sscanf(output.c_str(), "added %u", &added), 1) << output;
    // A 2 MiB table holds 65535 blocks; the folders take a few.
    EXPECT_GT(added, 65000u) << output;
    EXPECT_LT(added, 65536u) << output;
}

}  // namespace

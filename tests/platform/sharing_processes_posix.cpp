// Sharing between processes: a handle of one process refuses the opens and
// deletes of another exactly as between handles of one process.
#include <gtest/gtest.h>

#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "file_test_util.h"
#include "platform/win32.h"
#include "support/temp_dir.h"

namespace {

struct Attempt {
    DWORD access; // 0 with share 0: DeleteFile
    DWORD share;
    bool refused;
};

// The other process's view, while this one holds a write-only handle
// sharing read only (a write-only descriptor cannot take read locks).
const Attempt kAttempts[] = {
    {GENERIC_READ, kShareAll, false},
    {0, kShareAll, false}, // attributes only
    {GENERIC_WRITE, kShareAll, true},
    {GENERIC_READ | GENERIC_WRITE, kShareAll, true},
    {GENERIC_READ, FILE_SHARE_READ, true}, // does not share the holder's write
    {0, 0, true},                          // DeleteFile: the holder does not share delete
};

} // namespace

TEST(PosixSharing, AnotherProcessIsRefusedAsAnotherHandleWouldBe)
{
    TempDir dir;
    const std::string path = dir.Win("shared.txt");
    ASSERT_TRUE(Make(path, "x"));
    int go[2], answers[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(answers), 0);
    // The child starts before the handle exists, so its table of open files
    // knows nothing of it: only the locks between processes can refuse.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte;
        if (read(go[0], &byte, 1) != 1)
            _exit(2);
        for (const Attempt &attempt : kAttempts) {
            bool refused;
            if (attempt.access == 0 && attempt.share == 0) {
                refused = !DeleteFileA(path.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION;
            } else {
                HANDLE h = Open(path, attempt.access, attempt.share, OPEN_EXISTING);
                refused = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
                if (h != INVALID_HANDLE_VALUE)
                    CloseHandle(h);
            }
            char answer = refused ? 'r' : 'a';
            if (write(answers[1], &answer, 1) != 1)
                _exit(3);
        }
        _exit(0);
    }
    HANDLE held = Open(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    for (const Attempt &attempt : kAttempts) {
        char answer = 0;
        ASSERT_EQ(read(answers[0], &answer, 1), 1);
        EXPECT_EQ(answer, attempt.refused ? 'r' : 'a') << "access " << attempt.access << " share " << attempt.share;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    CloseHandle(held);
    for (int fd : {go[0], go[1], answers[0], answers[1]})
        close(fd);
    EXPECT_TRUE(DeleteFileA(path.c_str())); // nothing holds it any more
}

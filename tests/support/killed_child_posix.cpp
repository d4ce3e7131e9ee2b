#include "support/killed_child.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

std::vector<std::string> RunUntilKilled(const std::string &program, const std::vector<std::string> &args,
                                        const std::function<bool(const std::vector<std::string> &)> &enough,
                                        unsigned delayMicroseconds)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    std::vector<std::string> lines;
    std::string text;
    auto take = [&] {
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            return false;
        for (ssize_t i = 0; i < n; i++) {
            if (buffer[i] != '\n') {
                text += buffer[i];
                continue;
            }
            lines.push_back(text);
            text.clear();
        }
        return true;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ended = false;
    while (!enough(lines) && !ended && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0)
            ended = !take();
    }
    if (delayMicroseconds > 0)
        usleep(delayMicroseconds);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    while (!ended)
        ended = !take();
    close(fds[0]);
    return lines;
}

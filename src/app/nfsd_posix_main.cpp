// The headless server on POSIX: `nfsd [DATA-DIRECTORY]`.  Runs until SIGINT
// or SIGTERM, then stops the services cleanly.
//
// The signals are blocked in every thread (the services' threads inherit the
// mask) and taken by one thread of their own: while the services run, a
// signal starts the clean stop; while they are still starting, or already
// stopping, it ends the process at once, so that a start that waits for
// something (a silent port mapper, a slow name server) never holds off an
// administrator's or a supervisor's request to end.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include "app/headless.h"
#include "log/log.h"

namespace {

enum Phase { STARTING, SERVING, STOPPING };
std::atomic<int> CurrentPhase{STARTING};
sigset_t StopSignals;
sem_t StopRequested;

void *SignalThread(void *)
{
    for (;;) {
        int received = 0;
        if (sigwait(&StopSignals, &received) != 0)
            continue;
        int expected = SERVING;
        if (CurrentPhase.compare_exchange_strong(expected, STOPPING)) {
            sem_post(&StopRequested);
            continue;
        }
        fflush(stdout);
        _exit(128 + received);
    }
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    sigemptyset(&StopSignals);
    sigaddset(&StopSignals, SIGINT);
    sigaddset(&StopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &StopSignals, nullptr);
    sem_init(&StopRequested, 0, 0);
    pthread_t signals;
    bool watched = pthread_create(&signals, nullptr, SignalThread, nullptr) == 0;

    int status = HeadlessStart(argc, argv);
    if (status == 0) {
        int expected = STARTING;
        CurrentPhase.compare_exchange_strong(expected, SERVING);
        if (watched) {
            // Every second the log is written out, so that a viewer of the
            // log file sees the server's lines while it runs.
            for (;;) {
                struct timespec until;
                clock_gettime(CLOCK_REALTIME, &until);
                until.tv_sec += 1;
                if (sem_timedwait(&StopRequested, &until) == 0)
                    break;
                if (errno == ETIMEDOUT)
                    FlushLog();
            }
        } else {
            int received = 0;
            sigwait(&StopSignals, &received);
        }
    }
    CurrentPhase.store(STOPPING);
    HeadlessStop();
    return status;
}

// The headless server on POSIX: `nfsd [DATA-DIRECTORY]`.  Runs until SIGINT
// or SIGTERM, then stops the services cleanly.
#include <csignal>
#include <pthread.h>

#include "app/headless.h"

int main(int argc, char **argv)
{
    // Every thread the services start inherits this mask, so the signals
    // reach only the sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    int status = HeadlessStart(argc, argv);
    if (status == 0) {
        int received = 0;
        sigwait(&stopSignals, &received);
    }
    HeadlessStop();
    return status;
}

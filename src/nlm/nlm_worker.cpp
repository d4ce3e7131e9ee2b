// The lock manager's background threads: start and stop.
#include "nlm/nlm_worker.h"

bool NlmWorkerStart(NlmWorker &worker, LPTHREAD_START_ROUTINE body)
{
    if (worker.thread != nullptr)
        return true;
    worker.stopping = false;
    worker.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (worker.wake == nullptr)
        return false;
    worker.thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
    if (worker.thread == nullptr) {
        CloseHandle(worker.wake);
        worker.wake = nullptr;
        return false;
    }
    return true;
}

void NlmWorkerStop(NlmWorker &worker)
{
    if (worker.thread == nullptr)
        return;
    worker.stopping = true;
    SetEvent(worker.wake);
    bool ended = WaitForSingleObject(worker.thread, 30000) == WAIT_OBJECT_0;
    CloseHandle(worker.thread);
    worker.thread = nullptr;
    if (ended) {
        CloseHandle(worker.wake);
        worker.wake = nullptr;
    }
}

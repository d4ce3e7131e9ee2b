// A background thread of the lock manager (the delivery of its calls, the
// status monitor's notices): an event that wakes it and a flag that ends it.
#pragma once

#include <atomic>

#include "platform/win32.h"

struct NlmWorker {
    HANDLE thread = nullptr;
    HANDLE wake = nullptr;
    std::atomic<bool> stopping{false};
};

// Starts body on a thread of its own; true when it runs (also when it already
// ran).
bool NlmWorkerStart(NlmWorker &worker, LPTHREAD_START_ROUTINE body);
// Sets stopping, wakes the thread and waits for its end (30 s at most: a call
// in progress ends within a few RPCTIMEOUT waits).  The wake event stays when
// the thread did not end, since it may still wait on it.  Harmless when not
// started.
void NlmWorkerStop(NlmWorker &worker);

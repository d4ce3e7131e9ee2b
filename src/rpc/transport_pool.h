// The workers that serve the calls of TCP connections.  A connection's thread
// reads and decodes its calls and queues them here, so that the calls of one
// connection run side by side; the pool is sized to the machine and bounds
// the calls queued or running in all (the queue waits when it is full).
#pragma once

#include "platform/win32.h"

struct PoolJob {
    PoolJob *next;
    // Serves the job (serve true), or only lets it go (serve false: the
    // transports stopped before a worker took it).
    void (*run)(PoolJob *job, bool serve);
};

// Workers of the pool: four per processor, 16 to 64.
int PoolWorkerCount(void);
// Calls one connection may have queued or running: half the workers, so one
// client never holds them all.
int PoolCallsPerConnection(void);
// Starts the workers that are not running.  False when none runs.
bool PoolStart(void);
// Queues a job, waiting while 4 x PoolWorkerCount calls are queued or
// running.  False (the job not taken) when the transports stop meanwhile.
bool PoolSubmit(PoolJob *job);
// Wakes every worker and every waiting PoolSubmit (after the stop flag was
// set, so that they end).
void PoolWake(void);
// Workers still running.
int PoolThreadCount(void);

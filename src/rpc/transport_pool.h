// The workers that serve the calls of TCP connections.  A connection's thread
// reads and decodes its calls and serves the short ones itself; a long one
// goes to a worker of this pool when one is idle, so that the calls of one
// connection run side by side.  The pool is sized to the machine; a call that
// finds no idle worker is served by its connection's thread.
#pragma once

#include "platform/win32.h"

struct PoolJob {
    PoolJob *next;
    // Serves the job (serve true), or only lets it go (serve false: the
    // transports stopped before a worker took it).
    void (*run)(PoolJob *job, bool serve);
};

// Workers of the pool: two per processor, 16 to 64 (calls that wait for the
// disk need workers, not processors).
int PoolWorkerCount(void);
// The machine's processors, 1 to 32.
int PoolProcessorCount(void);
// Calls one connection may have with the workers at once: half of them, so
// one client never holds them all.
int PoolCallsPerConnection(void);
// Starts the workers that are not running.  False when none runs.
bool PoolStart(void);
// Hands the job to an idle worker.  False (the job not taken) when none is
// idle or the transports stop.
bool PoolTrySubmit(PoolJob *job);
// Wakes every worker (after the stop flag was set, so that they end).
void PoolWake(void);
// Workers still running.
int PoolThreadCount(void);

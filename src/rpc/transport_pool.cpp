// The workers that serve the calls of TCP connections.
#include "rpc/transport_pool.h"

#include <atomic>
#include <condition_variable>
#include <thread>

#include "log/log.h"
#include "platform/ranked_lock.h"
#include "rpc/transport.h"

namespace {

RankedLock QueueLock(LOCK_RANK_LEAF, "tcp workers' queue");
std::condition_variable_any Queued;  // a job came, or the stop
PoolJob *Head = nullptr;
PoolJob *Tail = nullptr;
// Workers waiting for a job and not yet claimed by one: each queued job has
// claimed a waiting worker, so a job never waits behind another.
int Idle = 0;
std::atomic<int> Workers{0};

PoolJob *Take(void)
{
    PoolJob *job = Head;
    if (job != nullptr) {
        Head = job->next;
        if (Head == nullptr)
            Tail = nullptr;
    }
    return job;
}

DWORD WINAPI PoolWorker(LPVOID)
{
    for (;;) {
        PoolJob *job;
        {
            std::unique_lock<RankedLock> hold(QueueLock);
            Idle++;
            Queued.wait(hold, [] { return Head != nullptr || TransportsStopped(); });
            if (TransportsStopped()) {
                if (Head == nullptr)
                    Idle--;
                break;
            }
            job = Take();
        }
        job->run(job, true);
    }
    // Jobs no worker took go without being served.
    for (;;) {
        PoolJob *job;
        {
            LockGuard guard(QueueLock);
            job = Take();
        }
        if (job == nullptr)
            break;
        job->run(job, false);
    }
    Workers.fetch_sub(1);
    return 0;
}

}  // namespace

int PoolWorkerCount(void)
{
    static const int count = [] {
        unsigned processors = std::thread::hardware_concurrency();
        int n = processors > 32 ? 64 : (int)processors * 2;
        return n < 16 ? 16 : n;
    }();
    return count;
}

int PoolProcessorCount(void)
{
    static const int count = [] {
        unsigned processors = std::thread::hardware_concurrency();
        return processors == 0 ? 1 : processors > 32 ? 32 : (int)processors;
    }();
    return count;
}

int PoolCallsPerConnection(void)
{
    return PoolWorkerCount() / 2;
}

bool PoolStart(void)
{
    const int want = PoolWorkerCount();
    int running = Workers.load();
    // Each place is claimed before its thread starts, so connections that
    // start at once never make more; none is started while stopping.
    while (running < want && !TransportsStopped()) {
        if (!Workers.compare_exchange_weak(running, running + 1))
            continue;
        HANDLE thread = CreateThread(nullptr, 0, PoolWorker, nullptr, 0, nullptr);
        if (thread == nullptr) {
            Workers.fetch_sub(1);
            LogLine(2, "nfsd: tcp worker create error\n");
            break;
        }
        CloseHandle(thread);
        running = Workers.load();
    }
    return Workers.load() > 0;
}

bool PoolTrySubmit(PoolJob *job)
{
    {
        LockGuard guard(QueueLock);
        if (Idle == 0 || TransportsStopped())
            return false;
        Idle--;
        job->next = nullptr;
        if (Tail != nullptr)
            Tail->next = job;
        else
            Head = job;
        Tail = job;
    }
    Queued.notify_one();
    return true;
}

void PoolWake(void)
{
    {
        LockGuard guard(QueueLock);
    }
    Queued.notify_all();
}

int PoolThreadCount(void)
{
    return Workers.load();
}

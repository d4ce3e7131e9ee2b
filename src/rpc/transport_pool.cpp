// The workers that serve the calls of TCP connections.
#include "rpc/transport_pool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "log/log.h"
#include "rpc/transport.h"

namespace {

std::mutex QueueLock;
std::condition_variable Queued;  // a job came, or the stop
std::condition_variable Room;    // a job ended, or the stop
PoolJob *Head = nullptr;
PoolJob *Tail = nullptr;
int Pending = 0;  // queued or running
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

void Ended(void)
{
    {
        std::lock_guard<std::mutex> guard(QueueLock);
        Pending--;
    }
    Room.notify_one();
}

DWORD WINAPI PoolWorker(LPVOID)
{
    for (;;) {
        PoolJob *job;
        {
            std::unique_lock<std::mutex> hold(QueueLock);
            Queued.wait(hold, [] { return Head != nullptr || TransportsStopped(); });
            if (TransportsStopped())
                break;
            job = Take();
        }
        job->run(job, true);
        Ended();
    }
    // Jobs no worker took go without being served.
    for (;;) {
        PoolJob *job;
        {
            std::lock_guard<std::mutex> guard(QueueLock);
            job = Take();
        }
        if (job == nullptr)
            break;
        job->run(job, false);
        Ended();
    }
    Workers.fetch_sub(1);
    return 0;
}

}  // namespace

int PoolWorkerCount(void)
{
    static const int count = [] {
        unsigned processors = std::thread::hardware_concurrency();
        int n = processors > 16 ? 64 : (int)processors * 4;
        return n < 16 ? 16 : n;
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

bool PoolSubmit(PoolJob *job)
{
    const int most = 4 * PoolWorkerCount();
    {
        std::unique_lock<std::mutex> hold(QueueLock);
        while (Pending >= most && !TransportsStopped())
            Room.wait_for(hold, std::chrono::milliseconds(100));
        if (TransportsStopped())
            return false;
        Pending++;
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
        std::lock_guard<std::mutex> guard(QueueLock);
    }
    Queued.notify_all();
    Room.notify_all();
}

int PoolThreadCount(void)
{
    return Workers.load();
}

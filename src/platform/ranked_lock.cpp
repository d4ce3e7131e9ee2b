#include "platform/ranked_lock.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Prepare(RankedLock *lock)
{
    int expected = 0;
    if (lock->state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        InitializeCriticalSection(&lock->section);
        lock->state.store(2, std::memory_order_release);
        return;
    }
    while (lock->state.load(std::memory_order_acquire) != 2)
        Sleep(0);
}

#ifndef NDEBUG
// The locks this thread holds, with how often each was taken.
struct Held {
    const RankedLock *lock;
    unsigned depth;
};
thread_local Held HeldLocks[16];
thread_local unsigned HeldCount = 0;

[[noreturn]] void Broken(const char *what, const RankedLock *lock, const RankedLock *other)
{
    fprintf(stderr, "lock order: %s %s (rank %u)", what, lock->name, static_cast<unsigned>(lock->rank));
    if (other != nullptr)
        fprintf(stderr, " while holding %s (rank %u)", other->name, static_cast<unsigned>(other->rank));
    fputc('\n', stderr);
    fflush(stderr);
    abort();
}

Held *FindHeld(const RankedLock *lock)
{
    for (unsigned i = 0; i < HeldCount; i++)
        if (HeldLocks[i].lock == lock)
            return &HeldLocks[i];
    return nullptr;
}

void NoteTake(const RankedLock *lock)
{
    if (Held *held = FindHeld(lock)) {
        held->depth++;
        return;
    }
    for (unsigned i = 0; i < HeldCount; i++)
        if (HeldLocks[i].lock->rank >= lock->rank)
            Broken("taking", lock, HeldLocks[i].lock);
    if (HeldCount == sizeof HeldLocks / sizeof HeldLocks[0])
        Broken("too many locks held, taking", lock, nullptr);
    HeldLocks[HeldCount++] = Held{lock, 1};
}

void NoteGive(const RankedLock *lock)
{
    Held *held = FindHeld(lock);
    if (held == nullptr)
        Broken("giving back", lock, nullptr);
    if (--held->depth == 0)
        *held = HeldLocks[--HeldCount];
}
#endif

} // namespace

void LockTake(RankedLock *lock)
{
    if (lock->state.load(std::memory_order_acquire) != 2)
        Prepare(lock);
#ifndef NDEBUG
    NoteTake(lock);
#endif
    EnterCriticalSection(&lock->section);
}

void LockGive(RankedLock *lock)
{
#ifndef NDEBUG
    NoteGive(lock);
#endif
    LeaveCriticalSection(&lock->section);
}

void LockRetire(RankedLock *lock)
{
    if (lock->state.load(std::memory_order_acquire) == 2)
        DeleteCriticalSection(&lock->section);
    lock->state.store(0, std::memory_order_release);
}

void LockAssertHeld(const RankedLock *lock)
{
#ifndef NDEBUG
    if (FindHeld(lock) == nullptr)
        Broken("not holding", lock, nullptr);
#else
    (void)lock;
#endif
}

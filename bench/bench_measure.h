// What the table benchmarks measure: time on a steady clock and the heap in
// use (glibc 2.33 and later; 0 elsewhere).
#pragma once

#include <chrono>
#include <cstddef>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using BenchClock = std::chrono::steady_clock;

inline double Seconds(BenchClock::time_point a, BenchClock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

inline size_t HeapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return mallinfo2().uordblks;
#else
    return 0;
#endif
}

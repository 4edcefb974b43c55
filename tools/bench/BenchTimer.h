#pragma once
// Wall-clock timing and process memory figures for the benchmark programs.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

inline double nowSeconds()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// The process's peak working set so far, in MiB (it cannot be reset, so
// each figure covers everything the process did before).
inline double peakMemoryMiB()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// Best of `runs` timings of `work`.
template <class Work>
double bestOf(int runs, Work work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const double start = nowSeconds();
        work();
        const double elapsed = nowSeconds() - start;
        if (elapsed < best)
            best = elapsed;
    }
    return best;
}

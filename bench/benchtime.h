// What the benchmarks share: a millisecond clock and the median of a run's
// samples.
#pragma once
#include <windows.h>
#include <algorithm>
#include <vector>

// Milliseconds from the performance counter; only differences mean anything.
inline double Now()
{
    static LARGE_INTEGER freq;
    if (!freq.QuadPart)
        QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)freq.QuadPart;
}

// The median of a non-empty list (the mean of the middle two for an even count).
inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

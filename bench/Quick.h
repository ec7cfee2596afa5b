#pragma once
// The quick run of a benchmark (PICTOLARIUM_BENCH_QUICK set, as the tests run every benchmark): each case once, at
// its smallest size, so that a change that breaks a benchmark shows in the tests without waiting for figures.
// Benchmarks without a count of their own run once through BENCHMARK_MIN_TIME=0, set beside it.

#include <cstdint>
#include <cstdlib>

namespace Quick {

inline bool on() {
    static const bool quick = std::getenv("PICTOLARIUM_BENCH_QUICK") != nullptr;
    return quick;
}

// Runs, rounds or seconds: one in the quick run.
inline int count(int n) {
    return on() ? 1 : n;
}

// A case's least time: as little as one run in the quick run.
inline double minTime(double seconds) {
    return on() ? 1e-9 : seconds;
}

// A size: the smallest one in the quick run.
inline int size(int n, int smallest) {
    return on() ? smallest : n;
}

// The sizes a case runs at, smallest first: the first alone in the quick run. For a benchmark's Apply().
template <std::int64_t first, std::int64_t... more, typename Benchmark> void sizes(Benchmark* b) {
    b->Arg(first);
    if (!on())
        (b->Arg(more), ...);
}

} // namespace Quick

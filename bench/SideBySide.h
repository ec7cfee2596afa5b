#pragma once
// One row of the side-by-side table that scripts/bench.sh prints last: our figure and an anchor's,
// measured in turn in the same run, with the load average while they ran. Rows go to the file named by
// $PICTOLARIUM_BENCH_ROWS (nothing is written without it) and to standard output.

#include "Quick.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace SideBySide {

// Processor time of this process's threads and of its finished children: a measure of the work done that a
// busy machine does not change.
inline double cpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// The one-minute load average now, -1 when it cannot be read.
inline double load() {
    double one = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &one) != 1)
            one = -1;
        std::fclose(f);
    }
    return one;
}

inline double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double millisecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Pair {
    double ours = 0, anchor = 0; // medians, milliseconds
    double loadFrom = 0, loadTo = 0;
};

// Runs ours and the anchor one after the other, rounds times over (after one unmeasured round of
// each), and takes each side's median: a burst of load from other programs hits both alike.
inline Pair interleaved(int rounds, const std::function<void()>& ours, const std::function<void()>& anchor) {
    Pair result;
    result.loadFrom = load();
    ours();
    anchor();
    std::vector<double> a, b;
    for (int i = 0; i < Quick::count(rounds); ++i) {
        a.push_back(millisecondsOf(ours));
        b.push_back(millisecondsOf(anchor));
    }
    result.ours = median(a);
    result.anchor = median(b);
    result.loadTo = load();
    return result;
}

// Figures are written as given (with their unit); ratio < 0 leaves the ratio column empty.
inline void row(const std::string& work, const std::string& ours, const std::string& anchor, double ratio,
                const std::string& goal, double loadFrom, double loadTo) {
    char ratioText[32] = "";
    if (ratio >= 0)
        std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
    char loadText[48];
    std::snprintf(loadText, sizeof loadText, "%.1f-%.1f", std::min(loadFrom, loadTo), std::max(loadFrom, loadTo));
    const std::string line = work + "\t" + ours + "\t" + anchor + "\t" + ratioText + "\t" + goal + "\t" + loadText;
    std::printf("side by side: %s\n", line.c_str());
    if (const char* path = std::getenv("PICTOLARIUM_BENCH_ROWS"); path && *path) {
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }
}

inline std::string ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", value);
    return text;
}

} // namespace SideBySide

#pragma once
// The limits a child that reads a user's file sets on itself before it reads anything. Plain C++: the PDF
// writer has no toolkit.

#include <cstdint>
#include <cstdio>
#include <sys/resource.h>

namespace ChildLimits {

// Data the process has mapped before it reads anything: nothing worth counting in a normal build. A build
// with AddressSanitizer maps its shadow of the whole address space before main; the limit then counts what
// the child maps from here on.
inline std::int64_t dataMappedAtStart() {
#if defined(__SANITIZE_ADDRESS__)
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (!status)
        return 0;
    char line[256];
    long long kilobytes = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmData: %lld kB", &kilobytes) == 1)
            break;
    std::fclose(status);
    return std::int64_t(kilobytes) * 1024;
#else
    return 0;
#endif
}

// A limit on the address space would count every library mapping and a checker's shadow; one on data counts
// what reading the file allocates. Past the processor time the child gets SIGXCPU, a second later SIGKILL.
inline void apply(std::int64_t dataBytes, std::int64_t cpuSeconds) {
    const auto data = rlim_t(dataMappedAtStart() + dataBytes);
    const rlimit memory{data, data};
    ::setrlimit(RLIMIT_DATA, &memory);
    const rlimit cpu{rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)};
    ::setrlimit(RLIMIT_CPU, &cpu);
}

} // namespace ChildLimits

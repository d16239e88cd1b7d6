// The clocks the tests measure with: wall time on the monotonic clock and
// the CPU time a wait costs.
#pragma once

#include <chrono>
#include <sys/resource.h>
#include <time.h>

// Seconds on the monotonic clock (the steady clock's epoch).
inline double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

using Clock = std::chrono::steady_clock;

// Seconds since a point on the steady clock.
inline double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

inline double UsageSeconds(int who) {
    rusage ru{};
    getrusage(who, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec * 1e-6;
}

// CPU time (user and system) this process has used, in seconds.
inline double CpuSeconds() { return UsageSeconds(RUSAGE_SELF); }

// CPU time of the children this process has waited for, in seconds.
inline double ChildrenCpuSeconds() { return UsageSeconds(RUSAGE_CHILDREN); }

// The clocks the tests measure with.
#pragma once

#include <sys/resource.h>
#include <time.h>

// Seconds on the monotonic clock.
inline double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// CPU time (user and system) this process has used, in seconds.
inline double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec * 1e-6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec * 1e-6;
}

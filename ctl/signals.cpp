// Time and the stop signals.
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include "ctl/ctl.h"

namespace ctl {

namespace {
volatile sig_atomic_t g_stop = 0;
sigset_t g_waitMask;   // the mask in force while waiting: stop signals open

void OnStop(int) { g_stop = 1; }
}   // namespace

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string UtcStamp() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm t;
    gmtime_r(&tv.tv_sec, &t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

void InstallSignals() {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &g_waitMask);
    sigdelset(&g_waitMask, SIGINT);
    sigdelset(&g_waitMask, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnStop;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() { return g_stop != 0; }

const volatile sig_atomic_t *StopFlag() { return &g_stop; }
const sigset_t *WaitMask() { return &g_waitMask; }

int WaitFds(pollfd *fds, int n, double until) {
    if (g_stop) return 0;
    double d = until - Now();
    if (d < 0) d = 0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(d);
    ts.tv_nsec = static_cast<long>((d - static_cast<double>(ts.tv_sec)) * 1e9);
    int r = ppoll(fds, static_cast<nfds_t>(n), &ts, &g_waitMask);
    if (r < 0 && errno == EINTR) return 0;
    return r;
}

void SleepUntil(double until) {
    while (!g_stop && Now() < until) WaitFds(nullptr, 0, until);
}

}   // namespace ctl

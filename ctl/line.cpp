// The serial line on POSIX termios, time and signals.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "ctl/ctl.h"
#include "rt/serial_latency.h"

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

bool Line::Open(const std::string &path, std::string &err) {
    Close();
    lost_ = false;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        err = path + ": not a serial line (" + std::strerror(errno) + ")";
        close(fd);
        return false;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        err = path + ": cannot set 19200 8N1 (" + std::strerror(errno) + ")";
        close(fd);
        return false;
    }
    fd_ = fd;
    lowLatency_ = serlat::RequestLowLatency(fd);
    latencyTimerMs_ = serlat::AdapterLatencyTimer(path);
    Flush();
    return true;
}

void Line::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void Line::Flush() {
    if (fd_ < 0) return;
    tcflush(fd_, TCIOFLUSH);
    // a pseudo-terminal may hand on bytes tcflush did not see
    uint8_t junk[512];
    for (;;) {
        ssize_t r = read(fd_, junk, sizeof junk);
        if (r > 0) continue;
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) lost_ = true;
        break;
    }
    if (!lost_) CheckHangup();
}

// With VMIN 0 a read of nothing gives 0 both on a quiet line and on one
// that hung up; poll tells them apart.
bool Line::CheckHangup() {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) lost_ = true;
    return lost_;
}

bool Line::Write(const uint8_t *bytes, size_t n) {
    if (fd_ < 0 || lost_) return false;
    size_t done = 0;
    const double deadline = Now() + proto::kTimeout;
    while (done < n) {
        ssize_t w = write(fd_, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (WaitFds(&p, 1, deadline) <= 0) return false;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                lost_ = true;
                return false;
            }
            continue;
        }
        lost_ = true;
        return false;
    }
    return true;
}

size_t Line::Read(uint8_t *buf, size_t n, double deadline) {
    size_t got = 0;
    while (got < n && fd_ >= 0 && !lost_) {
        ssize_t r = read(fd_, buf + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) {
            // EIO: the other side is gone
            lost_ = true;
            break;
        }
        // nothing came: a hung-up line says so at once, a quiet one waits
        if (Now() >= deadline) break;
        pollfd p{fd_, POLLIN, 0};
        int k = WaitFds(&p, 1, deadline);
        if (k <= 0) break;   // time-out or a stop signal
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // what was still queued is read first
            ssize_t last = read(fd_, buf + got, n - got);
            if (last > 0) {
                got += static_cast<size_t>(last);
                continue;
            }
            lost_ = true;
            break;
        }
    }
    return got;
}

}   // namespace ctl

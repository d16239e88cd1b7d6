// The local serial device on termios, opened exclusively.
#include "lines/serial_line.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "lines/serial_latency.h"

namespace lines {

double MonoNow() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

namespace {

timespec Span(double seconds) {
    if (seconds < 0) seconds = 0;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
}

std::string RealPath(const std::string &p) {
    char buf[PATH_MAX];
    return realpath(p.c_str(), buf) ? std::string(buf) : p;
}

// The names in a folder but . and ..; none when it cannot be read.
std::vector<std::string> Entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// Where a symbolic link points, "" when it is none.
std::string ReadLink(const std::string &path) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string DevRoot() {
    const char *r = std::getenv("RIDAR_DEV_ROOT");
    return r ? r : "";
}

}   // namespace

std::string OpenFaultText(OpenFault f, const std::string &device, const std::string &detail) {
    switch (f) {
    case OpenFault::None: return "";
    case OpenFault::Missing: return device + ": no such device (is the adapter plugged in?)";
    case OpenFault::NotSerial: return device + ": not a serial line";
    case OpenFault::Permission:
        return device + ": permission denied - add the user to the group that owns the port "
                        "(usually dialout: sudo usermod -aG dialout $USER), then log in again";
    case OpenFault::Busy:
        return device + ": port busy - in use by " +
               (detail.empty() ? std::string("another program") : detail);
    case OpenFault::Setup: return device + ": cannot set 19200 8N1 (" + detail + ")";
    }
    return device;
}

bool TakeExclusive(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    // other users' opens fail with EBUSY from now on (root's are not stopped)
    ioctl(fd, TIOCEXCL);
    return true;
}

void ReleaseExclusive(int fd) { ioctl(fd, TIOCNXCL); }

namespace {

std::string ProcessName(const std::string &pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return (name.empty() ? std::string("a program") : name) + " (pid " + pid + ")";
}

// The process that holds the advisory lock on the device, from /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 4711 00:19:4 0 EOF"); "" when none.
std::string LockHolder(const std::string &device) {
    struct stat st;
    if (stat(device.c_str(), &st) != 0) return "";
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%lu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string n, kind, mode, rw, pid, dev;
        if (!(in >> n >> kind >> mode >> rw >> pid >> dev)) continue;
        if (kind == "FLOCK" && dev == id && pid != std::to_string(getpid()))
            return ProcessName(pid);
    }
    return "";
}

}   // namespace

std::string HolderOf(const std::string &device) {
    const std::string locker = LockHolder(device);
    if (!locker.empty()) return locker;
    // no lock (a program that does not take one): whoever has it open
    const std::string target = RealPath(device);
    const std::string self = std::to_string(getpid());
    std::string out;
    for (const std::string &pid : Entries("/proc")) {
        if (pid[0] < '0' || pid[0] > '9' || pid == self) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        for (const std::string &fd : Entries(fdDir)) {
            if (ReadLink(fdDir + "/" + fd) != target) continue;
            if (!out.empty()) out += ", ";
            out += ProcessName(pid);
            break;
        }
    }
    return out;
}

std::vector<PortName> ListPorts() {
    const std::string root = DevRoot();
    std::vector<PortName> ports;
    // a tty with a device behind it in sysfs is a real port
    const std::string sys = root + "/sys/class/tty";
    for (const std::string &name : Entries(sys)) {
        struct stat st;
        if (name.rfind("tty", 0) != 0 || stat((sys + "/" + name + "/device").c_str(), &st) != 0)
            continue;
        // the kernel keeps ttyS placeholders without a UART: type 0
        if (name.rfind("ttyS", 0) == 0) {
            std::ifstream type(sys + "/" + name + "/type");
            int t = 0;
            if (!(type >> t) || t == 0) continue;
        }
        ports.push_back({"/dev/" + name, ""});
    }
    const std::string byId = root + "/dev/serial/by-id";
    for (const std::string &name : Entries(byId)) {
        // "../../ttyUSB0"
        const std::string link = ReadLink(byId + "/" + name);
        const std::string dev = "/dev/" + link.substr(link.rfind('/') + 1);
        for (PortName &p : ports)
            if (!link.empty() && p.device == dev) p.byId = "/dev/serial/by-id/" + name;
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortName &a, const PortName &b) { return a.device < b.device; });
    return ports;
}

// ---------------------------------------------------------------- the line

double SerialLine::Now() const { return MonoNow(); }

bool SerialLine::Open(const std::string &path, OpenFault &fault, std::string &err) {
    Close();
    lost_ = false;
    fault = OpenFault::None;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENODEV || e == ENXIO) fault = OpenFault::Missing;
        else if (e == EACCES || e == EPERM) fault = OpenFault::Permission;
        else if (e == EBUSY) fault = OpenFault::Busy;
        else fault = OpenFault::Setup;
        err = OpenFaultText(fault, path,
                            fault == OpenFault::Busy ? HolderOf(path) : std::strerror(e));
        return false;
    }
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        close(fd);
        fault = OpenFault::NotSerial;
        err = OpenFaultText(fault, path, "");
        return false;
    }
    if (!TakeExclusive(fd)) {
        close(fd);
        fault = OpenFault::Busy;
        err = OpenFaultText(fault, path, HolderOf(path));
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
        const int e = errno;
        ReleaseExclusive(fd);
        close(fd);
        fault = OpenFault::Setup;
        err = OpenFaultText(fault, path, std::strerror(e));
        return false;
    }
    fd_ = fd;
    lowLatency_ = serlat::RequestLowLatency(fd);
    latencyTimerMs_ = serlat::AdapterLatencyTimer(path);
    DiscardInput();
    DiscardOutput();
    return true;
}

namespace {

speed_t Speed(long baud) {
    static const struct {
        long baud;
        speed_t speed;
    } speeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &s : speeds)
        if (s.baud == baud) return s.speed;
    return B0;
}

}   // namespace

bool SerialLine::SetFraming(long baud, int parity, int dataBits, int stopBits, std::string &err) {
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    const speed_t speed = Speed(baud);
    termios t;
    if (speed == B0) {
        err = std::to_string(baud) + " baud is not a speed of the serial driver";
        return false;
    }
    if (fd_ < 0 || parity < 0 || parity > 4 || dataBits < 5 || dataBits > 8 ||
        (stopBits != 1 && stopBits != 2) || tcgetattr(fd_, &t) != 0) {
        err = "no such line setting";
        return false;
    }
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | PARODD | CMSPAR | CSIZE);
    t.c_cflag |= sizes[dataBits - 5];
    if (stopBits == 2) t.c_cflag |= CSTOPB;
    // odd and mark set PARODD; mark and space stick the bit (CMSPAR)
    if (parity != 0) t.c_cflag |= PARENB;
    if (parity == 1 || parity == 3) t.c_cflag |= PARODD;
    if (parity >= 3) t.c_cflag |= CMSPAR;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        err = std::strerror(errno);
        return false;
    }
    return true;
}

bool SerialLine::SetHardwareFlow(bool on) {
    termios t;
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return false;
    if (on) t.c_cflag |= CRTSCTS;
    else t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    return tcsetattr(fd_, TCSANOW, &t) == 0;
}

void SerialLine::Close() {
    if (fd_ >= 0) {
        ReleaseExclusive(fd_);
        close(fd_);
    }
    fd_ = -1;
}

int SerialLine::Poll(short events, double deadline, short &revents) {
    return PollUntil(fd_, events, deadline, revents, stop_, waitMask_);
}

int PollUntil(int fd, short events, double deadline, short &revents,
              const volatile sig_atomic_t *stop, const sigset_t *open) {
    revents = 0;
    for (;;) {
        if (stop && *stop) return -1;
        const timespec ts = Span(deadline - MonoNow());
        pollfd p{fd, events, 0};
        const int r = ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, &ts, open);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return 0;
        revents = p.revents;
        return 1;
    }
}

bool SleepUntil(double until, const volatile sig_atomic_t *stop, const sigset_t *open) {
    for (;;) {
        if (stop && *stop) return false;
        const double left = until - MonoNow();
        if (left <= 0) return true;
        const timespec ts = Span(left);
        ppoll(nullptr, 0, &ts, open);
    }
}

bool WriteAll(int fd, bool socket, const uint8_t *bytes, size_t n, double deadline, bool &lost,
              const volatile sig_atomic_t *stop, const sigset_t *open) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = socket ? send(fd, bytes + done, n - done, MSG_NOSIGNAL)
                                 : write(fd, bytes + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) {
            short rev = 0;
            if (PollUntil(fd, POLLOUT, deadline, rev, stop, open) <= 0) return false;
            if (rev & (POLLHUP | POLLERR | POLLNVAL)) {
                lost = true;
                return false;
            }
            continue;
        }
        lost = true;
        return false;
    }
    return true;
}

bool SerialLine::Write(const uint8_t *bytes, size_t n) {
    if (fd_ < 0 || lost_) return false;
    return WriteAll(fd_, false, bytes, n, Now() + proto::kTimeout, lost_, stop_, waitMask_);
}

long SerialLine::OutQueued() {
    int n = 0;
    if (fd_ < 0 || lost_ || ioctl(fd_, TIOCOUTQ, &n) != 0 || n < 0) return 0;
    return n;
}

// With VMIN 0 a read of nothing gives 0 both on a quiet line and on one
// that hung up; poll tells them apart.
long SerialLine::ReadSome(uint8_t *buf, size_t n) {
    if (fd_ < 0 || lost_) return -1;
    for (;;) {
        const ssize_t r = read(fd_, buf, n);
        if (r > 0) return static_cast<long>(r);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN) {
            // EIO: the other side is gone
            lost_ = true;
            return -1;
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            lost_ = true;
            return -1;
        }
        return 0;
    }
}

proto::ByteLine::Wait SerialLine::WaitReadable(double deadline) {
    if (fd_ < 0 || lost_) return Wait::Lost;
    short rev = 0;
    const int r = Poll(POLLIN, deadline, rev);
    if (r < 0) return Wait::Interrupted;
    if (r == 0) return Wait::Deadline;
    // a hang-up is told by the read that follows, after what was still queued
    return Wait::Readable;
}

bool SerialLine::SleepUntil(double until) { return lines::SleepUntil(until, stop_, waitMask_); }

void SerialLine::DiscardInput() {
    if (fd_ < 0) return;
    tcflush(fd_, TCIFLUSH);
    // a pseudo-terminal may hand on bytes tcflush did not see
    uint8_t junk[512];
    while (ReadSome(junk, sizeof junk) > 0) {}
}

void SerialLine::DiscardOutput() {
    if (fd_ >= 0) tcflush(fd_, TCOFLUSH);
}

}   // namespace lines

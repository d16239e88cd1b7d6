// Helpers shared by the benchmark programs: the simulator as a child,
// process CPU time and memory, and the result lines that run-all collects.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace bench {

inline double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// user + system seconds of this process
inline double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec * 1e-6 +
           static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec * 1e-6;
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); -1 when absent.
inline long StatusKb(const char *field) {
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            kb = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

// voluntary context switches of this process: how often it slept
inline long Sleeps() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_nvcsw;
}

inline double LoadAverage1() {
    double l[3] = {0, 0, 0};
    return getloadavg(l, 3) >= 1 ? l[0] : -1.0;
}

// One machine-readable figure: "RESULT key value".
inline void Result(const char *key, double value) {
    std::printf("RESULT %s %.6g\n", key, value);
    std::fflush(stdout);
}

inline void Note(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::fputs("# ", stdout);
    std::vprintf(fmt, ap);
    std::fputc('\n', stdout);
    va_end(ap);
    std::fflush(stdout);
}

// kvex-sim as a child on a new pseudo-terminal; its first line is the
// device path. Commands go to its standard input.
class Sim {
public:
    ~Sim() { Stop(); }
    bool Start(const std::vector<std::string> &args) {
        int in[2], out[2];
        if (pipe(in) != 0) return false;
        if (pipe(out) != 0) {
            close(in[0]);
            close(in[1]);
            return false;
        }
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[1]);
            close(out[0]);
            std::vector<char *> argv;
            argv.push_back(const_cast<char *>(KVEX_SIM_PATH));
            for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(KVEX_SIM_PATH, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
        fcntl(in_, F_SETFD, FD_CLOEXEC);
        fcntl(out_, F_SETFD, FD_CLOEXEC);
        fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
        const double t0 = Now();
        while (Now() - t0 < 5.0) {
            Drain(50);
            size_t nl = text_.find('\n');
            if (nl != std::string::npos) {
                device_ = text_.substr(0, nl);
                text_.erase(0, nl + 1);
                return !device_.empty();
            }
        }
        return false;
    }
    void Command(const std::string &line) {
        if (in_ < 0) return;
        std::string l = line + "\n";
        ssize_t w = write(in_, l.data(), l.size());
        (void)w;
        Drain(0);
    }
    // Reads what the simulator printed, waiting at most ms for the first bytes.
    void Drain(int ms) {
        if (out_ < 0) return;
        pollfd p{out_, POLLIN, 0};
        if (ms > 0) poll(&p, 1, ms);
        char buf[4096];
        ssize_t n;
        while ((n = read(out_, buf, sizeof buf)) > 0) text_.append(buf, static_cast<size_t>(n));
    }
    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (in_ >= 0) close(in_);
        if (out_ >= 0) close(out_);
        in_ = out_ = -1;
    }
    const std::string &Device() const { return device_; }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string device_, text_;
};

}   // namespace bench

#include "tests/support/sim.h"
#include "tests/support/child.h"
#include "tests/support/clock.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const std::vector<std::string> &args) {
    Stop();
    device_.clear();
    buffered_.clear();
    int inPipe[2], outPipe[2];
    if (pipe2(inPipe, O_CLOEXEC) != 0) return false;
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        close(inPipe[0]);
        close(inPipe[1]);
        return false;
    }
    pid_ = SpawnChild(KVEX_SIM_PATH, args, inPipe[0], outPipe[1], kInherit);
    close(inPipe[0]);
    close(outPipe[1]);
    if (pid_ <= 0) {
        close(inPipe[1]);
        close(outPipe[0]);
        pid_ = -1;
        return false;
    }
    in_ = inPipe[1];
    out_ = outPipe[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
    // first line: device path; an end of output first means it gave up
    double t0 = Now();
    while (Now() - t0 < 5.0 && out_ >= 0) {
        Output(0.05);
        size_t nl = buffered_.find('\n');
        if (nl != std::string::npos) {
            device_ = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return !device_.empty();
        }
    }
    return false;
}

void SimProcess::Command(const std::string &line) {
    if (in_ < 0) return;
    std::string l = line + "\n";
    ssize_t w = write(in_, l.data(), l.size());
    (void)w;
}

// Takes what is in the pipe; closes it at the end of the output.
void SimProcess::Drain() {
    char buf[4096];
    ssize_t n;
    while (out_ >= 0 && (n = read(out_, buf, sizeof buf)) > 0) buffered_.append(buf, n);
    if (out_ >= 0 && n == 0) {
        close(out_);
        out_ = -1;
    }
}

std::string SimProcess::Output(double seconds, const std::string &until) {
    double t0 = Now();
    for (;;) {
        Drain();
        if (until.empty() ? Now() - t0 >= seconds
                          : (buffered_.find(until) != std::string::npos || Now() - t0 >= seconds))
            break;
        if (out_ < 0) {
            // nothing more will come: wait out the time as asked, without spinning
            usleep(10000);
            continue;
        }
        pollfd p{out_, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return buffered_;
}

void SimProcess::CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

bool SimProcess::WaitExit(double seconds, int *status) {
    if (pid_ <= 0) return false;
    const double t0 = Now();
    int st = 0;
    for (;;) {
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = -1;
            if (status) *status = st;
            Drain();
            return true;
        }
        if (Now() - t0 >= seconds) return false;
        usleep(10000);
    }
}

void SimProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        if (!WaitExit(2.0)) {
            kill(pid_, SIGKILL);
            int st = 0;
            waitpid(pid_, &st, 0);
        }
        // keep whatever it printed on exit (its counters)
        Drain();
    }
    pid_ = -1;
    CloseInput();
    if (out_ >= 0) close(out_);
    out_ = -1;
}

bool SimDo(SimProcess &sim, const std::string &cmd) {
    size_t before = sim.Output().size();
    sim.Command(cmd);
    for (int i = 0; i < 100; ++i) {
        std::string out = sim.Output(0.05);
        if (out.find("ok " + cmd, before) != std::string::npos) return true;
        if (out.find("error", before) != std::string::npos) return false;
    }
    return false;
}

std::string SimStats(SimProcess &sim) {
    const size_t before = sim.Output().size();   // an older answer does not count
    sim.Command("stats");
    std::string out = sim.Output();
    const double t0 = Now();
    while (out.find("stats end", before) == std::string::npos && Now() - t0 < 3.0)
        out = sim.Output(0.02);
    const size_t at = out.find("stats requests", before);
    const size_t end = at == std::string::npos ? at : out.find("stats end", at);
    return end == std::string::npos ? "" : out.substr(at, end - at);
}

std::string SimStatsRequests(SimProcess &sim) {
    const std::string stats = SimStats(sim);
    return stats.substr(0, stats.find('\n'));
}

long SimCounter(SimProcess &sim, const std::string &key) {
    const std::string stats = SimStats(sim);
    const std::string field = " " + key + "=";
    const size_t at = stats.find(field);
    return at == std::string::npos ? -1 : std::atol(stats.c_str() + at + field.size());
}

long SimRequests(SimProcess &sim, int orderCode) {
    return SimCounter(sim, std::to_string(orderCode));
}

// kvex-sim as a child process on a pseudo-terminal, for --simulate.
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctl/ctl.h"
#include "fileio/fileio.h"

namespace ctl {

namespace {
pid_t g_sim = -1;

std::string SimProgram() {
    const std::string found = fileio::FindProgram("kvex-sim");
    return found.empty() ? "kvex-sim" : found;   // execvp says what is missing
}
}   // namespace

std::string StartSimulator(const std::vector<std::string> &args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return "";
    const std::string program = SimProgram();
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return "";
    }
    if (pid == 0) {
        // ends with us, even when we are killed
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(out[1], 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    g_sim = pid;
    // the first line is the device path
    std::string line;
    const double deadline = Now() + 5.0;
    char c;
    while (Now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (WaitFds(&p, 1, deadline) <= 0) break;
        ssize_t r = read(out[0], &c, 1);
        if (r <= 0) break;
        if (c == '\n') break;
        line += c;
    }
    // later output is not ours; the simulator ignores a closed pipe
    close(out[0]);
    if (line.empty() || line[0] != '/') {
        StopSimulator();
        return "";
    }
    return line;
}

void StopSimulator() {
    if (g_sim <= 0) return;
    kill(g_sim, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(g_sim, nullptr, WNOHANG) != 0) break;
        usleep(10000);   // bounded: 2 s at most
    }
    g_sim = -1;
}

}   // namespace ctl

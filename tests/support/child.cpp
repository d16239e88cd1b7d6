#include "tests/support/child.h"
#include "tests/support/clock.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

pid_t SpawnChild(const std::string &path, const std::vector<std::string> &args, int in, int out,
                 int err, const std::vector<std::string> &env, const std::string &cwd) {
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    const int streams[3] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        if (streams[target] == kDevNull)
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_RDWR, 0);
        else if (streams[target] >= 0)
            posix_spawn_file_actions_adddup2(&actions, streams[target], target);
    }
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    std::vector<char *> argv{const_cast<char *>(path.c_str())};
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    // this process's environment with the given entries replacing their namesakes
    std::vector<std::string> vars;
    for (char **e = environ; e && *e; ++e) vars.emplace_back(*e);
    for (const auto &entry : env) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (auto it = vars.begin(); it != vars.end();)
            it = it->compare(0, name.size(), name) == 0 ? vars.erase(it) : it + 1;
        vars.push_back(entry);
    }
    std::vector<char *> envp;
    for (auto &v : vars) envp.push_back(const_cast<char *>(v.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

ChildProcess::~ChildProcess() {
    if (pid > 0 && rc < 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

bool ChildProcess::Start(const std::string &path, const std::vector<std::string> &args,
                         const std::vector<std::string> &env, const std::string &cwd) {
    int o[2], e[2];
    if (pipe2(o, O_CLOEXEC) != 0) return false;
    if (pipe2(e, O_CLOEXEC) != 0) {
        close(o[0]);
        close(o[1]);
        return false;
    }
    pid = SpawnChild(path, args, kDevNull, o[1], e[1], env, cwd);
    close(o[1]);
    close(e[1]);
    outFd_ = o[0];
    errFd_ = e[0];
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
    fcntl(errFd_, F_SETFL, O_NONBLOCK);
    return pid > 0;
}

void ChildProcess::Drain(double seconds) {
    pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    poll(p, 2, static_cast<int>(seconds * 1000));
    char buf[4096];
    ssize_t n;
    while ((n = read(outFd_, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    while ((n = read(errFd_, buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
}

bool ChildProcess::Wait(double seconds) {
    if (pid <= 0) return false;
    const double end = Now() + seconds;
    while (rc < 0) {
        Drain(0.02);
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) {
            killedBy = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            rc = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + killedBy;
            Drain(0);
            Drain(0);
            break;
        }
        if (Now() > end) return false;
    }
    return true;
}

bool ChildProcess::WaitFor(const std::string &text, double seconds) {
    const double end = Now() + seconds;
    while (out.find(text) == std::string::npos && Now() < end && rc < 0) Wait(0.05);
    return out.find(text) != std::string::npos;
}

void ChildProcess::Signal(int sig) {
    if (pid > 0 && rc < 0) kill(pid, sig);
}

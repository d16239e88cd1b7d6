// Programs as child processes of the test.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

// A standard stream of a child: a descriptor of the test, kInherit or kDevNull.
constexpr int kInherit = -1;
constexpr int kDevNull = -2;

// Starts `path` with `args` on the given standard input, output and error,
// with the `env` entries ("NAME=value") set over this process's
// environment, in `cwd` when given. The child gets no other descriptor
// the test opened with O_CLOEXEC (pipe ends made by pipe2 here are).
// Returns its pid, or -1 when it could not be started.
pid_t SpawnChild(const std::string &path, const std::vector<std::string> &args, int in, int out,
                 int err, const std::vector<std::string> &env = {}, const std::string &cwd = "");

// A program run to its end: its output and error output collected.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();   // a child still running is killed
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    // Starts it with standard input on /dev/null; false when it failed.
    bool Start(const std::string &path, const std::vector<std::string> &args,
               const std::vector<std::string> &env = {}, const std::string &cwd = "");
    // Reads what came until `seconds` passed or the child ended; true when it ended.
    bool Wait(double seconds);
    // Reads until stdout holds `text` or `seconds` passed.
    bool WaitFor(const std::string &text, double seconds);
    void Signal(int sig);
    int rc = -1;        // exit code; 128 + signal when killed
    int killedBy = 0;   // the signal that ended it, 0 when it exited
    std::string out, err;
    pid_t pid = -1;

private:
    void Drain(double seconds);
    int outFd_ = -1, errFd_ = -1;
};

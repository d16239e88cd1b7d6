// The built program as a subprocess: where it finds its resource file, how it
// fails without one, and that closing the main panel ends it with 0.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

struct RunResult {
    int status = -1000;    // exit status, or -signal
    std::string err;
    double seconds = 0;
};

// Runs `exe args` in `cwd` with the extra environment, killing it after
// `limit` seconds.
RunResult RunProgram(const std::string &exe, const std::vector<std::string> &args, const std::string &cwd,
              const std::vector<std::pair<std::string, std::string>> &env, double limit) {
    RunResult r;
    int errPipe[2];
    if (pipe(errPipe) != 0) return r;
    const double t0 = Now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) { dup2(devnull, 0); dup2(devnull, 1); }
        if (chdir(cwd.c_str()) != 0) _exit(126);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        for (const auto &e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(exe.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(errPipe[1]);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    int st = 0;
    bool done = false;
    while (!done) {
        char buf[1024];
        ssize_t n;
        while ((n = read(errPipe[0], buf, sizeof buf)) > 0) r.err.append(buf, n);
        if (waitpid(pid, &st, WNOHANG) == pid) {
            done = true;
            break;
        }
        if (Now() - t0 > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &st, 0);
            done = true;
            break;
        }
        pollfd p{errPipe[0], POLLIN, 0};
        poll(&p, 1, 20);
    }
    r.seconds = Now() - t0;
    char buf[1024];
    ssize_t n;
    while ((n = read(errPipe[0], buf, sizeof buf)) > 0) r.err.append(buf, n);
    close(errPipe[0]);
    if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
    else if (WIFSIGNALED(st)) r.status = -WTERMSIG(st);
    return r;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/ridar-app-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

const char *kUir = "K-VEX-XCRidarV252.uir";

// Lines of s that start with prefix.
int CountLines(const std::string &s, const std::string &prefix) {
    int n = 0;
    size_t at = 0;
    while (at < s.size()) {
        size_t nl = s.find('\n', at);
        if (nl == std::string::npos) nl = s.size();
        if (s.compare(at, prefix.size(), prefix) == 0) ++n;
        at = nl + 1;
    }
    return n;
}

TEST(App, WithoutUsableResourceFileEndsWithMinusOneAndOneLine) {
    struct Case {
        const char *name;
        const char *content;   // nullptr: no file
    } cases[] = {
        {"missing", nullptr},
        {"not a resource file", "this is no user interface\n"},
        {"empty", ""},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const std::string bin = dir.Path() + "/bin";
        fs::create_directories(bin);
        fs::copy_file(KVEX_RIDAR_PATH, bin + "/kvex-ridar");
        std::string expectName = bin + "/" + kUir;
        if (c.content) std::ofstream(expectName) << c.content;
        PtyPeer peer;   // a port that never answers, should it get that far
        // a runtime directory of its own keeps Qt from remarking on its absence
        const std::string runtimeDir = dir.Path() + "/run";
        fs::create_directories(runtimeDir);
        fs::permissions(runtimeDir, fs::perms::owner_all);
        RunResult r = RunProgram(bin + "/kvex-ridar", {"--port", peer.Device()}, dir.Path(),
                                 {{"XDG_RUNTIME_DIR", runtimeDir}}, 20.0);
        EXPECT_EQ(r.status, 255) << c.name << ": " << r.err;
        // one line of the program's own; the parser may add its diagnosis of a bad file
        EXPECT_EQ(CountLines(r.err, "kvex-ridar:"), 1) << c.name << ": " << r.err;
        if (!c.content) {
            EXPECT_EQ(CountLines(r.err, ""), 1) << c.name << ": " << r.err;
        }
        EXPECT_NE(r.err.find(expectName), std::string::npos) << c.name << ": " << r.err;
        // nothing waited for a sensor before giving up
        EXPECT_LT(r.seconds, 5.0) << c.name;
    }
}

TEST(App, FindsResourceFileOfAnInstalledProgramAndInTheWorkingDirectory) {
    struct Case {
        const char *name;
        const char *uirDir;   // relative to the temp dir
        const char *cwd;      // relative to the temp dir
    } cases[] = {
        {"installed", "share/kvex-ridar", "."},
        {"working directory", "work", "work"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const std::string bin = dir.Path() + "/bin";
        fs::create_directories(bin);
        fs::create_directories(dir.Path() + "/" + c.uirDir);
        fs::copy_file(KVEX_RIDAR_PATH, bin + "/kvex-ridar");
        fs::copy_file(KVEX_UIR_PATH, dir.Path() + "/" + c.uirDir + "/" + kUir);
        PtyPeer peer;
        RunResult r = RunProgram(bin + "/kvex-ridar", {"--port", peer.Device()}, dir.Path() + "/" + c.cwd,
                          {{"RIDAR_TEST_CLOSE_AFTER", "2.0"}}, 20.0);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    }
}

// No sensor answers: the echo check waits 1.5 s. Closing the main panel
// during that wait, or later from the event loop, ends the program with 0.
TEST(App, ClosingTheMainPanelEndsWithZero) {
    struct Case {
        const char *closeAfter;
        double atMost;
    } cases[] = {
        {"0.4", 6.0},   // inside the echo wait loop
        {"2.5", 6.0},   // from the event loop
    };
    for (const Case &c : cases) {
        PtyPeer peer;
        const std::string exe = KVEX_RIDAR_PATH;
        RunResult r = RunProgram(exe, {"--port", peer.Device()}, fs::path(exe).parent_path().string(),
                          {{"RIDAR_TEST_CLOSE_AFTER", c.closeAfter}}, 20.0);
        EXPECT_EQ(r.status, 0) << c.closeAfter << ": " << r.err;
        EXPECT_LT(r.seconds, c.atMost) << c.closeAfter;
        EXPECT_GE(r.seconds, std::atof(c.closeAfter)) << c.closeAfter;
        // the echo request went out on the given port
        std::string req = peer.Read(36, 0.2);
        EXPECT_EQ(req.substr(0, 4), std::string("\x00\x55\x00\x05", 4)) << c.closeAfter;
    }
}

// --simulate hands every later argument to the simulator; the program
// identifies it and still ends cleanly when its panel is closed.
TEST(App, SimulateStartsTheSimulatorAndEndsWithZero) {
    const std::string exe = KVEX_RIDAR_PATH;
    RunResult r = RunProgram(exe, {"--simulate", "--fast", "--ccdtype", "104", "--softversion", "249"},
                             fs::path(exe).parent_path().string(), {{"RIDAR_TEST_CLOSE_AFTER", "2.5"}}, 20.0);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.seconds, 8.0);
    // a simulator option the simulator does not know makes it refuse to start
    RunResult bad = RunProgram(exe, {"--simulate", "--no-such-simulator-option"},
                               fs::path(exe).parent_path().string(), {{"RIDAR_TEST_CLOSE_AFTER", "2.5"}}, 20.0);
    EXPECT_EQ(bad.status, 255) << bad.err;
    EXPECT_NE(bad.err.find("kvex-sim"), std::string::npos) << bad.err;
}

}  // namespace

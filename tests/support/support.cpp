#include "tests/support/support.h"
#include "tests/support/clock.h"
#include "rt/rt_testing.h"

#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <vector>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "app/app.h"
#include "params/vars.h"

SimProcess::~SimProcess() { Stop(); }

bool SimProcess::Start(const std::vector<std::string> &args) {
    int inPipe[2], outPipe[2];
    if (pipe(inPipe) != 0) return false;
    if (pipe(outPipe) != 0) { close(inPipe[0]); close(inPipe[1]); return false; }
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        close(inPipe[1]);
        close(outPipe[0]);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(KVEX_SIM_PATH));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(KVEX_SIM_PATH, argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    in_ = inPipe[1];
    out_ = outPipe[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
    // first line: device path
    double t0 = Now();
    while (Now() - t0 < 5.0) {
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

std::string SimProcess::Output(double seconds, const std::string &until) {
    double t0 = Now();
    for (;;) {
        char buf[4096];
        ssize_t n;
        while (out_ >= 0 && (n = read(out_, buf, sizeof buf)) > 0) buffered_.append(buf, n);
        if (until.empty() ? Now() - t0 >= seconds
                          : (buffered_.find(until) != std::string::npos || Now() - t0 >= seconds))
            break;
        pollfd p{out_, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return buffered_;
}

void SimProcess::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int st = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid_, &st, WNOHANG) == pid_) { pid_ = -1; break; }
            usleep(10000);
        }
        if (pid_ > 0) { kill(pid_, SIGKILL); waitpid(pid_, &st, 0); }
        // keep whatever it printed on exit (its counters)
        char buf[4096];
        ssize_t n;
        while (out_ >= 0 && (n = read(out_, buf, sizeof buf)) > 0) buffered_.append(buf, n);
    }
    pid_ = -1;
    if (in_ >= 0) close(in_);
    if (out_ >= 0) close(out_);
    in_ = out_ = -1;
}

PtyPeer::PtyPeer() {
    int slave = -1;
    char name[256] = {0};
    if (openpty(&fd_, &slave, name, nullptr, nullptr) == 0) {
        termios t;
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        device_ = name;
        // keep the slave open in this process so the line does not hang up
        // between the program's close and reopen; closed with the peer
        slave_ = slave;
    }
}

PtyPeer::~PtyPeer() { Close(); }

void PtyPeer::Close() {
    if (fd_ >= 0) close(fd_);
    if (slave_ >= 0) close(slave_);
    fd_ = slave_ = -1;
}

std::string PtyPeer::Read(size_t n, double seconds) {
    std::string out;
    double t0 = Now();
    while (out.size() < n && fd_ >= 0) {
        double left = seconds - (Now() - t0);
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
        char buf[1024];
        ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.append(buf, r);
        else if (r < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return out;
}

void PtyPeer::Write(const std::string &bytes) {
    size_t off = 0;
    while (off < bytes.size() && fd_ >= 0) {
        ssize_t w = write(fd_, bytes.data() + off, bytes.size() - off);
        if (w > 0) off += w;
        else if (errno != EAGAIN && errno != EINTR) break;
    }
}

std::string MakeFrame(int syncWord, int orderCode, const std::vector<int> &words) {
    std::string f(36, '\0');
    f[0] = static_cast<char>((syncWord >> 8) & 0xFF);
    f[1] = static_cast<char>(syncWord & 0xFF);
    f[2] = static_cast<char>((orderCode >> 8) & 0xFF);
    f[3] = static_cast<char>(orderCode & 0xFF);
    for (size_t i = 0; i < 16 && i < words.size(); ++i) {
        f[4 + 2 * i] = static_cast<char>((words[i] >> 8) & 0xFF);
        f[5 + 2 * i] = static_cast<char>(words[i] & 0xFF);
    }
    return f;
}

bool StartRidarForTest() {
    static bool started = false;
    static bool ok = false;
    if (started) return ok;
    started = true;
    static char arg0[] = "ridar-test";
    static char *argv[] = {arg0, nullptr};
    if (!InitCVIRTE(1, argv)) return false;
    RegisterRidarCallbacks();
    rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    pHandle = LoadPanel(0, KVEX_UIR_PATH, PANEL);
    pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
    pRecord = LoadPanel(0, KVEX_UIR_PATH, RECORD);
    if (pHandle < 0 || pPopup < 0 || pRecord < 0) return false;
    GetProjectDir(proj_dir, sizeof proj_dir);
    InitVars();
    ok = true;
    return ok;
}

// ---- files of a test -----------------------------------------------------------------------

std::string testfs::TempDir(const std::string &prefix) {
    static std::map<std::string, std::string> dirs;
    std::string &dir = dirs[prefix];
    if (dir.empty()) {
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) dir = buf.data();
    }
    return dir;
}

std::string testfs::ReadFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void testfs::WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

bool testfs::Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

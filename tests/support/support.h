// Shared helpers of the tests: the simulator as a child process, a scripted
// peer on a pseudo-terminal, and the program's start-up without a window.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

// kvex-sim as a child. The first line it prints is its device path.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    // Starts the simulator with the given options; false when it fails.
    bool Start(const std::vector<std::string> &args);
    // Sends one control command line (e.g. "object 300 700").
    void Command(const std::string &line);
    // Reads what the simulator printed on stdout so far (non-blocking),
    // waiting up to `seconds` for a line containing `until` when given.
    std::string Output(double seconds = 0.0, const std::string &until = "");
    void Stop();   // SIGTERM and wait
    const std::string &Device() const { return device_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string device_, buffered_;
};

// A pseudo-terminal whose master side the test drives byte by byte.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;
    const std::string &Device() const { return device_; }
    // Reads up to n bytes, waiting at most `seconds` for all of them.
    std::string Read(size_t n, double seconds);
    void Write(const std::string &bytes);
    void Close();
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    int slave_ = -1;
    std::string device_;
};

// A 36-byte frame: sync, order, 16 words, every word high byte first.
std::string MakeFrame(int syncWord, int orderCode, const std::vector<int> &words);

// Starts the run-time once per process, registers the callbacks and loads
// the three panels; installs a popup hook that answers every popup with 0
// unless a test sets its own. Returns false when something failed.
bool StartRidarForTest();

// Files of a test, read and written as bytes.
namespace testfs {
// A directory of this process under /tmp, made once per prefix.
std::string TempDir(const std::string &prefix);
std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
bool Exists(const std::string &path);
}  // namespace testfs

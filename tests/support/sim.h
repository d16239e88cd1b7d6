// kvex-sim as a child process of the test.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

// The simulator as a child, its control console on a pipe. The first line
// it prints is its device path. Stop() ends it; Start() may then run it
// again, with a fresh console and output.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    // Starts the simulator with the given options (a running one is
    // stopped first); false when it fails or ends before it names its
    // device, then WaitExit() gives how it ended.
    bool Start(const std::vector<std::string> &args);
    // Sends one control command line (e.g. "object 300 700").
    void Command(const std::string &line);
    // Reads what the simulator printed on stdout so far (non-blocking),
    // waiting up to `seconds` for a line containing `until` when given.
    std::string Output(double seconds = 0.0, const std::string &until = "");
    // Closes the console: the simulator sees the end of its input.
    void CloseInput();
    // Waits up to `seconds` for the simulator to end by itself; true when
    // it did, with its wait status in *status when given.
    bool WaitExit(double seconds, int *status = nullptr);
    void Stop();   // SIGTERM and wait
    const std::string &Device() const { return device_; }
    pid_t Pid() const { return pid_; }

private:
    void Drain();
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string device_, buffered_;
};

// Sends a command to the simulator and waits for its acknowledgement.
bool SimDo(SimProcess &sim, const std::string &cmd);

// The simulator's counters, asked afresh with "stats": its answer from
// "stats requests" up to "stats end", "" when none came within 3 s.
std::string SimStats(SimProcess &sim);
// The same, only its "stats requests ..." line.
std::string SimStatsRequests(SimProcess &sim);
// One counter of the answer by its key ("8", "stray-bytes"); -1 when the
// answer or the key is missing.
long SimCounter(SimProcess &sim, const std::string &key);
// Requests with this order code the simulator has seen so far.
long SimRequests(SimProcess &sim, int orderCode);

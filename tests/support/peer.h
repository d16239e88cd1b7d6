// The sensor's side of a pseudo-terminal: a peer the test drives byte by
// byte, and a scripted sensor that answers from a thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// A stable device name that can be pointed at another line, as
// /dev/ttyUSB0 and /dev/serial/by-id/... go away with a pulled adapter and
// come back, under the same name, pointing at the new line.
class DeviceLink {
public:
    DeviceLink();
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;
    // Points the name at `target` in one step; false when that failed.
    bool PointAt(const std::string &target);
    // The adapter pulled: the name is gone.
    void Pull();
    const std::string &Path() const { return path_; }

private:
    std::string dir_, path_;
};

// A 36-byte frame: sync, order, 16 words, every word high byte first.
std::string MakeFrame(int syncWord, int orderCode, const std::vector<int> &words);

// Payload word i (0..15) of a frame.
int FrameWord(const std::string &frame, int i);

// Bytes as upper-case hex, each followed by a space ("00 55 ").
std::string Hex(const std::string &bytes);

struct PeerRequest {
    int order = 0;
    std::vector<int> words;   // 16 payload words
    double t = 0;             // arrival, Now()
};

// A scripted sensor for the calibration and recorder tests: answers orders
// 8, 11 and 12 (and 2 and 4 once given a parameter set) from a thread, logs
// every request with its arrival time, and can be told to stay silent for
// chosen orders.
class PeerResponder {
public:
    PeerResponder();
    ~PeerResponder();
    PeerResponder(const PeerResponder &) = delete;
    PeerResponder &operator=(const PeerResponder &) = delete;
    const std::string &Device() const { return peer_.Device(); }

    // measurement frame: Ledge, Redge, Mvalue, umValue, tVal, tol, edcnt
    void SetMeasurement(int l, int r, int m, uint32_t um, int tv = 0, int tl = 0, int edges = 2);
    // calibration words the sensor reports (replaced by a store, order 12 / 2)
    void SetCalibration(int slopeWord, int offsetWord);
    // the parameter set a get from RAM or EEPROM (order 2, 4) returns;
    // empty: those orders get no answer
    void SetParameterSet(const std::vector<int> &words);
    void Silent(int orderCode, bool on) { silent_[orderCode & 15] = on; }
    void SilentAll(bool on) {
        for (auto &s : silent_) s = on;
    }
    std::vector<PeerRequest> Requests();
    std::vector<PeerRequest> Requests(int orderCode);
    void ClearLog();
    int SlopeWord();
    int OffsetWord();

private:
    void Run();

    PtyPeer peer_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> silent_[16];
    std::mutex mu_;
    std::vector<int> meas_ = {100, 341, 241, 7960, 0, 241, 50, 2};
    int slope_ = 20480, offset_ = 29500;
    std::vector<int> params_;
    std::vector<PeerRequest> log_;
};

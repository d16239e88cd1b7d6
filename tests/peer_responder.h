// A scripted sensor on a pseudo-terminal for the calibration and recorder
// tests: answers orders 8, 11 and 12 (and 2 and 4 once given a parameter
// set) from a thread, logs every request with
// its arrival time, and can be told to stay silent for chosen orders.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/support.h"

struct PeerRequest {
    int order = 0;
    std::vector<int> words;   // 16 payload words
    double t = 0;             // arrival, seconds on the steady clock
};

inline double PeerNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

class PeerResponder {
public:
    PeerResponder() {
        for (auto &s : silent_) s = false;
        thread_ = std::thread([this] { Run(); });
    }
    ~PeerResponder() {
        quit_ = true;
        thread_.join();
    }
    const std::string &Device() const { return peer_.Device(); }

    // measurement frame: Ledge, Redge, Mvalue, umValue, tVal, tol, edcnt
    void SetMeasurement(int l, int r, int m, uint32_t um, int tv = 0, int tl = 0, int edges = 2) {
        std::lock_guard<std::mutex> g(mu_);
        meas_ = {l, r, m, static_cast<int>(um & 0xFFFF), static_cast<int>(um >> 16), tv, tl, edges};
    }
    // calibration words the sensor reports (replaced by a store, order 12 / 2)
    void SetCalibration(int slopeWord, int offsetWord) {
        std::lock_guard<std::mutex> g(mu_);
        slope_ = slopeWord;
        offset_ = offsetWord;
    }
    // the parameter set a get from RAM or EEPROM (order 2, 4) returns;
    // empty: those orders get no answer
    void SetParameterSet(const std::vector<int> &words) {
        std::lock_guard<std::mutex> g(mu_);
        params_ = words;
    }
    void Silent(int orderCode, bool on) { silent_[orderCode & 15] = on; }
    void SilentAll(bool on) {
        for (auto &s : silent_) s = on;
    }
    std::vector<PeerRequest> Requests() {
        std::lock_guard<std::mutex> g(mu_);
        return log_;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> g(mu_);
        log_.clear();
    }
    std::vector<PeerRequest> Requests(int orderCode) {
        std::vector<PeerRequest> out;
        for (auto &r : Requests())
            if (r.order == orderCode) out.push_back(r);
        return out;
    }
    int SlopeWord() { std::lock_guard<std::mutex> g(mu_); return slope_; }
    int OffsetWord() { std::lock_guard<std::mutex> g(mu_); return offset_; }

private:
    void Run() {
        std::string buf;
        while (!quit_) {
            std::string got = peer_.Read(36 - buf.size(), 0.02);
            buf += got;
            if (buf.size() < 36) continue;
            PeerRequest rq;
            rq.t = PeerNow();
            auto u = [&](size_t i) { return static_cast<unsigned char>(buf[i]); };
            rq.order = u(2) * 256 + u(3);
            for (int i = 0; i < 16; ++i) rq.words.push_back(u(4 + 2 * i) * 256 + u(5 + 2 * i));
            buf.clear();
            std::string reply;
            {
                std::lock_guard<std::mutex> g(mu_);
                log_.push_back(rq);
                if (rq.order == 8) {
                    reply = MakeFrame(0xAA, 8, meas_);
                } else if (rq.order == 12) {
                    if (rq.words[0] == 2) {
                        slope_ = rq.words[1];
                        offset_ = rq.words[2];
                    }
                    reply = MakeFrame(0xAA, 12, {slope_, offset_});
                } else if (rq.order == 11) {
                    reply = MakeFrame(0xAA, 11, {});
                } else if ((rq.order == 2 || rq.order == 4) && !params_.empty()) {
                    reply = MakeFrame(0xAA, rq.order, params_);
                }
            }
            if (!reply.empty() && !silent_[rq.order & 15]) peer_.Write(reply);
        }
    }

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

// The Modbus TCP server of `serve`: input registers from the newest
// measurement, answered on a thread of its own so that no client waits for
// the sensor; writes of the set-point and tolerance go to the run loop.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct _modbus;
struct _modbus_mapping_t;

namespace ctl {

constexpr uint16_t kModbusMapVersion = 1;

// 0-based input registers (function 4); 32-bit values high word first.
enum InputRegister : uint16_t {
    kRegUmHigh = 0,
    kRegUmLow = 1,
    kRegPixels = 2,
    kRegLeft = 3,
    kRegRight = 4,
    kRegEdges = 5,
    kRegStatus = 6,
    kRegSeqHigh = 7,
    kRegSeqLow = 8,
    kRegAgeMs = 9,
    kRegSetpoint = 10,
    kRegTolerance = 11,
    kRegVersion = 12,
    kInputRegisters = 13,
};
// Holding registers, only with --allow-writes.
enum HoldingRegister : uint16_t { kHoldSetpoint = 0, kHoldTolerance = 1, kHoldingRegisters = 2 };

// Status bits of register 6.
enum StatusBit : uint16_t {
    kStAnswering = 1u << 0,
    kStInTolerance = 1u << 1,
    kStTimedOut = 1u << 2,
    kStLost = 1u << 3,
};

// What the run loop knows; the server reads it under its lock.
struct Snapshot {
    bool have = false;   // a measurement came since the start
    int32_t um = 0;
    uint16_t pixels = 0, left = 0, right = 0, edges = 0, setpoint = 0, tolerance = 0;
    uint16_t status = 0;
    uint32_t seq = 0;
    double at = 0;   // monotonic seconds of the measurement
};

// The 13 input registers of a snapshot at monotonic time `now`.
void InputRegisters(const Snapshot &s, double now, uint16_t out[kInputRegisters]);

// A write a client asked for, to be done on the sensor by the run loop.
struct SetpointWrite {
    int setpoint = -1, tolerance = -1;   // -1: left as it is
};

class ModbusServer {
public:
    ~ModbusServer();
    // Listens on "HOST:PORT" ("[::1]:1502" for IPv6); false with a message.
    // `highest` is the largest set-point and tolerance a write may carry.
    bool Start(const std::string &address, bool allowWrites, uint16_t highest, std::string &err);
    void Stop();
    void Update(const Snapshot &s);
    // A write waiting for the sensor; the loop answers it with FinishWrite()
    // once the sensor's RAM was read back.
    bool TakeWrite(SetpointWrite &w);
    void FinishWrite(bool ok);
    int Port() const { return port_; }

private:
    void Run();
    void Wake();

    _modbus *ctx_ = nullptr;
    _modbus_mapping_t *map_ = nullptr;
    int listen_ = -1, wake_[2] = {-1, -1}, port_ = 0;
    bool allowWrites_ = false;
    uint16_t highest_ = 0;
    std::thread thread_;

    std::mutex mu_;   // guards what follows
    bool quit_ = false;
    Snapshot snap_;
    bool writeAsked_ = false, writeDone_ = false, writeOk_ = false;
    SetpointWrite write_;
};

}   // namespace ctl

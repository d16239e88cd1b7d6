// A sensor behind a serial device server: "rfc2217://HOST:PORT" (Telnet
// Com Port Control, the line set to 19200 8N1 by us) or "tcp://HOST:PORT"
// (raw bytes, the line as the server is set). A lost connection is a pulled
// adapter. No authentication, no encryption: a separated network only.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "lines/serial_line.h"
#include "lines/telnet.h"

namespace lines {

// true for a name of the two network forms.
bool IsNetPort(const std::string &name);
// "HOST:PORT" or "[V6]:PORT", the port 0..65535; with portOptional the
// ":PORT" may be left out (port then comes back empty).
bool SplitHostPort(const std::string &address, std::string &host, std::string &port,
                   bool portOptional = false);

class NetLine : public proto::ByteLine {
public:
    ~NetLine() override { Close(); }
    // Connects and, for rfc2217://, sets the line; false with a message.
    bool Open(const std::string &name, OpenFault &fault, std::string &err);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // The socket, for an event loop to watch; -1 when closed.
    int Fd() const { return fd_; }
    void SetInterrupt(const volatile sig_atomic_t *stop, const sigset_t *open) {
        stop_ = stop;
        waitMask_ = open;
    }

    bool Write(const uint8_t *bytes, size_t n) override;
    // A network port cannot say what its server still holds: the engine
    // counts the line time of the bytes instead.
    long OutQueued() override { return 0; }
    long ReadSome(uint8_t *buf, size_t n) override;
    Wait WaitReadable(double deadline) override;
    bool SleepUntil(double until) override { return lines::SleepUntil(until, stop_, waitMask_); }
    void DiscardInput() override;
    void DiscardOutput() override {}
    bool Lost() const override { return lost_; }
    double Now() const override { return MonoNow(); }

private:
    bool Send(const uint8_t *bytes, size_t n, double deadline);   // as they are
    bool Pump();            // reads what came; false when the line is lost
    void Take(uint8_t b);   // one received byte through the Telnet parser
    void Option(uint8_t cmd, uint8_t opt);
    void Subnegotiation();
    bool SetLine(std::string &err);   // RFC 2217: 19200 8N1, no flow control

    int fd_ = -1;
    bool lost_ = false, telnet_ = false;
    std::string name_;
    std::vector<uint8_t> data_;   // received line bytes not yet read
    TelnetRx rx_;
    int comPort_ = 0;   // 1 the server agreed to COM-PORT-OPTION, -1 refused
    long confirmed_[6] = {-1, -1, -1, -1, -1, -1};   // the server's answer to SET 1..5
    std::vector<uint16_t> answered_;                 // (command << 8 | option) replied once
    const volatile sig_atomic_t *stop_ = nullptr;
    const sigset_t *waitMask_ = nullptr;
};

// The port the operator named: a local serial device or a network port.
class PortLine : public proto::ByteLine {
public:
    bool Open(const std::string &name, OpenFault &fault, std::string &err);
    void Close() {
        serial_.Close();
        net_.Close();
    }
    bool IsOpen() const { return net_.IsOpen() || serial_.IsOpen(); }
    bool IsNet() const { return net_.IsOpen(); }
    int Fd() const { return IsNet() ? net_.Fd() : serial_.Fd(); }
    // A network port's line was set at its open (RFC 2217) or by its server
    // (raw TCP): only the sensor's 19200 8N1 without handshake is taken.
    bool SetFraming(long baud, int parity, int dataBits, int stopBits, std::string &err);
    bool SetHardwareFlow(bool on) { return IsNet() ? !on : serial_.SetHardwareFlow(on); }
    bool LowLatency() const { return !IsNet() && serial_.LowLatency(); }
    int LatencyTimerMs() const { return IsNet() ? -1 : serial_.LatencyTimerMs(); }
    void SetInterrupt(const volatile sig_atomic_t *stop, const sigset_t *open) {
        serial_.SetInterrupt(stop, open);
        net_.SetInterrupt(stop, open);
    }

    bool Write(const uint8_t *bytes, size_t n) override { return Line().Write(bytes, n); }
    long OutQueued() override { return Line().OutQueued(); }
    long ReadSome(uint8_t *buf, size_t n) override { return Line().ReadSome(buf, n); }
    Wait WaitReadable(double deadline) override { return Line().WaitReadable(deadline); }
    bool SleepUntil(double until) override { return Line().SleepUntil(until); }
    void DiscardInput() override { Line().DiscardInput(); }
    void DiscardOutput() override { Line().DiscardOutput(); }
    bool Lost() const override { return IsNet() ? net_.Lost() : serial_.Lost(); }
    double Now() const override { return MonoNow(); }

private:
    proto::ByteLine &Line() {
        return net_.IsOpen() ? static_cast<proto::ByteLine &>(net_) : serial_;
    }
    SerialLine serial_;
    NetLine net_;
};

}   // namespace lines

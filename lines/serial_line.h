// A local serial device as a byte line: plain POSIX termios, opened for this
// program alone. The windows' run-time layer and kvex-ctl use the same
// rules for opening, locking and naming a port.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "proto/engine.h"

namespace lines {

// Monotonic seconds.
double MonoNow();
// poll() on fd (nothing when -1) until the monotonic deadline, with the
// signal mask `open` while waiting; 1 ready, 0 deadline, -1 when *stop.
int PollUntil(int fd, short events, double deadline, short &revents,
              const volatile sig_atomic_t *stop, const sigset_t *open);
// false when *stop ended the sleep.
bool SleepUntil(double until, const volatile sig_atomic_t *stop, const sigset_t *open);
// All n bytes out on fd (a socket without SIGPIPE) by the deadline; false
// when the time ran out, *stop was set, or the line broke (then `lost`).
bool WriteAll(int fd, bool socket, const uint8_t *bytes, size_t n, double deadline, bool &lost,
              const volatile sig_atomic_t *stop, const sigset_t *open);

// Why a port could not be opened.
enum class OpenFault { None, Missing, NotSerial, Permission, Busy, Setup };

// One sentence for an open fault, naming the device and what to do; holder
// is who has the port, when the system can tell ("" otherwise).
std::string OpenFaultText(OpenFault f, const std::string &device, const std::string &detail);

// Takes the port for this process alone: no further opens by other users
// (TIOCEXCL) and an advisory lock that serial programs, root included,
// respect. false when another process holds the lock.
bool TakeExclusive(int fd);
// Gives the port back before its close: the kernel keeps TIOCEXCL until the
// last close, so while another process (the simulator, a getty) holds the
// line open, every later open by other users would fail as busy.
void ReleaseExclusive(int fd);

// "kvex-ctl (pid 4711)" for each other process that has the device open,
// as far as /proc shows; "" when none is seen.
std::string HolderOf(const std::string &device);

// The serial devices of this machine with their stable names.
struct PortName {
    std::string device;   // /dev/ttyUSB0
    std::string byId;     // /dev/serial/by-id/usb-FTDI_..., "" when none
};
// RIDAR_DEV_ROOT stands in for / in tests.
std::vector<PortName> ListPorts();

// 19200 8N1, raw, no handshake.
class SerialLine : public proto::ByteLine {
public:
    ~SerialLine() override { Close(); }
    // false with `fault` and a message when the device cannot be opened.
    bool Open(const std::string &path, OpenFault &fault, std::string &err);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Another speed or framing than the sensor's 19200 8N1, for a caller
    // that names its own (parity 0 none, 1 odd, 2 even, 3 mark, 4 space);
    // false with the reason when the driver does not take it.
    bool SetFraming(long baud, int parity, int dataBits, int stopBits, std::string &err);
    // RTS/CTS handshake on or off.
    bool SetHardwareFlow(bool on);
    // The driver took the low-latency request made at open.
    bool LowLatency() const { return lowLatency_ != 0; }
    // The USB adapter's latency timer in ms, -1 where there is none.
    int LatencyTimerMs() const { return latencyTimerMs_; }

    // Waits end early when `*stop` becomes non-zero; `open` is the signal
    // mask in force while waiting (the stop signals open). Both may be null.
    void SetInterrupt(const volatile sig_atomic_t *stop, const sigset_t *open) {
        stop_ = stop;
        waitMask_ = open;
    }

    bool Write(const uint8_t *bytes, size_t n) override;
    long OutQueued() override;
    long ReadSome(uint8_t *buf, size_t n) override;
    Wait WaitReadable(double deadline) override;
    bool SleepUntil(double until) override;
    void DiscardInput() override;
    void DiscardOutput() override;
    bool Lost() const override { return lost_; }
    double Now() const override;

private:
    // poll() until `deadline`; 1 ready, 0 deadline, -1 interrupted.
    int Poll(short events, double deadline, short &revents);
    int fd_ = -1;
    bool lost_ = false;
    int lowLatency_ = 0;
    int latencyTimerMs_ = -1;
    const volatile sig_atomic_t *stop_ = nullptr;
    const sigset_t *waitMask_ = nullptr;
};

}   // namespace lines

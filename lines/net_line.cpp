// Network ports: raw TCP and RFC 2217 on one socket, the Telnet stream
// taken apart byte by byte so that the server's notifications never reach
// the frames.
#include "lines/net_line.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lines {

namespace {

constexpr double kConnectWait = 5.0;   // s for the connection and for each answer of the server

using namespace telnet;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// RFC 2217 commands from the client; the server answers with 100 more
enum ComPort : uint8_t {
    kSetBaud = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kPurgeData = 12,
    kServerOffset = 100,
};
constexpr uint8_t kParityNone = 1, kOneStopBit = 1, kNoFlowControl = 1, kPurgeReceive = 1;

const char kRfc2217[] = "rfc2217://", kTcp[] = "tcp://";

bool StartsWith(const std::string &s, const char *p) { return s.rfind(p, 0) == 0; }

bool NameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// A name, a dotted address or an IPv6 literal, and nothing that the resolver
// would cut short at a NUL or read as a zone.
bool HostText(const std::string &h, bool v6) {
    if (h.empty()) return false;
    if (!v6) return std::all_of(h.begin(), h.end(), NameChar);
    in6_addr a;
    return h.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos &&
           inet_pton(AF_INET6, h.c_str(), &a) == 1;
}

}   // namespace

bool IsNetPort(const std::string &name) {
    return StartsWith(name, kRfc2217) || StartsWith(name, kTcp);
}

bool SplitHostPort(const std::string &a, std::string &host, std::string &port, bool portOptional) {
    const bool v6 = !a.empty() && a[0] == '[';
    size_t colon;
    if (v6) {
        const size_t close = a.find(']');
        if (close == std::string::npos) return false;
        host = a.substr(1, close - 1);
        colon = close + 1;
        if (colon < a.size() && a[colon] != ':') return false;
    } else {
        colon = a.find(':');
        host = a.substr(0, colon);
    }
    port.clear();
    if (colon >= a.size()) {
        if (!portOptional) return false;
    } else {
        port = a.substr(colon + 1);
        if (port.empty() || port.size() > 5 ||
            port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
            return false;
    }
    return HostText(host, v6);
}

bool NetLine::Open(const std::string &name, OpenFault &fault, std::string &err) {
    Close();
    name_ = name;
    lost_ = false;
    telnet_ = StartsWith(name, kRfc2217);
    fault = OpenFault::Setup;
    std::string host, port;
    if (!IsNetPort(name) ||
        !SplitHostPort(name.substr(telnet_ ? sizeof kRfc2217 - 1 : sizeof kTcp - 1), host, port) ||
        std::stoi(port) == 0) {
        fault = OpenFault::Missing;
        err = name + ": give rfc2217://HOST:PORT or tcp://HOST:PORT";
        return false;
    }
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    const int g = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (g != 0) {
        fault = OpenFault::Missing;
        err = name + ": unknown host (" + gai_strerror(g) + ")";
        return false;
    }
    int lastErr = ETIMEDOUT;
    for (addrinfo *a = found; a && fd_ < 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            lastErr = errno;
            close(fd);
            continue;
        }
        short rev = 0;
        int soErr = ETIMEDOUT;
        socklen_t len = sizeof soErr;
        const int r = PollUntil(fd, POLLOUT, MonoNow() + kConnectWait, rev, stop_, waitMask_);
        if (r > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
        if (r <= 0 || soErr != 0) {
            lastErr = soErr;
            close(fd);
            continue;
        }
        fd_ = fd;
    }
    freeaddrinfo(found);
    if (fd_ < 0) {
        fault = lastErr == ECONNREFUSED ? OpenFault::Missing : OpenFault::Setup;
        err = name + ": cannot connect (" + std::strerror(lastErr) + ")";
        return false;
    }
    // a frame goes out whole at once, not after the last one's acknowledgement
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    if (telnet_ && !SetLine(err)) {
        Close();
        return false;
    }
    return true;
}

void NetLine::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    data_.clear();
    rx_.Reset();
    comPort_ = 0;
    std::fill(std::begin(confirmed_), std::end(confirmed_), -1);
    answered_.clear();
}

bool NetLine::Send(const uint8_t *bytes, size_t n, double deadline) {
    return WriteAll(fd_, true, bytes, n, deadline, lost_, stop_, waitMask_);
}

bool NetLine::Write(const uint8_t *bytes, size_t n) {
    if (fd_ < 0 || lost_) return false;
    if (!telnet_) return Send(bytes, n, MonoNow() + proto::kTimeout);
    // 0xFF is Telnet's escape: a word of 255 or 65535 goes doubled
    std::vector<uint8_t> out;
    out.reserve(n + 8);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == kIac) out.push_back(kIac);
    }
    return Send(out.data(), out.size(), MonoNow() + proto::kTimeout);
}

bool NetLine::Pump() {
    if (fd_ < 0 || lost_) return false;
    uint8_t buf[1024];
    for (;;) {
        const ssize_t r = recv(fd_, buf, sizeof buf, 0);
        if (r > 0) {
            // A server that leaves Nagle's algorithm on holds the rest of a
            // reply until its first bytes are acknowledged: acknowledge at
            // once, not after the delayed-ACK time (the kernel forgets this
            // after a while, so it is asked again with each read).
            const int one = 1;
            setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            if (!telnet_) data_.insert(data_.end(), buf, buf + r);
            else
                for (ssize_t i = 0; i < r; ++i) Take(buf[i]);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        lost_ = true;   // closed by the server, or reset
        return false;
    }
}

void NetLine::Take(uint8_t b) {
    switch (rx_.Take(b, data_)) {
    case TelnetRx::Got::Option: Option(rx_.Command(), rx_.OptionCode()); break;
    case TelnetRx::Got::Sub: Subnegotiation(); break;
    case TelnetRx::Got::Nothing: break;
    }
}

void NetLine::Option(uint8_t cmd, uint8_t opt) {
    if (opt == kComPort && (cmd == kDo || cmd == kDont)) comPort_ = cmd == kDo ? 1 : -1;
    const bool wanted = opt == kBinary || opt == kComPort || opt == kSuppressGoAhead;
    uint8_t reply;
    if (cmd == kDo) reply = wanted ? kWill : kWont;
    else if (cmd == kWill) reply = wanted ? kDo : kDont;
    else return;   // a refusal needs no answer
    // each request answered once: no negotiation loop
    const uint16_t key = static_cast<uint16_t>(cmd << 8 | opt);
    if (std::find(answered_.begin(), answered_.end(), key) != answered_.end()) return;
    answered_.push_back(key);
    // what we asked for ourselves is agreed already
    if (opt == kComPort || opt == kBinary) return;
    const uint8_t out[3] = {kIac, reply, opt};
    Send(out, sizeof out, MonoNow() + kConnectWait);
}

void NetLine::Subnegotiation() {
    // line-state and modem-state notifications (106, 107) are taken and dropped
    int command = 0;
    uint32_t value = 0;
    if (ComPortAnswer(rx_.Sub(), command, value)) confirmed_[command] = value;
}

bool NetLine::SetLine(std::string &err) {
    const double deadline = MonoNow() + kConnectWait;
    const uint8_t hello[] = {kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort};
    if (!Send(hello, sizeof hello, deadline)) {
        err = name_ + ": the server closed the connection";
        return false;
    }
    auto waitFor = [&](const auto &done) {
        while (!done()) {
            short rev = 0;
            if (PollUntil(fd_, POLLIN, deadline, rev, stop_, waitMask_) <= 0 || !Pump())
                return false;
        }
        return true;
    };
    if (!waitFor([&] { return comPort_ != 0; }) || comPort_ < 0) {
        err =
            name_ + (lost_ ? ": the server closed the connection"
                           : ": the server does not take RFC 2217 (COM-PORT-OPTION refused or not "
                             "answered); for a raw TCP port give tcp://");
        return false;
    }
    const uint32_t baud = proto::kBaud;
    const struct {
        uint8_t command;
        std::vector<uint8_t> value;
        long want;
        const char *what;
    } settings[] = {
        {kSetBaud,
         {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)},
         static_cast<long>(baud),
         "baud rate"},
        {kSetDataSize, {8}, 8, "data bits"},
        {kSetParity, {kParityNone}, kParityNone, "parity"},
        {kSetStopSize, {kOneStopBit}, kOneStopBit, "stop bits"},
        {kSetControl, {kNoFlowControl}, kNoFlowControl, "flow control"},
    };
    for (const auto &s : settings) {
        std::vector<uint8_t> out = {kIac, kSb, kComPort, s.command};
        for (uint8_t b : s.value) {
            out.push_back(b);
            if (b == kIac) out.push_back(kIac);
        }
        out.insert(out.end(), {kIac, kSe});
        if (!Send(out.data(), out.size(), deadline)) {
            err = name_ + ": the server closed the connection";
            return false;
        }
    }
    for (const auto &s : settings) {
        if (!waitFor([&] { return confirmed_[s.command] >= 0; })) {
            err = name_ + ": the server did not confirm the " + s.what + " (19200 8N1 asked)";
            return false;
        }
        if (confirmed_[s.command] != s.want) {
            err = name_ + ": the server set the " + s.what + " to " +
                  std::to_string(confirmed_[s.command]) + ", not " + std::to_string(s.want);
            return false;
        }
    }
    return true;
}

long NetLine::ReadSome(uint8_t *buf, size_t n) {
    if (fd_ < 0) return -1;
    if (!lost_) Pump();
    if (data_.empty()) return lost_ ? -1 : 0;
    const size_t k = std::min(n, data_.size());
    std::copy(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(k), buf);
    data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(k));
    return static_cast<long>(k);
}

proto::ByteLine::Wait NetLine::WaitReadable(double deadline) {
    for (;;) {
        if (!data_.empty()) return Wait::Readable;
        if (fd_ < 0 || lost_) return Wait::Lost;
        short rev = 0;
        const int r = PollUntil(fd_, POLLIN, deadline, rev, stop_, waitMask_);
        if (r < 0) return Wait::Interrupted;
        if (r == 0) return Wait::Deadline;
        // Telnet commands alone are no data: wait on
        if (!Pump() && data_.empty()) return Wait::Lost;
    }
}

void NetLine::DiscardInput() {
    if (fd_ < 0 || lost_) return;
    Pump();
    data_.clear();
    if (telnet_) {
        // what the server holds from the line is stale too; its transmit
        // buffer is left alone: it may still hold a store frame on its way
        const uint8_t purge[] = {kIac, kSb, kComPort, kPurgeData, kPurgeReceive, kIac, kSe};
        Send(purge, sizeof purge, MonoNow() + kConnectWait);
    }
}

bool PortLine::Open(const std::string &name, OpenFault &fault, std::string &err) {
    Close();
    return IsNetPort(name) ? net_.Open(name, fault, err) : serial_.Open(name, fault, err);
}

bool PortLine::SetFraming(long baud, int parity, int dataBits, int stopBits, std::string &err) {
    if (!IsNet()) return serial_.SetFraming(baud, parity, dataBits, stopBits, err);
    if (baud == proto::kBaud && parity == 0 && dataBits == 8 && stopBits == 1) return true;
    err = "a network port runs at 19200 8N1 only";
    return false;
}

}   // namespace lines

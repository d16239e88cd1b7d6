// Modbus TCP on libmodbus: our own poll loop and request framing (a slow or
// broken client never holds the others up), libmodbus for the replies.
#include "ctl/modbus.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "ctl/ctl.h"
#include "lines/net_line.h"

namespace ctl {

namespace {

constexpr size_t kMaxClients = 32;
constexpr size_t kMbap = 7;   // transaction, protocol, length, unit
constexpr uint8_t kReadHolding = 0x03, kReadInput = 0x04, kWriteOne = 0x06, kWriteMany = 0x10;

uint16_t Be16(const uint8_t *p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

}   // namespace

void InputRegisters(const Snapshot &s, double now, uint16_t out[kInputRegisters]) {
    const uint32_t um = static_cast<uint32_t>(s.um);
    out[kRegUmHigh] = static_cast<uint16_t>(um >> 16);
    out[kRegUmLow] = static_cast<uint16_t>(um & 0xFFFF);
    out[kRegPixels] = s.pixels;
    out[kRegLeft] = s.left;
    out[kRegRight] = s.right;
    out[kRegEdges] = s.edges;
    out[kRegStatus] = s.status;
    out[kRegSeqHigh] = static_cast<uint16_t>(s.seq >> 16);
    out[kRegSeqLow] = static_cast<uint16_t>(s.seq & 0xFFFF);
    const double ms = std::floor((now - s.at) * 1000.0);
    // no measurement yet is as old as can be said
    out[kRegAgeMs] = !s.have || !(ms < 65535.0) ? 65535 : ms <= 0 ? 0 : static_cast<uint16_t>(ms);
    out[kRegSetpoint] = s.setpoint;
    out[kRegTolerance] = s.tolerance;
    out[kRegVersion] = kModbusMapVersion;
}

ModbusServer::~ModbusServer() { Stop(); }

bool ModbusServer::Start(const std::string &address, bool allowWrites, uint16_t highest,
                         std::string &err) {
    std::string host, port;
    if (!lines::SplitHostPort(address, host, port)) {
        err = "--modbus " + address + ": give HOST:PORT, e.g. 127.0.0.1:1502 or [::1]:1502";
        return false;
    }
    ctx_ = modbus_new_tcp_pi(host.c_str(), port.c_str());
    map_ = modbus_mapping_new(0, 0, allowWrites ? kHoldingRegisters : 0, kInputRegisters);
    if (!ctx_ || !map_) {
        err = "Modbus TCP: " + std::string(modbus_strerror(errno));
        return false;
    }
    listen_ = modbus_tcp_pi_listen(ctx_, 8);
    if (listen_ < 0) {
        err = "Modbus TCP on " + address + ": " + modbus_strerror(errno);
        return false;
    }
    fcntl(listen_, F_SETFD, FD_CLOEXEC);
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    if (getsockname(listen_, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        port_ = ntohs(sa.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&sa)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&sa)->sin_port);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        err = std::string("Modbus TCP: ") + strerror(errno);
        return false;
    }
    allowWrites_ = allowWrites;
    highest_ = highest;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ModbusServer::Stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> l(mu_);
            quit_ = true;
        }
        Wake();
        thread_.join();
    }
    if (listen_ >= 0) close(listen_);
    listen_ = -1;
    for (int &fd : wake_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    if (map_) modbus_mapping_free(map_);
    map_ = nullptr;
    if (ctx_) {
        modbus_set_socket(ctx_, -1);
        modbus_free(ctx_);
    }
    ctx_ = nullptr;
}

void ModbusServer::Wake() {
    if (wake_[1] >= 0) {
        const char c = 1;
        if (write(wake_[1], &c, 1) < 0) {
            // full: a wake-up is already pending
        }
    }
}

void ModbusServer::Update(const Snapshot &s) {
    std::lock_guard<std::mutex> l(mu_);
    snap_ = s;
}

bool ModbusServer::TakeWrite(SetpointWrite &w) {
    std::lock_guard<std::mutex> l(mu_);
    if (!writeAsked_) return false;
    writeAsked_ = false;
    w = write_;
    return true;
}

void ModbusServer::FinishWrite(bool ok) {
    {
        std::lock_guard<std::mutex> l(mu_);
        writeDone_ = true;
        writeOk_ = ok;
    }
    Wake();
}

namespace {
struct Client {
    std::vector<uint8_t> in;
};
}   // namespace

void ModbusServer::Run() {
    std::map<int, Client> clients;
    int pendingFd = -1;   // the client whose write waits for the sensor
    std::vector<uint8_t> pendingReq;
    auto drop = [&](int fd) {
        close(fd);
        clients.erase(fd);
        if (fd == pendingFd) pendingFd = -2;   // the write goes on; nobody to answer
    };
    auto reply = [&](int fd, const uint8_t *req, int n, int exception) {
        modbus_set_socket(ctx_, fd);
        const int rc = exception
                           ? modbus_reply_exception(ctx_, req, static_cast<unsigned>(exception))
                           : modbus_reply(ctx_, req, n, map_);
        modbus_set_socket(ctx_, -1);
        return rc >= 0;
    };
    // One whole request: its answer now, or a write handed to the run loop.
    // false when the client is to be dropped.
    auto handle = [&](int fd, const uint8_t *req, int n) {
        const uint8_t *pdu = req + kMbap;
        const int pduLen = n - static_cast<int>(kMbap);
        const uint8_t fc = pdu[0];
        if (fc == kReadInput || fc == kReadHolding) {
            if (pduLen != 5) return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            const unsigned count = Be16(pdu + 3);
            const unsigned start = Be16(pdu + 1);
            if (count < 1 || count > 125)
                return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            const unsigned size = fc == kReadInput ? kInputRegisters
                                  : allowWrites_   ? kHoldingRegisters
                                                   : 0;
            if (start + count > size)
                return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
            Snapshot s;
            {
                std::lock_guard<std::mutex> l(mu_);
                s = snap_;
            }
            InputRegisters(s, Now(), map_->tab_input_registers);
            if (allowWrites_) {
                map_->tab_registers[kHoldSetpoint] = s.setpoint;
                map_->tab_registers[kHoldTolerance] = s.tolerance;
            }
            return reply(fd, req, n, 0);
        }
        if (fc != kWriteOne && fc != kWriteMany)
            return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        unsigned start = Be16(pdu + 1), count = 1;
        const uint8_t *values = pdu + 3;
        if (fc == kWriteOne) {
            if (pduLen != 5) return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        } else {
            if (pduLen < 6) return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            count = Be16(pdu + 3);
            const unsigned bytes = pdu[5];
            if (count < 1 || count > 123 || bytes != 2 * count ||
                pduLen != 6 + static_cast<int>(bytes))
                return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            values = pdu + 6;
        }
        // without --allow-writes there is nothing to write to
        if (!allowWrites_ || start + count > kHoldingRegisters)
            return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
        SetpointWrite w;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned reg = start + i, v = Be16(values + 2 * i);
            const unsigned lowest = reg == kHoldTolerance ? 1 : 0;
            if (v < lowest || v > highest_)
                return reply(fd, req, n, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
            (reg == kHoldSetpoint ? w.setpoint : w.tolerance) = static_cast<int>(v);
        }
        if (pendingFd != -1) return reply(fd, req, n, MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY);
        {
            std::lock_guard<std::mutex> l(mu_);
            write_ = w;
            writeAsked_ = true;
            writeDone_ = false;
        }
        pendingFd = fd;
        pendingReq.assign(req, req + n);
        return true;
    };
    // The whole requests a client has sent, in order; false to drop it.
    auto drain = [&](int fd) {
        std::vector<uint8_t> &in = clients[fd].in;
        while (in.size() >= kMbap && fd != pendingFd) {
            const unsigned length = Be16(&in[4]);
            // not Modbus: a garbled stream has no next frame to find
            if (Be16(&in[2]) != 0 || length < 2 || length > MODBUS_TCP_MAX_ADU_LENGTH - 6)
                return false;
            const size_t whole = 6 + length;
            if (in.size() < whole) break;
            if (!handle(fd, in.data(), static_cast<int>(whole))) return false;
            in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(whole));
        }
        return true;
    };

    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        // a client with a write under way says nothing more until it is answered
        for (const auto &c : clients)
            fds.push_back({c.first, static_cast<short>(c.first == pendingFd ? 0 : POLLIN), 0});
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            char buf[64];
            while (read(wake_[0], buf, sizeof buf) > 0) {}
            bool quit, done, ok;
            SetpointWrite w;
            {
                std::lock_guard<std::mutex> l(mu_);
                quit = quit_;
                done = writeDone_;
                ok = writeOk_;
                w = write_;
                writeDone_ = false;
            }
            if (quit) break;
            if (done && pendingFd != -1) {
                const int fd = pendingFd;
                pendingFd = -1;
                if (fd >= 0) {
                    // what the sensor now holds, as the reply says it
                    if (ok && w.setpoint >= 0)
                        map_->tab_registers[kHoldSetpoint] = static_cast<uint16_t>(w.setpoint);
                    if (ok && w.tolerance >= 0)
                        map_->tab_registers[kHoldTolerance] = static_cast<uint16_t>(w.tolerance);
                    if (!reply(fd, pendingReq.data(), static_cast<int>(pendingReq.size()),
                               ok ? 0 : MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE) ||
                        !drain(fd))
                        drop(fd);
                }
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) {
                if (clients.size() >= kMaxClients) {
                    close(fd);
                } else {
                    const int one = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    clients[fd];
                }
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            const int fd = fds[i].fd;
            if (!fds[i].revents || !clients.count(fd)) continue;
            if (fd == pendingFd) {
                if (fds[i].revents & (POLLHUP | POLLERR)) drop(fd);
                continue;
            }
            uint8_t buf[512];
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                drop(fd);
                continue;
            }
            if (got < 0) continue;
            std::vector<uint8_t> &in = clients[fd].in;
            in.insert(in.end(), buf, buf + got);
            if (!drain(fd)) drop(fd);
        }
    }
    for (const auto &c : clients) close(c.first);
}

}   // namespace ctl

#include "tests/support/ser2net.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <termios.h>
#include <vector>

#include "tests/support/clock.h"

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A listener on 127.0.0.1, or on ::1.
bool PortOpen(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    if (ok) return true;
    s = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    ok = connect(s, reinterpret_cast<sockaddr *>(&a6), sizeof a6) == 0;
    close(s);
    return ok;
}

Ser2net::~Ser2net() {
    Stop();
    if (!dir_.empty()) {
        std::remove((dir_ + "/ser2net.yaml").c_str());
        rmdir(dir_.c_str());
    }
}

bool Ser2net::Start(const std::string &accepter, const std::string &device, const char *settings) {
    if (port_ == 0) port_ = FreePort();
    if (dir_.empty()) {
        char tmpl[] = "/tmp/ridar-ser2net-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
    }
    const std::string conf = dir_ + "/ser2net.yaml";
    std::ofstream(conf) << "connection: &sensor\n    accepter: " << accepter << ",127.0.0.1,"
                        << port_ << "\n    connector: serialdev," << device << "," << settings
                        << ",local\n"
                        // as the README advises: replies sent on at once
                        << "    options:\n      chardelay: false\n";
    if (!child_.Start("/usr/sbin/ser2net", {"-n", "-d", "-c", conf})) return false;
    for (double end = Now() + 10; Now() < end; usleep(50000))
        if (PortOpen(port_)) return true;
    return false;
}

void Ser2net::Stop() {
    child_.Signal(SIGTERM);
    child_.Wait(5.0);
}

static void Send(int s, std::vector<uint8_t> b) {
    (void)!send(s, b.data(), b.size(), MSG_NOSIGNAL);
}

OwnRfc2217::OwnRfc2217(Mode mode, const std::string &device) : mode_(mode) {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(listen_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(listen_, 1);
    getsockname(listen_, reinterpret_cast<sockaddr *>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (!device.empty()) {
        dev_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(dev_, &t);
        cfmakeraw(&t);
        tcsetattr(dev_, TCSANOW, &t);
    }
    thread_ = std::thread([this] { Run(); });
}

OwnRfc2217::~OwnRfc2217() {
    quit_ = true;
    thread_.join();
    close(listen_);
    if (dev_ >= 0) close(dev_);
}

void OwnRfc2217::Relay(int s) {
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    enum { Data, Iac, Opt, Sub, SubIac } st = Data;
    uint8_t cmd = 0;
    std::vector<uint8_t> sub;
    while (!quit_) {
        pollfd p[2] = {{s, POLLIN, 0}, {dev_, POLLIN, 0}};
        if (poll(p, 2, 50) <= 0) continue;
        uint8_t buf[256];
        if (p[0].revents) {
            const ssize_t n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) return;
            for (ssize_t i = 0; i < n; ++i) {
                const uint8_t b = buf[i];
                if (st == Data && b == 0xFF) st = Iac;
                else if (st == Data) (void)!write(dev_, &b, 1);
                else if (st == Iac && b == 0xFF) (void)!write(dev_, &b, 1), st = Data;
                else if (st == Iac)
                    st = b == 0xFA ? (sub.clear(), Sub) : b >= 0xFB ? (cmd = b, Opt) : Data;
                else if (st == Opt) {
                    // agree to BINARY and COM-PORT-OPTION, or refuse the latter
                    if (cmd == 0xFB && b == 44 && mode_ == Mode::Refuse) Send(s, {0xFF, 0xFE, b});
                    else if (cmd == 0xFB) Send(s, {0xFF, 0xFD, b});
                    if (cmd == 0xFD) Send(s, {0xFF, 0xFB, b});
                    st = Data;
                } else if (st == Sub) b == 0xFF ? void(st = SubIac) : sub.push_back(b);
                else if (b == 0xFF) sub.push_back(b), st = Sub;
                else {
                    st = Data;
                    if (sub.size() < 3 || sub[0] != 44 || sub[1] > 5 || mode_ == Mode::Silent)
                        continue;
                    if (sub[1] == 1 && mode_ == Mode::Baud9600) sub = {44, 1, 0, 0, 0x25, 0x80};
                    std::vector<uint8_t> out = {0xFF, 0xFA, 44, static_cast<uint8_t>(sub[1] + 100)};
                    for (size_t k = 2; k < sub.size(); ++k) {
                        out.push_back(sub[k]);
                        if (sub[k] == 0xFF) out.push_back(0xFF);
                    }
                    out.insert(out.end(), {0xFF, 0xF0});
                    Send(s, out);
                }
            }
        }
        if (p[1].revents & POLLIN) {
            const ssize_t n = read(dev_, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                Send(s, {buf[i]});
                if (buf[i] != 0xFF) continue;
                usleep(2000);
                Send(s, {0xFF});
            }
            Send(s, {0xFF, 0xFA, 44, 106, 0x60, 0xFF, 0xF0, 0xFF, 0xFA, 44, 107, 0x30, 0xFF, 0xF0});
        }
    }
}

void OwnRfc2217::Run() {
    while (!quit_) {
        pollfd p = {listen_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int s = accept(listen_, nullptr, nullptr);
        Relay(s);
        close(s);
    }
}

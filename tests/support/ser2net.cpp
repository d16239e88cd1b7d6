#include "tests/support/ser2net.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

bool Ser2net::Start(const std::string &accepter, const std::string &device) {
    if (port_ == 0) port_ = FreePort();
    if (dir_.empty()) {
        char tmpl[] = "/tmp/ridar-ser2net-XXXXXX";
        if (!mkdtemp(tmpl)) return false;
        dir_ = tmpl;
    }
    const std::string conf = dir_ + "/ser2net.yaml";
    std::ofstream(conf) << "connection: &sensor\n    accepter: " << accepter << ",127.0.0.1,"
                        << port_ << "\n    connector: serialdev," << device
                        << ",19200n81,local\n"
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

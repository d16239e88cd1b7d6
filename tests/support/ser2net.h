// Free TCP ports of 127.0.0.1, and ser2net started there in front of a
// serial device (the tests and the benchmarks).
#pragma once

#include <string>

#include "tests/support/child.h"

// A TCP port of 127.0.0.1 nobody listens on now; whether one listens.
int FreePort();
bool PortOpen(int port);

// ser2net in the foreground on 127.0.0.1 at a free port (kept across a
// restart), one connection to `device` at 19200 8N1; `accepter` is
// "telnet(rfc2217),tcp" or "tcp".
class Ser2net {
public:
    ~Ser2net();
    // false when ser2net (Debian package ser2net) did not start listening
    bool Start(const std::string &accepter, const std::string &device);
    void Stop();   // SIGTERM and wait
    // "rfc2217://127.0.0.1:PORT" for the scheme "rfc2217"
    std::string Url(const char *scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }

private:
    ChildProcess child_;
    int port_ = 0;
    std::string dir_;
};

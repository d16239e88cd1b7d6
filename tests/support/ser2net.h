// Free TCP ports of 127.0.0.1, and ser2net started there in front of a
// serial device (the tests and the benchmarks).
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "tests/support/child.h"

// A TCP port of 127.0.0.1 nobody listens on now; whether one listens.
int FreePort();
bool PortOpen(int port);

// ser2net in the foreground on 127.0.0.1 at a free port (kept across a
// restart), one connection to `device`, set to `settings` (ser2net's form,
// e.g. "19200n81"); `accepter` is "telnet(rfc2217),tcp" or "tcp".
class Ser2net {
public:
    ~Ser2net();
    // false when ser2net (Debian package ser2net) did not start listening
    bool Start(const std::string &accepter, const std::string &device,
               const char *settings = "19200n81");
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

// An RFC 2217 server of the tests' own on 127.0.0.1, for what ser2net will
// not do on demand, relayed to `device` (none: ""); the server's part is played as
// `mode` says: the line's settings confirmed as asked, confirmed with 9600
// baud, never confirmed, or COM-PORT-OPTION refused. Every 0xFF it sends
// goes out doubled in two writes (the reader gets the IAC alone), and a
// line-state and a modem-state notification follow each piece of line data.
class OwnRfc2217 {
public:
    enum class Mode { Confirm, Baud9600, Silent, Refuse };
    OwnRfc2217(Mode mode, const std::string &device);
    ~OwnRfc2217();
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

private:
    void Run();
    void Relay(int s);
    Mode mode_;
    int listen_ = -1, dev_ = -1, port_ = 0;
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

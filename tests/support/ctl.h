// kvex-ctl as a child process for the tests: arguments in, exit code,
// standard output and standard error out; a scripted sensor on a
// pseudo-terminal; a mosquitto broker on a free port.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <sys/types.h>

#include "tests/support/child.h"
#include "tests/support/peer.h"
#include "tests/support/ser2net.h"

// kvex-ctl as a child, standard input on /dev/null.
class CtlChild : public ChildProcess {
public:
    bool Start(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
        return ChildProcess::Start(KVEX_CTL_PATH, args, env);
    }
};

struct CtlResult {
    int rc;
    std::string out, err;
};
CtlResult RunCtl(const std::vector<std::string> &args, double timeout = 30.0,
                 const std::vector<std::string> &env = {});
// kvex-ctl's stderr without the time that starts each of its lines when
// stderr is not the journal; a line without one is a test failure.
std::string Unstamped(const std::string &err);

// A sensor on a pseudo-terminal that answers from a script: echo,
// hardware and firmware information, gets and measurements; logs every
// request's 36 bytes.
class ScriptedSensor {
public:
    ScriptedSensor();
    ~ScriptedSensor();
    const std::string &Device() const { return peer_.Device(); }
    void SetParams(const std::vector<int> &words);   // what a get answers
    void SetFirmware(const std::string &text);
    std::vector<std::string> Requests();   // raw 36-byte requests

private:
    void Run();
    PtyPeer peer_;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::mutex mu_;
    std::vector<int> params_;
    std::string firmware_ = "K-VEX-XC-SCRIPT";
    std::vector<std::string> log_;
};

// mosquitto on 127.0.0.1 at a free port, persistent sessions in a temp dir.
class Broker {
public:
    ~Broker();
    // From the next Start on only this user gets in (a password file,
    // anonymous access off).
    void RequireLogin(const std::string &user, const std::string &password);
    // `more`: listeners of its own after the plain anonymous one, each with
    // its settings ("{port2}" stands for a second free port, "{dir}" for
    // the broker's directory); they are started before it returns.
    bool Start(const std::string &more = "");
    void Stop();   // SIGTERM and wait; sessions are saved
    int Port() const { return port_; }
    int Port2() const { return port2_; }
    const std::string &Dir() const { return dir_; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0, port2_ = 0;
    std::string dir_, more_;
    std::string user_, password_;
};

// A subscriber on libmosquitto (its own thread): every message by topic.
class Subscriber {
public:
    Subscriber(int port, const std::string &topic, const std::string &clientId,
               const std::string &user = "", const std::string &password = "");
    ~Subscriber();
    bool Connected();
    std::vector<std::string> Messages(const std::string &topic);
    std::string Last(const std::string &topic);
    // true once `pred` holds on the messages, within `seconds`
    bool WaitCount(const std::string &topic, size_t n, double seconds);

    void OnMessage(const std::string &topic, const std::string &payload);
    void OnConnect();

private:
    struct mosquitto *m_ = nullptr;
    std::string topic_;
    std::mutex mu_;
    std::map<std::string, std::vector<std::string>> msgs_;
    std::atomic<bool> connected_{false};
};

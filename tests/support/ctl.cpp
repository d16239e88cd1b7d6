// Helpers of the kvex-ctl tests (see ctl.h).
#include "tests/support/ctl.h"
#include "tests/support/clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

CtlResult RunCtl(const std::vector<std::string> &args, double timeout,
                 const std::vector<std::string> &env) {
    CtlChild c;
    if (!c.Start(args, env)) return {-1, "", "cannot start"};
    if (!c.Wait(timeout)) {
        c.Signal(SIGKILL);
        c.Wait(5);
        return {-2, c.out, c.err + "[timed out]"};
    }
    return {c.rc, c.out, c.err};
}

std::string Unstamped(const std::string &err) {
    static const std::regex stamp(
        R"(^20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3}Z )");
    std::istringstream in(err);
    std::string line, out;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_search(line, m, stamp)) line = line.substr(m.length(0));
        else ADD_FAILURE() << "no time before: " << line;
        out += line + "\n";
    }
    return out;
}

// ---------------------------------------------------------------- scripted sensor

ScriptedSensor::ScriptedSensor() {
    params_ = {500, 0, 512, 0, 0, 1, 1, 2048, 512, 100, 0, 1, 12800, 30000, 0, 0};
    thread_ = std::thread([this] { Run(); });
}

ScriptedSensor::~ScriptedSensor() {
    quit_ = true;
    thread_.join();
}

void ScriptedSensor::SetParams(const std::vector<int> &words) {
    std::lock_guard<std::mutex> g(mu_);
    params_ = words;
}

void ScriptedSensor::SetFirmware(const std::string &text) {
    std::lock_guard<std::mutex> g(mu_);
    firmware_ = text;
}

std::vector<std::string> ScriptedSensor::Requests() {
    std::lock_guard<std::mutex> g(mu_);
    return log_;
}

void ScriptedSensor::Run() {
    std::string buf;
    while (!quit_) {
        buf += peer_.Read(36 - buf.size(), 0.02);
        if (buf.size() < 36) continue;
        const int order =
            static_cast<unsigned char>(buf[2]) * 256 + static_cast<unsigned char>(buf[3]);
        std::string reply;
        {
            std::lock_guard<std::mutex> g(mu_);
            log_.push_back(buf);
            // clang-format off
            switch (order) {
            case 5: reply = MakeFrame(0xAA, 5, {}); break;
            case 10: reply = MakeFrame(0xAA, 10, {2, 1024, 0, 100, 2048, 2, 1, 2048, 252, 0, 1024}); break;
            case 7: reply = firmware_; reply.resize(72, ' '); break;
            case 2: case 4: reply = MakeFrame(0xAA, order, params_); break;
            case 8: reply = MakeFrame(0xAA, 8, {400, 600, 600, 7500, 0, 512, 100, 2}); break;
            default: break;
            }
            // clang-format on
        }
        buf.clear();
        if (!reply.empty()) peer_.Write(reply);
    }
}

// ---------------------------------------------------------------- broker

Broker::~Broker() { Stop(); }

void Broker::RequireLogin(const std::string &user, const std::string &password) {
    user_ = user;
    password_ = password;
}

bool Broker::Start(const std::string &more) {
    if (dir_.empty()) {
        char tmpl[] = "/tmp/ridar-broker-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // started as root, mosquitto drops to its own user: it must be able to save here
        chmod(dir_.c_str(), 0777);
        port_ = FreePort();
        do port2_ = FreePort();
        while (port2_ == port_);
    }
    if (!more.empty()) {
        more_ = more;
        for (const auto &[key, value] :
             {std::pair<std::string, std::string>{"{port2}", std::to_string(port2_)},
              {"{dir}", dir_}})
            for (size_t at; (at = more_.find(key)) != std::string::npos;)
                more_.replace(at, key.size(), value);
    }
    std::string login = "allow_anonymous true\n";
    if (!user_.empty()) {
        const std::string pw = dir_ + "/passwd";
        const pid_t p = SpawnChild("/usr/bin/mosquitto_passwd", {"-b", "-c", pw, user_, password_},
                                   kDevNull, kDevNull, kDevNull);
        int status = -1;
        if (p <= 0 || waitpid(p, &status, 0) != p || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return false;
        // mosquitto reads it as its own user
        chmod(pw.c_str(), 0644);
        login = "allow_anonymous false\npassword_file " + pw + "\n";
    }
    const std::string conf = dir_ + "/mosquitto.conf";
    FILE *f = fopen(conf.c_str(), "w");
    if (!f) return false;
    // with listeners of their own, each listener has its own login rules
    fprintf(f,
            "%slistener %d 127.0.0.1\n%spersistence true\npersistence_location %s/\n"
            "autosave_interval 1\nlog_dest none\n%s",
            more_.empty() ? "" : "per_listener_settings true\n", port_, login.c_str(), dir_.c_str(),
            more_.c_str());
    fclose(f);
    pid_ = SpawnChild("/usr/sbin/mosquitto", {"-c", conf}, kDevNull, kDevNull, kDevNull);
    if (pid_ <= 0) return false;
    const double end = Now() + 5;
    while (Now() < end) {
        if (PortOpen(port_) && (more_.empty() || PortOpen(port2_))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void Broker::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

// ---------------------------------------------------------------- subscriber

namespace {
void SubOnMessage(mosquitto *, void *p, const mosquitto_message *m) {
    static_cast<Subscriber *>(p)->OnMessage(
        m->topic,
        std::string(static_cast<const char *>(m->payload), static_cast<size_t>(m->payloadlen)));
}
void SubOnConnect(mosquitto *, void *p, int rc) {
    if (rc == 0) static_cast<Subscriber *>(p)->OnConnect();
}
}   // namespace

Subscriber::Subscriber(int port, const std::string &topic, const std::string &clientId,
                       const std::string &user, const std::string &password)
    : topic_(topic) {
    mosquitto_lib_init();
    // a lasting session: what is published while we are away waits for us
    m_ = mosquitto_new(clientId.c_str(), false, this);
    if (!user.empty()) mosquitto_username_pw_set(m_, user.c_str(), password.c_str());
    mosquitto_message_callback_set(m_, SubOnMessage);
    mosquitto_connect_callback_set(m_, SubOnConnect);
    mosquitto_reconnect_delay_set(m_, 1, 1, false);
    mosquitto_connect(m_, "127.0.0.1", port, 10);
    mosquitto_loop_start(m_);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(m_);
    mosquitto_loop_stop(m_, true);
    mosquitto_destroy(m_);
}

void Subscriber::OnConnect() {
    mosquitto_subscribe(m_, nullptr, topic_.c_str(), 1);
    connected_ = true;
}

bool Subscriber::Connected() {
    const double end = Now() + 5;
    while (!connected_ && Now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // the subscription itself takes a moment more
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return connected_;
}

void Subscriber::OnMessage(const std::string &topic, const std::string &payload) {
    std::lock_guard<std::mutex> g(mu_);
    msgs_[topic].push_back(payload);
}

std::vector<std::string> Subscriber::Messages(const std::string &topic) {
    std::lock_guard<std::mutex> g(mu_);
    return msgs_[topic];
}

std::string Subscriber::Last(const std::string &topic) {
    std::lock_guard<std::mutex> g(mu_);
    auto &v = msgs_[topic];
    return v.empty() ? "" : v.back();
}

bool Subscriber::WaitCount(const std::string &topic, size_t n, double seconds) {
    const double end = Now() + seconds;
    while (Now() < end) {
        if (Messages(topic).size() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Messages(topic).size() >= n;
}

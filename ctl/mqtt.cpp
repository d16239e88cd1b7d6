// The broker side of watch and record, on libmosquitto driven from our own
// loop (no thread of its own): the socket is serviced between frames.
#include "ctl/mqtt.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <netdb.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ctl {

const char kMqttHelp[] =
    "MQTT: --mqtt mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (TLS, 8883; an IPv6 address in\n"
    "brackets) publishes each measurement as JSON on PREFIX/measurement (with a sequence number),\n"
    "retained: the identity on PREFIX/identity, \"online\" on PREFIX/status (\"offline\" as last will\n"
    "and at a clean end) and the sensor's state on PREFIX/sensor. User and password come from\n"
    "KVEX_MQTT_USER and KVEX_MQTT_PASSWORD or from --mqtt-credentials FILE (one line user:password,\n"
    "readable by nobody else), never from the command line; over plain mqtt:// only to this\n"
    "machine unless --allow-plaintext-login. mqtts:// trusts the system's CAs unless --cafile or\n"
    "--capath; --cert and --key give a client certificate. Measurements that never reach the\n"
    "broker end the run with exit code 5.";

void AddMqttOptions(CLI::App *cmd, MqttOptions &m) {
    cmd->add_option("--mqtt", m.url, "publish to this broker, mqtt://HOST[:PORT] or mqtts://...");
    cmd->add_option("--topic", m.topic, "topic prefix")->capture_default_str();
    cmd->add_option("--qos", m.qos, "0 or 1")->check(CLI::IsMember({0, 1}))->capture_default_str();
    cmd->add_option("--queue", m.queue,
                    "measurements kept while the broker is away; beyond it the oldest go")
        ->check(CLI::Range(static_cast<size_t>(1), static_cast<size_t>(100000000)))
        ->capture_default_str();
    cmd->add_option("--mqtt-credentials", m.credentials, "file with one line user:password");
    cmd->add_option("--cafile", m.cafile, "mqtts: PEM file of the CAs that vouch for the broker");
    cmd->add_option("--capath", m.capath, "mqtts: directory of such CA files (c_rehash)");
    cmd->add_option("--cert", m.cert, "mqtts: our certificate, PEM, for a broker that asks");
    cmd->add_option("--key", m.key, "mqtts: its private key, PEM, readable by nobody else");
    cmd->add_flag("--allow-plaintext-login", m.allowPlaintextLogin,
                  "send the login over plain mqtt:// to another machine");
    cmd->footer(kMqttHelp);
}

namespace {

constexpr int kKeepAlive = 10;         // seconds
constexpr double kRetryEvery = 1.0;    // seconds between reconnect attempts
constexpr double kHealthEvery = 5.0;   // seconds between health messages
constexpr size_t kWindow = 100;        // QoS 1 messages handed to the library, not yet acknowledged
constexpr double kConnectWait = 5.0;   // the first connection
constexpr double kDrainWait = 3.0;     // queued messages at a clean end
constexpr int kNoAnswer = -1000;       // the first connection timed out

void OnConnectCb(mosquitto *, void *p, int rc) { static_cast<Publisher *>(p)->OnConnect(rc); }
void OnDisconnectCb(mosquitto *, void *p, int rc) { static_cast<Publisher *>(p)->OnDisconnect(rc); }
void OnPublishCb(mosquitto *, void *p, int mid) { static_cast<Publisher *>(p)->OnPublish(mid); }
void OnLogCb(mosquitto *, void *p, int level, const char *text) {
    static_cast<Publisher *>(p)->OnLog(level, text);
}
// An encrypted key would make OpenSSL prompt on the terminal, which a
// service has not: it is refused instead.
int NoPassphrase(char *, int, int, void *) { return 0; }

std::string Mode(mode_t m) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(m & 07777));
    return buf;
}

// A file with a secret in it must not be readable by others; nor by its
// group when it is our own (ssh's rule: a root-owned file given to a
// service through its group is how it should be).
bool SecretFile(const std::string &path, std::string &err) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        err = FileError(path, errno);
        return false;
    }
    const bool others = (st.st_mode & S_IROTH) != 0;
    const bool group = (st.st_mode & S_IRGRP) != 0 && st.st_uid == geteuid();
    if (others || group) {
        err = path + ": " + (others ? "other users" : "its group") + " can read it (mode " +
              Mode(st.st_mode) + "), and it holds a secret; chmod 600 " + path;
        return false;
    }
    return true;
}

bool Readable(const std::string &path, bool directory, std::string &err) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
    if (fd < 0) {
        err = FileError(path, errno);
        return false;
    }
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && (directory || !S_ISDIR(st.st_mode));
    close(fd);
    if (!ok) err = FileError(path, EISDIR);
    return ok;
}

struct Setup {
    BrokerUrl url;
    std::string user, pass;
};

// Everything that can be said without a connection; said on stderr.
int Prepare(const MqttOptions &o, Setup &su) {
    const std::pair<const std::string *, const char *> tlsFiles[] = {
        {&o.cafile, "--cafile"}, {&o.capath, "--capath"}, {&o.cert, "--cert"}, {&o.key, "--key"}};
    if (o.url.empty()) {
        const char *lone = !o.credentials.empty()  ? "--mqtt-credentials"
                           : o.allowPlaintextLogin ? "--allow-plaintext-login"
                                                   : nullptr;
        for (const auto &f : tlsFiles)
            if (!lone && !f.first->empty()) lone = f.second;
        if (lone) {
            Complain(std::string(lone) + " needs --mqtt");
            return kExitUsage;
        }
        return kExitOk;
    }
    if (!ParseUrl(o.url, su.url)) {
        Complain(
            "--mqtt " + o.url +
            ": expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT], an IPv6 address in brackets");
        return kExitUsage;
    }
    std::string problem = TopicPrefixProblem(o.topic);
    if (problem.empty() &&
        mosquitto_validate_utf8(o.topic.data(), static_cast<int>(o.topic.size())) !=
            MOSQ_ERR_SUCCESS)
        problem = "not UTF-8 text";
    if (!problem.empty()) {
        Complain("--topic " + o.topic + ": " + problem);
        return kExitUsage;
    }
    for (const auto &f : tlsFiles)
        if (!su.url.tls && !f.first->empty()) {
            Complain(std::string(f.second) + " needs an mqtts:// broker");
            return kExitUsage;
        }
    if (o.cert.empty() != o.key.empty()) {
        Complain("--cert and --key go together");
        return kExitUsage;
    }
    std::string err;
    if ((!o.cafile.empty() && !Readable(o.cafile, false, err)) ||
        (!o.capath.empty() && !Readable(o.capath, true, err)) ||
        (!o.cert.empty() && !Readable(o.cert, false, err)) ||
        (!o.key.empty() && (!SecretFile(o.key, err) || !Readable(o.key, false, err)))) {
        Complain(err);
        return kExitFile;
    }
    if (!o.credentials.empty()) {
        std::string text;
        if (!SecretFile(o.credentials, err) || !ReadSmallFile(o.credentials, text, err)) {
            Complain(err);
            return kExitFile;
        }
        if (!ParseCredentials(text, su.user, su.pass)) {
            Complain(o.credentials + ": one line \"user:password\" expected");
            return kExitFile;
        }
    } else {
        const char *u = std::getenv("KVEX_MQTT_USER");
        const char *p = std::getenv("KVEX_MQTT_PASSWORD");
        su.user = u ? u : "";
        su.pass = p ? p : "";
    }
    if (!su.user.empty() && !su.url.tls && !IsLoopback(su.url.host) && !o.allowPlaintextLogin) {
        Complain("--mqtt " + o.url +
                 ": the login would cross the network in clear text; use mqtts:// or give "
                 "--allow-plaintext-login");
        return kExitUsage;
    }
    return kExitOk;
}

}   // namespace

int CheckMqttOptions(const MqttOptions &o) {
    Setup su;
    return Prepare(o, su);
}

Publisher::~Publisher() {
    if (m_) mosquitto_destroy(m_);
}

int Publisher::Start(const MqttOptions &o, const Sensor &s) {
    opt_ = o;
    Setup su;
    if (const int rc = Prepare(o, su)) return rc;
    url_ = su.url;
    haveUser_ = !su.user.empty();
    static bool libReady = false;
    if (!libReady) {
        mosquitto_lib_init();
        libReady = true;
    }
    char hostName[64] = "host";
    gethostname(hostName, sizeof hostName - 1);
    const std::string id = "kvex-ctl-" + std::string(hostName) + "-" + std::to_string(getpid());
    m_ = mosquitto_new(id.c_str(), true, this);
    if (!m_) {
        Complain("broker: out of memory");
        return kExitBroker;
    }
    mosquitto_connect_callback_set(m_, OnConnectCb);
    mosquitto_disconnect_callback_set(m_, OnDisconnectCb);
    mosquitto_publish_callback_set(m_, OnPublishCb);
    mosquitto_log_callback_set(m_, OnLogCb);
    const std::string status = Topic("status");
    mosquitto_will_set(m_, status.c_str(), 7, "offline", 1, true);
    if (haveUser_)
        mosquitto_username_pw_set(m_, su.user.c_str(), su.pass.empty() ? nullptr : su.pass.c_str());
    if (url_.tls) {
        if (const int rc = SetUpTls()) return rc;
    }

    identity_ =
        "{\"device\":" + JsonString(s.device) +
        ",\"ccdtype\":" + std::to_string(s.model.hw.ccdtype) +
        ",\"pixels\":" + std::to_string(s.model.hw.ccdmaxpixel) +
        ",\"virtualPixels\":" + std::to_string(s.model.hw.ccdvirtpixel) +
        ",\"boardType\":" + std::to_string(s.model.hw.pcbtype) +
        ",\"firmwareVersion\":" + std::to_string(s.model.hw.softversion) +
        ",\"firmware\":" + JsonString(s.firmware.substr(0, s.firmware.find_last_not_of(' ') + 1)) +
        "}";
    sensorSince_ = UtcStamp();

    refused_ = 0;
    errors_.clear();
    int rc = mosquitto_connect(m_, url_.host.c_str(), url_.port, kKeepAlive);
    int err = errno;
    const double deadline = Now() + kConnectWait;
    while (rc == MOSQ_ERR_SUCCESS && !connected_ && refused_ == 0 && !StopRequested()) {
        if (Now() >= deadline) {
            rc = kNoAnswer;
            break;
        }
        rc = mosquitto_loop(m_, 100, 1);
        err = errno;
    }
    if (!connected_) {
        Complain("broker " + o.url + ": " + Why(rc, err));
        return kExitBroker;
    }
    started_ = true;
    return kExitOk;
}

int Publisher::SetUpTls() {
    std::string capath = opt_.capath;
    if (opt_.cafile.empty() && capath.empty()) {
        const char *env = std::getenv(X509_get_default_cert_dir_env());
        capath = env && *env ? env : X509_get_default_cert_dir();
    }
    auto orNull = [](const std::string &v) { return v.empty() ? nullptr : v.c_str(); };
    int rc = mosquitto_tls_set(m_, orNull(opt_.cafile), orNull(capath), orNull(opt_.cert),
                               orNull(opt_.key), NoPassphrase);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_opts_set(m_, SSL_VERIFY_PEER, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_tls_insecure_set(m_, false);
    if (rc != MOSQ_ERR_SUCCESS) {
        Complain(std::string("broker: TLS cannot be set up: ") + mosquitto_strerror(rc));
        return kExitFile;
    }
    return kExitOk;
}

std::string Publisher::Why(int rc, int err) const {
    if (refused_ != 0) {
        std::string t;
        switch (refused_) {
        case 1: return "the broker refused the connection: it does not speak MQTT 3.1.1";
        case 2: return "the broker refused the connection: client id refused";
        case 3: return "the broker refused the connection: unavailable";
        case 4: t = "login refused: bad user name or password"; break;
        case 5: t = "login refused: not authorised"; break;
        default:
            return std::string("the broker refused the connection: ") +
                   mosquitto_connack_string(refused_);
        }
        return t + (haveUser_ ? "; check the user and password"
                              : "; no user given (KVEX_MQTT_USER and KVEX_MQTT_PASSWORD, or "
                                "--mqtt-credentials)");
    }
    // the library says what TLS found only in its log
    auto said = [&](const char *what) {
        for (const std::string &e : errors_)
            if (e.find(what) != std::string::npos) return e;
        return std::string();
    };
    if (!said("host name verification failed").empty())
        return "the broker's certificate is not made out to " + url_.host + " (hostname mismatch)";
    if (!said("certificate verify failed").empty())
        return "the broker's certificate is not trusted: no CA of " +
               std::string(opt_.cafile.empty() && opt_.capath.empty() ? "the system"
                                                                      : "--cafile or --capath") +
               " signed it, or it is out of date";
    // TLS 1.3 learns of a refused client certificate only after the
    // handshake, from the broker's alert or its end of the connection
    const std::string alert = said(" alert ");
    if (url_.tls && (!alert.empty() || (rc == MOSQ_ERR_ERRNO && err == EPROTO)))
        return "the broker ended the TLS connection" +
               (alert.empty() ? std::string() : ": " + alert.substr(alert.rfind(':') + 1)) +
               (opt_.cert.empty() ? " (does it want a client certificate, --cert and --key?)"
                                  : " (check --cert and --key)");
    switch (rc) {
    case kNoAnswer: return "no answer within " + proto::OneDecimal(kConnectWait) + " s";
    case MOSQ_ERR_EAI: return "unknown host " + url_.host + " (" + gai_strerror(err) + ")";
    case MOSQ_ERR_ERRNO: return std::string("cannot connect: ") + std::strerror(err);
    case MOSQ_ERR_TLS: {
        if (errors_.empty()) return "TLS failed";
        // OpenSSL's lines end in their reason after "::"
        const std::string &e = errors_.front();
        const size_t at = e.rfind("::");
        const std::string why = at == std::string::npos ? e : e.substr(at + 2);
        const bool plain =
            why.find("eof") != std::string::npos || why.find("wrong version") != std::string::npos;
        const bool key = why.find("client key") != std::string::npos;
        return "TLS failed: " + why +
               (plain ? " (is this a TLS port?)"
                : key ? " (PEM, not encrypted: kvex-ctl asks for no passphrase)"
                      : "");
    }
    case MOSQ_ERR_SUCCESS: return "stopped before the broker answered";
    default:
        return url_.tls ? "the connection ended in the TLS handshake (is this a TLS port?)"
                        : "the broker closed the connection (does it want mqtts://?)";
    }
}

void Publisher::OnLog(int level, const char *text) {
    if (level == MOSQ_LOG_ERR && text && errors_.size() < 20) errors_.push_back(text);
}

void Publisher::OnConnect(int rc) {
    if (rc != 0) {
        // Start says the first; later ones once each until a connection
        const bool news = started_ && rc != refused_;
        refused_ = rc;
        if (news) Complain("broker " + opt_.url + ": " + Why(0, 0));
        return;
    }
    refused_ = 0;
    connected_ = true;
    if (dropped_ != droppedReported_) {
        Complain(std::to_string(dropped_ - droppedReported_) +
                 " measurement(s) dropped while the broker was away: the queue was full");
        droppedReported_ = dropped_;
    }
    PublishStatus("online");
    mosquitto_publish(m_, nullptr, Topic("identity").c_str(), static_cast<int>(identity_.size()),
                      identity_.data(), 1, true);
    PublishSensor();
    if (wentAway_ >= 0) {
        Complain("broker back after " + proto::OneDecimal(Now() - wentAway_) + " s; " +
                 std::to_string(queue_.size()) + " measurement(s) queued");
        wentAway_ = -1;
    }
}

void Publisher::OnDisconnect(int rc) {
    (void)rc;
    if (connected_ && started_) {
        wentAway_ = Now();
        Complain("broker away; measurements wait in the queue");
    }
    connected_ = false;
}

void Publisher::OnPublish(int mid) { inflight_.erase(mid); }

int Publisher::PublishStatus(const char *state) {
    std::string text = state;
    // "offline" stays plain: it must read the same as the last will
    if (dropped_ > 0 && text == "online") text += " dropped=" + std::to_string(dropped_);
    int mid = 0;
    mosquitto_publish(m_, &mid, Topic("status").c_str(), static_cast<int>(text.size()), text.data(),
                      1, true);
    return mid;
}

void Publisher::SensorChanged(SensorState state) {
    if (state == sensor_) return;
    sensor_ = state;
    sensorSince_ = UtcStamp();
    if (m_ && connected_) PublishSensor();
}

void Publisher::PublishSensor() {
    const char *name = sensor_ == SensorState::Answering ? "answering"
                       : sensor_ == SensorState::Silent  ? "silent"
                                                         : "line lost";
    const std::string json =
        std::string("{\"state\":\"") + name + "\",\"since\":\"" + sensorSince_ + "\"}";
    mosquitto_publish(m_, nullptr, Topic("sensor").c_str(), static_cast<int>(json.size()),
                      json.data(), 1, true);
}

void Publisher::Measurement(const std::string &json) {
    if (!m_) return;
    if (queue_.size() >= opt_.queue) {
        // the oldest goes: the newest tell most about the line now
        queue_.pop_front();
        ++dropped_;
    }
    queue_.push_back(json);
    Flush();
    Service();
}

void Publisher::Health(const std::string &json) {
    if (!m_ || !connected_ || Now() - lastHealth_ < kHealthEvery) return;
    lastHealth_ = Now();
    mosquitto_publish(m_, nullptr, Topic("health").c_str(), static_cast<int>(json.size()),
                      json.data(), 0, true);
}

void Publisher::Flush() {
    const std::string topic = Topic("measurement");
    while (connected_ && !queue_.empty() && (opt_.qos == 0 || inflight_.size() < kWindow)) {
        int mid = 0;
        const std::string &msg = queue_.front();
        int rc = mosquitto_publish(m_, &mid, topic.c_str(), static_cast<int>(msg.size()),
                                   msg.data(), opt_.qos, false);
        if (rc != MOSQ_ERR_SUCCESS) break;   // kept for the next connection
        if (opt_.qos > 0) inflight_.insert(mid);
        queue_.pop_front();
    }
}

void Publisher::Service() {
    if (!m_) return;
    if (!connected_ && Now() - lastAttempt_ >= kRetryEvery) {
        lastAttempt_ = Now();
        mosquitto_reconnect(m_);
    }
    mosquitto_loop(m_, 0, 1);
    Flush();
}

int Publisher::Stop() {
    if (!m_ || !started_) return kExitOk;
    // what is queued goes out first, for a short while
    const double deadline = Now() + kDrainWait;
    while ((!queue_.empty() || !inflight_.empty()) && Now() < deadline) {
        if (!connected_) break;
        Flush();
        mosquitto_loop(m_, 50, 1);
    }
    int rc = kExitOk;
    if (!queue_.empty() || !inflight_.empty()) {
        Complain(std::to_string(queue_.size() + inflight_.size()) +
                 " measurement(s) not delivered to the broker");
        rc = kExitBroker;
    }
    if (dropped_ > 0) {
        Complain(std::to_string(dropped_) +
                 " measurement(s) dropped in all: the broker queue was full");
        rc = kExitBroker;
    }
    if (connected_) {
        // "offline" is acknowledged before we go, so no will follows it
        const int mid = PublishStatus("offline");
        inflight_.insert(mid);
        const double end = Now() + 1.0;
        while (connected_ && inflight_.count(mid) && Now() < end) mosquitto_loop(m_, 50, 1);
        started_ = false;   // our own disconnect is no broker going away
        mosquitto_disconnect(m_);
        while (connected_ && Now() < end + 1.0) mosquitto_loop(m_, 50, 1);
    }
    started_ = false;
    return rc;
}

}   // namespace ctl

// The broker side of watch and record, on libmosquitto driven from our own
// loop (no thread of its own): the socket is serviced between frames.
#include "ctl/mqtt.h"

#include <cstdio>
#include <cstdlib>
#include <mosquitto.h>
#include <unistd.h>

namespace ctl {

namespace {

constexpr int kKeepAlive = 10;         // seconds
constexpr double kRetryEvery = 1.0;    // seconds between reconnect attempts
constexpr double kHealthEvery = 5.0;   // seconds between health messages
constexpr size_t kWindow = 100;        // QoS 1 messages handed to the library, not yet acknowledged
constexpr double kConnectWait = 5.0;   // the first connection
constexpr double kDrainWait = 3.0;     // queued messages at a clean end

void OnConnectCb(mosquitto *, void *p, int rc) { static_cast<Publisher *>(p)->OnConnect(rc); }
void OnDisconnectCb(mosquitto *, void *p, int rc) { static_cast<Publisher *>(p)->OnDisconnect(rc); }
void OnPublishCb(mosquitto *, void *p, int mid) { static_cast<Publisher *>(p)->OnPublish(mid); }

// "user:password" from the file, else KVEX_MQTT_USER / KVEX_MQTT_PASSWORD.
bool Credentials(const std::string &file, std::string &user, std::string &pass, std::string &err) {
    if (!file.empty()) {
        std::string text;
        if (!ReadSmallFile(file, text, err)) return false;
        if (!ParseCredentials(text, user, pass)) {
            err = file + ": one line \"user:password\" expected";
            return false;
        }
        return true;
    }
    const char *u = std::getenv("KVEX_MQTT_USER");
    const char *p = std::getenv("KVEX_MQTT_PASSWORD");
    user = u ? u : "";
    pass = p ? p : "";
    return true;
}

}   // namespace

Publisher::~Publisher() {
    if (m_) mosquitto_destroy(m_);
}

int Publisher::Start(const MqttOptions &o, const Sensor &s) {
    opt_ = o;
    std::string host, user, pass, err;
    int port = 0;
    if (!ParseUrl(o.url, host, port)) {
        Complain("--mqtt " + o.url + ": expected mqtt://host[:port]");
        return kExitUsage;
    }
    if (!Credentials(o.credentials, user, pass, err)) {
        Complain(err);
        return kExitFile;
    }
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
    const std::string status = Topic("status");
    mosquitto_will_set(m_, status.c_str(), 7, "offline", 1, true);
    if (!user.empty())
        mosquitto_username_pw_set(m_, user.c_str(), pass.empty() ? nullptr : pass.c_str());

    identity_ =
        "{\"device\":" + JsonString(s.device) +
        ",\"ccdtype\":" + std::to_string(s.model.hw.ccdtype) +
        ",\"pixels\":" + std::to_string(s.model.hw.ccdmaxpixel) +
        ",\"virtualPixels\":" + std::to_string(s.model.hw.ccdvirtpixel) +
        ",\"boardType\":" + std::to_string(s.model.hw.pcbtype) +
        ",\"firmwareVersion\":" + std::to_string(s.model.hw.softversion) +
        ",\"firmware\":" + JsonString(s.firmware.substr(0, s.firmware.find_last_not_of(' ') + 1)) +
        "}";

    int rc = mosquitto_connect(m_, host.c_str(), port, kKeepAlive);
    if (rc != MOSQ_ERR_SUCCESS) {
        Complain("broker " + o.url + ": " +
                 (rc == MOSQ_ERR_ERRNO ? "cannot connect" : mosquitto_strerror(rc)));
        return kExitBroker;
    }
    const double deadline = Now() + kConnectWait;
    while (!connected_ && Now() < deadline && !StopRequested()) {
        rc = mosquitto_loop(m_, 100, 1);
        if (rc != MOSQ_ERR_SUCCESS && !connected_) break;
    }
    if (!connected_) {
        Complain("broker " + o.url + ": no connection");
        return kExitBroker;
    }
    started_ = true;
    return kExitOk;
}

void Publisher::OnConnect(int rc) {
    if (rc != 0) {
        Complain(std::string("broker refused the connection: ") + mosquitto_connack_string(rc));
        return;
    }
    connected_ = true;
    if (dropped_ != droppedReported_) {
        Complain(std::to_string(dropped_ - droppedReported_) +
                 " measurement(s) dropped while the broker was away: the queue was full");
        droppedReported_ = dropped_;
    }
    PublishStatus("online");
    mosquitto_publish(m_, nullptr, Topic("identity").c_str(), static_cast<int>(identity_.size()),
                      identity_.data(), 1, true);
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

void Publisher::Stop() {
    if (!m_ || !started_) return;
    // what is queued goes out first, for a short while
    const double deadline = Now() + kDrainWait;
    while ((!queue_.empty() || !inflight_.empty()) && Now() < deadline) {
        if (!connected_) break;
        Flush();
        mosquitto_loop(m_, 50, 1);
    }
    if (!queue_.empty() || !inflight_.empty())
        Complain(std::to_string(queue_.size() + inflight_.size()) +
                 " measurement(s) not delivered to the broker");
    if (dropped_ > 0)
        Complain(std::to_string(dropped_) +
                 " measurement(s) dropped in all: the broker queue was full");
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
}

}   // namespace ctl

// Publishing measurements to an MQTT broker: sequence numbers, retained
// identity, status and sensor state, last will, a bounded queue while the
// broker is away; TLS and a login.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "ctl/ctl.h"

struct mosquitto;
namespace CLI {
class App;
}

namespace ctl {

// The broker options (--mqtt, --topic, --qos, --queue, the login and TLS),
// added to one subcommand; every command that publishes takes the same.
void AddMqttOptions(CLI::App *cmd, MqttOptions &m);
extern const char kMqttHelp[];

// What can be said of the broker options before the sensor is touched:
// kExitOk, else kExitUsage or kExitFile with the reason on stderr.
int CheckMqttOptions(const MqttOptions &o);

enum class SensorState { Answering, Silent, LineLost };

class Publisher {
public:
    Publisher() = default;
    ~Publisher();
    Publisher(const Publisher &) = delete;
    Publisher &operator=(const Publisher &) = delete;
    // Connects (first attempt must succeed, else kExitBroker and one line
    // that says why), publishes the identity, "online" and the sensor's state.
    int Start(const MqttOptions &o, const Sensor &s);
    // Queues one measurement message (it carries its sequence number); it
    // goes out in order.
    void Measurement(const std::string &json);
    // The link's health (frames, time-outs, resyncs, bytes dropped), retained
    // on PREFIX/health, at most every few seconds.
    void Health(const std::string &json);
    // The sensor's state, retained on PREFIX/sensor as it changes, with the
    // time it changed: a dashboard sees a silent gauge while we are online.
    void SensorChanged(SensorState state);
    // Network traffic, reconnects, and handing queued messages on. Cheap.
    void Service();
    // Publishes "offline", waits a little for the queue, disconnects.
    // kExitBroker (and why, on stderr) when a measurement never reached the
    // broker, else kExitOk.
    int Stop();

    // for the callbacks
    void OnConnect(int rc);
    void OnDisconnect(int rc);
    void OnPublish(int mid);
    void OnLog(int level, const char *text);

private:
    void Flush();
    int PublishStatus(const char *state);   // the message id
    void PublishSensor();
    int SetUpTls();
    std::string Why(int rc, int err) const;
    std::string Topic(const char *leaf) const { return opt_.topic + "/" + leaf; }

    MqttOptions opt_;
    BrokerUrl url_;
    bool haveUser_ = false;
    mosquitto *m_ = nullptr;
    bool connected_ = false;
    bool started_ = false;
    std::string identity_;
    std::deque<std::string> queue_;
    std::set<int> inflight_;
    unsigned long long dropped_ = 0, droppedReported_ = 0;
    double lastAttempt_ = 0, wentAway_ = -1, lastHealth_ = -1e9;
    SensorState sensor_ = SensorState::Answering;
    std::string sensorSince_;
    // why the first attempt failed: the broker's refusal (CONNACK code), or
    // the library's error lines, TLS's verdicts among them
    int refused_ = 0;
    std::vector<std::string> errors_;
};

}   // namespace ctl

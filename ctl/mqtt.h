// Publishing measurements to an MQTT broker: sequence numbers, retained
// identity and status, last will, a bounded queue while the broker is away.
#pragma once

#include <deque>
#include <set>
#include <string>

#include "ctl/ctl.h"

struct mosquitto;

namespace ctl {

class Publisher {
public:
    Publisher() = default;
    ~Publisher();
    Publisher(const Publisher &) = delete;
    Publisher &operator=(const Publisher &) = delete;
    // Connects (first attempt must succeed, else kExitBroker and a message),
    // publishes the identity and "online".
    int Start(const MqttOptions &o, const Sensor &s);
    // Queues one measurement message (it carries its sequence number); it
    // goes out in order.
    void Measurement(const std::string &json);
    // The link's health (frames, time-outs, resyncs, bytes dropped), retained
    // on PREFIX/health, at most every few seconds.
    void Health(const std::string &json);
    // Network traffic, reconnects, and handing queued messages on. Cheap.
    void Service();
    // Publishes "offline", waits a little for the queue, disconnects.
    void Stop();

    // for the callbacks
    void OnConnect(int rc);
    void OnDisconnect(int rc);
    void OnPublish(int mid);

private:
    void Flush();
    int PublishStatus(const char *state);   // the message id
    std::string Topic(const char *leaf) const { return opt_.topic + "/" + leaf; }

    MqttOptions opt_;
    mosquitto *m_ = nullptr;
    bool connected_ = false;
    bool started_ = false;
    std::string identity_;
    std::deque<std::string> queue_;
    std::set<int> inflight_;
    unsigned long long dropped_ = 0, droppedReported_ = 0;
    double lastAttempt_ = 0, wentAway_ = -1, lastHealth_ = -1e9;
};

}   // namespace ctl

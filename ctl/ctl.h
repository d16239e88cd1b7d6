// kvex-ctl: the sensor from the command line. A serial line on plain POSIX
// termios, the exchanges and identification on the protocol core, and the
// commands. One thread; every wait sleeps in poll.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lines/net_line.h"
#include "proto/engine.h"
#include "proto/proto.h"

namespace ctl {

// Exit codes, as --help and the README list them.
enum Exit {
    kExitOk = 0,
    kExitDiffer = 1,   // diff, send --verify: a difference found
    kExitUsage = 2,
    kExitSensor = 3,   // sensor or line failure, refused series
    kExitFile = 4,
    kExitBroker = 5,
};

// ---------------------------------------------------------------- time, signals

double Now();   // monotonic seconds
// The wall clock as ISO 8601 UTC with milliseconds: 2026-03-01T12:00:00.123Z
std::string UtcStamp();
// SIGINT and SIGTERM are blocked except inside the waits, which end early
// when one came.
void InstallSignals();
bool StopRequested();
// Sleeps until `until` (monotonic) or a signal; no busy waiting.
void SleepUntil(double until);
// poll() that a stop signal interrupts; returns as poll does.
int WaitFds(struct pollfd *fds, int n, double until);
// For the line's waits: the stop flag, and the mask with the stop signals open.
const volatile sig_atomic_t *StopFlag();
const sigset_t *WaitMask();

// ---------------------------------------------------------------- the sensor

struct Sensor {
    Sensor() : xch(line) { line.SetInterrupt(StopFlag(), WaitMask()); }
    lines::PortLine line;   // a serial device or a network port
    proto::Exchanger xch;   // on `line`
    std::string device;
    proto::SensorModel model;
    bool haveModel = false;
    std::string firmware;   // the firmware text, may be empty
    int series = 0;         // 0 accepted, -1..-6 refused
    proto::Words pp{};      // payload of the last frame sent or received
    std::string status;     // the text of the last exchange, as the windows say it

    // Request and wait for one frame (1.5 s from the write); the reply in
    // xch.reply. Stray bytes before the sync word are dropped.
    proto::Outcome Exchange(proto::Order order, const proto::Words &words);
    // A store: writes one frame and waits until it has left on the line.
    bool Store(proto::Order order, const proto::Words &words);
    uint16_t Softversion() const { return haveModel ? model.hw.softversion : 0; }
};

// The status text the windows show for an exchange that did not end well.
const char *OutcomeText(proto::Outcome o);

// Opens the device and identifies the sensor: echo check, hardware and
// firmware information. kExitOk when it answers and its series is
// accepted; otherwise the exit code, with the reason in s.status.
int OpenAndIdentify(Sensor &s, const std::string &device);
// Parameter set from RAM or EEPROM; false with s.status on failure.
bool GetParams(Sensor &s, bool eeprom, proto::Words &out);

// ---------------------------------------------------------------- simulator child

// Starts kvex-sim (beside this program, else on PATH) on a pseudo-terminal;
// returns its device, or "" when it could not be started.
std::string StartSimulator(const std::vector<std::string> &args);
void StopSimulator();

// ---------------------------------------------------------------- files

// "PATH: reason" for an errno value.
std::string FileError(const std::string &path, int err);
// A small file (a parameter or credentials file) whole; false with a
// message when it cannot be read or is far too big for one.
bool ReadSmallFile(const std::string &path, std::string &out, std::string &err);
// A parameter set from a file: kExitOk, or kExitFile with a message that
// names the file, and the line and value where one is wrong.
int LoadParamFile(const std::string &path, proto::Words &w);

// ---------------------------------------------------------------- broker address

struct BrokerUrl {
    std::string host;   // a name or an address; an IPv6 one without brackets
    int port = 0;
    bool tls = false;
};
// "mqtt://host[:port][/]" (1883 when no port) or "mqtts://..." (8883); an
// IPv6 address in brackets, "mqtt://[::1]:1883".
bool ParseUrl(const std::string &url, BrokerUrl &out);
// The address written again, always with its port.
std::string UrlText(const BrokerUrl &u);
// "localhost", 127.0.0.0/8 and ::1: a login sent there stays on this machine.
bool IsLoopback(const std::string &host);
// What is wrong with a topic prefix, for "PREFIX/measurement" and its
// siblings to be published to; "" when nothing.
std::string TopicPrefixProblem(const std::string &topic);
// The credentials file's text: one line "user:password" (line end optional).
bool ParseCredentials(std::string text, std::string &user, std::string &pass);

// ---------------------------------------------------------------- configuration file

// What a key of the configuration file is to the command line.
enum class ConfigKey { Unknown, Given, Flag, Value };
// The file's KEY = VALUE lines (# and ; start comments, [serve] is allowed)
// as arguments "--KEY" ["VALUE"]; keys the command line gave are left out.
// false with "NAME:LINE: reason" in err.
bool ConfigArgs(const std::string &name, const std::string &text,
                const std::function<ConfigKey(const std::string &)> &kind,
                std::vector<std::string> &args, std::string &err);

// ---------------------------------------------------------------- commands

struct Options {
    std::string port;
    bool simulate = false;
    std::vector<std::string> simArgs;
};

struct MqttOptions {
    std::string url;   // empty: no broker
    std::string topic = "kvex";
    int qos = 1;
    size_t queue = 100000;     // measurements held while the broker is away
    std::string credentials;   // file with "user:password"; else the environment
    // mqtts:// only: the CAs that vouch for the broker (else the system's),
    // and our own certificate and key when the broker asks for one
    std::string cafile, capath, cert, key;
    bool allowPlaintextLogin = false;   // a login in clear text beyond this machine
};

int CmdIdentify(Sensor &s, bool json);
int CmdPorts();
int CmdGet(Sensor &s, bool eeprom, const std::string &outFile);
int CmdSend(Sensor &s, const std::string &file, const proto::Words &w, bool eeprom, bool verify);
int CmdDiff(Sensor &s, const Options &o, const std::string &a, const std::string &b);

struct WatchOptions {
    long long count = 0;   // 0: until stopped
    bool jsonl = false;
};
int CmdWatch(Sensor &s, const WatchOptions &w, const MqttOptions &m);

struct RecordOptions {
    unsigned samples = 0, increment = 0;
    std::string file;
    bool force = false;
};
int CmdRecord(Sensor &s, const RecordOptions &r, const MqttOptions &m);
// The recorder file may be written: not a directory, not there unless
// --force. kExitOk, else kExitFile with the reason said.
int CheckRecordOutput(const RecordOptions &r);

struct ServeOptions {
    std::string modbus = "127.0.0.1:1502";   // "" : no Modbus TCP
    bool allowWrites = false;
};
int CmdServe(Sensor &s, const ServeOptions &so, const MqttOptions &m);

// Opens the sensor on the port of the options; prints why not.
int Connect(Sensor &s, const Options &o);

// The link's health: "frames N, timeouts N, resyncs N (bytes dropped N)",
// and as a JSON object.
std::string HealthText(const Sensor &s);
std::string HealthJson(const Sensor &s);

// A JSON string; the sensor's Latin-1 bytes become UTF-8.
std::string JsonString(const std::string &s);

// A line on stderr, after the time unless stderr is the journal (which
// stamps every line itself).
void Say(const std::string &text);
// "kvex-ctl: " + text, said.
void Complain(const std::string &text);

}   // namespace ctl

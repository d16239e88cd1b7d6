// identify, get, send and diff.
#include <cstdio>

#include "ctl/ctl.h"
#include "fileio/fileio.h"

namespace ctl {

using proto::Words;

std::string JsonString(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else if (c >= 0x80) {
            // the sensor's texts are Latin-1 (the micro sign)
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

namespace {

// Latin-1 to UTF-8 for a terminal.
std::string Utf8(const std::string &s) {
    std::string j = JsonString(s);
    std::string out;
    for (size_t i = 1; i + 1 < j.size(); ++i) {
        if (j[i] == '\\' && j[i + 1] == 'u') {   // control characters: leave out
            i += 5;
            continue;
        }
        if (j[i] == '\\') ++i;
        out += j[i];
    }
    return out;
}

std::string Trim(const std::string &s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? "" : s.substr(0, e + 1);
}

// Lines "index name a b" for each differing word; the count. Without a
// sensor nothing tells which word 15 is.
int PrintDifferences(const Words &a, const Words &b, const Sensor &s, FILE *to) {
    int n = 0;
    for (int i = 0; i < proto::kWords; ++i) {
        if (a[i] == b[i]) continue;
        ++n;
        const char *name = (i == proto::kWord15 && !s.haveModel)
                               ? "deltaTol/trigMode"
                               : proto::ParamWordName(i, s.Softversion());
        std::fprintf(to, "%2d %-10s %5u %5u\n", i, name, static_cast<unsigned>(a[i]),
                     static_cast<unsigned>(b[i]));
    }
    return n;
}

std::string LatencyTimerText(int ms) {
    if (ms < 0) return "no USB adapter latency timer";
    std::string t = "USB adapter latency timer " + std::to_string(ms) + " ms";
    if (ms > 2)
        t += " - every reply may wait that long; lower it to 1 ms (README, Troubleshooting)";
    return t;
}

}   // namespace

std::string HealthText(const Sensor &s) {
    const proto::LinkHealth h = s.xch.Health();
    return "frames " + std::to_string(h.frames) + ", timeouts " + std::to_string(h.timeouts) +
           ", resyncs " + std::to_string(h.resyncs) + " (bytes dropped " +
           std::to_string(h.bytesDropped) + ")";
}

std::string HealthJson(const Sensor &s) {
    const proto::LinkHealth h = s.xch.Health();
    return "{\"frames\":" + std::to_string(h.frames) +
           ",\"timeouts\":" + std::to_string(h.timeouts) +
           ",\"resyncs\":" + std::to_string(h.resyncs) +
           ",\"bytesDropped\":" + std::to_string(h.bytesDropped) + "}";
}

int CmdIdentify(Sensor &s, bool json) {
    const proto::SensorModel &m = s.model;
    const bool accepted = s.series == 0;
    if (json) {
        std::printf(
            "{\"device\":%s,\"ccdtype\":%u,\"pixels\":%u,\"virtualPixels\":%u,\"boardType\":%u,"
            "\"firmwareVersion\":%u,\"firmware\":%s,\"description\":%s,\"range\":%s,"
            "\"accepted\":%s,\"lowLatency\":%s,\"latencyTimerMs\":%s",
            JsonString(s.device).c_str(), m.hw.ccdtype, m.hw.ccdmaxpixel, m.hw.ccdvirtpixel,
            m.hw.pcbtype, m.hw.softversion, JsonString(Trim(s.firmware)).c_str(),
            JsonString(m.line0).c_str(), JsonString(Trim(m.line1)).c_str(),
            accepted ? "true" : "false", s.line.LowLatency() ? "true" : "false",
            s.line.LatencyTimerMs() < 0 ? "null" : std::to_string(s.line.LatencyTimerMs()).c_str());
        std::printf(",\"link\":%s", HealthJson(s).c_str());
        if (!accepted) std::printf(",\"refused\":%s", JsonString(s.status).c_str());
        std::printf("}\n");
    } else {
        std::printf("device:           %s\n", s.device.c_str());
        std::printf("sensor type:      %u\n", m.hw.ccdtype);
        std::printf("pixels:           %u (virtual %u)\n", m.hw.ccdmaxpixel, m.hw.ccdvirtpixel);
        std::printf("board type:       %u\n", m.hw.pcbtype);
        std::printf("firmware version: %u\n", m.hw.softversion);
        std::printf("firmware text:    %s\n", Utf8(Trim(s.firmware)).c_str());
        if (!m.line0.empty()) std::printf("description:      %s\n", Utf8(m.line0).c_str());
        if (!Trim(m.line1).empty()) std::printf("                  %s\n", Utf8(m.line1).c_str());
        std::printf("series:           %s\n", accepted ? "accepted" : "refused");
        if (s.line.IsNet())
            std::printf(
                "latency:          a network port: the device server's and the network's\n");
        else
            std::printf("latency:          low-latency mode %s; %s\n",
                        s.line.LowLatency() ? "on" : "refused by the driver",
                        LatencyTimerText(s.line.LatencyTimerMs()).c_str());
        std::printf("link:             %s\n", HealthText(s).c_str());
    }
    std::fflush(stdout);
    // the refusal itself was said when the sensor was identified
    return accepted ? kExitOk : kExitSensor;
}

int CmdPorts() {
    const std::vector<lines::PortName> ports = lines::ListPorts();
    if (ports.empty()) Say("no serial device found");
    for (const lines::PortName &p : ports)
        std::printf("%s%s%s\n", p.device.c_str(), p.byId.empty() ? "" : "  ", p.byId.c_str());
    std::fflush(stdout);
    return kExitOk;
}

int CmdGet(Sensor &s, bool eeprom, const std::string &outFile) {
    Words w;
    if (!GetParams(s, eeprom, w)) {
        Complain(s.status);
        return kExitSensor;
    }
    const std::string text = proto::FormatParamFile(w);
    if (outFile.empty() || outFile == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return kExitOk;
    }
    if (const int e = fileio::ReplaceFile(outFile, text)) {
        Complain(FileError(outFile, e));
        return kExitFile;
    }
    return kExitOk;
}

int CmdSend(Sensor &s, const std::string &file, const Words &w, bool eeprom, bool verify) {
    // the store is out on the line before anything else is asked
    if (!s.Store(eeprom ? proto::Order::StoreEeprom : proto::Order::StoreRam, w)) {
        Complain("the parameter frame could not be written to the line");
        return kExitSensor;
    }
    Say("Line Ok!");
    if (!verify) return kExitOk;
    // the sensor does not confirm a store: read it back from the same place
    SleepUntil(Now() + (eeprom ? 0.3 : 0.1));
    Words back;
    if (!GetParams(s, eeprom, back)) {
        Complain(s.status);
        return kExitSensor;
    }
    const int n = PrintDifferences(w, back, s, stdout);
    std::fflush(stdout);
    if (n > 0) {
        Complain("verify: " + std::to_string(n) + " word(s) differ from " + file +
                 " (index, name, file, sensor)");
        return kExitDiffer;
    }
    Say(std::string("verify: ") + (eeprom ? "EEPROM" : "RAM") + " holds the set of " + file);
    return kExitOk;
}

int CmdDiff(Sensor &s, const Options &o, const std::string &a, const std::string &b) {
    Words sets[2];
    const std::string names[2] = {a, b};
    const bool memory[2] = {a == "ram" || a == "eeprom", b == "ram" || b == "eeprom"};
    // the files first: a wrong one is found before the sensor is touched
    for (int k = 0; k < 2; ++k) {
        if (memory[k]) continue;
        int rc = LoadParamFile(names[k], sets[k]);
        if (rc != kExitOk) return rc;
    }
    bool connected = false;
    for (int k = 0; k < 2; ++k) {
        if (!memory[k]) continue;
        if (!connected) {
            int rc = Connect(s, o);
            if (rc != kExitOk) return rc;
            connected = true;
        }
        if (!GetParams(s, names[k] == "eeprom", sets[k])) {
            Complain(s.status);
            return kExitSensor;
        }
    }
    const int n = PrintDifferences(sets[0], sets[1], s, stdout);
    std::fflush(stdout);
    return n > 0 ? kExitDiffer : kExitOk;
}

}   // namespace ctl

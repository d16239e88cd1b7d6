// Exchanges with the sensor and its identification, with the texts the
// windows show for each outcome.
#include "ctl/ctl.h"

namespace ctl {

using proto::Order;
using proto::Outcome;

const char *OutcomeText(Outcome o) {
    switch (o) {
    case Outcome::Done: return "";
    case Outcome::Timeout: return "Timeout-RS-232...";
    case Outcome::NotSent: return "Transmit error - frame not sent completely!";
    case Outcome::Lost: return "RS-232 port lost!";
    case Outcome::Interrupted: return "stopped";
    }
    return "";
}

Outcome Sensor::Exchange(Order order, const proto::Words &words) {
    pp = words;
    const Outcome o = xch.Run(order, words, proto::Await::Frame);
    if (o == Outcome::Done) pp = xch.reply.words;
    return o;
}

bool Sensor::Store(Order order, const proto::Words &words) {
    pp = words;
    return xch.Run(order, words, proto::Await::Nothing) == Outcome::Done;
}

namespace {

// The echo check.
bool Echo(Sensor &s) {
    const Outcome o = s.Exchange(Order::Echo, s.pp);
    // a frame's worth of bytes without the sync word is a reply, and a wrong one
    if (o == Outcome::Timeout && s.xch.unframed >= static_cast<size_t>(proto::kFrameBytes)) {
        s.status = "read error - not sync byte 0xAA!";
        return false;
    }
    if (o != Outcome::Done) {
        s.status = OutcomeText(o);
        return false;
    }
    if (s.xch.reply.sync != proto::kSensorSync) {
        s.status = "read error - not sync byte 0xAA!";
        return false;
    }
    s.status = "Echo Check - Line Ok!";
    return true;
}

bool Hardware(Sensor &s) {
    if (s.Exchange(Order::HardwareInfo, s.pp) != Outcome::Done ||
        s.xch.reply.header != static_cast<uint16_t>(Order::HardwareInfo)) {
        s.status = "Error reading HARDWARE-info!";
        return false;
    }
    s.model = proto::ModelFromHardware(proto::HardwareFromWords(s.xch.reply.words));
    s.haveModel = true;
    return true;
}

// The firmware text; "" and a status text when it did not come whole.
void Firmware(Sensor &s) {
    s.firmware.clear();
    const Outcome o =
        s.xch.Run(Order::FirmwareInfo, s.pp, proto::Await::Raw, proto::kFirmwareBytes);
    const std::vector<uint8_t> &raw = s.xch.raw;
    if (o == Outcome::NotSent || o == Outcome::Lost || raw.empty())
        s.status = "Timeout - reading firmware info!";
    else if (raw.size() != static_cast<size_t>(proto::kFirmwareBytes))
        s.status = "Error reading firmware-info!";
    else {
        s.firmware = proto::FirmwareText(raw.data(), raw.size(), s.model.hw.pcbtype);
        s.status = s.firmware;
    }
}

}   // namespace

int OpenAndIdentify(Sensor &s, const std::string &device) {
    std::string err;
    lines::OpenFault fault;
    s.device = device;
    s.haveModel = false;
    s.firmware.clear();
    s.series = 0;
    s.xch.Reset();
    if (!s.line.Open(device, fault, err)) {
        s.status = "Cannot open port: " + err;
        return kExitSensor;
    }
    if (!Echo(s)) return kExitSensor;
    // the sensor wants a moment between the orders of the identification
    SleepUntil(Now() + 0.1);
    if (!Hardware(s)) return kExitSensor;
    SleepUntil(Now() + 0.1);
    Firmware(s);
    if (s.firmware.empty()) {
        // the windows accept a sensor without a firmware text; say it
        Complain(s.status + " (series not checked)");
    }
    s.series = proto::SeriesResult(s.firmware);
    if (s.series < 0) {
        s.status = proto::SeriesRefusedText(s.series);
        return kExitSensor;
    }
    return kExitOk;
}

bool GetParams(Sensor &s, bool eeprom, proto::Words &out) {
    const Outcome o = s.Exchange(eeprom ? Order::GetEeprom : Order::GetRam, s.pp);
    if (o != Outcome::Done) {
        s.status = OutcomeText(o);
        return false;
    }
    s.status = "Parameter-frame received! - Line Ok!";
    out = s.xch.reply.words;
    return true;
}

}   // namespace ctl

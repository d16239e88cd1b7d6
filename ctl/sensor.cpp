// Exchanges with the sensor and its identification, with the texts the
// windows show for each outcome.
#include "ctl/ctl.h"

namespace ctl {

using proto::Order;

bool Sensor::Send(Order order, const proto::Words &words) {
    uint8_t frame[proto::kFrameBytes];
    proto::EncodeFrame(order, words, frame);
    pp = words;
    return line.Write(frame, sizeof frame);
}

Reply Sensor::Exchange(Order order, const proto::Words &words, proto::Frame &reply) {
    line.Flush();
    if (!Send(order, words) && line.Lost()) return Reply::Lost;
    // the reply is the first 36 bytes after the flush; the time-out runs from the write
    uint8_t buf[proto::kFrameBytes];
    const size_t n = line.Read(buf, sizeof buf, Now() + proto::kTimeout);
    if (n == sizeof buf) {
        reply = proto::DecodeFrame(buf);
        pp = reply.words;
        return Reply::Ok;
    }
    return line.Lost() ? Reply::Lost : Reply::Timeout;
}

namespace {

// The echo check.
bool Echo(Sensor &s) {
    proto::Frame f;
    switch (s.Exchange(Order::Echo, s.pp, f)) {
    case Reply::Ok: break;
    case Reply::Timeout: s.status = "Timeout-RS-232..."; return false;
    case Reply::Lost: s.status = "RS-232 port lost!"; return false;
    }
    if (f.sync != proto::kSensorSync) {
        s.status = "read error - not sync byte 0xAA!";
        return false;
    }
    s.status = "Echo Check - Line Ok!";
    return true;
}

bool Hardware(Sensor &s) {
    proto::Frame f;
    if (s.Exchange(Order::HardwareInfo, s.pp, f) != Reply::Ok ||
        f.header != static_cast<uint16_t>(Order::HardwareInfo)) {
        s.status = "Error reading HARDWARE-info!";
        return false;
    }
    s.model = proto::ModelFromHardware(proto::HardwareFromWords(f.words));
    s.haveModel = true;
    return true;
}

// The firmware text; "" and a status text when it did not come whole.
void Firmware(Sensor &s) {
    s.line.Flush();
    s.firmware.clear();
    if (!s.Send(Order::FirmwareInfo, s.pp)) {
        s.status = "Timeout - reading firmware info!";
        return;
    }
    // a few more bytes than the text, so a longer reply shows as one
    uint8_t buf[proto::kFirmwareBytes + 1];
    size_t n = s.line.Read(buf, proto::kFirmwareBytes, Now() + proto::kTimeout);
    if (n == static_cast<size_t>(proto::kFirmwareBytes)) n += s.line.Read(buf + n, 1, Now() + 0.02);
    s.line.Flush();
    if (n == 0) s.status = "Timeout - reading firmware info!";
    else if (n != static_cast<size_t>(proto::kFirmwareBytes))
        s.status = "Error reading firmware-info!";
    else {
        s.firmware = proto::FirmwareText(buf, n, s.model.hw.pcbtype);
        s.status = s.firmware;
    }
}

}   // namespace

int OpenAndIdentify(Sensor &s, const std::string &device) {
    std::string err;
    s.device = device;
    s.haveModel = false;
    s.firmware.clear();
    s.series = 0;
    if (!s.line.Open(device, err)) {
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
    proto::Frame f;
    switch (s.Exchange(eeprom ? Order::GetEeprom : Order::GetRam, s.pp, f)) {
    case Reply::Ok:
        s.status = "Parameter-frame received! - Line Ok!";
        out = f.words;
        return true;
    case Reply::Timeout: s.status = "Timeout-RS-232..."; return false;
    case Reply::Lost: s.status = "RS-232 port lost!"; return false;
    }
    return false;
}

}   // namespace ctl

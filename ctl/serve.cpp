// serve: run mode without end, the newest measurement for Modbus TCP
// clients and each one for the broker; sensor loss, broker loss and client
// churn are all lived through.
#include <cstdio>

#include "ctl/ctl.h"
#include "ctl/modbus.h"
#include "ctl/mqtt.h"
#include "ctl/run.h"

namespace ctl {

namespace {

constexpr double kStoreSettles = 0.1;   // s before the RAM is read back, as send --verify

// A client's set-point or tolerance into the sensor's RAM, then read back.
bool WriteSetpoint(Sensor &s, proto::Words &params, const SetpointWrite &w) {
    proto::Words want = params;
    if (w.setpoint >= 0) want[proto::kTVal] = static_cast<uint16_t>(w.setpoint);
    if (w.tolerance >= 0) want[proto::kTTol] = static_cast<uint16_t>(w.tolerance);
    bool ok = s.Store(proto::Order::StoreRam, want);
    if (ok) {
        SleepUntil(Now() + kStoreSettles);
        proto::Words back;
        ok = GetParams(s, false, back);
        if (ok) {
            ok = back[proto::kTVal] == want[proto::kTVal] &&
                 back[proto::kTTol] == want[proto::kTTol];
            params = back;   // what the sensor holds is what the next request carries
        }
    }
    Complain("Modbus: set-point " + std::to_string(want[proto::kTVal]) + ", tolerance " +
             std::to_string(want[proto::kTTol]) +
             (ok ? " written to the sensor's RAM" : " not confirmed by the sensor's RAM"));
    return ok;
}

}   // namespace

int CmdServe(Sensor &s, const ServeOptions &so, const MqttOptions &mo) {
    proto::Words params;
    if (!GetParams(s, false, params)) {
        Complain(s.status);
        return kExitSensor;
    }
    const uint16_t pixels = s.model.hw.ccdvirtpixel;
    ModbusServer mb;
    if (!so.modbus.empty()) {
        std::string err;
        if (!mb.Start(so.modbus, so.allowWrites, pixels, err)) {
            Complain(err);
            return kExitBroker;
        }
        std::string host, port;
        lines::SplitHostPort(so.modbus, host, port);
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        // the port taken, when 0 asked for any
        Complain("Modbus TCP on " + host + ":" + std::to_string(mb.Port()) +
                 (so.allowWrites ? ", set-point and tolerance writable" : ", read only"));
    }
    Publisher pub;
    if (!mo.url.empty()) {
        int rc = pub.Start(mo, s);
        if (rc != kExitOk) return rc;
    }

    Snapshot snap;
    snap.setpoint = params[proto::kTVal];
    snap.tolerance = params[proto::kTTol];
    mb.Update(snap);
    auto said = [&](SensorState st) {
        uint16_t keep = snap.status & kStInTolerance;
        if (st == SensorState::Answering) keep |= kStAnswering;
        if (st == SensorState::Silent) keep |= kStTimedOut;
        if (st == SensorState::LineLost) keep |= kStLost;
        if (keep == snap.status) return;
        snap.status = keep;
        mb.Update(snap);
    };
    unsigned long long seq = 0;
    double silentSince = -1;
    int exitCode = kExitOk;
    while (!StopRequested()) {
        SetpointWrite w;
        if (mb.TakeWrite(w)) {
            const bool ok = WriteSetpoint(s, params, w);
            // the client is answered with what the sensor now holds
            snap.setpoint = params[proto::kTVal];
            snap.tolerance = params[proto::kTTol];
            mb.Update(snap);
            mb.FinishWrite(ok);
        }
        proto::Measurement m;
        const Step step = Measure(s, params, pub, silentSince, exitCode, m, said);
        if (step == Step::End) break;
        if (step == Step::Again) continue;
        ++seq;
        snap.have = true;
        snap.um = static_cast<int32_t>(proto::SignedUm(m.umValue));
        snap.pixels = m.Mvalue;
        snap.left = m.Ledge;
        snap.right = m.Redge;
        snap.edges = m.edcnt;
        snap.setpoint = m.tVal;
        snap.tolerance = m.tol;
        snap.seq = static_cast<uint32_t>(seq);
        snap.at = Now();
        const bool in = InTolerance(m, s);
        snap.status =
            static_cast<uint16_t>((snap.status & ~kStInTolerance) | (in ? kStInTolerance : 0));
        mb.Update(snap);
        pub.Measurement(MeasurementJson(UtcStamp(), seq, m, s));
        pub.Health(HealthJson(s));
    }
    ReportHealth(s);
    const int brokerRc = pub.Stop();
    mb.Stop();
    return exitCode != kExitOk ? exitCode : brokerRc;
}

}   // namespace ctl

// watch and record: the run loop and the recorder loop, surviving a pulled
// adapter and a silent sensor; lines on stdout, the recorder file, and the
// broker when one is given.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>

#include "ctl/ctl.h"
#include "ctl/mqtt.h"
#include "ctl/run.h"
#include "fileio/fileio.h"

namespace ctl {

using proto::Order;
using proto::Words;

namespace {

constexpr double kPacing = 1.0;        // recorder: seconds between requests
constexpr double kReopenEvery = 0.5;   // seconds between attempts to reopen a lost device

}   // namespace

std::string UtcStamp() {
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm t;
    gmtime_r(&tv.tv_sec, &t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

std::string MeasurementJson(const std::string &stamp, unsigned long long seq,
                            const proto::Measurement &m) {
    char buf[256];
    std::snprintf(
        buf, sizeof buf,
        "{\"time\":\"%s\",\"seq\":%llu,\"Ledge\":%u,\"Redge\":%u,\"Mvalue\":%u,\"umValue\":%" PRId64
        ",\"edcnt\":%u,\"tVal\":%u,\"tol\":%u}",
        stamp.c_str(), seq, m.Ledge, m.Redge, m.Mvalue, proto::SignedUm(m.umValue), m.edcnt, m.tVal,
        m.tol);
    return buf;
}

namespace {

std::string MeasurementCsv(const std::string &stamp, unsigned long long seq,
                           const proto::Measurement &m) {
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s,%llu,%u,%u,%u,%" PRId64 ",%u,%u,%u", stamp.c_str(), seq,
                  m.Ledge, m.Redge, m.Mvalue, proto::SignedUm(m.umValue), m.edcnt, m.tVal, m.tol);
    return buf;
}

}   // namespace

void ReportHealth(const Sensor &s) {
    std::fprintf(stderr, "link: %s\n", HealthText(s).c_str());
    std::fflush(stderr);
}

namespace {

// The line is gone: wait for the device path to come back, open it,
// identify the sensor again and read its parameter set. false only when
// stopped, or when the sensor that came back is refused.
bool Reconnect(Sensor &s, Words &params, int &exitCode) {
    const double lostAt = Now();
    Complain("RS-232 port lost! - waiting for " + s.device + " to come back");
    s.line.Close();
    const std::string device = s.device;
    double lastTry = 0;
    while (!StopRequested()) {
        SleepUntil(lastTry + kReopenEvery);
        if (StopRequested()) break;
        lastTry = Now();
        int rc = OpenAndIdentify(s, device);
        if (rc == kExitOk && GetParams(s, false, params)) {
            const std::string gap = proto::OneDecimal(Now() - lostAt);
            Complain(device + " is back after " + gap + " s; going on");
            return true;
        }
        if (s.series < 0) {
            Complain(s.status);
            exitCode = kExitSensor;
            return false;
        }
        s.line.Close();
    }
    exitCode = kExitOk;
    return false;
}

}   // namespace

Step Measure(Sensor &s, Words &params, Publisher &pub, double &silentSince, int &exitCode,
             proto::Measurement &m, const std::function<void(SensorState)> &said) {
    auto say = [&](SensorState st) {
        if (said) said(st);
    };
    const proto::Outcome o = s.xch.Run(Order::Measure, params, proto::Await::Frame);
    pub.Service();
    if (StopRequested() || o == proto::Outcome::Interrupted) return Step::End;
    if (s.line.Lost() || !s.line.IsOpen() || o == proto::Outcome::Lost) {
        say(SensorState::Lost);
        return Reconnect(s, params, exitCode) ? Step::Again : Step::End;
    }
    if (o != proto::Outcome::Done) {
        say(SensorState::Silent);
        if (silentSince < 0) {
            silentSince = Now();
            Complain("Timeout RS232-Line! - asking again");
        }
        return Step::Again;
    }
    if (silentSince >= 0) {
        const std::string gap = proto::OneDecimal(Now() - silentSince);
        Complain(std::string("the sensor answers again after ") + gap + " s");
        silentSince = -1;
    }
    m = proto::MeasurementFromWords(s.xch.reply.words);
    // the next request carries the set-point just reported
    params[proto::kTVal] = m.tVal;
    say(SensorState::Answering);
    return Step::Got;
}

int CmdWatch(Sensor &s, const WatchOptions &w, const MqttOptions &mo) {
    Words params;
    if (!GetParams(s, false, params)) {
        Complain(s.status);
        return kExitSensor;
    }
    Publisher pub;
    if (!mo.url.empty()) {
        int rc = pub.Start(mo, s);
        if (rc != kExitOk) return rc;
    }
    if (!w.jsonl) std::printf("time,seq,Ledge,Redge,Mvalue,umValue,edcnt,tVal,tol\n");
    unsigned long long seq = 0;
    double silentSince = -1;
    int exitCode = kExitOk;
    while (!StopRequested() && (w.count == 0 || static_cast<long long>(seq) < w.count)) {
        // one request outstanding at a time
        proto::Measurement m;
        const Step step = Measure(s, params, pub, silentSince, exitCode, m);
        if (step == Step::End) break;
        if (step == Step::Again) continue;
        ++seq;
        const std::string stamp = UtcStamp();
        const std::string json = MeasurementJson(stamp, seq, m);
        const std::string line = w.jsonl ? json : MeasurementCsv(stamp, seq, m);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            // the reader went away (a closed pipe): nobody takes the lines any more
            Complain("standard output closed");
            exitCode = kExitFile;
            break;
        }
        pub.Measurement(json);
        pub.Health(HealthJson(s));
    }
    ReportHealth(s);
    pub.Stop();
    return exitCode;
}

int CmdRecord(Sensor &s, const RecordOptions &r, const MqttOptions &mo) {
    struct stat st;
    if (!r.force && stat(r.file.c_str(), &st) == 0) {
        Complain(r.file + ": File already exist - overwrite ? (give --force)");
        return kExitFile;
    }
    Words params;
    if (!GetParams(s, false, params)) {
        Complain(s.status);
        return kExitSensor;
    }
    std::remove(r.file.c_str());
    Publisher pub;
    if (!mo.url.empty()) {
        int rc = pub.Start(mo, s);
        if (rc != kExitOk) return rc;
    }

    proto::RecorderHeader h;
    time_t now = time(nullptr);
    tm lt;
    localtime_r(&now, &lt);
    char date[48], clock[48];
    std::snprintf(date, sizeof date, "%02d-%02d-%04d", lt.tm_mon + 1, lt.tm_mday,
                  lt.tm_year + 1900);
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", lt.tm_hour, lt.tm_min, lt.tm_sec);
    h.date = date;
    h.time = clock;
    h.increment = static_cast<uint16_t>(r.increment);
    h.samples = static_cast<uint16_t>(r.samples);
    h.slope = params[proto::kSlope];
    h.intersect = params[proto::kIntersect];
    h.slopeScale = s.model.slopeScale;
    if (fileio::AppendLine(r.file, proto::FormatRecorderHeader(h))) {
        Complain(r.file + ": DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
        return kExitFile;
    }

    unsigned count = 0;
    unsigned long long seq = 0;
    int exitCode = kExitOk;
    const double tStart = Now();
    double tLastSample = tStart, tRequest = tStart - kPacing;   // the first request at once
    double silentSince = -1;
    bool failed = false;
    while (!StopRequested() && count < r.samples) {
        // at most one request a second, and only once the last was answered
        while (!StopRequested() && Now() < tRequest + kPacing) {
            pub.Service();
            SleepUntil(std::min(tRequest + kPacing, Now() + 0.1));
        }
        if (StopRequested()) break;
        tRequest = Now();
        proto::Measurement m;
        const Step step = Measure(s, params, pub, silentSince, exitCode, m);
        if (step == Step::End) break;
        if (step == Step::Again) {
            // a silent or returning sensor is asked again at once
            tRequest = Now() - kPacing;
            continue;
        }
        ++seq;
        const double at = Now();
        if (at - tLastSample >= r.increment) {
            if (fileio::AppendLine(r.file, proto::FormatRecorderLine(m))) {
                Complain(r.file + ": DATA-RECORDER INTERRUPTED - CANNOT WRITE DATA-FILE!");
                failed = true;
                break;
            }
            ++count;
            tLastSample = at;
            pub.Measurement(MeasurementJson(UtcStamp(), seq, m));
            pub.Health(HealthJson(s));
        }
    }
    ReportHealth(s);
    pub.Stop();
    if (failed) return kExitFile;
    if (count >= r.samples) {
        std::fprintf(stderr, "DATA-RECORDER COMPLETED SUCCESSFULLY\n");
        return kExitOk;
    }
    std::fprintf(stderr, "DATA-RECORDER INTERRUPTED! (%u of %u samples in %s)\n", count, r.samples,
                 r.file.c_str());
    return exitCode;
}

}   // namespace ctl

// watch and record: the run loop and the recorder loop, surviving a pulled
// adapter and a silent sensor; lines on stdout, the recorder file, and the
// broker when one is given.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "ctl/ctl.h"
#include "ctl/mqtt.h"
#include "ctl/run.h"
#include "fileio/fileio.h"

namespace ctl {

using proto::Order;
using proto::Words;

namespace {

constexpr double kPacing = 1.0;          // recorder: seconds between requests
constexpr double kReopenEvery = 0.5;     // seconds between attempts to reopen a lost device
constexpr double kProgressEvery = 5.0;   // record: seconds between progress lines on a terminal

// Micrometres as millimetres with three decimals, whatever the locale.
std::string MmText(int64_t um) {
    const uint64_t a = um < 0 ? 0 - static_cast<uint64_t>(um) : static_cast<uint64_t>(um);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%03u", um < 0 ? "-" : "", a / 1000,
                  static_cast<unsigned>(a % 1000));
    return buf;
}

}   // namespace

bool InTolerance(const proto::Measurement &m, const Sensor &s) {
    return proto::ToleranceBand(m.tVal, m.tol, 0, s.model.hw.ccdvirtpixel).Holds(m.Mvalue);
}

// The fields the windows name first, as consumers read them already; the
// value in mm and the tolerance verdict after them.
std::string MeasurementJson(const std::string &stamp, unsigned long long seq,
                            const proto::Measurement &m, const Sensor &s) {
    char buf[320];
    std::snprintf(
        buf, sizeof buf,
        "{\"time\":\"%s\",\"seq\":%llu,\"Ledge\":%u,\"Redge\":%u,\"Mvalue\":%u,\"umValue\":%" PRId64
        ",\"edcnt\":%u,\"tVal\":%u,\"tol\":%u,\"valueMm\":%s,\"inTolerance\":%s}",
        stamp.c_str(), seq, m.Ledge, m.Redge, m.Mvalue, proto::SignedUm(m.umValue), m.edcnt, m.tVal,
        m.tol, MmText(proto::SignedUm(m.umValue)).c_str(), InTolerance(m, s) ? "true" : "false");
    return buf;
}

namespace {

const char kCsvHeader[] = "time,seq,Ledge,Redge,Mvalue,umValue,edcnt,tVal,tol,valueMm,inTolerance";

std::string MeasurementCsv(const std::string &stamp, unsigned long long seq,
                           const proto::Measurement &m, const Sensor &s) {
    char buf[240];
    std::snprintf(buf, sizeof buf, "%s,%llu,%u,%u,%u,%" PRId64 ",%u,%u,%u,%s,%d", stamp.c_str(),
                  seq, m.Ledge, m.Redge, m.Mvalue, proto::SignedUm(m.umValue), m.edcnt, m.tVal,
                  m.tol, MmText(proto::SignedUm(m.umValue)).c_str(), InTolerance(m, s) ? 1 : 0);
    return buf;
}

}   // namespace

void ReportHealth(const Sensor &s) { Say("link: " + HealthText(s)); }

namespace {

// The line is gone: wait for the device path to come back, open it,
// identify the sensor again and read its parameter set. false only when
// stopped, or when the sensor that came back is refused. The broker is
// told, and kept alive meanwhile.
bool Reconnect(Sensor &s, Words &params, Publisher &pub, int &exitCode) {
    const double lostAt = Now();
    Complain("RS-232 port lost! - waiting for " + s.device + " to come back");
    pub.SensorChanged(SensorState::LineLost);
    s.line.Close();
    const std::string device = s.device;
    double lastTry = 0;
    while (!StopRequested()) {
        while (!StopRequested() && Now() < lastTry + kReopenEvery) {
            pub.Service();
            SleepUntil(std::min(lastTry + kReopenEvery, Now() + 0.1));
        }
        if (StopRequested()) break;
        lastTry = Now();
        int rc = OpenAndIdentify(s, device);
        if (rc == kExitOk && GetParams(s, false, params)) {
            const std::string gap = proto::OneDecimal(Now() - lostAt);
            Complain(device + " is back after " + gap + " s; going on");
            pub.SensorChanged(SensorState::Answering);
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
        say(SensorState::LineLost);
        return Reconnect(s, params, pub, exitCode) ? Step::Again : Step::End;
    }
    if (o != proto::Outcome::Done) {
        say(SensorState::Silent);
        if (silentSince < 0) {
            silentSince = Now();
            Complain("Timeout RS232-Line! - asking again");
            pub.SensorChanged(SensorState::Silent);
        }
        return Step::Again;
    }
    if (silentSince >= 0) {
        const std::string gap = proto::OneDecimal(Now() - silentSince);
        Complain(std::string("the sensor answers again after ") + gap + " s");
        silentSince = -1;
        pub.SensorChanged(SensorState::Answering);
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
    if (!w.jsonl) std::printf("%s\n", kCsvHeader);
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
        const std::string json = MeasurementJson(stamp, seq, m, s);
        const std::string line = w.jsonl ? json : MeasurementCsv(stamp, seq, m, s);
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
    const int brokerRc = pub.Stop();
    return exitCode != kExitOk ? exitCode : brokerRc;
}

int CheckRecordOutput(const RecordOptions &r) {
    struct stat st;
    if (stat(r.file.c_str(), &st) != 0) return kExitOk;
    // --force replaces a file, never a directory or a device
    if (S_ISDIR(st.st_mode)) {
        Complain(FileError(r.file, EISDIR));
        return kExitFile;
    }
    if (!r.force) {
        Complain(r.file + ": File already exist - overwrite ? (give --force)");
        return kExitFile;
    }
    if (!S_ISREG(st.st_mode)) {
        Complain(r.file + ": not a regular file; --force replaces only files");
        return kExitFile;
    }
    return kExitOk;
}

int CmdRecord(Sensor &s, const RecordOptions &r, const MqttOptions &mo) {
    if (const int rc = CheckRecordOutput(r)) return rc;
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
    // someone at a terminal is told what goes on; a log is not filled with it
    const bool progress = isatty(2) == 1;
    double lastProgress = tStart;
    std::string lastMm = "-";
    if (progress)
        Complain("recording " + std::to_string(r.samples) + " sample(s) into " + r.file +
                 ", one each " + std::to_string(r.increment) + " s at least");
    while (!StopRequested() && count < r.samples) {
        // at most one request a second, and only once the last was answered
        while (!StopRequested() && Now() < tRequest + kPacing) {
            pub.Service();
            if (progress && Now() - lastProgress >= kProgressEvery) {
                lastProgress = Now();
                Complain(std::to_string(count) + " of " + std::to_string(r.samples) +
                         " samples in " + r.file + " (last " + lastMm + " mm)");
            }
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
            lastMm = MmText(proto::SignedUm(m.umValue));
            pub.Measurement(MeasurementJson(UtcStamp(), seq, m, s));
            pub.Health(HealthJson(s));
        }
    }
    ReportHealth(s);
    const int brokerRc = pub.Stop();
    if (failed) return kExitFile;
    if (count >= r.samples) {
        Say("DATA-RECORDER COMPLETED SUCCESSFULLY");
        return brokerRc;
    }
    Say("DATA-RECORDER INTERRUPTED! (" + std::to_string(count) + " of " +
        std::to_string(r.samples) + " samples in " + r.file + ")");
    return exitCode != kExitOk ? exitCode : brokerRc;
}

}   // namespace ctl

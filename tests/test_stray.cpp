// Stray bytes on the line and replies taken only as what was asked for.
//
// A scripted sensor on a pseudo-terminal puts stray bytes (one, three, or a
// run of 40) before its frame replies while the program identifies it, gets
// and sends parameter sets, teaches, runs, records and calibrates: nothing
// of the stray bytes may reach the panel, a recorder line or a later Send,
// and the link health counts every resync. Then the operator actions that
// run inside a loop (reset, calibration) and what they wait for, and Teach
// and Send without success. Last, kvex-sim with its own stray bytes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "calib/calib.h"
#include "display/display.h"
#include "recorder/recorder.h"
#include "stats/stats.h"

namespace {

// Parameter sets of the scripted sensor (words that survive the panel); an
// analogue MAX/MIN mode, so the reset button is there.
const std::vector<int> kRam = {500, 0, 512, 2, 0, 1, 1, 2048, 512, 100, 0, 1, 12800, 30000, 0, 0};
// clang-format off
const std::vector<int> kEeprom = {650, 0, 400, 3, 0, 2, 10, 2000, 600, 50, 0, 1, 12800, 30100, 2, 0};
// clang-format on
const int kTaughtSetpoint = 777;
const int kWidth = 1000;   // every measurement: Redge - Ledge = Mvalue = 1000
const char kFirmware[] = "K-VEX-XC-PEER Firmware V2.52";

// The three kinds of noise before a reply.
std::string Stray(int kind) {
    if (kind == 1) return std::string("\xFF", 1);
    // the first 0x00 looks like the start of a sync word
    if (kind == 3) return std::string("\x00\x00\x13", 3);
    std::string s;
    for (int i = 0; i < 40; ++i) {
        char c = static_cast<char>((i * 73 + 11) & 0xFF);
        if (i > 0 && s.back() == '\0' && static_cast<unsigned char>(c) == 0xAA) c = '\x01';
        s += c;
    }
    return s;
}

// Measurement k: Ledge 1000 + k, Redge 2000 + k, width 1000, 2 edges,
// 12500 + k micrometres. A line made of anything else is not a sample.
std::vector<int> Measurement(int k) {
    const unsigned um = 12500u + static_cast<unsigned>(k);
    // clang-format off
    return {1000 + k, 2000 + k, kWidth, static_cast<int>(um & 0xFFFF), static_cast<int>(um >> 16),
            512, 100, 2, 0, 0, k, 0, 0, 0, 0, 0};
    // clang-format on
}

struct Request {
    int order = 0;
    std::string bytes;
    double t = 0;
};

// The sensor: answers every order the program sends; stray bytes go before
// every `every`-th frame reply (raw replies have no sync word and get none).
class StraySensor {
public:
    StraySensor() {
        thread_ = std::thread([this] { Run(); });
    }
    ~StraySensor() {
        quit_ = true;
        thread_.join();
    }
    const std::string &Device() const { return peer_.Device(); }
    void SetStray(const std::string &bytes, int every) {
        std::lock_guard<std::mutex> g(mu_);
        stray_ = bytes;
        every_ = every;
        frames_ = 0;
    }
    void Silent(int orderCode, bool on) {
        std::lock_guard<std::mutex> g(mu_);
        silent_[orderCode & 15] = on;
    }
    void Delay(int orderCode, double seconds) {
        std::lock_guard<std::mutex> g(mu_);
        delay_[orderCode & 15] = seconds;
    }
    // The line looped back on itself: every request comes back as it went.
    void LoopBack(bool on) { loopBack_ = on; }
    // Reads nothing: what the program writes piles up in the line.
    void Deaf(bool on) { deaf_ = on; }
    std::vector<Request> Requests(int orderCode = -1) {
        std::lock_guard<std::mutex> g(mu_);
        std::vector<Request> out;
        for (const auto &r : log_)
            if (orderCode < 0 || r.order == orderCode) out.push_back(r);
        return out;
    }
    int StrayReplies() {
        std::lock_guard<std::mutex> g(mu_);
        return strayReplies_;
    }
    int Measurements() {
        std::lock_guard<std::mutex> g(mu_);
        return meas_;
    }
    int SlopeWord() const { return 20480; }

private:
    void Run() {
        std::string buf;
        while (!quit_) {
            if (deaf_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            buf += peer_.Read(36 - buf.size(), 0.02);
            if (buf.size() < 36) continue;
            Request rq;
            rq.bytes = buf;
            rq.t = Now();
            rq.order =
                static_cast<unsigned char>(buf[2]) * 256 + static_cast<unsigned char>(buf[3]);
            buf.clear();
            if (loopBack_) {
                peer_.Write(rq.bytes);
                continue;
            }
            std::string reply, prefix;
            bool frame = true;
            double delay = 0;
            {
                std::lock_guard<std::mutex> g(mu_);
                log_.push_back(rq);
                std::vector<int> payload;
                for (int i = 0; i < 16; ++i)
                    payload.push_back(static_cast<unsigned char>(rq.bytes[4 + 2 * i]) * 256 +
                                      static_cast<unsigned char>(rq.bytes[5 + 2 * i]));
                // clang-format off
                switch (rq.order) {
                case 2: reply = MakeFrame(0xAA, 2, ram_); break;
                case 4: reply = MakeFrame(0xAA, 4, kEeprom); break;
                case 5: reply = MakeFrame(0xAA, 5, payload); break;
                case 6:
                    ram_[8] = kTaughtSetpoint;
                    reply = MakeFrame(0xAA, 6, {});
                    break;
                case 7:
                    reply = kFirmware;
                    reply.resize(72, ' ');
                    frame = false;
                    break;
                case 8: reply = MakeFrame(0xAA, 8, Measurement(++meas_)); break;
                case 9:
                    for (int i = 0; i < 64; ++i) {
                        const int w = 3 * (payload[0] + i);
                        reply += static_cast<char>(w >> 8);
                        reply += static_cast<char>(w & 0xFF);
                    }
                    frame = false;
                    break;
                case 10: reply = MakeFrame(0xAA, 10, {2, 1024, 0, 100, 2048, 2, 1, 2048, 252, 0, 1024}); break;
                case 11: reply = MakeFrame(0xAA, 11, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 3}); break;
                case 12: reply = MakeFrame(0xAA, 12, {SlopeWord(), 30500, payload[0] == 1 ? 1 : 0}); break;
                default: break;
                }
                // clang-format on
                if (silent_[rq.order & 15]) reply.clear();
                if (!reply.empty() && frame && !stray_.empty() && ++frames_ % every_ == 0) {
                    prefix = stray_;
                    ++strayReplies_;
                }
                delay = delay_[rq.order & 15];
            }
            if (reply.empty()) continue;
            if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            // the noise, then the frame in two pieces, as a slow line delivers it
            if (!prefix.empty()) {
                peer_.Write(prefix + reply.substr(0, 10));
                std::this_thread::sleep_for(std::chrono::milliseconds(3));
                peer_.Write(reply.substr(10));
            } else {
                peer_.Write(reply);
            }
        }
    }

    PtyPeer peer_;
    std::thread thread_;
    std::atomic<bool> quit_{false}, loopBack_{false}, deaf_{false};
    std::mutex mu_;
    std::string stray_;
    int every_ = 1, frames_ = 0, strayReplies_ = 0, meas_ = 0;
    bool silent_[16] = {};
    double delay_[16] = {};
    std::vector<int> ram_ = kRam;
    std::vector<Request> log_;
};

using testfs::ReadFile;

std::string RTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<int> VarsAsWords() {
    CopyVarsToPP();
    return std::vector<int>(pp, pp + PNUM);
}

// Data lines of a recorder file (after its seven header lines).
std::vector<std::string> DataLines(const std::string &file) {
    std::vector<std::string> out;
    size_t pos = 0;
    int line = 0;
    while (pos < file.size()) {
        size_t end = file.find("\r\n", pos);
        if (end == std::string::npos) {
            out.push_back("incomplete: " + file.substr(pos));
            break;
        }
        if (line++ >= 7) out.push_back(file.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

// A line is a true sample when it is one of the sensor's measurements.
bool TrueSample(const std::string &l) {
    unsigned left, right, value, edges;
    long long um;
    char extra;
    if (std::sscanf(l.c_str(), "%u\t%u\t%u\t%u\t%lld%c", &left, &right, &value, &edges, &um,
                    &extra) != 5)
        return false;
    const int k = static_cast<int>(left) - 1000;
    return k >= 1 && right == 2000u + k && value == static_cast<unsigned>(kWidth) && edges == 2 &&
           um == 12500 + k;
}

class StrayPeer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        char tmpl[] = "/tmp/ridar-stray-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        HidePanel(pPopup);
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(com);
        if (!recFile_.empty()) unlink(recFile_.c_str());
        rmdir(dir_.c_str());
    }
    // Start-up against the sensor, without noise.
    void ConnectClean() {
        Connect(sensor.Device());
        ASSERT_EQ(RTrim(szStatus), kFirmware);
    }
    void ClickAfter(double seconds, int panel, int control) {
        rt_After(seconds, [panel, control] { rt_UserClick(panel, control); });
    }
    std::string Record(int samples) {
        recFile_ = dir_ + "/REC.DAT";
        unlink(recFile_.c_str());
        std::snprintf(rec_fname, sizeof rec_fname, "%s", recFile_.c_str());
        SetCtrlVal(pRecord, RECORD_NUMsample, samples);
        SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
        DisplayPanel(pRecord);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        HidePanel(pRecord);
        return ReadFile(recFile_);
    }

    StraySensor sensor;
    std::string dir_, recFile_;
};

const int kKinds[] = {1, 3, 40};

// ---- stray bytes during every activity ----------------------------------------------

TEST_F(StrayPeer, StartupIdentifiesTheSensorAndReadsItsSet) {
    for (int kind : kKinds) {
        const long resyncs = linkResyncs, dropped = linkBytesDropped;
        const int strayed = sensor.StrayReplies();
        sensor.SetStray(Stray(kind), 1);   // echo, hardware information and the get
        stop_flag = STOP_ASKED;
        Connect(sensor.Device());
        EXPECT_EQ(RTrim(szStatus), kFirmware) << kind;
        EXPECT_EQ(ccdtype, 2) << kind;
        EXPECT_EQ(softversion, 252) << kind;
        EXPECT_EQ(ccdvirtpixel, 2048) << kind;
        EXPECT_EQ(VarsAsWords(), kRam) << kind;
        EXPECT_EQ(sensor.StrayReplies() - strayed, 3) << kind;
        EXPECT_EQ(linkResyncs, resyncs + 3) << kind;
        EXPECT_EQ(linkBytesDropped, dropped + 3 * kind) << kind;
        CloseCom(com);
    }
}

TEST_F(StrayPeer, GetFromRamAndEepromThenSendCarriesOnlyTheSensorsWords) {
    ConnectClean();
    for (int kind : kKinds) {
        const long resyncs = linkResyncs;
        sensor.SetStray(Stray(kind), 1);
        rt_UserClick(pHandle, PANEL_RBTRam);
        SetCtrlVal(pHandle, PANEL_RBTRam, 1);
        target = RAM;
        rt_UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(RTrim(szStatus), "Parameter-frame received! - Line Ok!") << kind;
        EXPECT_EQ(VarsAsWords(), kRam) << kind;
        target = EEPROM;
        SetCtrlVal(pHandle, PANEL_RBTEeprom, 1);
        SetCtrlVal(pHandle, PANEL_RBTRam, 0);
        rt_UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(RTrim(szStatus), "Parameter-frame received! - Line Ok!") << kind;
        EXPECT_EQ(VarsAsWords(), kEeprom) << kind;
        EXPECT_EQ(linkResyncs, resyncs + 2) << kind;
        // what the panel shows now goes out as it came in
        target = RAM;
        SetCtrlVal(pHandle, PANEL_RBTRam, 1);
        SetCtrlVal(pHandle, PANEL_RBTEeprom, 0);
        const size_t before = sensor.Requests(1).size();
        rt_UserClick(pHandle, PANEL_BTNSend);
        ASSERT_TRUE(PumpUntil([&] { return sensor.Requests(1).size() == before + 1; }, 2.0))
            << kind;
        EXPECT_EQ(sensor.Requests(1).back().bytes, MakeFrame(0x55, 1, kEeprom)) << kind;
    }
}

TEST_F(StrayPeer, TeachThenTheNewSetpoint) {
    ConnectClean();
    for (int kind : kKinds) {
        sensor.SetStray(Stray(kind), 1);
        const long resyncs = linkResyncs;
        tVal = 1;
        rt_UserClick(pHandle, PANEL_ButtonTeach);
        EXPECT_EQ(RTrim(szStatus), "Parameter-frame received! - Line Ok!") << kind;
        EXPECT_EQ(tVal, kTaughtSetpoint) << kind;
        std::vector<int> want = kRam;
        want[8] = kTaughtSetpoint;
        EXPECT_EQ(VarsAsWords(), want) << kind;
        EXPECT_EQ(linkResyncs, resyncs + 2) << kind;
    }
}

TEST_F(StrayPeer, RunModeDrawsOnlyMeasurements) {
    ConnectClean();
    for (int kind : kKinds) {
        sensor.SetStray(Stray(kind), 2);
        StatsClear(&statsPx);
        const long resyncs = linkResyncs, timeouts = linkTimeouts;
        const int before = sensor.Measurements(), strayed = sensor.StrayReplies();
        ClickAfter(1.0, pHandle, PANEL_BTNStop);
        rt_UserClick(pHandle, PANEL_BTNRun);
        Pump(0.3);   // a reply the stop cut off is counted in this round, not the next
        const int answered = sensor.Measurements() - before;
        EXPECT_GE(statsPx.total.n, 10) << kind;
        EXPECT_GE(statsPx.total.n, answered - 2)
            << kind;   // every reply drawn but those the stop cut off
        EXPECT_EQ(statsPx.tMin, kWidth) << kind;
        EXPECT_EQ(statsPx.tMax, kWidth) << kind;
        EXPECT_EQ(linkTimeouts, timeouts) << kind;
        // every strayed reply resynced but one the stop may have cut off
        const long strays = sensor.StrayReplies() - strayed;
        EXPECT_NEAR(static_cast<double>(strays), answered / 2.0, 1.0) << kind;
        EXPECT_GE(linkResyncs - resyncs, strays - 1) << kind;
        EXPECT_LE(linkResyncs - resyncs, strays) << kind;
        EXPECT_EQ(Mvalue, kWidth) << kind;
    }
}

TEST_F(StrayPeer, RecordingHoldsOnlyTrueSamplesAtItsPace) {
    ConnectClean();
    for (int kind : kKinds) {
        sensor.SetStray(Stray(kind), 2);
        const long resyncs = linkResyncs;
        const int strayed = sensor.StrayReplies();
        auto t0 = Clock::now();
        const std::string file = Record(4);
        const double took = Since(t0);
        EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus), "DATA-RECORDER COMPLETED SUCCESSFULLY")
            << kind;
        const std::vector<std::string> lines = DataLines(file);
        ASSERT_EQ(lines.size(), 4u) << kind << "\n" << file;
        for (const auto &l : lines) EXPECT_TRUE(TrueSample(l)) << kind << ": " << l;
        // one request a second: four samples in about three seconds
        EXPECT_GE(took, 2.9) << kind;
        EXPECT_LE(took, 4.0) << kind;
        // four replies, every second one after stray bytes
        EXPECT_EQ(sensor.StrayReplies() - strayed, 2) << kind;
        EXPECT_EQ(linkResyncs - resyncs, 2) << kind;
    }
}

TEST_F(StrayPeer, CalibrationExchangeAndReset) {
    ConnectClean();
    for (int kind : kKinds) {
        sensor.SetStray(Stray(kind), 1);
        const long resyncs = linkResyncs;
        const int strayed = sensor.StrayReplies();
        StatsClear(&statsPx);
        DisplayPanel(pPopup);
        // activation starts run mode for the live values; stopped after a while
        ClickAfter(0.6, pHandle, PANEL_BTNStop);
        rt_UserClick(pPopup, POPUP_ActivateCalibration);
        EXPECT_EQ(slope, sensor.SlopeWord()) << kind;
        EXPECT_EQ(intersect, 30500) << kind;
        EXPECT_GE(statsPx.total.n, 3) << kind;
        EXPECT_EQ(statsPx.tMin, kWidth) << kind;
        EXPECT_EQ(statsPx.tMax, kWidth) << kind;
        rt_UserClick(pHandle, PANEL_ButtonReset);
        EXPECT_EQ(RTrim(szStatus), "Reset of analog-output Max/Min OK!") << kind;
        rt_UserClick(pPopup, POPUP_DiscardCalibration);
        EXPECT_EQ(RTrim(szStatus), "Calibration stopped successfully!") << kind;
        // every strayed reply resynced but one the stop may have cut off
        const long strays = sensor.StrayReplies() - strayed;
        EXPECT_GE(linkResyncs - resyncs, 3 + statsPx.total.n) << kind;
        EXPECT_GE(linkResyncs - resyncs, strays - 1) << kind;
        EXPECT_LE(linkResyncs - resyncs, strays) << kind;
    }
}

// ---- the echo check still tells a looped-back line ------------------------------------

TEST_F(StrayPeer, LoopedBackLineGivesTheEchoCheckText) {
    const struct {
        const char *name;
        int vThd;
    } cases[] = {
        {"plain", 512},
        {"a word 0x00AA in the looped-back set", 0xAA},
    };
    for (const auto &c : cases) {
        InitVars();
        vThd = static_cast<uint16_t>(c.vThd);
        sensor.LoopBack(true);
        rt_SetPortTable({sensor.Device()});
        com = 1;
        stop_flag = STOP_ASKED;
        const long timeouts = linkTimeouts;
        InitRS232(com);
        EXPECT_EQ(RTrim(szStatus), "read error - not sync byte 0xAA!") << c.name;
        EXPECT_EQ(pp[0], 0x0055) << c.name;
        EXPECT_EQ(linkTimeouts, timeouts) << c.name;
        CloseCom(com);
    }
    sensor.LoopBack(false);
    InitVars();
}

// ---- a reply is only taken as what was asked for ---------------------------------------

TEST_F(StrayPeer, ResetDuringARecordingWaitsForItsRequestAndIsNoSample) {
    ConnectClean();
    sensor.Delay(8, 0.3);
    // pressed while the recording's first request waits for its reply, and
    // again between two requests (the second is due at 1 s, answered at 1.3)
    ClickAfter(0.1, pHandle, PANEL_ButtonReset);
    ClickAfter(1.6, pHandle, PANEL_ButtonReset);
    const size_t before = sensor.Requests(8).size();
    const std::string file = Record(3);
    EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus), "DATA-RECORDER COMPLETED SUCCESSFULLY");
    const std::vector<std::string> lines = DataLines(file);
    ASSERT_EQ(lines.size(), 3u) << file;
    // three different measurements, one after the other: no reply taken twice
    int k0 = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(TrueSample(lines[i])) << lines[i];
        const int k = std::atoi(lines[i].c_str()) - 1000;
        if (i == 0) k0 = k;
        EXPECT_EQ(k, k0 + static_cast<int>(i)) << file;
    }
    const auto resets = sensor.Requests(11);
    const auto measures = sensor.Requests(8);
    ASSERT_EQ(resets.size(), 2u);
    ASSERT_GE(measures.size(), before + 3);
    // order 11 went out only once the recording's reply was in
    EXPECT_GE(resets[0].t - measures[before].t, 0.29);
    EXPECT_EQ(RTrim(StatusLine()), "Reset of analog-output Max/Min OK!");
}

TEST_F(StrayPeer, RepliesToResetAndCalibrationAreNotDrawnInRunMode) {
    ConnectClean();
    DisplayPanel(pPopup);
    StatsClear(&statsPx);
    ClickAfter(0.3, pHandle, PANEL_ButtonReset);
    ClickAfter(0.6, pPopup, POPUP_ActivateCalibration);
    ClickAfter(0.9, pHandle, PANEL_ButtonReset);
    ClickAfter(1.3, pHandle, PANEL_BTNStop);
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_EQ(sensor.Requests(11).size(), 2u);
    EXPECT_EQ(sensor.Requests(12).size(), 1u);
    EXPECT_GE(statsPx.total.n, 10);
    EXPECT_EQ(statsPx.tMin, kWidth);
    EXPECT_EQ(statsPx.tMax, kWidth);
    EXPECT_EQ(Mvalue, kWidth);
    rt_UserClick(pPopup, POPUP_DiscardCalibration);
}

TEST_F(StrayPeer, ResetDuringAGetLeavesTheGetItsReply) {
    ConnectClean();
    sensor.Delay(2, 0.3);
    InitVars();
    target = RAM;
    SetCtrlVal(pHandle, PANEL_RBTRam, 1);
    ClickAfter(0.1, pHandle, PANEL_ButtonReset);
    rt_UserClick(pHandle, PANEL_BTNGet);
    EXPECT_EQ(RTrim(szStatus), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(VarsAsWords(), kRam) << "the reset's reply taken as the parameter set";
    const auto gets = sensor.Requests(2), resets = sensor.Requests(11);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_GE(resets[0].t - gets.back().t, 0.29) << "order 11 went out while the get waited";
    sensor.Delay(2, 0);
}

// ---- one time-out for what a loop has outstanding ---------------------------------------

TEST_F(StrayPeer, SilentSensorDuringRunModeCalibrationWaitsOneTimeout) {
    ConnectClean();
    DisplayPanel(pPopup);
    double clicked = 0, lastRequest = 0, returned = 0;
    rt_After(0.3, [&] {
        sensor.Silent(8, true);
        sensor.Silent(12, true);
        // well after the silenced request is out: what is left of its
        // time-out is clearly shorter than a whole one
        rt_After(0.6, [&] {
            lastRequest = sensor.Requests(8).back().t;
            clicked = Now();
            rt_UserClick(pPopup, POPUP_ActivateCalibration);
            returned = Now();
        });
    });
    rt_UserClick(pHandle, PANEL_BTNRun);
    ASSERT_GT(returned, 0.0);
    EXPECT_LE(returned - lastRequest, TIMEOUT + 0.5);
    EXPECT_LT(returned - clicked, TIMEOUT);
    EXPECT_TRUE(sensor.Requests(12).empty()) << "nothing is sent after a silent loop";
    EXPECT_EQ(RTrim(StatusLine()), "Timeout RS232-Line!");
    EXPECT_EQ(Dimmed(pPopup, POPUP_CheckStep1), 1);
    sensor.Silent(8, false);
    sensor.Silent(12, false);
}

TEST_F(StrayPeer, CalibrationDuringAVideoBlockWaitsForTheBlock) {
    ConnectClean();
    DisplayPanel(pPopup);
    sensor.Delay(9, 0.2);
    std::memset(adcbuf, 0, sizeof adcbuf);
    bool armed = true;
    rt_SetWriteHook([&](int, const char *bytes, int count) {
        if (!armed || count < 36 || bytes[3] != 9) return;
        armed = false;
        rt_After(0.05, [] { rt_UserClick(pPopup, POPUP_ActivateCalibration); });
        rt_After(0.6, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    });
    rt_UserClick(pHandle, PANEL_BTNVideo);
    rt_SetWriteHook(nullptr);
    const auto blocks = sensor.Requests(9);
    const auto cal = sensor.Requests(12);
    ASSERT_GE(blocks.size(), 4u);
    ASSERT_EQ(cal.size(), 1u);
    EXPECT_GE(cal[0].t - blocks[0].t, 0.19) << "order 12 went out before the block came";
    EXPECT_EQ(slope, sensor.SlopeWord());
    // the block the calibration waited for reached its reader intact
    for (int i = 0; i < 256; ++i) ASSERT_EQ(adcbuf[i], 3 * i) << i;
    EXPECT_EQ(Dimmed(pPopup, POPUP_CheckStep1), 0);
    sensor.Delay(9, 0);
    rt_UserClick(pPopup, POPUP_DiscardCalibration);
}

TEST_F(StrayPeer, CalibrationDuringASilentVideoBlockEndsWithinItsTimeout) {
    ConnectClean();
    DisplayPanel(pPopup);
    sensor.Silent(9, true);
    double blockSent = 0, returned = 0;
    bool armed = true;
    rt_SetWriteHook([&](int, const char *bytes, int count) {
        if (!armed || count < 36 || bytes[3] != 9) return;
        armed = false;
        blockSent = Now();
        rt_After(0.05, [&] {
            rt_UserClick(pPopup, POPUP_ActivateCalibration);
            returned = Now();
        });
        rt_After(0.3, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    });
    rt_UserClick(pHandle, PANEL_BTNVideo);
    rt_SetWriteHook(nullptr);
    ASSERT_GT(returned, 0.0);
    EXPECT_LE(returned - blockSent, TIMEOUT + 0.5);
    EXPECT_TRUE(sensor.Requests(12).empty());
    sensor.Silent(9, false);
}

// ---- Teach and Send report only what happened ---------------------------------------------

TEST_F(StrayPeer, TeachAndSendWhoseFrameDidNotGoOutSayTheyFailed) {
    ConnectClean();
    CloseCom(com);   // every write fails now
    auto t0 = Clock::now();
    rt_UserClick(pHandle, PANEL_ButtonTeach);
    EXPECT_LT(Since(t0), 0.5) << "no wait for a reply to a request that never left";
    EXPECT_EQ(RTrim(StatusLine()), kNotSentText);
    target = RAM;
    SetCtrlVal(pHandle, PANEL_RBTRam, 1);
    rt_UserClick(pHandle, PANEL_BTNSend);
    EXPECT_EQ(RTrim(StatusLine()), kNotSentText);
    EXPECT_STREQ(szStatus, kNotSentText);
}

TEST_F(StrayPeer, ShortWriteOfSendSaysItFailed) {
    ConnectClean();
    // a line that takes no more bytes: the sensor side stops reading and
    // the line is filled up
    sensor.Deaf(true);
    Pump(0.1);   // the sensor's read under way ends
    // the program's own writes fill it until a write cannot go out in its time
    std::vector<char> lots(4096, '\x33');
    long filled = 0;
    for (int round = 0; round < 2000; ++round) {
        const int w = ComWrt(com, lots.data(), static_cast<int>(lots.size()));
        if (w <= 0) break;
        filled += w;
    }
    ASSERT_GT(filled, 0);
    rt_UserClick(pHandle, PANEL_BTNSend);
    EXPECT_EQ(RTrim(StatusLine()), kNotSentText);
    FlushOutQ(com);
    sensor.Deaf(false);
}

// ---- kvex-sim with stray bytes before every other reply ---------------------------------

class StraySim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        char tmpl[] = "/tmp/ridar-straysim-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_TRUE(sim.Start({"--noise", "0", "--video-noise", "0", "--seed", "5"}));
        stop_flag = STOP_ASKED;
        Connect(sim.Device());
        ASSERT_EQ(RTrim(szStatus), "K-VEX-XC-SIM Firmware V2.52");
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(com);
        if (!recFile_.empty()) unlink(recFile_.c_str());
        rmdir(dir_.c_str());
    }
    SimProcess sim;
    std::string dir_, recFile_;
};

TEST_F(StraySim, RecordingAgainstStrayBytesBeforeEveryOtherReply) {
    const struct { const char *cmd; } cases[] = {{"stray 1 2"}, {"stray 3 2"}, {"stray 40 2"}};
    for (const auto &c : cases) {
        ASSERT_TRUE(SimDo(sim, c.cmd));
        const long resyncs = linkResyncs, dropped = linkBytesDropped;
        const long bursts0 = SimCounter(sim, "stray-bursts"),
                   bytes0 = SimCounter(sim, "stray-bytes");
        recFile_ = dir_ + "/REC.DAT";
        unlink(recFile_.c_str());
        std::snprintf(rec_fname, sizeof rec_fname, "%s", recFile_.c_str());
        SetCtrlVal(pRecord, RECORD_NUMsample, 6);
        SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
        DisplayPanel(pRecord);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        HidePanel(pRecord);
        const std::string file = ReadFile(recFile_);
        const std::vector<std::string> lines = DataLines(file);
        EXPECT_EQ(TextBox(pRecord, RECORD_TEXTRecStatus), "DATA-RECORDER COMPLETED SUCCESSFULLY")
            << c.cmd;
        ASSERT_EQ(lines.size(), 6u) << c.cmd << "\n" << file;
        // a still object without noise: every sample the same, as the sensor measured it
        for (const auto &l : lines) EXPECT_EQ(l, "400\t600\t600\t2\t7500") << c.cmd;
        const long bursts = SimCounter(sim, "stray-bursts") - bursts0;
        EXPECT_GE(bursts, 3) << c.cmd;
        EXPECT_EQ(linkResyncs - resyncs, bursts) << c.cmd;
        EXPECT_EQ(linkBytesDropped - dropped, SimCounter(sim, "stray-bytes") - bytes0) << c.cmd;
        ShowLinkHealth();
        std::printf(
            "--- %s: recorder file\n%s--- link health: %s (this recording: %ld resyncs, %ld bytes dropped)\n",
            c.cmd, file.c_str(), rt_GetCtrlText(pHandle, PANEL_TEXTLinkHealth).c_str(),
            linkResyncs - resyncs, linkBytesDropped - dropped);
    }
}

TEST_F(StraySim, RunModeAgainstARunOfFortyStrayBytes) {
    ASSERT_TRUE(SimDo(sim, "stray 40 2"));
    StatsClear(&statsPx);
    const long resyncs = linkResyncs, timeouts = linkTimeouts;
    rt_After(1.0, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_GE(statsPx.total.n, 10);
    EXPECT_EQ(statsPx.tMin, 600);
    EXPECT_EQ(statsPx.tMax, 600);
    EXPECT_EQ(linkTimeouts, timeouts);
    EXPECT_NEAR(static_cast<double>(linkResyncs - resyncs), statsPx.total.n / 2.0, 1.0);
}

}   // namespace

// Every misbehaviour the simulator offers, during every activity of the
// program, end to end over a pseudo-terminal. Each cell checks what the
// operator sees (status line, recorder status), whether the loop ended or
// went on, that the controls are free again, and for recordings that every
// line in the file is complete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "calib/calib.h"
#include "recorder/recorder.h"

using namespace faults;

namespace {

const char kLost[] = "RS-232 port lost! - Reconnect, then choose the port again.";
const char kVersion[] = "K-VEX-XC-SIM Firmware V2.52";
const char kGot[] = "Parameter-frame received! - Line Ok!";
const char kTimeout[] = "Timeout-RS-232...";
const char kRunTimeout[] = "Timeout RS232-Line!";
const char kRecDone[] = "DATA-RECORDER COMPLETED SUCCESSFULLY";
const char kRecTimeout[] = "DATA-RECORDER INTERRUPTED - TIMEOUT RS-232 LINE!";

// What a cell must end with.
struct Expect {
    Activity activity;
    Fault fault;
    const char *status;   // status line when the activity returned (trailing blanks ignored)
    int loopEnd;   // -1 no loop; 0 ended by the stop button (went on until then); 1 ended by itself
    int minData;   // frames (run), passes (video) or data lines (record) at least
    int maxData;   // ... and at most (-1: no limit)
    const char *recorder;   // recorder status box (recording only)
};

// Outcome of the activities: see the comments of each row group.
const Expect kMatrix[] = {
    // Start-up: echo check, hardware and firmware information, parameters
    // from RAM; the first failure stays in the status line. Every frame
    // starts with the sync word: a sensor that sends another one sends no
    // frame at all, and noise before a frame is dropped (not before the raw
    // firmware text, which has no sync word to find).
    {A_STARTUP, F_NONE, kVersion, -1, 0, -1, nullptr},
    {A_STARTUP, F_SILENT, kTimeout, -1, 0, -1, nullptr},
    {A_STARTUP, F_LATE1200, kVersion, -1, 0, -1, nullptr},
    {A_STARTUP, F_LATE1600, kTimeout, -1, 0, -1, nullptr},
    {A_STARTUP, F_SHORT, kTimeout, -1, 0, -1, nullptr},
    {A_STARTUP, F_EXTRA, "Error reading firmware-info!", -1, 0, -1, nullptr},
    {A_STARTUP, F_GARBAGE, "Error reading firmware-info!", -1, 0, -1, nullptr},
    {A_STARTUP, F_BADSYNC, "read error - not sync byte 0xAA!", -1, 0, -1, nullptr},
    {A_STARTUP, F_HWHEADER, "Error reading HARDWARE-info!", -1, 0, -1, nullptr},
    {A_STARTUP, F_SILENTAFTER, "Timeout - reading firmware info!", -1, 0, -1, nullptr},
    {A_STARTUP, F_CLOSEAFTER, "Timeout - reading firmware info!", -1, 0, -1, nullptr},
    // Get from RAM: a frame is taken from its sync word on.
    {A_GET, F_NONE, kGot, -1, 0, -1, nullptr},
    {A_GET, F_SILENT, kTimeout, -1, 0, -1, nullptr},
    {A_GET, F_LATE1200, kGot, -1, 0, -1, nullptr},
    {A_GET, F_LATE1600, kTimeout, -1, 0, -1, nullptr},
    {A_GET, F_SHORT, kTimeout, -1, 0, -1, nullptr},
    {A_GET, F_EXTRA, kGot, -1, 0, -1, nullptr},
    {A_GET, F_GARBAGE, kGot, -1, 0, -1, nullptr},
    {A_GET, F_BADSYNC, kTimeout, -1, 0, -1, nullptr},
    {A_GET, F_HWHEADER, kGot, -1, 0, -1, nullptr},
    {A_GET, F_SILENTAFTER, kTimeout, -1, 0, -1, nullptr},
    {A_GET, F_CLOSEAFTER, kGot, -1, 0, -1, nullptr},
    // Send to RAM awaits no reply: the frame leaves whatever the sensor does.
    {A_SEND, F_NONE, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_SILENT, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_LATE1200, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_LATE1600, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_SHORT, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_EXTRA, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_GARBAGE, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_BADSYNC, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_HWHEADER, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_SILENTAFTER, "Line Ok!", -1, 0, -1, nullptr},
    {A_SEND, F_CLOSEAFTER, "Line Ok!", -1, 0, -1, nullptr},
    // Run mode, stopped by the operator after 2.5 s when nothing ends it first.
    {A_RUN, F_NONE, "Line Ok!", 0, 20, -1, nullptr},
    {A_RUN, F_SILENT, kRunTimeout, 1, 0, 0, nullptr},
    {A_RUN, F_LATE1200, "Line Ok!", 0, 1, 2, nullptr},
    {A_RUN, F_LATE1600, kRunTimeout, 1, 0, 0, nullptr},
    {A_RUN, F_SHORT, kRunTimeout, 1, 0, 0, nullptr},
    {A_RUN, F_EXTRA, "Line Ok!", 0, 20, -1, nullptr},
    {A_RUN, F_GARBAGE, "Line Ok!", 0, 20, -1, nullptr},
    {A_RUN, F_BADSYNC, kRunTimeout, 1, 0, 0, nullptr},
    {A_RUN, F_HWHEADER, "Line Ok!", 0, 20, -1, nullptr},
    {A_RUN, F_SILENTAFTER, kRunTimeout, 1, 5, 5, nullptr},
    {A_RUN, F_CLOSEAFTER, kRunTimeout, 1, 5, 5, nullptr},
    // Video mode: a frame, then four 64-word blocks a pass; a late or short
    // block does not end it. More bytes than a block leave the status line
    // with what it held before (here the start-up's firmware text).
    {A_VIDEO, F_NONE, "Data[64] block received!", 0, 2, -1, nullptr},
    {A_VIDEO, F_SILENT, kRunTimeout, 1, 0, 0, nullptr},
    {A_VIDEO, F_LATE1200, "Data[64] block received!", 0, 1, 1, nullptr},
    {A_VIDEO, F_LATE1600, kRunTimeout, 1, 0, 0, nullptr},
    {A_VIDEO, F_SHORT, kRunTimeout, 1, 0, 0, nullptr},
    {A_VIDEO, F_EXTRA, kVersion, 0, 2, -1, nullptr},
    {A_VIDEO, F_GARBAGE, kVersion, 0, 2, -1, nullptr},
    {A_VIDEO, F_BADSYNC, kRunTimeout, 1, 0, 0, nullptr},
    {A_VIDEO, F_HWHEADER, "Data[64] block received!", 0, 2, -1, nullptr},
    {A_VIDEO, F_SILENTAFTER, kRunTimeout, 1, 1, 1, nullptr},
    {A_VIDEO, F_CLOSEAFTER, kRunTimeout, 1, 1, 1, nullptr},
    // Teach, then the parameters from RAM; no answer to the teach ends with
    // the time-out text: nothing was taught.
    {A_TEACH, F_NONE, kGot, -1, 0, -1, nullptr},
    {A_TEACH, F_SILENT, kTimeout, -1, 0, -1, nullptr},
    {A_TEACH, F_LATE1200, kGot, -1, 0, -1, nullptr},
    {A_TEACH, F_LATE1600, kTimeout, -1, 0, -1, nullptr},
    {A_TEACH, F_SHORT, kTimeout, -1, 0, -1, nullptr},
    {A_TEACH, F_EXTRA, kGot, -1, 0, -1, nullptr},
    {A_TEACH, F_GARBAGE, kGot, -1, 0, -1, nullptr},
    {A_TEACH, F_BADSYNC, kTimeout, -1, 0, -1, nullptr},
    {A_TEACH, F_HWHEADER, kGot, -1, 0, -1, nullptr},
    {A_TEACH, F_SILENTAFTER, kTimeout, -1, 0, -1, nullptr},
    {A_TEACH, F_CLOSEAFTER, kTimeout, -1, 0, -1, nullptr},
    // Calibration: activation (order 12), which starts run mode for the
    // live values; the operator stops it after 2.5 s.
    {A_CALIB, F_NONE, "Line Ok!", 0, 20, -1, nullptr},
    {A_CALIB, F_SILENT, kTimeout, -1, 0, 0, nullptr},
    {A_CALIB, F_LATE1200, "Line Ok!", 0, 1, 2, nullptr},
    {A_CALIB, F_LATE1600, kTimeout, -1, 0, 0, nullptr},
    {A_CALIB, F_SHORT, kTimeout, -1, 0, 0, nullptr},
    {A_CALIB, F_EXTRA, "Line Ok!", 0, 20, -1, nullptr},
    {A_CALIB, F_GARBAGE, "Line Ok!", 0, 20, -1, nullptr},
    {A_CALIB, F_BADSYNC, kTimeout, -1, 0, 0, nullptr},
    {A_CALIB, F_HWHEADER, "Line Ok!", 0, 20, -1, nullptr},
    {A_CALIB, F_SILENTAFTER, kRunTimeout, 1, 0, 0, nullptr},
    {A_CALIB, F_CLOSEAFTER, kRunTimeout, 1, 0, 0, nullptr},
    // Recording of 3 samples, one a second; the status is the recorder's box.
    {A_RECORD, F_NONE, nullptr, 1, 3, 3, kRecDone},
    {A_RECORD, F_SILENT, kRunTimeout, 1, 0, 0, kRecTimeout},
    {A_RECORD, F_LATE1200, nullptr, 1, 3, 3, kRecDone},
    {A_RECORD, F_LATE1600, kRunTimeout, 1, 0, 0, kRecTimeout},
    {A_RECORD, F_SHORT, kRunTimeout, 1, 0, 0, kRecTimeout},
    {A_RECORD, F_EXTRA, nullptr, 1, 3, 3, kRecDone},
    {A_RECORD, F_GARBAGE, nullptr, 1, 3, 3, kRecDone},
    {A_RECORD, F_BADSYNC, kRunTimeout, 1, 0, 0, kRecTimeout},
    {A_RECORD, F_HWHEADER, nullptr, 1, 3, 3, kRecDone},
    {A_RECORD, F_SILENTAFTER, kRunTimeout, 1, 2, 2, kRecTimeout},
    {A_RECORD, F_CLOSEAFTER, kRunTimeout, 1, 2, 2, kRecTimeout},
};

void PrintTo(const Expect &e, std::ostream *os) {
    *os << kActivityName[e.activity] << "/" << kFaultName[e.fault];
}

std::string RTrim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Clicks a stop button once the loop has run for `seconds` (stop_flag 0).
class Stopper {
public:
    Stopper(int panel, int control, double seconds) : st_(std::make_shared<State>()) {
        st_->panel = panel;
        st_->control = control;
        st_->seconds = seconds;
        Schedule(st_);
    }
    ~Stopper() { st_->done = true; }
    bool Clicked() const { return st_->clicked; }

private:
    struct State {
        int panel = 0, control = 0;
        double seconds = 0;
        bool done = false, clicked = false, seen = false;
        Clock::time_point since;
    };
    static void Schedule(std::shared_ptr<State> st) {
        rt_After(0.02, [st] {
            if (st->done || st->clicked) return;
            if (stop_flag == STOP_RUNNING && !st->seen) {
                st->seen = true;
                st->since = Clock::now();
            }
            if (st->seen && stop_flag == STOP_RUNNING && Since(st->since) >= st->seconds) {
                st->clicked = true;
                rt_UserClick(st->panel, st->control);
                return;
            }
            Schedule(st);
        });
    }
    std::shared_ptr<State> st_;
};

class FaultMatrix : public ::testing::TestWithParam<Expect> {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        char tmpl[] = "/tmp/ridar-faults-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        CloseCom(com);
        HidePanel(pPopup);
        if (!recFile_.empty()) unlink(recFile_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_, recFile_;
};

int RunLocksDimmed() {
    return Dimmed(pHandle, PANEL_CTRLRunLockA) + Dimmed(pHandle, PANEL_CTRLRunLockB) +
           Dimmed(pHandle, PANEL_CTRLRunLockC) + Dimmed(pRecord, RECORD_CBTNStartRecord);
}

TEST_P(FaultMatrix, Cell) {
    const Expect &e = GetParam();
    const std::string fault = FaultCommand(e.fault, e.activity);
    std::vector<std::string> args = {"--fast", "--seed", "3"};
    if (e.activity == A_STARTUP && !fault.empty()) {
        // the option form of the command
        size_t sp = fault.find(' ');
        args.push_back("--" + fault.substr(0, sp));
        args.push_back(fault.substr(sp + 1));
    }
    SimProcess sim;
    ASSERT_TRUE(sim.Start(args));
    stop_flag = STOP_ASKED;
    auto t0 = Clock::now();
    Connect(sim.Device());
    if (e.activity != A_STARTUP) {
        ASSERT_EQ(RTrim(szStatus), kVersion) << "clean start-up";
        if (!fault.empty()) { ASSERT_TRUE(SimDo(sim, fault)) << fault; }
    }
    const long frames0 = linkFrames;   // frames taken, not notifications
    int data = 0;
    std::string recStatus;

    switch (e.activity) {
    case A_STARTUP: break;
    case A_GET:
        SetCtrlVal(pHandle, PANEL_RBTRam, 1);
        target = RAM;
        rt_UserClick(pHandle, PANEL_BTNGet);
        break;
    case A_SEND: {
        int before = SimCounter(sim, "1");
        SetCtrlVal(pHandle, PANEL_RBTRam, 1);
        target = RAM;
        rt_UserClick(pHandle, PANEL_BTNSend);
        // the frame reached the sensor whatever its answers do
        EXPECT_TRUE(PumpUntil([&] { return SimCounter(sim, "1") == before + 1; }, 2.0));
        break;
    }
    case A_RUN: {
        Stopper stop(pHandle, PANEL_BTNStop, 2.5);
        rt_UserClick(pHandle, PANEL_BTNRun);
        data = static_cast<int>(linkFrames - frames0);
        if (e.loopEnd >= 0) { EXPECT_EQ(stop.Clicked(), e.loopEnd == 0) << "stop button"; }
        break;
    }
    case A_VIDEO: {
        Stopper stop(pHandle, PANEL_BTNStop, 2.5);
        rt_UserClick(pHandle, PANEL_BTNVideo);
        data = static_cast<int>(linkFrames - frames0);
        if (e.loopEnd >= 0) { EXPECT_EQ(stop.Clicked(), e.loopEnd == 0) << "stop button"; }
        break;
    }
    case A_TEACH: rt_UserClick(pHandle, PANEL_ButtonTeach); break;
    case A_CALIB: {
        // the popup as a discard leaves it
        SetCtrlAttribute(pPopup, POPUP_CheckStep1, ATTR_DIMMED, 1);
        SetCtrlAttribute(pPopup, POPUP_CheckStep2, ATTR_DIMMED, 1);
        DisplayPanel(pPopup);
        Stopper stop(pHandle, PANEL_BTNStop, 2.5);
        rt_UserClick(pPopup, POPUP_ActivateCalibration);
        data = static_cast<int>(linkFrames - frames0) - 1;   // the activation's reply
        if (data < 0) data = 0;
        if (e.loopEnd >= 0) { EXPECT_EQ(stop.Clicked(), e.loopEnd == 0) << "stop button"; }
        // the steps open only when calibration mode came on
        const bool activated = std::strcmp(e.status, kTimeout) != 0;
        EXPECT_EQ(Dimmed(pPopup, POPUP_CheckStep1), activated ? 0 : 1);
        break;
    }
    case A_RECORD: {
        recFile_ = dir_ + "/REC.DAT";
        std::snprintf(rec_fname, sizeof rec_fname, "%s", recFile_.c_str());
        SetCtrlVal(pRecord, RECORD_NUMsample, 3);
        SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
        DisplayPanel(pRecord);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        HidePanel(pRecord);
        recStatus = TextBox(pRecord, RECORD_TEXTRecStatus);
        std::string file = testfs::ReadFile(recFile_);
        // seven header lines and complete data lines: five numbers, CR LF
        size_t pos = 0;
        int line = 0;
        while (pos < file.size()) {
            size_t end = file.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos) << "incomplete last line: " << file.substr(pos);
            std::string l = file.substr(pos, end - pos);
            if (line >= 7) {
                int fields = 1;
                for (char c : l) {
                    if (c == '\t') ++fields;
                    else ASSERT_TRUE((c >= '0' && c <= '9') || c == '-') << l;
                }
                EXPECT_EQ(fields, 5) << l;
                ++data;
            }
            ++line;
            pos = end + 2;
        }
        EXPECT_EQ(line, 7 + data);
        break;
    }
    }

    const double took = Since(t0);
    const std::string status = RTrim(StatusLine());
    if (e.status) { EXPECT_EQ(status, e.status); }
    if (e.recorder) { EXPECT_EQ(recStatus, e.recorder); }
    EXPECT_GE(data, e.minData);
    if (e.maxData >= 0) { EXPECT_LE(data, e.maxData); }
    // no loop is left running and every control is free again
    EXPECT_NE(stop_flag, STOP_RUNNING);
    EXPECT_EQ(RunLocksDimmed(), 0);
    EXPECT_LT(took, 20.0);

    // Back in the idle loop: a closed line says so, any other text stays.
    Idle(0.15);
    if (e.fault == F_CLOSEAFTER && e.activity != A_SEND) {
        EXPECT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.5)) << StatusLine();
    } else if (e.status) {
        EXPECT_EQ(RTrim(StatusLine()), e.status);
    }
    // and the program still answers the operator: a clean get works (not
    // after a closed line or a refused start-up)
    if (e.fault != F_CLOSEAFTER && e.activity != A_STARTUP) {
        ASSERT_TRUE(SimDo(sim, "faults-off"));
        rt_UserClick(pHandle, PANEL_BTNGet);
        EXPECT_EQ(RTrim(StatusLine()), kGot);
    }
}

std::string CellName(const ::testing::TestParamInfo<Expect> &info) {
    return std::string(kActivityName[info.param.activity]) + "_" + kFaultName[info.param.fault];
}

INSTANTIATE_TEST_SUITE_P(All, FaultMatrix, ::testing::ValuesIn(kMatrix), CellName);

}   // namespace

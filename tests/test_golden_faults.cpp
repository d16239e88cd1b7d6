// Golden traces of the fault matrix: for every fault of the simulator
// during every activity, the bytes the program wrote on the line, the
// status texts, and then a clean get (the state the fault left behind
// shows in its request). Loops end after a fixed number of requests.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "recorder/recorder.h"
#include "rt/rt_testing.h"
#include "tests/support/support.h"

using namespace faults;
using golden::Trace;

namespace {

constexpr int kOrderMeasure = 8;
const char kLost[] = "RS-232 port lost! - Reconnect, then choose the port again.";

// The late answers come well inside or well past the 1.5 s time-out: the
// bytes do not depend on how close they come, and a wide margin keeps the
// trace the same on a loaded machine.
// The recorder asks again 1 s after its last request: an answer 1 s late
// would race that pacing, so there it comes 1.2 s late.
std::string GoldenFaultCommand(Fault f, Activity a) {
    if (f == F_LATE1200) return a == A_RECORD ? "late 1200" : "late 1000";
    if (f == F_LATE1600) return "late 2000";
    return FaultCommand(f, a);
}

// Requests of the loop after which the operator presses Stop: past the
// after-N faults, which end the loop by themselves.
int StopAt(Activity a) {
    switch (a) {
    case A_RUN: return kAfterN[A_RUN] + 3;
    case A_VIDEO: return 2;   // passes; the after-N faults strike in the second
    case A_CALIB: return 4;
    default: return 0;
    }
}

using Cell = std::tuple<Activity, Fault>;

class GoldenFaults : public ::testing::TestWithParam<Cell> {
protected:
    void SetUp() override {
        if (golden::RanInChild()) GTEST_SKIP() << "ran in a process of its own";
        ASSERT_TRUE(StartRidarForTest());
        char tmpl[] = "/tmp/ridar-golden-faults-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        rt_After(60.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        if (IsSkipped()) return;
        CloseCom(com);
        if (!recFile_.empty()) unlink(recFile_.c_str());
        rmdir(dir_.c_str());
    }
    std::string dir_, recFile_;
};

TEST_P(GoldenFaults, Cell) {
    const Activity a = std::get<0>(GetParam());
    const Fault f = std::get<1>(GetParam());
    const std::string fault = GoldenFaultCommand(f, a);
    std::vector<std::string> more = {"--fast"};
    if (a == A_STARTUP && !fault.empty()) {
        const size_t sp = fault.find(' ');
        more.push_back("--" + fault.substr(0, sp));
        more.push_back(fault.substr(sp + 1));
    }
    SimProcess sim;
    ASSERT_TRUE(sim.Start(golden::SimArgs(more)));
    Trace t;
    t.Step("start-up");
    Connect(sim.Device());
    t.Status();
    if (a != A_STARTUP && !fault.empty()) {
        t.Step(fault);
        ASSERT_TRUE(SimDo(sim, fault)) << fault;
    }
    const int stopAt = StopAt(a);
    if (stopAt > 0) t.At(kOrderMeasure, stopAt, [] { rt_UserClick(pHandle, PANEL_BTNStop); });

    t.Step(kActivityName[a]);
    switch (a) {
    case A_STARTUP: break;
    case A_GET: rt_UserClick(pHandle, PANEL_BTNGet); break;
    case A_SEND: rt_UserClick(pHandle, PANEL_BTNSend); break;
    case A_RUN: rt_UserClick(pHandle, PANEL_BTNRun); break;
    case A_VIDEO: rt_UserClick(pHandle, PANEL_BTNVideo); break;
    case A_TEACH: rt_UserClick(pHandle, PANEL_ButtonTeach); break;
    case A_CALIB:
        DisplayPanel(pPopup);
        rt_UserClick(pPopup, POPUP_ActivateCalibration);
        break;
    case A_RECORD:
        recFile_ = dir_ + "/REC.DAT";
        std::snprintf(rec_fname, sizeof rec_fname, "%s", recFile_.c_str());
        rt_UserSetVal(pRecord, RECORD_NUMsample, 3);
        rt_UserSetVal(pRecord, RECORD_NUMinctime, 0);
        DisplayPanel(pRecord);
        rt_UserClick(pRecord, RECORD_CBTNStartRecord);
        HidePanel(pRecord);
        t.RecorderStatus();
        break;
    }
    t.Status();
    EXPECT_NE(stop_flag, STOP_RUNNING);

    // A late answer still on its way lands here, where nobody asked for it.
    Idle(f == F_LATE1600 ? 1.0 : 0.15);
    if (f == F_CLOSEAFTER && a != A_SEND) {
        EXPECT_TRUE(IdleUntil([] { return StatusLine() == kLost; }, 1.5)) << StatusLine();
        t.Status();
    }
    if (f != F_CLOSEAFTER && a != A_STARTUP) {
        t.Step("clean get");
        ASSERT_TRUE(SimDo(sim, "faults-off"));
        rt_UserClick(pHandle, PANEL_BTNGet);
        t.Status();
    }
    if (f == F_CLOSEAFTER && a != A_SEND && a != A_GET)
        t.KeepWrites(a == A_STARTUP ? "start-up" : kActivityName[a], kAfterN[a]);
    HidePanel(pPopup);
    std::string name = std::string("faults/") + kActivityName[a] + "_" + kFaultName[f];
    golden::Check(name + ".trace", t.Text());
    if (a == A_RECORD)
        golden::Check(name + ".dat", golden::MaskDateTime(testfs::ReadFile(recFile_)));
}

std::string CellName(const ::testing::TestParamInfo<Cell> &info) {
    return std::string(kActivityName[std::get<0>(info.param)]) + "_" +
           kFaultName[std::get<1>(info.param)];
}

std::vector<Cell> AllCells() {
    std::vector<Cell> cells;
    for (int a = 0; a < kActivities; ++a)
        for (int f = 0; f < kFaults; ++f)
            cells.emplace_back(static_cast<Activity>(a), static_cast<Fault>(f));
    return cells;
}

INSTANTIATE_TEST_SUITE_P(All, GoldenFaults, ::testing::ValuesIn(AllCells()), CellName);

}   // namespace

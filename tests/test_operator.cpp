// Faults an operator meets at the real widgets: values a ring has no item
// for, shortcuts pressed while a field is being edited, the calibration
// popup's discard and save, the target and the controls after a port
// change, the port ring under the wheel, and stale file failures. Every
// action goes through the widgets (typing, keys, clicks, wheel); the checks
// are on the bytes on the wire and the panel.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "calib/calib.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"

namespace {

// power, rs232Mode, vThd, anaMode, polarity, eMode, eBeg, eEnd, tVal, tTol,
// opMode, eHardware, slope, intersect, average, word 15
const std::vector<int> kSet = {500, 0, 512, 1, 1, 1, 3, 1024, 700, 100, 1, 1, 20480, 30000, 16, 2};

const std::vector<std::string> kAnaItems = {"DIRECT 0..10V", "DIRECT <no AVG>", "MAXIMA", "MINIMA",
                                            "MAX - MIN"};
const std::vector<std::string> kTrigItems = {"Free running", "Trigger IN0 rising",
                                             "Trigger IN0 falling", "Gate IN0"};

class OperatorPeer : public ::testing::Test {
protected:
    PeerResponder peer;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        IdentifiedAsType2();
        SetParamVars(kSet, kSet[15]);
        InitGUI();
        SetPanelValues();
        SelectTarget(RAM);
        peer.SetParameterSet(kSet);
        HidePanel(pPopup);
        SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 0);
        DisplayPanel(pHandle);
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });   // no test may hang in a loop
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        HidePanel(pPopup);
        CloseCom(1);
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    }
    // The requests of one order the peer has logged, once `n` are there.
    std::vector<PeerRequest> Requests(int order, size_t n = 1) {
        PumpUntil([&] { return peer.Requests(order).size() >= n; }, 1.0);
        return peer.Requests(order);
    }
    // Presses Send with the mouse; the words of the frame that went out.
    std::vector<int> SendAndRead() {
        peer.ClearLog();
        EXPECT_TRUE(drive::Click(pHandle, "BTNSend"));
        auto rq = Requests(1);
        return rq.empty() ? std::vector<int>() : rq[0].words;
    }
};

}   // namespace

// ---------------------------------------------------------------- ring values

TEST_F(OperatorPeer, RingValuesWithoutAnItemSurviveGetAndSend) {
    struct Case {
        int soft, ana, word15;
        const char *anaShown, *trigShown;
    } cases[] = {
        {252, 6, 7, "mode 6", "mode 7"},
        {252, 5, 4, "mode 5", "mode 4"},
        {245, 7, 65535, "mode 7", "mode 65535"},
        {252, 4, 3, "MAX - MIN", "Gate IN0"},          // listed values as they were
        {230, 6, 9, "MIN. ext. IN0-gate", "mode 9"},   // the old firmware's ring lists 6
    };
    for (const auto &c : cases) {
        softversion = static_cast<uint16_t>(c.soft);
        InitGUI();   // the ring of this firmware
        const std::vector<int> set = {600, 1,  400, c.ana, 0,     2,     10, 2000,
                                      900, 50, 1,   2,     20480, 30100, 8,  c.word15};
        peer.SetParameterSet(set);
        ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
        EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
        EXPECT_EQ(drive::Shown(pHandle, "RINGanaMode"), c.anaShown) << c.ana;
        EXPECT_EQ(drive::Shown(pHandle, "RINGTrigMode"), c.trigShown) << c.word15;
        // nothing picked: the sensor gets back exactly what it had
        EXPECT_EQ(SendAndRead(), set) << c.ana << "/" << c.word15;
    }
}

TEST_F(OperatorPeer, APickedItemReplacesTheUnlistedValueAndTheAddedItemGoes) {
    std::vector<int> set = kSet;
    set[3] = 6;
    set[15] = 7;
    peer.SetParameterSet(set);
    ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
    std::vector<std::string> ana = kAnaItems;
    ana.push_back("mode 6");
    EXPECT_EQ(rt_GetListItems(pHandle, PANEL_RINGanaMode), ana);
    ASSERT_TRUE(drive::Choose(pHandle, "RINGanaMode", "MAXIMA"));
    ASSERT_TRUE(drive::Choose(pHandle, "RINGTrigMode", "Trigger IN0 falling"));
    std::vector<int> sent = SendAndRead();
    ASSERT_EQ(sent.size(), 16u);
    EXPECT_EQ(sent[3], 2);
    EXPECT_EQ(sent[15], 2);
    // a set the rings list: the added items are gone
    peer.SetParameterSet(kSet);
    ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
    EXPECT_EQ(rt_GetListItems(pHandle, PANEL_RINGanaMode), kAnaItems);
    EXPECT_EQ(rt_GetListItems(pHandle, PANEL_RINGTrigMode), kTrigItems);
    EXPECT_EQ(drive::Shown(pHandle, "RINGanaMode"), "DIRECT <no AVG>");
}

// ---------------------------------------------------------------- shortcuts

// The right limit typed beyond the last pixel is corrected when it is
// committed, in the field and in eEnd; each shortcut's frame must carry the
// corrected 1500, never the 1024 from before the edit.
TEST_F(OperatorPeer, ShortcutsFinishTheEditInProgressFirst) {
    struct Case {
        const char *keys;
        int order;
    } cases[] = {{"Ctrl+S", 1}, {"Ctrl+G", 2}, {"F5", 8}};
    for (const auto &c : cases) {
        pixE = 1500;
        SetParamVars(kSet, kSet[15]);
        SetPanelValues();
        peer.ClearLog();
        ASSERT_TRUE(drive::Type(pHandle, "NEDITEdgeRight", "1800"));
        EXPECT_EQ(Shown(PANEL_NEDITEdgeRight), 1024);   // still an edit
        if (c.order == 8) rt_After(0.4, [] { drive::PanelKey(pHandle, "Esc"); });
        ASSERT_TRUE(drive::PanelKey(pHandle, c.keys));
        auto rq = Requests(c.order);
        ASSERT_FALSE(rq.empty()) << c.keys;
        EXPECT_EQ(rq[0].words[7], 1500) << c.keys;
        EXPECT_FALSE(drive::HasFocus(pHandle, "NEDITEdgeRight")) << c.keys;
        if (c.order == 8) {
            EXPECT_EQ(stop_flag, STOP_ASKED) << "the run mode ended by Esc";
        } else {
            EXPECT_EQ(rq.size(), 1u) << c.keys << ": one frame, not one per key event";
        }
    }
}

TEST_F(OperatorPeer, VideoKeyTakesTheTypedThresholdFirst) {
    peer.Silent(8, true);   // the video pass ends by its time-out
    ASSERT_TRUE(drive::Type(pHandle, "NUMVideoThreshold", "700"));
    double during = -1;
    rt_After(0.3, [&] { during = thdArray[0]; });
    ASSERT_TRUE(drive::PanelKey(pHandle, "F6"));
    EXPECT_EQ(during, 700.0);   // the threshold line of the running video mode
    EXPECT_EQ(Shown(PANEL_NUMVideoThreshold), 700);
}

// ---------------------------------------------------------------- calibration

TEST_F(OperatorPeer, DiscardWithoutActivateKeepsTheEvaluationMode) {
    // a whole cycle first: it leaves oldMode at 1
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
    ASSERT_TRUE(rt_IsShown(pPopup));
    rt_After(0.6, [] { drive::Click(pPopup, "DiscardCalibration"); });
    ASSERT_TRUE(drive::Click(pPopup, "ActivateCalibration"));   // returns when the live loop ends
    EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
    EXPECT_EQ(eMode, 1);
    // the operator sets mode 3 and sends it
    ASSERT_TRUE(drive::Type(pHandle, "NUMEvalMode", "3"));
    EXPECT_EQ(SendAndRead().at(5), 3);
    // the popup again, and Discard without Activate
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
    ASSERT_TRUE(drive::Click(pPopup, "DiscardCalibration"));
    EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
    EXPECT_EQ(eMode, 3);
    EXPECT_EQ(Shown(PANEL_NUMEvalMode), 3);
    // what goes out next: run frames and a send
    peer.ClearLog();
    rt_After(0.3, [] { drive::PanelKey(pHandle, "Esc"); });
    ASSERT_TRUE(drive::Click(pHandle, "BTNRun"));
    auto rq = Requests(8);
    ASSERT_FALSE(rq.empty());
    for (const auto &r : rq) EXPECT_EQ(r.words[5], 3);
    EXPECT_EQ(SendAndRead().at(5), 3);
}

TEST_F(OperatorPeer, AfterSaveThePanelShowsTheModeThatGoesOut) {
    std::vector<int> set = kSet;
    set[5] = 3;
    SetParamVars(set, set[15]);
    SetPanelValues();
    peer.SetMeasurement(100, 341, 241, 7960);
    ASSERT_TRUE(drive::Click(pHandle, "TOGGBTN_ParaII"));
    std::string duringCycle, afterSave;
    rt_After(0.5, [&] {
        duringCycle = drive::Shown(pHandle, "NUMEvalMode");
        drive::Click(pPopup, "CheckStep1");
        drive::Type(pPopup, "NUMUmObject1", "7960");
        drive::Click(pPopup, "ButtonAcceptObject1");
        peer.SetMeasurement(100, 762, 662, 21960);
    });
    rt_After(1.0, [&] {
        drive::Click(pPopup, "CheckStep2");
        drive::Type(pPopup, "NUMUmObject2", "21960");
        drive::Click(pPopup, "ButtonAcceptObject2");
        drive::Click(pPopup, "ButtonDoFit");
        drive::Click(pPopup, "ButtonSaveCalValues");
        afterSave = drive::Shown(pHandle, "NUMEvalMode");
        stop_flag = STOP_ASKED;   // the live loop ends; the cycle is complete
    });
    ASSERT_TRUE(drive::Click(pPopup, "ActivateCalibration"));
    EXPECT_EQ(duringCycle, "2");
    EXPECT_EQ(afterSave, "3");
    EXPECT_EQ(StatusLine(), "New Calibration values in activated in RAM!");
    EXPECT_EQ(eMode, 3);
    EXPECT_EQ(peer.SlopeWord(), 34052);   // the fit reached the sensor
    const std::vector<int> sent = SendAndRead();
    ASSERT_EQ(sent.size(), 16u);
    EXPECT_EQ(sent[5], 3);
    EXPECT_EQ(sent[12], 34052);
}

// ---------------------------------------------------------------- file failures

TEST_F(OperatorPeer, AGoodLoadShowsNoStaleFileFailure) {
    char tmpl[] = "/tmp/ridar-operator-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string good = dir + "/good.dat", part = dir + "/part.dat";
    const std::string unwritable = dir + "/no-such-dir/set.dat";
    FILE *f = std::fopen(good.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("  640\n    0\n  450\n    2\n    1\n    3\n    5\n 1900\n  800\n   40\n"
               "    0\n    2\n20480\n30000\n    4\n    1\n",
               f);
    std::fclose(f);
    f = std::fopen(part.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("  640\n    0\n  450\n", f);
    std::fclose(f);
    std::string answer;
    rt_SetPopupHook([&](const RtPopup &p) {
        RtPopupAnswer a;
        if (p.kind == 3) {
            a.result = 1;
            a.path = answer;
        }
        return a;
    });
    ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));   // an exchange: its text stays
    const std::string exchange = StatusLine();
    ASSERT_EQ(exchange, "Parameter-frame received! - Line Ok!");
    ASSERT_TRUE(drive::Click(pHandle, "RBTFile"));
    ASSERT_EQ(target, DATFILE);
    // clang-format off
    struct Case { const char *what; std::string path; bool send; const char *failure; const char *after; } cases[] = {
        {"incomplete file", part, false, "Parameter-file not loaded - unreadable or incomplete!", exchange.c_str()},
        {"failed save", unwritable, true, "Parameter-file could not be written!", "Transmit..."},
    };
    // clang-format on
    for (const auto &c : cases) {
        answer = c.path;
        ASSERT_TRUE(drive::Click(pHandle, c.send ? "BTNSend" : "BTNGet"));
        EXPECT_EQ(StatusLine(), c.failure) << c.what;
        answer = good;
        ASSERT_TRUE(drive::Click(pHandle, "BTNGet"));
        EXPECT_EQ(StatusLine(), c.after) << c.what;
        EXPECT_EQ(power, 640) << c.what;
        EXPECT_EQ(Shown(PANEL_NEDITEdgeRight), 1900) << c.what;
        power = 500;
    }
    std::remove(good.c_str());
    std::remove(part.c_str());
    rmdir(dir.c_str());
}

// ---------------------------------------------------------------- port changes

namespace {

// Two simulated sensors on ports 1 and 2: a type 3 on firmware 245 (its row
// shows the trigger mode, hides the delta tolerance and dims the RS-232
// mode) and a second one set per case.
const char kSensorA[] = "K-VEX-XC sensor A";
const char kSensorB[] = "K-VEX-XC sensor B";

// The status line shows the firmware text (blank-padded) of that sensor.
bool Identified(const char *firmware) { return StatusLine().rfind(firmware, 0) == 0; }

class OperatorSims : public ::testing::Test {
protected:
    SimProcess a, b;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        ASSERT_TRUE(
            a.Start({"--fast", "--ccdtype", "3", "--softversion", "245", "--firmware", kSensorA}));
        ASSERT_TRUE(
            b.Start({"--fast", "--ccdtype", "4", "--softversion", "230", "--firmware", kSensorB}));
        rt_SetPortTable({a.Device(), b.Device()});
        stop_flag = STOP_ASKED;
        DisplayPanel(pHandle);
        // the port ring as an operator reaches it: list rebuilt when opened
        ASSERT_TRUE(drive::Choose(pHandle, "DropDCom", "COM1"));
        ASSERT_EQ(com, 1);
        ASSERT_TRUE(Identified(kSensorA)) << StatusLine();
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        CloseCom(com);
        a.Stop();
        b.Stop();
    }
    // The controls the sensor type sets: trigger mode shown, delta
    // tolerance shown, RS-232 mode dimmed.
    std::vector<int> TypeControls(int panel) {
        int trig = -1, delta = -1, rs = -1;
        GetCtrlAttribute(panel, PANEL_RINGTrigMode, ATTR_VISIBLE, &trig);
        GetCtrlAttribute(panel, PANEL_NUMDeltaTol, ATTR_VISIBLE, &delta);
        GetCtrlAttribute(panel, PANEL_RINGRs232Mode, ATTR_DIMMED, &rs);
        return {trig, delta, rs};
    }
};

}   // namespace

TEST_F(OperatorSims, APortChangeShowsTheTargetItSets) {
    for (const char *radio : {"RBTEeprom", "RBTFile"}) {
        ASSERT_TRUE(drive::Click(pHandle, radio));
        ASSERT_NE(target, RAM);
        ASSERT_TRUE(drive::Choose(pHandle, "DropDCom", com == 1 ? "COM2" : "COM1"));
        EXPECT_EQ(target, RAM) << radio;
        EXPECT_EQ(Radio(PANEL_RBTRam), 1) << radio;
        EXPECT_EQ(Radio(PANEL_RBTEeprom), 0) << radio;
        EXPECT_EQ(Radio(PANEL_RBTFile), 0) << radio;
    }
}

TEST_F(OperatorSims, EachIdentificationStartsFromTheResourceFileState) {
    const int fresh = LoadPanel(0, KVEX_UIR_PATH, PANEL);
    ASSERT_GT(fresh, 0);
    const std::vector<int> resource = TypeControls(fresh);
    DiscardPanel(fresh);
    const std::vector<int> typeThree = {1, 0, 1};
    ASSERT_EQ(TypeControls(pHandle), typeThree);
    struct Case {
        const char *what;
        std::vector<std::string> cmds;
    } cases[] = {
        {"type 1 without 80", {"ccdtype 1", "hwtype 0", "ccdresolution 0"}},
        {"type 2 without a sub-case", {"ccdtype 2"}},
        {"type 4", {"ccdtype 4"}},
        {"unknown type", {"ccdtype 77"}},
    };
    for (const auto &c : cases) {
        for (const auto &cmd : c.cmds) ASSERT_TRUE(SimDo(b, cmd)) << cmd;
        ASSERT_TRUE(drive::Choose(pHandle, "DropDCom", "COM2"));
        ASSERT_TRUE(Identified(kSensorB)) << c.what;
        EXPECT_EQ(TypeControls(pHandle), resource) << c.what;
        // the RS-232 mode is the operator's to set again
        EXPECT_TRUE(drive::Choose(pHandle, "RINGRs232Mode", "RS-232 mode 1")) << c.what;
        ASSERT_TRUE(drive::Choose(pHandle, "DropDCom", "COM1"));
        EXPECT_EQ(TypeControls(pHandle), typeThree) << c.what;
    }
}

TEST_F(OperatorSims, ThePortRingChangesOnlyByAChoiceFromItsList) {
    const long frames = linkFrames;
    const std::string status = StatusLine();
    EXPECT_TRUE(drive::Wheel(pHandle, "DropDCom", -1));
    EXPECT_TRUE(drive::Wheel(pHandle, "DropDCom", 1));
    EXPECT_TRUE(drive::Wheel(pHandle, "DropDCom", -3));
    for (const char *keys : {"End", "PageDown", "Home", "C", "2"})
        EXPECT_TRUE(drive::Key(pHandle, "DropDCom", keys));
    Pump(0.2);
    EXPECT_EQ(com, 1);
    int shown = 0;
    GetCtrlVal(pHandle, PANEL_DropDCom, &shown);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(linkFrames, frames);   // no identification ran
    EXPECT_EQ(StatusLine(), status);
    // an arrow key opens the list; Esc closes it again without a change
    EXPECT_TRUE(drive::Key(pHandle, "DropDCom", "Down"));
    EXPECT_TRUE(drive::ListOpen(pHandle, "DropDCom"));
    EXPECT_TRUE(drive::Key(pHandle, "DropDCom", "Esc"));
    EXPECT_FALSE(drive::ListOpen(pHandle, "DropDCom"));
    EXPECT_EQ(com, 1);
    EXPECT_EQ(linkFrames, frames);
    // a choice from the list changes the port
    ASSERT_TRUE(drive::Choose(pHandle, "DropDCom", "COM2"));
    EXPECT_EQ(com, 2);
    EXPECT_TRUE(Identified(kSensorB)) << StatusLine();
    EXPECT_GT(linkFrames, frames);
}

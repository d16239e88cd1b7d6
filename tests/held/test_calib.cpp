// Calibration: the linear fit, the calibration words on the wire, the state
// of the popup's controls through a cycle, and a calibration of kvex-sim.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/peer_responder.h"
#include "tests/support/support.h"
#include "app/panels.h"
#include "calib/calib.h"
#include "params/vars.h"

namespace {

// ---------------------------------------------------------------- with the run-time

void Pump(double seconds) {
    double t0 = Timer();
    while (Timer() - t0 < seconds) ProcessSystemEvents();
}

// Runs the steps one after the other from the event loop, `gap` seconds apart.
void RunSteps(std::shared_ptr<std::vector<std::function<void()>>> s, size_t i, double gap) {
    if (i >= s->size()) return;
    rt_After(gap, [s, i, gap] {
        (*s)[i]();
        RunSteps(s, i + 1, gap);
    });
}
void Steps(std::vector<std::function<void()>> steps, double gap = 0.2) {
    RunSteps(std::make_shared<std::vector<std::function<void()>>>(std::move(steps)), 0, gap);
}

int Dimmed(int panel, int control) {
    int v = -1;
    GetCtrlAttribute(panel, control, ATTR_DIMMED, &v);
    return v;
}
int IntVal(int panel, int control) {
    int v = -1;
    GetCtrlVal(panel, control, &v);
    return v;
}
double DblVal(int panel, int control) {
    double v = -1;
    GetCtrlVal(panel, control, &v);
    return v;
}
std::string StatusLine() { return rt_GetCtrlText(pHandle, PANEL_TEXTStatus); }

// The popup's procedure controls: D dimmed, E enabled; check boxes with their value.
std::string PopupState() {
    auto de = [](int p, int c) { return Dimmed(p, c) ? std::string("D") : std::string("E"); };
    return "chk1=" + de(pPopup, POPUP_CheckStep1) + std::to_string(IntVal(pPopup, POPUP_CheckStep1)) +
           " chk2=" + de(pPopup, POPUP_CheckStep2) + std::to_string(IntVal(pPopup, POPUP_CheckStep2)) +
           " acc1=" + de(pPopup, POPUP_ButtonAcceptObject1) +
           " acc2=" + de(pPopup, POPUP_ButtonAcceptObject2) + " fit=" + de(pPopup, POPUP_ButtonDoFit) +
           " save=" + de(pPopup, POPUP_ButtonSaveCalValues);
}

const char kAllDimmed[] = "chk1=D0 chk2=D0 acc1=D acc2=D fit=D save=D";

void OpenPortOn(const std::string &device) {
    CloseCom(1);
    rt_SetPortTable({device});
    com = 1;
    ASSERT_GE(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), 0);
    SetComTime(1, TIMEOUT);
    InstallComCallback(1, eventMask, 36, sync, RX_Receive_Function, nullptr);
}

class CalibPeer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        // a fresh popup, as the resource file has it
        DiscardPanel(pPopup);
        pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
        ASSERT_GT(pPopup, 0);
        popups.clear();
        rt_SetPopupHook([this](const RtPopup &p) {
            popups.push_back(p);
            return RtPopupAnswer{};
        });
        OpenPortOn(peer.Device());
        ccdtype = 0;
        softversion = 250;
        pixel[0] = 241.0; pixel[1] = 662.0;
        umeter[0] = 7960.0; umeter[1] = 21960.0;
        flagstep1 = flagstep2 = 0;
        stop_flag = 1;
        eMode = 1;
        SetCtrlVal(pHandle, PANEL_NUMEvalMode, 1);
        DisplayPanel(pPopup);
        SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 1);
        // a safety net: no test may hang in a loop
        rt_After(30.0, [] { stop_flag = 1; });
    }
    void TearDown() override {
        stop_flag = 1;
        CloseCom(1);
    }
    void Click(int control) { rt_UserClick(pPopup, control); }
    void Tick(int control) { rt_UserClick(pPopup, control); }

    PeerResponder peer;
    std::vector<RtPopup> popups;
};

TEST_F(CalibPeer, ResourceFileStartsWithProcedureDimmed) {
    EXPECT_EQ(PopupState(), kAllDimmed);
}

// One full cycle, the popup's state checked after every action.
TEST_F(CalibPeer, StateTableThroughACycle) {
    peer.SetCalibration(20480, 29500);
    peer.SetMeasurement(100, 341, 241, 7960);
    std::vector<std::string> seen;
    int loopRan = -1;
    Steps({
        [&] {
            loopRan = stop_flag == 0;
            seen.push_back(PopupState());
            EXPECT_EQ(StatusLine(), "Calibration activated!");
            EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 2);
            EXPECT_EQ(eMode, 1);
            EXPECT_EQ(oldMode, 1);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 20.0);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), -500.0);
        },
        [&] { Tick(POPUP_CheckStep1); seen.push_back(PopupState()); },
        [&] { Tick(POPUP_CheckStep2); seen.push_back(PopupState()); },
        [&] { Tick(POPUP_CheckStep2); seen.push_back(PopupState()); },
        [&] { Tick(POPUP_CheckStep1); seen.push_back(PopupState()); },
        [&] {
            rt_UserSetVal(pPopup, POPUP_NUMUmObject1, 7960);
            Click(POPUP_ButtonAcceptObject1);
            seen.push_back(PopupState());
            EXPECT_EQ(pixel[0], 241.0);
            EXPECT_EQ(umeter[0], 7960.0);
            peer.SetMeasurement(50, 712, 662, 21960);
        },
        [&] {
            Tick(POPUP_CheckStep2);
            rt_UserSetVal(pPopup, POPUP_NUMUmObject2, 21960);
            Click(POPUP_ButtonAcceptObject2);
            seen.push_back(PopupState());
            EXPECT_EQ(pixel[1], 662.0);
            EXPECT_EQ(umeter[1], 21960.0);
        },
        [&] {
            Click(POPUP_ButtonDoFit);
            seen.push_back(PopupState());
            EXPECT_NEAR(DblVal(pPopup, POPUP_NUMFitSlope), 14000.0 / 421.0, 6e-5);   // shown with 4 decimals
            EXPECT_NEAR(DblVal(pPopup, POPUP_NUMFitIntercept), -54.2518, 5e-5);
        },
        [&] {
            peer.ClearLog();
            Click(POPUP_ButtonSaveCalValues);
            seen.push_back(PopupState());
            auto rq = peer.Requests(12);
            ASSERT_EQ(rq.size(), 1u);
            EXPECT_EQ(rq[0].words[0], 2);
            EXPECT_EQ(rq[0].words[1], 34052);
            EXPECT_EQ(rq[0].words[2], 29945);
            EXPECT_EQ(StatusLine(), "New Calibration values in activated in RAM!");
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 34052.0f / 1024.0f);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), -55.0);
            EXPECT_EQ(flagstep1, 0);
            EXPECT_EQ(flagstep2, 0);
            EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 2);
            EXPECT_EQ(stop_flag, 0);   // the live loop runs on
        },
        [&] {
            Click(POPUP_DiscardCalibration);
            seen.push_back(PopupState());
        },
    });
    Click(POPUP_ActivateCalibration);   // returns when the live loop ends
    EXPECT_EQ(loopRan, 1);
    const std::vector<std::string> want = {
        "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D",   // activated
        "chk1=E1 chk2=E0 acc1=E acc2=D fit=D save=D",   // step 1 ticked
        "chk1=E0 chk2=E1 acc1=D acc2=E fit=D save=D",   // step 2 ticked
        "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D",   // step 2 unticked
        "chk1=E1 chk2=E0 acc1=E acc2=D fit=D save=D",   // step 1 ticked
        "chk1=D0 chk2=E0 acc1=D acc2=D fit=D save=D",   // object 1 accepted
        "chk1=D0 chk2=D0 acc1=D acc2=D fit=E save=D",   // object 2 accepted
        "chk1=D0 chk2=D0 acc1=D acc2=D fit=D save=E",   // fit
        kAllDimmed,                                      // saved
        kAllDimmed,                                      // discarded
    };
    EXPECT_EQ(seen, want);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(rt_IsShown(pPopup));
    EXPECT_EQ(IntVal(pHandle, PANEL_TOGGBTN_ParaII), 0);
    EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
    EXPECT_EQ(eMode, 1);
    EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 1);
    // activate and discard on the wire
    auto rq = peer.Requests(12);
    ASSERT_GE(rq.size(), 1u);
    EXPECT_EQ(rq.back().words[0], 0);
    EXPECT_GT(peer.Requests(8).size(), 5u);
}

TEST_F(CalibPeer, StepsInEitherOrderEnableTheFit) {
    std::vector<std::string> seen;
    double again = -1;
    Steps({
        [&] {
            // activating while the live loop runs starts no second loop
            double t0 = Timer();
            Click(POPUP_ActivateCalibration);
            again = Timer() - t0;
        },
        [&] { Tick(POPUP_CheckStep2); Click(POPUP_ButtonAcceptObject2); seen.push_back(PopupState()); },
        [&] {
            // an accepted step cannot be taken twice in the cycle
            EXPECT_EQ(Dimmed(pPopup, POPUP_CheckStep2), 1);
            Tick(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
            seen.push_back(PopupState());
        },
        [&] { Click(POPUP_DiscardCalibration); },
    });
    Click(POPUP_ActivateCalibration);
    EXPECT_GE(again, 0.0);
    EXPECT_LT(again, 0.5);
    EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
    EXPECT_EQ(seen, (std::vector<std::string>{"chk1=E0 chk2=D0 acc1=D acc2=D fit=D save=D",
                                              "chk1=D0 chk2=D0 acc1=D acc2=D fit=E save=D"}));
}

// A save without reply leaves the flags set; the next activation enables
// the fit as soon as one object is accepted again.
TEST_F(CalibPeer, SaveTimeoutThenReactivation) {
    peer.SetCalibration(20480, 29500);
    std::vector<std::string> seen;
    Steps({
        [&] { Tick(POPUP_CheckStep1); Click(POPUP_ButtonAcceptObject1); peer.SetMeasurement(1, 2, 662, 0); },
        [&] { Tick(POPUP_CheckStep2); Click(POPUP_ButtonAcceptObject2); Click(POPUP_ButtonDoFit); },
        [&] {
            peer.Silent(12, true);
            peer.Silent(8, true);
            double t0 = Timer();
            Click(POPUP_ButtonSaveCalValues);
            double took = Timer() - t0;
            EXPECT_GE(took, 1.5);
            EXPECT_LT(took, 2.5);
            seen.push_back(PopupState());
            EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
            // the new words were set before sending and stay
            EXPECT_EQ(slope, 34052);
            EXPECT_EQ(intersect, 29945);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 20.0);
            EXPECT_EQ(flagstep1, 1);
            EXPECT_EQ(flagstep2, 1);
        },
    });
    Click(POPUP_ActivateCalibration);   // the silent line ends the live loop
    EXPECT_EQ(seen, (std::vector<std::string>{kAllDimmed}));
    EXPECT_NE(stop_flag, 0);

    peer.Silent(12, false);
    peer.Silent(8, false);
    Steps({
        [&] { seen.push_back(PopupState()); },
        [&] { Tick(POPUP_CheckStep1); Click(POPUP_ButtonAcceptObject1); seen.push_back(PopupState()); },
        [&] { Click(POPUP_DiscardCalibration); },
    });
    Click(POPUP_ActivateCalibration);
    EXPECT_EQ(seen, (std::vector<std::string>{kAllDimmed, "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D",
                                              "chk1=D0 chk2=E0 acc1=D acc2=D fit=E save=D"}));
}

// Equal pixel values give no line: refused with a message, nothing shown
// or sent, both steps open again for new points.
TEST_F(CalibPeer, EqualPixelPointsAreRefused) {
    peer.SetMeasurement(100, 341, 241, 0);
    slopeval = 12.5;
    interval = 7.0;
    std::vector<std::string> seen;
    size_t saves = 99;
    Steps({
        [&] { Tick(POPUP_CheckStep1); Click(POPUP_ButtonAcceptObject1); },
        [&] { Tick(POPUP_CheckStep2); Click(POPUP_ButtonAcceptObject2); },
        [&] {
            peer.ClearLog();
            Click(POPUP_ButtonDoFit);
            seen.push_back(PopupState());
            EXPECT_EQ(flagstep1, 0);
            EXPECT_EQ(flagstep2, 0);
            EXPECT_EQ(slopeval, 12.5);
            EXPECT_EQ(interval, 7.0);
            EXPECT_EQ(DblVal(pPopup, POPUP_NUMFitSlope), 0.0);
            EXPECT_EQ(DblVal(pPopup, POPUP_NUMFitIntercept), 0.0);
            saves = peer.Requests(12).size();
        },
        // the operator takes both points again
        [&] { Tick(POPUP_CheckStep1); Click(POPUP_ButtonAcceptObject1); peer.SetMeasurement(1, 2, 662, 0); },
        [&] { Tick(POPUP_CheckStep2); Click(POPUP_ButtonAcceptObject2); Click(POPUP_ButtonDoFit); seen.push_back(PopupState()); },
        [&] { Click(POPUP_DiscardCalibration); },
    });
    Click(POPUP_ActivateCalibration);
    EXPECT_EQ(saves, 0u);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].kind, 1);
    EXPECT_NE(popups[0].message.find("same pixel value"), std::string::npos) << popups[0].message;
    EXPECT_EQ(seen, (std::vector<std::string>{"chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D",
                                              "chk1=D0 chk2=D0 acc1=D acc2=D fit=D save=E"}));
    EXPECT_NEAR(slopeval, 14000.0 / 421.0, 1e-9);
}

TEST_F(CalibPeer, ActivateTimeoutStartsNothing) {
    peer.Silent(12, true);
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(0x1100 + i);
    SetCtrlVal(pPopup, POPUP_NUMCalSlope, 3.5);
    slope = 111;
    intersect = 222;
    double t0 = Timer();
    Click(POPUP_ActivateCalibration);
    double took = Timer() - t0;
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 2.5);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(PopupState(), kAllDimmed);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(peer.Requests(8).size(), 0u);   // no live loop
    EXPECT_EQ(slope, 111);
    EXPECT_EQ(intersect, 222);
    EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 3.5);
    EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 1);
    // word 0 selects the command; the other words go out as pp held them
    auto rq = peer.Requests(12);
    ASSERT_EQ(rq.size(), 1u);
    EXPECT_EQ(rq[0].words[0], 1);
    for (int i = 1; i < PNUM; ++i) EXPECT_EQ(rq[0].words[i], 0x1100 + i) << i;
}

TEST_F(CalibPeer, DiscardTimeoutStillResetsThePopup) {
    peer.Silent(12, true);
    flagstep1 = flagstep2 = 1;
    for (int c : {POPUP_CheckStep1, POPUP_CheckStep2, POPUP_ButtonAcceptObject1, POPUP_ButtonDoFit,
                  POPUP_ButtonSaveCalValues})
        SetCtrlAttribute(pPopup, c, ATTR_DIMMED, 0);
    SetCtrlVal(pPopup, POPUP_CheckStep1, 1);
    oldMode = 3;
    Click(POPUP_DiscardCalibration);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(PopupState(), kAllDimmed);
    EXPECT_EQ(flagstep1, 0);
    EXPECT_EQ(flagstep2, 0);
    EXPECT_FALSE(rt_IsShown(pPopup));
    EXPECT_EQ(IntVal(pHandle, PANEL_TOGGBTN_ParaII), 0);
    EXPECT_EQ(eMode, 1);   // not restored without a reply
    auto rq = peer.Requests(12);
    ASSERT_EQ(rq.size(), 1u);
    EXPECT_EQ(rq[0].words[0], 0);
}

// The reported calibration words in display form, through a discard.
TEST_F(CalibPeer, DecodingOfReportedWords) {
    struct Case { uint16_t ccd, soft; int slopeWord, offsetWord; float s, o; } cases[] = {
        {0, 250, 20480, 29500, 20.0f, -500.0f},
        {104, 249, 10240, 30000, 20.0f, 0.0f},
        {104, 250, 10240, 0, 10.0f, -30000.0f},
        {104, 0, 17026, 29946, 33.25390625f, -54.0f},
        {0, 100, 34052, 65535, 33.25390625f, 35535.0f},
        {0, 250, 65535, 1, 65535.0f / 1024.0f, -29999.0f},
    };
    for (const auto &c : cases) {
        ccdtype = c.ccd;
        softversion = c.soft;
        peer.SetCalibration(c.slopeWord, c.offsetWord);
        oldMode = 3;
        Click(POPUP_DiscardCalibration);
        EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
        EXPECT_EQ(slope, c.slopeWord);
        EXPECT_EQ(intersect, c.offsetWord);
        EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), c.s) << c.slopeWord;
        EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), c.o) << c.offsetWord;
        EXPECT_EQ(eMode, 3);
        EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 3);
        eMode = 1;
    }
}

// The encoding of a fit into the two words, as they go out with order 12.
TEST_F(CalibPeer, SavedWordsOnTheWire) {
    const double nan = std::nan("");
    struct Case { uint16_t ccd, soft; double k, b; int slopeWord, offsetWord; } cases[] = {
        {0, 250, 14000.0 / 421.0, 7960.0 - 241.0 * 14000.0 / 421.0, 34052, 29945},
        {104, 249, 14000.0 / 421.0, -54.2518, 17026, 29945},
        {0, 250, 33254.9 / 1024.0, -30000.5, 33254, 0},
        {0, 250, 64.0, 35536.0, 0, 0},               // one past the top wraps
        {0, 250, 64.5, -30001.0, 512, 65535},        // 66048 -> 512; -1 -> 65535
        {0, 250, -0.5, 0.9, 65024, 30000},           // -512 wraps
        {0, 250, nan, nan, 0, 0},
        {0, 250, INFINITY, -INFINITY, 0, 0},
        {104, 249, 127.99, 35535.0, 65530, 65535},
    };
    for (const auto &c : cases) {
        ccdtype = c.ccd;
        softversion = c.soft;
        slopeval = c.k;
        interval = c.b;
        SetCtrlAttribute(pPopup, POPUP_ButtonSaveCalValues, ATTR_DIMMED, 0);
        peer.ClearLog();
        Click(POPUP_ButtonSaveCalValues);
        auto rq = peer.Requests(12);
        ASSERT_EQ(rq.size(), 1u);
        EXPECT_EQ(rq[0].words[0], 2);
        EXPECT_EQ(rq[0].words[1], c.slopeWord) << c.k;
        EXPECT_EQ(rq[0].words[2], c.offsetWord) << c.b;
        EXPECT_EQ(slope, c.slopeWord);
        EXPECT_EQ(intersect, c.offsetWord);
        EXPECT_EQ(Dimmed(pPopup, POPUP_ButtonSaveCalValues), 1);
    }
}

TEST_F(CalibPeer, ResetMaxMinOnTheWire) {
    for (int i = 0; i < PNUM; ++i) pp[i] = static_cast<uint16_t>(0x2200 + i);
    rt_UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(StatusLine(), "Reset of analog-output Max/Min OK!");
    auto rq = peer.Requests(11);
    ASSERT_EQ(rq.size(), 1u);
    for (int i = 0; i < PNUM; ++i) EXPECT_EQ(rq[0].words[i], 0x2200 + i) << i;

    // never an all-zero payload: that asks for the video line
    for (auto &w : pp) w = 0;
    power = 500;
    vThd = 400;
    peer.ClearLog();
    rt_UserClick(pHandle, PANEL_ButtonReset);
    rq = peer.Requests(11);
    ASSERT_EQ(rq.size(), 1u);
    EXPECT_EQ(rq[0].words[0], 500);
    EXPECT_EQ(rq[0].words[2], 400);

    peer.Silent(11, true);
    double t0 = Timer();
    rt_UserClick(pHandle, PANEL_ButtonReset);
    double took = Timer() - t0;
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_GE(took, 1.5);
    EXPECT_LT(took, 2.5);
}

} // namespace

// Calibration: the linear fit, the calibration words on the wire, the state
// of the popup's controls through a cycle, and a calibration of kvex-sim.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "calib/calib.h"
#include "params/vars.h"
#include "link/frame.h"

namespace {

// ---------------------------------------------------------------- LinFit

TEST(LinFit, FewerThanTwoPointsWriteNothing) {
    const double x[1] = {5}, y[1] = {7};
    for (int n : {1, 0, -3}) {
        double z[2] = {-1, -1}, k = -2, b = -3, e = -4;
        EXPECT_EQ(LinFit(x, y, n, z, &k, &b, &e), -20006) << n;
        EXPECT_EQ(z[0], -1);
        EXPECT_EQ(z[1], -1);
        EXPECT_EQ(k, -2);
        EXPECT_EQ(b, -3);
        EXPECT_EQ(e, -4);
    }
}

TEST(LinFit, TwoPointsAreReproduced) {
    // clang-format off
    struct Case { double x0, y0, x1, y1; } cases[] = {
        {241, 7960, 662, 21960}, {1, 0, 2, 1}, {100, 5000, 50, 2500}, {3, -10, 9000, 65535},
        {662, 21960, 241, 7960}};
    // clang-format on
    for (const auto &c : cases) {
        const double x[2] = {c.x0, c.x1}, y[2] = {c.y0, c.y1};
        double z[2], k, b, e;
        ASSERT_EQ(LinFit(x, y, 2, z, &k, &b, &e), 0);
        EXPECT_NEAR(z[0], c.y0, 1e-9 * (1 + std::fabs(c.y0)));
        EXPECT_NEAR(z[1], c.y1, 1e-9 * (1 + std::fabs(c.y1)));
        EXPECT_NEAR(k * c.x0 + b, c.y0, 1e-7);
        EXPECT_NEAR(k, (c.y1 - c.y0) / (c.x1 - c.x0), 1e-12);
        EXPECT_NEAR(e, 0.0, 1e-12);
    }
}

TEST(LinFit, InitialCalibrationPoints) {
    double z[2], k, b, e;
    ASSERT_EQ(LinFit(pixel, umeter, 2, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 14000.0 / 421.0, 1e-12);
    EXPECT_NEAR(b, 7960.0 - 241.0 * 14000.0 / 421.0, 1e-9);
    EXPECT_NEAR(b, -54.2518, 5e-5);
}

TEST(LinFit, MorePointsAgainstHandComputedLine) {
    // x 1..4, y 2,3,5,4: Sx 10, Sxx 30, Sy 14, Sxy 39 -> slope 0.8, intercept 1.5,
    // fitted 2.3 3.1 3.9 4.7, squared errors .09 .01 1.21 .49 -> mse 0.45
    const double x[4] = {1, 2, 3, 4}, y[4] = {2, 3, 5, 4};
    double z[4], k, b, e;
    ASSERT_EQ(LinFit(x, y, 4, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 0.8, 1e-12);
    EXPECT_NEAR(b, 1.5, 1e-12);
    EXPECT_NEAR(e, 0.45, 1e-12);
    const double want[4] = {2.3, 3.1, 3.9, 4.7};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(z[i], want[i], 1e-12);

    // a line given exactly by three points
    const double x3[3] = {10, 20, 40}, y3[3] = {-5, 15, 55};
    ASSERT_EQ(LinFit(x3, y3, 3, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 2.0, 1e-12);
    EXPECT_NEAR(b, -25.0, 1e-9);
    EXPECT_NEAR(e, 0.0, 1e-12);
}

// ---------------------------------------------------------------- with the run-time

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

// The popup's procedure controls: D dimmed, E enabled; check boxes with their value.
std::string PopupState() {
    auto de = [](int p, int c) { return Dimmed(p, c) ? std::string("D") : std::string("E"); };
    return "chk1=" + de(pPopup, POPUP_CheckStep1) +
           std::to_string(IntVal(pPopup, POPUP_CheckStep1)) +
           " chk2=" + de(pPopup, POPUP_CheckStep2) +
           std::to_string(IntVal(pPopup, POPUP_CheckStep2)) +
           " acc1=" + de(pPopup, POPUP_ButtonAcceptObject1) +
           " acc2=" + de(pPopup, POPUP_ButtonAcceptObject2) +
           " fit=" + de(pPopup, POPUP_ButtonDoFit) +
           " save=" + de(pPopup, POPUP_ButtonSaveCalValues);
}

const char kAllDimmed[] = "chk1=D0 chk2=D0 acc1=D acc2=D fit=D save=D";

void OpenPortOn(const std::string &device) {
    CloseCom(1);
    ASSERT_TRUE(OpenTestLine(device));
}

class CalibPeer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        // a fresh popup for each case: offscreen, a popup hidden by the
        // discard and shown again never becomes the active window, and keys
        // go to the active window only
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
        pixel[0] = 241.0;
        pixel[1] = 662.0;
        umeter[0] = 7960.0;
        umeter[1] = 21960.0;
        flagstep1 = flagstep2 = 0;
        stop_flag = STOP_ASKED;
        eMode = 1;
        SetCtrlVal(pHandle, PANEL_NUMEvalMode, 1);
        DisplayPanel(pPopup);
        SetCtrlVal(pHandle, PANEL_TOGGBTN_ParaII, 1);
        // a safety net: no test may hang in a loop
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(1);
    }
    void Click(int control) { rt_UserClick(pPopup, control); }
    void Tick(int control) { rt_UserClick(pPopup, control); }

    PeerResponder peer;
    std::vector<RtPopup> popups;
};

TEST_F(CalibPeer, ResourceFileStartsWithProcedureDimmed) { EXPECT_EQ(PopupState(), kAllDimmed); }

// One full cycle, the popup's state checked after every action.
TEST_F(CalibPeer, StateTableThroughACycle) {
    peer.SetCalibration(20480, 29500);
    peer.SetMeasurement(100, 341, 241, 7960);
    std::vector<std::string> seen;
    int loopRan = -1;
    Steps({
        [&] {
            loopRan = stop_flag == STOP_RUNNING;
            seen.push_back(PopupState());
            // the status line has moved on to the live loop's text
            EXPECT_STREQ(szStatus, "Calibration activated!");
            EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 2);
            EXPECT_EQ(eMode, 1);
            EXPECT_EQ(oldMode, 1);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 20.0);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), -500.0);
        },
        [&] {
            Tick(POPUP_CheckStep1);
            seen.push_back(PopupState());
        },
        [&] {
            Tick(POPUP_CheckStep2);
            seen.push_back(PopupState());
        },
        [&] {
            Tick(POPUP_CheckStep2);
            seen.push_back(PopupState());
        },
        [&] {
            Tick(POPUP_CheckStep1);
            seen.push_back(PopupState());
        },
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
            EXPECT_NEAR(DblVal(pPopup, POPUP_NUMFitSlope), 14000.0 / 421.0,
                        6e-5);   // shown with 4 decimals
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
            EXPECT_EQ(eMode, 1);
            EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 1);   // the mode that goes out
            EXPECT_EQ(stop_flag, STOP_RUNNING);                 // the live loop runs on
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
        kAllDimmed,                                     // saved
        kAllDimmed,                                     // discarded
    };
    EXPECT_EQ(seen, want);
    EXPECT_EQ(stop_flag, STOP_ASKED);
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
        [&] {
            Tick(POPUP_CheckStep2);
            Click(POPUP_ButtonAcceptObject2);
            seen.push_back(PopupState());
        },
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
        [&] {
            Tick(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
            peer.SetMeasurement(1, 2, 662, 0);
        },
        [&] {
            Tick(POPUP_CheckStep2);
            Click(POPUP_ButtonAcceptObject2);
            Click(POPUP_ButtonDoFit);
        },
        [&] {
            peer.Silent(12, true);
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
    Click(POPUP_ActivateCalibration);   // the unanswered exchange ends the live loop
    EXPECT_EQ(seen, (std::vector<std::string>{kAllDimmed}));
    EXPECT_NE(stop_flag, STOP_RUNNING);

    peer.Silent(12, false);
    Steps({
        [&] { seen.push_back(PopupState()); },
        [&] {
            Tick(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
            seen.push_back(PopupState());
        },
        [&] { Click(POPUP_DiscardCalibration); },
    });
    Click(POPUP_ActivateCalibration);
    EXPECT_EQ(seen,
              (std::vector<std::string>{kAllDimmed, "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D",
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
        [&] {
            Tick(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
        },
        [&] {
            Tick(POPUP_CheckStep2);
            Click(POPUP_ButtonAcceptObject2);
        },
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
        [&] {
            Tick(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
            peer.SetMeasurement(1, 2, 662, 0);
        },
        [&] {
            Tick(POPUP_CheckStep2);
            Click(POPUP_ButtonAcceptObject2);
            Click(POPUP_ButtonDoFit);
            seen.push_back(PopupState());
        },
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
    EXPECT_EQ(stop_flag, STOP_ASKED);
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
    struct Case {
        uint16_t ccd, soft;
        int slopeWord, offsetWord;
        float s, o;
    } cases[] = {
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
        // no activation in this cycle: the mode left in oldMode is not taken
        EXPECT_EQ(eMode, 1);
        EXPECT_EQ(IntVal(pHandle, PANEL_NUMEvalMode), 1);
    }
}

// The encoding of a fit into the two words, as they go out with order 12.
TEST_F(CalibPeer, SavedWordsOnTheWire) {
    struct Case {
        uint16_t ccd, soft;
        double k, b;
        int slopeWord, offsetWord;
    } cases[] = {
        {0, 250, 14000.0 / 421.0, 7960.0 - 241.0 * 14000.0 / 421.0, 34052, 29945},
        {104, 249, 14000.0 / 421.0, -54.2518, 17026, 29945},
        {0, 250, 33254.9 / 1024.0, -30000.5, 33254, 0},   // truncated toward zero
        {0, 250, 65535.99 / 1024.0, 35535.99, 65535, 65535},
        {0, 250, 1.0 / 1024.0, -29999.9, 1, 0},
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
    EXPECT_TRUE(popups.empty());
}

// A line the two words cannot hold would wrap into another one; the save
// refuses it even when the fit was made for another slope scale.
TEST_F(CalibPeer, SaveRefusesALineOutsideTheWords) {
    const double nan = std::nan("");
    // clang-format off
    struct Case { uint16_t ccd, soft; double k, b; } cases[] = {
        {0, 250, 64.0, 0.0},               // 65536: one past the top
        {104, 249, 128.0, 0.0},
        {0, 250, 100.0, 0.0},              // fitted with scale 512, sent with 1024
        {0, 250, -33.25, 29974.0},         // swapped objects
        {0, 250, 0.0, 0.0},
        {0, 250, 0.5 / 1024.0, 0.0},       // a slope word of 0
        {0, 250, 30.0, -30001.0},
        {0, 250, 30.0, 35536.0},
        {0, 250, nan, 0.0},
        {0, 250, 30.0, nan},
        {0, 250, INFINITY, 0.0},
        {0, 250, 30.0, -INFINITY},
    };
    // clang-format on
    for (const auto &c : cases) {
        ccdtype = c.ccd;
        softversion = c.soft;
        slopeval = c.k;
        interval = c.b;
        slope = 1111;
        intersect = 2222;
        flagstep1 = flagstep2 = 1;
        popups.clear();
        SetCtrlAttribute(pPopup, POPUP_ButtonSaveCalValues, ATTR_DIMMED, 0);
        peer.ClearLog();
        Click(POPUP_ButtonSaveCalValues);
        EXPECT_EQ(peer.Requests(12).size(), 0u) << c.k << " " << c.b;
        EXPECT_EQ(slope, 1111);
        EXPECT_EQ(intersect, 2222);
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_NE(popups[0].message.find("cannot be stored"), std::string::npos)
            << popups[0].message;
        // both steps to be taken again
        EXPECT_EQ(PopupState(), "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D");
        EXPECT_EQ(flagstep1, 0);
        EXPECT_EQ(flagstep2, 0);
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

// ---------------------------------------------------------------- against kvex-sim

class CalibSim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        DiscardPanel(pPopup);
        pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
        ASSERT_GT(pPopup, 0);
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        ASSERT_TRUE(sim.Start({"--noise", "0", "--video-noise", "0", "--exit-on-eof"}));
        CloseCom(1);
        OpenSensorLine(sim.Device());   // echo, identification, parameters from RAM
        ASSERT_EQ(slope, 12800);        // the simulator's factory calibration: 12.5 um/px
        ASSERT_EQ(intersect, 30000);
        flagstep1 = flagstep2 = 0;
        DisplayPanel(pPopup);
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(1);
        sim.Stop();
    }
    void Click(int control) { rt_UserClick(pPopup, control); }
    SimProcess sim;
};

// Two objects of 5000 and 17000 um, 200 and 600 px wide: 30 um/px, -1000 um.
TEST_F(CalibSim, FullCalibration) {
    uint16_t mode = eMode;
    int loop = -1;
    uint32_t umAfter = 0;
    uint16_t mvAfter = 0;
    Steps({
        [&] {
            loop = stop_flag == STOP_RUNNING;
            sim.Command("object 400 600");
        },
        [&] {
            EXPECT_EQ(Mvalue, 200);   // calibration mode measures the width
            Click(POPUP_CheckStep1);
            rt_UserSetVal(pPopup, POPUP_NUMUmObject1, 5000);
            Click(POPUP_ButtonAcceptObject1);
            sim.Command("object 300 900");
        },
        [&] {
            Click(POPUP_CheckStep2);
            rt_UserSetVal(pPopup, POPUP_NUMUmObject2, 17000);
            Click(POPUP_ButtonAcceptObject2);
            Click(POPUP_ButtonDoFit);
            Screenshot(pPopup, "calibration-cycle.png");
            EXPECT_NEAR(DblVal(pPopup, POPUP_NUMFitSlope), 30.0, 1e-9);
            EXPECT_NEAR(DblVal(pPopup, POPUP_NUMFitIntercept), -1000.0, 1e-6);
            Click(POPUP_ButtonSaveCalValues);
            EXPECT_EQ(StatusLine(), "New Calibration values in activated in RAM!");
            EXPECT_EQ(slope, 30720);
            EXPECT_EQ(intersect, 29000);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 30.0);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), -1000.0);
        },
        [&] {
            umAfter = umValue;
            mvAfter = Mvalue;
        },
        [&] { Click(POPUP_DiscardCalibration); },
    });
    Click(POPUP_ActivateCalibration);
    EXPECT_EQ(loop, 1);
    EXPECT_EQ(pixel[0], 200.0);
    EXPECT_EQ(pixel[1], 600.0);
    EXPECT_EQ(mvAfter, 600);
    EXPECT_EQ(umAfter, 17000u);   // the live value follows the new line
    EXPECT_EQ(StatusLine(), "Calibration stopped successfully!");
    EXPECT_EQ(eMode, mode);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_FALSE(rt_IsShown(pPopup));
    // the simulator's RAM holds the new words
    slope = intersect = 0;
    PushGET(RAM);
    EXPECT_EQ(slope, 30720);
    EXPECT_EQ(intersect, 29000);
}

// Object sizes whose line the sensor's words cannot hold, taken as an
// operator takes them: the popup's controls clicked and typed into, the
// simulator measuring the objects. The fit is refused with a message, the
// save cannot be pressed, and the sensor keeps its calibration.
TEST_F(CalibSim, FitOutsideTheWordsIsRefused) {
    struct Case {
        const char *name;
        int l1, r1, size1, l2, r2, size2;   // objects (virtual pixels) and their sizes (um)
        int slopeWord, offsetWord;          // 0 0: refused
    } cases[] = {
        {"swapped sizes", 400, 600, 21960, 300, 900, 7960, 0, 0},       // -35 um/px
        {"too steep", 400, 600, 1000, 300, 900, 30000, 0, 0},           // 72.5 um/px
        {"offset too low", 100, 1100, 19000, 100, 1200, 24000, 0, 0},   // 50 um/px, -31000 um
        {"offset too high", 400, 600, 40000, 300, 900, 45000, 0, 0},    // 12.5 um/px, +37500 um
        {"steepest here", 400, 600, 12880, 300, 900, 38440, 65433, 30100},   // 63.9 um/px, +100 um
    };
    std::vector<RtPopup> seen;
    rt_SetPopupHook([&seen](const RtPopup &p) {
        seen.push_back(p);
        return RtPopupAnswer{};
    });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        // a fresh popup for each case: offscreen, a popup hidden by the
        // discard and shown again never becomes the active window, and keys
        // go to the active window only
        DiscardPanel(pPopup);
        pPopup = LoadPanel(0, KVEX_UIR_PATH, POPUP);
        ASSERT_GT(pPopup, 0);
        DisplayPanel(pPopup);
        std::string afterFit;
        bool saveReachable = true;
        auto take = [&](const char *check, const char *size, const char *accept, int um) {
            EXPECT_TRUE(drive::Click(pPopup, check));
            EXPECT_TRUE(drive::Type(pPopup, size, std::to_string(um)));
            EXPECT_TRUE(drive::Key(pPopup, size, "Tab"));
            EXPECT_TRUE(drive::Click(pPopup, accept));
        };
        Steps({
            [&] { sim.Command("object " + std::to_string(c.l1) + " " + std::to_string(c.r1)); },
            [&] {
                take("CheckStep1", "NUMUmObject1", "ButtonAcceptObject1", c.size1);
                sim.Command("object " + std::to_string(c.l2) + " " + std::to_string(c.r2));
            },
            [&] {
                take("CheckStep2", "NUMUmObject2", "ButtonAcceptObject2", c.size2);
                EXPECT_TRUE(drive::Click(pPopup, "ButtonDoFit"));
                afterFit = PopupState();
                saveReachable = drive::Click(pPopup, "ButtonSaveCalValues");
            },
            [&] { EXPECT_TRUE(drive::Click(pPopup, "DiscardCalibration")); },
        });
        EXPECT_TRUE(drive::Click(pPopup, "ActivateCalibration"));
        EXPECT_EQ(pixel[0], c.r1 - c.l1);
        EXPECT_EQ(pixel[1], c.r2 - c.l2);
        EXPECT_EQ(umeter[0], c.size1);
        EXPECT_EQ(umeter[1], c.size2);
        slope = intersect = 0;
        PushGET(RAM);
        if (c.slopeWord == 0) {
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].kind, 1);
            EXPECT_NE(seen[0].message.find("cannot be stored"), std::string::npos)
                << seen[0].message;
            EXPECT_EQ(afterFit, "chk1=E0 chk2=E0 acc1=D acc2=D fit=D save=D");
            EXPECT_FALSE(saveReachable);
            // the sensor keeps the calibration it had
            EXPECT_EQ(slope, 12800);
            EXPECT_EQ(intersect, 30000);
        } else {
            EXPECT_TRUE(seen.empty());
            EXPECT_EQ(afterFit, "chk1=D0 chk2=D0 acc1=D acc2=D fit=D save=E");
            EXPECT_TRUE(saveReachable);
            EXPECT_EQ(slope, c.slopeWord);
            EXPECT_EQ(intersect, c.offsetWord);
        }
    }
}

TEST_F(CalibSim, SilentSimulator) {
    sim.Command("no-answer 12");
    sim.Output(1.0, "ok no-answer 12");
    Click(POPUP_ActivateCalibration);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(PopupState(), kAllDimmed);
    EXPECT_EQ(stop_flag, STOP_ASKED);

    // a cycle that the simulator answers up to the save
    sim.Command("answer 12");
    sim.Output(1.0, "ok answer 12");
    Steps({
        [&] {
            Click(POPUP_CheckStep1);
            Click(POPUP_ButtonAcceptObject1);
            sim.Command("object 300 900");
        },
        [&] {
            Click(POPUP_CheckStep2);
            Click(POPUP_ButtonAcceptObject2);
            Click(POPUP_ButtonDoFit);
            sim.Command("silent on");
        },
        [&] {
            Click(POPUP_ButtonSaveCalValues);
            EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
            EXPECT_EQ(PopupState(), kAllDimmed);
            EXPECT_EQ(flagstep1, 1);
            EXPECT_EQ(flagstep2, 1);
            // 200 and 600 px for the default sizes 7960 and 21960 um: 35 um/px, +960 um
            EXPECT_EQ(slope, 35840);
            EXPECT_EQ(intersect, 30960);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalSlope), 12.5);
            EXPECT_FLOAT_EQ(DblVal(pPopup, POPUP_NUMCalOffset), 0.0);
        },
    });
    Click(POPUP_ActivateCalibration);   // ends when the silent line times out the live loop
    EXPECT_NE(stop_flag, STOP_RUNNING);
    Click(POPUP_DiscardCalibration);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(PopupState(), kAllDimmed);
    EXPECT_EQ(flagstep1, 0);
    EXPECT_FALSE(rt_IsShown(pPopup));
    EXPECT_EQ(slope, 35840);
    EXPECT_EQ(intersect, 30960);
}

TEST_F(CalibSim, ResetMaxMin) {
    // the reset belongs to the MAX/MIN analogue modes: its group shows with them
    rt_UserSetVal(pHandle, PANEL_RINGanaMode, 2);
    ASSERT_EQ(Attr(pHandle, PANEL_CTRLAnaGroupB, ATTR_VISIBLE), 1);
    // a live run fills the max/min memory, the reset clears it
    rt_After(0.5, [] { rt_UserClick(pHandle, PANEL_BTNStop); });
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_EQ(anaMax, 600);
    Pump(0.2);   // the stopped loop's last reply is still on the line
    rt_UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_EQ(StatusLine(), "Reset of analog-output Max/Min OK!");
    EXPECT_EQ(pp[11], 0);      // the sensor's max after the reset
    EXPECT_EQ(pp[12], 2047);   // and its min
    sim.Command("silent on");
    sim.Output(1.0, "ok silent on");
    double t0 = Timer();
    rt_UserClick(pHandle, PANEL_ButtonReset);
    EXPECT_GE(Timer() - t0, 1.5);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
}

}   // namespace

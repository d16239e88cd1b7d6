// Unsent edits marked on the parameter panel, driven through the widgets
// against the simulator.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/app.h"
#include "rt/rt_testing.h"
#include "link/frame.h"
#include "params/vars.h"
#include "tests/support/support.h"

namespace {

const char kMark[] = "not in the sensor yet: sensor has ";

int Marked(int panel, int control) { return rt_GetCtrlMark(panel, control); }

// Every word control of both panels that carries a mark.
std::vector<std::string> AllMarked() {
    struct C {
        int *panel;
        const char *name;
    };
    static const C all[] = {
        {&pHandle, "NUMPower"},       {&pHandle, "RINGRs232Mode"},  {&pHandle, "NUMVideoThreshold"},
        {&pHandle, "RINGanaMode"},    {&pHandle, "NUMPolarity"},    {&pHandle, "NUMEvalMode"},
        {&pHandle, "NEDITEdgeLeft"},  {&pHandle, "NEDITEdgeRight"}, {&pHandle, "NUMSetpoint"},
        {&pHandle, "NEDITTolerance"}, {&pHandle, "SWITCHOpMode"},   {&pHandle, "DROPHardware"},
        {&pPopup, "NUMCalSlope"},     {&pPopup, "NUMCalOffset"},    {&pHandle, "NUMAverage"},
        {&pHandle, "NUMDeltaTol"},    {&pHandle, "RINGTrigMode"}};
    std::vector<std::string> out;
    for (const C &c : all)
        if (Marked(*c.panel, rt_Find(*c.panel, c.name)) == 1) out.push_back(c.name);
    return out;
}

std::string Tip(int panel, const char *name) { return rt_GetToolTip(panel, rt_Find(panel, name)); }

class Marks : public ::testing::Test {
protected:
    SimProcess sim;
    void SetUp() override {
        ASSERT_EQ(StartConnected(sim, {"--fast", "--softversion", "252"}), "");
        ASSERT_EQ(StatusLine().rfind("K-VEX-XC-SIM Firmware V2.52", 0), 0u) << StatusLine();
        rt_After(30.0, [] { stop_flag = STOP_ASKED; });
    }
    void TearDown() override {
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        CloseCom(com);
        sim.Stop();
    }
};

}   // namespace

TEST_F(Marks, NothingMarkedRightAfterTheFirstGet) {
    EXPECT_TRUE(AllMarked().empty());
    EXPECT_EQ(Tip(pHandle, "NUMPower").find(kMark), std::string::npos);
}

// Typed, tabbed away, sent: the mark comes with the edit and goes with Send;
// a value the panel corrects is compared as it will go out.
TEST_F(Marks, AnEditIsMarkedUntilItIsSent) {
    struct Case {
        const char *field, *typed;
        bool marked;
        const char *sensorHas;
    } cases[] = {
        {"NUMPower", "700", true, "500"},
        {"NUMAverage", "16", true, "0"},
        {"NUMSetpoint", "900", true, "512"},
        {"NEDITEdgeLeft", "300", true, "1"},
        // corrected to the last pixel on commit: the sensor has that already
        {"NEDITEdgeRight", "5000", false, ""},
        // typed back to what the sensor has: nothing to send
        {"NUMVideoThreshold", "512", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        ASSERT_TRUE(drive::Type(pHandle, c.field, c.typed));
        ASSERT_TRUE(drive::Key(pHandle, c.field, "Tab"));
        Pump(0.05);
        const int id = rt_Find(pHandle, c.field);
        EXPECT_EQ(Marked(pHandle, id), c.marked ? 1 : 0);
        const std::string tip = Tip(pHandle, c.field);
        if (c.marked) {
            EXPECT_EQ(tip.rfind(kMark + std::string(c.sensorHas), 0), 0u) << tip;
            EXPECT_EQ(AllMarked(), std::vector<std::string>{c.field});
        } else {
            EXPECT_EQ(tip.find(kMark), std::string::npos) << tip;
            EXPECT_TRUE(AllMarked().empty());
        }
        ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+S"));
        Pump(0.05);
        EXPECT_TRUE(AllMarked().empty());
        EXPECT_EQ(Tip(pHandle, c.field).find(kMark), std::string::npos);
    }
    // what was sent is what the sensor holds: a Get brings no mark and the values back
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_EQ(power, 700);
    EXPECT_EQ(average, 16);
    EXPECT_EQ(tVal, 900);
    EXPECT_EQ(eBeg, 300);
    EXPECT_EQ(eEnd, 2048);
    EXPECT_EQ(vThd, 512);
    EXPECT_TRUE(AllMarked().empty());
}

// Enter takes the value and marks it while the field keeps the focus; Send
// from the keyboard with an edit still in progress takes that edit and
// clears the mark.
TEST_F(Marks, MarkedWhileTheFieldStillHasTheFocus) {
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "640"));
    ASSERT_TRUE(drive::Key(pHandle, "NUMPower", "Return"));
    Pump(0.05);
    EXPECT_TRUE(drive::HasFocus(pHandle, "NUMPower"));
    EXPECT_EQ(AllMarked(), std::vector<std::string>{"NUMPower"});
    ASSERT_TRUE(drive::Type(pHandle, "NUMPower", "650"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+S"));
    Pump(0.05);
    EXPECT_TRUE(AllMarked().empty());
    EXPECT_EQ(power, 650);
}

// Rings, the switch, the wheel and the calibration popup mark as well.
TEST_F(Marks, EveryKindOfControlIsMarked) {
    ASSERT_TRUE(drive::Choose(pHandle, "RINGTrigMode", "Gate IN0"));
    EXPECT_EQ(AllMarked(), std::vector<std::string>{"RINGTrigMode"});
    EXPECT_EQ(Tip(pHandle, "RINGTrigMode").rfind(std::string(kMark) + "0", 0), 0u);
    ASSERT_TRUE(drive::Click(pHandle, "SWITCHOpMode"));
    ASSERT_TRUE(drive::Wheel(pHandle, "NUMPolarity", 1));
    Pump(0.05);
    EXPECT_EQ(AllMarked(),
              (std::vector<std::string>{"NUMPolarity", "SWITCHOpMode", "RINGTrigMode"}));
    DisplayPanel(pPopup);
    ASSERT_TRUE(drive::Type(pPopup, "NUMCalSlope", "13"));
    ASSERT_TRUE(drive::Key(pPopup, "NUMCalSlope", "Tab"));
    Pump(0.05);
    EXPECT_EQ(Marked(pPopup, POPUP_NUMCalSlope), 1);
    EXPECT_EQ(Tip(pPopup, "NUMCalSlope").rfind(std::string(kMark) + "12.5", 0), 0u)
        << Tip(pPopup, "NUMCalSlope");
    HidePanel(pPopup);
    // a Get discards the edits: the panel shows the sensor's set, unmarked
    ASSERT_TRUE(drive::Activate(pHandle));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_TRUE(AllMarked().empty());
}

// The sensor's RAM changed behind the tool's back: the marks still compare
// with what was last exchanged, and a Get brings the new values unmarked.
TEST_F(Marks, GetAfterTheSensorChangedBringsItsValuesUnmarked) {
    ASSERT_TRUE(SimDo(sim, "ram 0 650"));
    ASSERT_TRUE(SimDo(sim, "ram 14 8"));
    Pump(0.05);
    EXPECT_TRUE(AllMarked().empty());
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_EQ(drive::Shown(pHandle, "NUMPower"), "650");
    EXPECT_EQ(drive::Shown(pHandle, "NUMAverage"), "8");
    EXPECT_TRUE(AllMarked().empty());
    // an out-of-range word is corrected on the panel: it will go out
    // corrected, so it is marked with what the sensor really has
    ASSERT_TRUE(SimDo(sim, "ram 2 20"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_EQ(drive::Shown(pHandle, "NUMVideoThreshold"), "50");
    EXPECT_EQ(AllMarked(), std::vector<std::string>{"NUMVideoThreshold"});
    EXPECT_EQ(Tip(pHandle, "NUMVideoThreshold").rfind(std::string(kMark) + "20", 0), 0u);
}

// A set loaded from a file is compared like an edit, dimmed controls
// included; a time-out keeps the marks.
TEST_F(Marks, AFileSetIsMarkedDimmedControlsIncluded) {
    const std::string path = testfs::TempDir("ridar-marks") + "/marks.dat";
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    // the simulator's defaults except tolerance 60 (dimmed: variant 1)
    const int words[16] = {500, 0, 512, 0, 0, 1, 1, 2048, 512, 60, 0, 1, 12800, 30000, 0, 0};
    for (int w : words) std::fprintf(f, "%5d\n", w);
    std::fclose(f);
    rt_SetPopupHook([path](const RtPopup &p) {
        RtPopupAnswer a;
        if (p.kind == 3) {
            a.result = 1;
            a.path = path;
        }
        return a;
    });
    ASSERT_TRUE(drive::Click(pHandle, "RBTFile"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_EQ(Dimmed(pHandle, PANEL_NEDITTolerance), 1);
    EXPECT_EQ(AllMarked(), std::vector<std::string>{"NEDITTolerance"});
    // a silent sensor: the Get times out, nothing was exchanged, the loaded
    // set stays on the panel and stays marked
    ASSERT_TRUE(drive::Click(pHandle, "RBTRam"));
    ASSERT_TRUE(SimDo(sim, "silent on"));
    ASSERT_TRUE(drive::PanelKey(pHandle, "Ctrl+G"));
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(AllMarked(), std::vector<std::string>{"NEDITTolerance"});
    EXPECT_EQ(Tip(pHandle, "NEDITTolerance").rfind(std::string(kMark) + "100", 0), 0u);
}

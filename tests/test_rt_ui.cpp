// The user-interface half of the run-time layer, against a small resource
// file of its own (tests/data/rt_test.uir).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSpinBox>
#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <qcustomplot.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt.h"
#include "rt/rt_testing.h"

namespace {

// clang-format off
enum {
    BTNCmd = 2, TOGGLEOn, CHECKBox, RBTA, RBTB, SWITCHMode, NUMWord, NUMInt, NUMDouble, NUMFloat,
    RINGMode, TEXTBox, TEXTMsg, CTRLGroup, BTNInner, NUMInner, DECOBack, PICTPic, GRAPHBar, STRIPRaw,
    NUMNoCb, NUMShow,
};
// clang-format on

struct Ev {
    int panel, control, event;
};
std::vector<Ev> g_events;

int Record(int panel, int control, int event, void *, int, int) {
    g_events.push_back({panel, control, event});
    return 0;
}

std::string Dir() {
    std::string f = __FILE__;
    return f.substr(0, f.rfind('/'));
}
std::string Uir() { return Dir() + "/data/rt_test.uir"; }

std::vector<int> EventsOf(int control) {
    std::vector<int> out;
    for (const Ev &e : g_events)
        if (e.control == control) out.push_back(e.event);
    return out;
}

class RtUi : public ::testing::Test {
protected:
    void SetUp() override {
        static char arg0[] = "test_rt_ui";
        static char *argv[] = {arg0, nullptr};
        ASSERT_EQ(InitCVIRTE(1, argv), 1);
        static const RtCallbackEntry table[] = {
            {"CC_TMAIN", Record},      {"CC_BTNCmd", Record},   {"CC_TOGGLEOn", Record},
            {"CC_CHECKBox", Record},   {"CC_RBTA", Record},     {"CC_RBTB", Record},
            {"CC_SWITCHMode", Record}, {"CC_NUMWord", Record},  {"CC_NUMInt", Record},
            {"CC_NUMDouble", Record},  {"CC_NUMFloat", Record}, {"CC_RINGMode", Record},
            {"CC_TEXTMsg", Record},    {"CC_BTNInner", Record}, {"CC_NUMInner", Record},
            {"CC_BTNOther", Record},   {"CC_Nothing", nullptr},
        };
        RegisterCallbacks(table, sizeof table / sizeof table[0]);
        rt_SetPopupHook(nullptr);
        p = LoadPanel(0, Uir().c_str(), 1);
        ASSERT_GT(p, 0);
        g_events.clear();
    }
    void TearDown() override {
        DiscardPanel(p);
        rt_SetPopupHook(nullptr);
    }
    int p = 0;
};

// ---- loading --------------------------------------------------------------------------

TEST_F(RtUi, LoadPanelFailuresGiveNegativeHandles) {
    std::string junk = std::string(KVEX_BUILD_DIR) + "/rt_junk.uir";
    FILE *f = fopen(junk.c_str(), "w");
    ASSERT_TRUE(f);
    fputs("this is not a resource file\n", f);
    fclose(f);
    std::string empty = std::string(KVEX_BUILD_DIR) + "/rt_empty.uir";
    f = fopen(empty.c_str(), "w");
    fclose(f);
    const std::string dir = Dir();
    struct {
        const char *file;
        int id;
    } cases[] = {
        {"/nonexistent/dir/none.uir", 1},
        {junk.c_str(), 1},
        {empty.c_str(), 1},
        {dir.c_str(), 1},   // a directory
        {nullptr, 1},
    };
    for (auto &c : cases) EXPECT_LT(LoadPanel(0, c.file, c.id), 0) << (c.file ? c.file : "null");
    std::string uir = Uir();
    EXPECT_EQ(LoadPanel(0, uir.c_str(), 9), RT_UIE_NO_PANEL);
    EXPECT_EQ(LoadPanel(0, uir.c_str(), 0), RT_UIE_NO_PANEL);
    EXPECT_EQ(LoadPanel(0, uir.c_str(), -1), RT_UIE_NO_PANEL);
}

TEST_F(RtUi, EveryLoadIsAFreshIndependentPanel) {
    int q = LoadPanel(0, Uir().c_str(), 1);
    ASSERT_GT(q, 0);
    EXPECT_NE(q, p);
    SetCtrlVal(p, NUMWord, 11);
    SetCtrlVal(q, NUMWord, 22);
    uint16_t a = 0, b = 0;
    GetCtrlVal(p, NUMWord, &a);
    GetCtrlVal(q, NUMWord, &b);
    EXPECT_EQ(a, 11);
    EXPECT_EQ(b, 22);
    EXPECT_EQ(rt_IsShown(q), 0);   // loaded hidden
    EXPECT_EQ(DiscardPanel(q), 0);
    EXPECT_LT(DisplayPanel(q), 0);
    EXPECT_LT(DiscardPanel(q), 0);
    EXPECT_EQ(rt_Find(p, "NUMWord"), NUMWord);
    EXPECT_EQ(rt_Find(p, "LABELPlain"), -1);   // no id: not addressable
    EXPECT_EQ(rt_Find(p, "NoSuch"), -1);
}

TEST_F(RtUi, InvalidHandlesAndControlsAreRefusedNotCrashed) {
    uint16_t w;
    int i;
    double d;
    char buf[8] = "keep";
    int bad[][2] = {{0, NUMWord}, {9999, NUMWord}, {-3, NUMWord}, {p, 0}, {p, 999}, {p, -1}};
    for (auto &b : bad) {
        SCOPED_TRACE(std::to_string(b[0]) + "/" + std::to_string(b[1]));
        EXPECT_LT(SetCtrlVal(b[0], b[1], 1), 0);
        EXPECT_LT(SetCtrlVal(b[0], b[1], 1.5), 0);
        EXPECT_LT(SetCtrlVal(b[0], b[1], "x"), 0);
        EXPECT_LT(GetCtrlVal(b[0], b[1], &w), 0);
        EXPECT_LT(GetCtrlVal(b[0], b[1], &i), 0);
        EXPECT_LT(GetCtrlVal(b[0], b[1], &d), 0);
        EXPECT_LT(GetCtrlVal(b[0], b[1], buf, sizeof buf), 0);
        EXPECT_LT(SetCtrlAttribute(b[0], b[1], ATTR_DIMMED, 1), 0);
        EXPECT_LT(GetCtrlAttribute(b[0], b[1], ATTR_DIMMED, &i), 0);
        EXPECT_LT(SetActiveCtrl(b[0], b[1]), 0);
        EXPECT_LT(ClearListCtrl(b[0], b[1]), 0);
        EXPECT_LT(InsertListItem(b[0], b[1], -1, "x", 1), 0);
        EXPECT_LT(ResetTextBox(b[0], b[1], "x"), 0);
        EXPECT_LT(ReplaceTextBoxLine(b[0], b[1], 0, "x"), 0);
        EXPECT_LT(DisplayImageFile(b[0], b[1], "x.bmp"), 0);
        EXPECT_LT(SetGraphCursor(b[0], b[1], 1, 0, 0), 0);
        EXPECT_LT(PlotRectangle(b[0], b[1], 0, 0, 1, 1, 0, 0), 0);
        EXPECT_LT(DeleteGraphPlot(b[0], b[1], -1, 0), 0);
        EXPECT_LT(SetAxisScalingMode(b[0], b[1], 0, 0, 0, 1), 0);
        EXPECT_LT(PlotStripChart(b[0], b[1], &d, 1, 0, 0, VAL_DOUBLE), 0);
        rt_UserClick(b[0], b[1]);
        rt_UserSetVal(b[0], b[1], 1);
        EXPECT_EQ(rt_GetCtrlText(b[0], b[1]), "");
    }
    EXPECT_STREQ(buf, "");   // a failed read leaves a terminated, empty string
    EXPECT_LT(DisplayPanel(0), 0);
    EXPECT_LT(HidePanel(77), 0);
    EXPECT_LT(SetActivePanel(77), 0);
    EXPECT_LT(NewCtrl(77, CTRL_TEXT_MSG, "", 0, 0), 0);
    EXPECT_EQ(rt_IsShown(77), 0);
    rt_UserClosePanel(77);
    // kinds that do not fit the operation
    EXPECT_EQ(SetCtrlVal(p, TEXTMsg, 5), RT_UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(p, NUMWord, "5"), RT_UIE_BAD_TYPE);
    EXPECT_EQ(ClearListCtrl(p, NUMWord), RT_UIE_BAD_TYPE);
    EXPECT_EQ(ReplaceTextBoxLine(p, NUMWord, 0, "x"), RT_UIE_BAD_TYPE);
    EXPECT_EQ(PlotRectangle(p, STRIPRaw, 0, 0, 1, 1, 0, 0), RT_UIE_BAD_TYPE);
    EXPECT_EQ(PlotStripChart(p, GRAPHBar, &d, 1, 0, 0, VAL_DOUBLE), RT_UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlAttribute(p, NUMWord, 12345, 1), RT_UIE_BAD_ATTR);
    EXPECT_EQ(SetCtrlAttribute(p, NUMWord, ATTR_NUM_TRACES, 6), RT_UIE_BAD_ATTR);
    EXPECT_EQ(GetCtrlVal(p, NUMWord, static_cast<char *>(nullptr), 10), RT_UIE_BAD_VALUE);
    EXPECT_EQ(GetCtrlVal(p, NUMWord, static_cast<uint16_t *>(nullptr)), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetCtrlVal(p, TEXTMsg, static_cast<const char *>(nullptr)), RT_UIE_BAD_VALUE);
}

// ---- events ------------------------------------------------------------------------------

TEST_F(RtUi, OperatorActionsRaiseTheEventsOfTheirKind) {
    struct Case {
        const char *what;
        int control;
        bool click;
        double value;
        std::vector<int> events;
        double after;
    };
    std::vector<Case> cases = {
        {"command button", BTNCmd, true, 0, {EVENT_LEFT_CLICK, EVENT_COMMIT}, -1},
        {"toggle on", TOGGLEOn, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"toggle off", TOGGLEOn, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 0},
        {"check box", CHECKBox, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"radio on", RBTB, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"radio off again", RBTB, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 0},
        {"switch", SWITCHMode, true, 0, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"word numeric", NUMWord, false, 1234, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1234},
        {"int numeric", NUMInt, false, -77, {EVENT_VAL_CHANGED, EVENT_COMMIT}, -77},
        {"double numeric", NUMDouble, false, 2.5, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 2.5},
        {"numeric above its limit", NUMInt, false, 5000, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1000},
        {"ring", RINGMode, false, 2, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 2},
        {"toggle by value", TOGGLEOn, false, 1, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"no callback bound", NUMNoCb, false, 9, {}, 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_events.clear();
        if (c.click) rt_UserClick(p, c.control);
        else rt_UserSetVal(p, c.control, c.value);
        EXPECT_EQ(EventsOf(c.control), c.events);
        for (const Ev &e : g_events) EXPECT_EQ(e.panel, p);
        EXPECT_EQ(g_events.size(), c.events.size()) << "events on other controls";
        if (c.after >= 0) {
            double v = -1;
            EXPECT_EQ(GetCtrlVal(p, c.control, &v), 0);
            EXPECT_DOUBLE_EQ(v, c.after);
        }
    }
    // typed text
    g_events.clear();
    rt_UserSetText(p, TEXTMsg, "typed");
    EXPECT_EQ(EventsOf(TEXTMsg), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(rt_GetCtrlText(p, TEXTMsg), "typed");
    // radio buttons are independent: RBTA kept its state through RBTB's clicks
    int a = 0;
    GetCtrlVal(p, RBTA, &a);
    EXPECT_EQ(a, 1);
}

TEST_F(RtUi, ProgramSetValuesRaiseNoEvent) {
    SetCtrlAttribute(p, SWITCHMode, ATTR_ON_TEXT, "RUN");
    for (int round = 0; round < 2; ++round) {
        SetCtrlVal(p, TOGGLEOn, round ? 0 : 1);
        SetCtrlVal(p, CHECKBox, 1);
        SetCtrlVal(p, RBTA, 0);
        SetCtrlVal(p, RBTB, 1);
        SetCtrlVal(p, SWITCHMode, 1 - round);
        SetCtrlVal(p, NUMWord, 500 + round);
        SetCtrlVal(p, NUMInt, -5.0 - round);
        SetCtrlVal(p, NUMDouble, 3.25 + round);
        SetCtrlVal(p, NUMFloat, 1.5f);
        SetCtrlVal(p, RINGMode, 1 + round);
        SetCtrlVal(p, TEXTMsg, "status");
        SetCtrlVal(p, TEXTBox, "box");
        ClearListCtrl(p, RINGMode);
        InsertListItem(p, RINGMode, -1, "X", 4);
        SetCtrlVal(p, RINGMode, 4);
        ResetTextBox(p, TEXTBox, "again");
        ReplaceTextBoxLine(p, TEXTBox, 2, "line");
        SetCtrlAttribute(p, CTRLGroup, ATTR_DIMMED, 1 - round);
        SetActiveCtrl(p, NUMWord);
        SetActiveCtrl(p, NUMInt);   // the focus leaves a numeric whose value the program changed
        Pump(0.05);
    }
    EXPECT_TRUE(g_events.empty()) << g_events.size() << " events, first on control "
                                  << g_events[0].control;
}

TEST_F(RtUi, SwitchShowsItsOnAndOffTexts) {
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "Manual");   // off text of the file
    SetCtrlVal(p, SWITCHMode, 1);
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "ON");   // none in the file
    SetCtrlVal(p, SWITCHMode, 0);
    EXPECT_EQ(SetCtrlAttribute(p, SWITCHMode, ATTR_ON_TEXT, "Analog"), 0);
    EXPECT_EQ(SetCtrlAttribute(p, SWITCHMode, ATTR_OFF_TEXT, "Digital"), 0);
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "Digital");
    SetCtrlVal(p, SWITCHMode, 1);
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "Analog");
    rt_UserClick(p, SWITCHMode);
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "Digital");
    EXPECT_EQ(SetCtrlAttribute(p, SWITCHMode, ATTR_OFF_TEXT, "Off"), 0);
    EXPECT_EQ(rt_GetCtrlText(p, SWITCHMode), "Off");
    EXPECT_EQ(SetCtrlAttribute(p, NUMWord, ATTR_ON_TEXT, "x"), RT_UIE_BAD_ATTR);
}

TEST_F(RtUi, CloseBoxAsksThePanelCallbackAndTheWindowStays) {
    DisplayPanel(p);
    EXPECT_EQ(rt_IsShown(p), 1);
    rt_UserClosePanel(p);
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].panel, p);
    EXPECT_EQ(g_events[0].control, 0);
    EXPECT_EQ(g_events[0].event, EVENT_CLOSE);
    Pump(0.02);
    EXPECT_EQ(rt_IsShown(p), 1);
    HidePanel(p);
    EXPECT_EQ(rt_IsShown(p), 0);
    // a panel without a callback: nothing happens
    int q = LoadPanel(0, Uir().c_str(), 2);
    ASSERT_GT(q, 0);
    DisplayPanel(q);
    g_events.clear();
    rt_UserClosePanel(q);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(rt_IsShown(q), 1);
    rt_UserClick(q, 2);
    EXPECT_EQ(EventsOf(2), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}));
    EXPECT_EQ(g_events[0].panel, q);
    DiscardPanel(q);
}

// ---- dimming and visibility ----------------------------------------------------------------

TEST_F(RtUi, DimmedContainerDimsWhatItHoldsButReportsOwnSetting) {
    int v = -1;
    SetCtrlAttribute(p, CTRLGroup, ATTR_DIMMED, 1);
    GetCtrlAttribute(p, CTRLGroup, ATTR_DIMMED, &v);
    EXPECT_EQ(v, 1);
    GetCtrlAttribute(p, BTNInner, ATTR_DIMMED, &v);
    EXPECT_EQ(v, 0);
    rt_UserClick(p, BTNInner);
    rt_UserSetVal(p, NUMInner, 5);
    EXPECT_TRUE(g_events.empty()) << "a dimmed container let an operator action through";
    rt_UserClick(p, BTNCmd);   // outside the container
    EXPECT_EQ(EventsOf(BTNCmd).size(), 2u);

    // an inner control dimmed on its own stays dimmed when the container wakes
    SetCtrlAttribute(p, NUMInner, ATTR_DIMMED, 1);
    SetCtrlAttribute(p, CTRLGroup, ATTR_DIMMED, 0);
    g_events.clear();
    rt_UserSetVal(p, NUMInner, 6);
    rt_UserClick(p, BTNInner);
    EXPECT_EQ(EventsOf(NUMInner).size(), 0u);
    EXPECT_EQ(EventsOf(BTNInner), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}));
    SetCtrlAttribute(p, NUMInner, ATTR_DIMMED, 0);
    g_events.clear();
    rt_UserSetVal(p, NUMInner, 7);
    EXPECT_EQ(EventsOf(NUMInner).size(), 2u);

    // hiding works the same way
    SetCtrlAttribute(p, CTRLGroup, ATTR_VISIBLE, 0);
    GetCtrlAttribute(p, CTRLGroup, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 0);
    GetCtrlAttribute(p, BTNInner, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 1);
    g_events.clear();
    rt_UserClick(p, BTNInner);
    EXPECT_TRUE(g_events.empty());
    SetCtrlAttribute(p, CTRLGroup, ATTR_VISIBLE, 1);
    rt_UserClick(p, BTNInner);
    EXPECT_EQ(EventsOf(BTNInner).size(), 2u);
    // dimmed values are still set and read by the program
    SetCtrlAttribute(p, NUMWord, ATTR_DIMMED, 1);
    EXPECT_EQ(SetCtrlVal(p, NUMWord, 42), 0);
    uint16_t w = 0;
    GetCtrlVal(p, NUMWord, &w);
    EXPECT_EQ(w, 42);
}

TEST_F(RtUi, AttributesReadBackAsSet) {
    // clang-format off
    struct { int ctrl, attr, value; } cases[] = {
        {NUMWord, ATTR_TEXT_BGCOLOR, VAL_RED}, {NUMWord, ATTR_TEXT_BGCOLOR, VAL_DK_GREEN},
        {NUMWord, ATTR_TEXT_COLOR, VAL_BLUE}, {TEXTMsg, ATTR_TEXT_BOLD, 1}, {TEXTMsg, ATTR_TEXT_BOLD, 0},
        {DECOBack, ATTR_FRAME_COLOR, VAL_BLUE}, {PICTPic, ATTR_LEFT, 300}, {PICTPic, ATTR_TOP, 10},
        {BTNCmd, ATTR_VISIBLE, 0}, {BTNCmd, ATTR_VISIBLE, 1}, {BTNCmd, ATTR_DIMMED, 1},
        {STRIPRaw, ATTR_NUM_TRACES, 6}, {STRIPRaw, ATTR_POINTS_PER_SCREEN, 101}, {STRIPRaw, ATTR_SCROLL_MODE, 1},
    };
    // clang-format on
    for (auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.ctrl) + " attr " + std::to_string(c.attr));
        EXPECT_EQ(SetCtrlAttribute(p, c.ctrl, c.attr, c.value), 0);
        int v = -1;
        EXPECT_EQ(GetCtrlAttribute(p, c.ctrl, c.attr, &v), 0);
        EXPECT_EQ(v, c.value);
    }
    EXPECT_EQ(SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 1), RT_UIE_BAD_VALUE);
}

// ---- values -----------------------------------------------------------------------------------

TEST_F(RtUi, WordNumericTruncatesAndWrapsEveryInput) {
    // clang-format off
    struct { double in; uint16_t out; } dcases[] = {
        {0.0, 0}, {1.9, 1}, {65535.0, 65535}, {65535.99, 65535}, {65536.0, 0}, {65536.7, 0},
        {70000.0, 4464}, {-1.0, 65535}, {-1.9, 65535}, {-0.5, 0}, {-65536.0, 0}, {-65537.0, 65535},
        {131072.0 + 5.5, 5}, {NAN, 0}, {INFINITY, 0}, {-INFINITY, 0}, {4294967296.0 + 3, 3},
    };
    // clang-format on
    for (auto &c : dcases) {
        SCOPED_TRACE(c.in);
        SetCtrlVal(p, NUMWord, 7);
        EXPECT_EQ(SetCtrlVal(p, NUMWord, c.in), 0);
        uint16_t w = 1;
        EXPECT_EQ(GetCtrlVal(p, NUMWord, &w), 0);
        EXPECT_EQ(w, c.out);
    }
    struct {
        int in;
        uint16_t out;
    } icases[] = {{-1, 65535}, {65537, 1}, {INT_MIN, 0}, {INT_MAX, 65535}};
    for (auto &c : icases) {
        SetCtrlVal(p, NUMWord, c.in);
        uint16_t w = 1;
        GetCtrlVal(p, NUMWord, &w);
        EXPECT_EQ(w, c.out) << c.in;
    }
    SetCtrlVal(p, NUMWord, 0xFFFFFFFFu);
    unsigned u = 0;
    GetCtrlVal(p, NUMWord, &u);
    EXPECT_EQ(u, 65535u);
}

TEST_F(RtUi, ReadsConvertWithoutUndefinedBehaviour) {
    struct {
        double set;
        uint16_t w;
        int i;
        unsigned u;
        float f;
    } cases[] = {
        {70000.9, 4464, 70000, 70000u, 70000.9f},
        {-2.75, 65534, -2, 4294967294u, -2.75f},
        {999999.5, 16959, 999999, 999999u, 999999.5f},
        {-1000000.0, 48576, -1000000, 4293967296u, -1000000.0f},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.set);
        SetCtrlVal(p, NUMDouble, c.set);
        uint16_t w;
        int i;
        unsigned u;
        float f;
        double d;
        GetCtrlVal(p, NUMDouble, &w);
        GetCtrlVal(p, NUMDouble, &i);
        GetCtrlVal(p, NUMDouble, &u);
        GetCtrlVal(p, NUMDouble, &f);
        GetCtrlVal(p, NUMDouble, &d);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(i, c.i);
        EXPECT_EQ(u, c.u);
        EXPECT_FLOAT_EQ(f, c.f);
        EXPECT_DOUBLE_EQ(d, c.set);
    }
    // integer numeric: truncation toward zero, limits of the file
    struct {
        double in;
        int out;
    } ic[] = {{3.9, 3}, {-3.9, -3}, {NAN, 0}, {1e30, 1000}, {-1e30, -1000}, {-INFINITY, 0}};
    for (auto &c : ic) {
        SetCtrlVal(p, NUMInt, c.in);
        int v = 99;
        GetCtrlVal(p, NUMInt, &v);
        EXPECT_EQ(v, c.out) << c.in;
    }
    // double numeric: out of range values are held at the limits, non-finite become 0
    struct {
        double in, out;
    } dc[] = {{1e9, 1e6}, {-1e9, -1e6}, {NAN, 0}, {INFINITY, 0}};
    for (auto &c : dc) {
        SetCtrlVal(p, NUMDouble, c.in);
        double v = 99;
        GetCtrlVal(p, NUMDouble, &v);
        EXPECT_EQ(v, c.out) << c.in;
    }
    SetCtrlVal(p, NUMFloat, 1e300);
    float f = 0;
    GetCtrlVal(p, NUMFloat, &f);
    EXPECT_EQ(f, 100000.0f);
}

TEST_F(RtUi, DoubleNumericKeepsTheProgramsExactValue) {
    // the display rounds to three decimals; the program reads back what it set
    SetCtrlVal(p, NUMDouble, 1.23456789);
    double d = 0;
    GetCtrlVal(p, NUMDouble, &d);
    EXPECT_EQ(d, 1.23456789);
    EXPECT_EQ(rt_GetCtrlText(p, NUMDouble), "1.235");
    // an operator entry replaces it
    rt_UserSetVal(p, NUMDouble, 2.5);
    GetCtrlVal(p, NUMDouble, &d);
    EXPECT_EQ(d, 2.5);
    // an int converts to the double it stands for
    SetCtrlVal(p, NUMDouble, -7);
    GetCtrlVal(p, NUMDouble, &d);
    EXPECT_EQ(d, -7.0);
}

TEST_F(RtUi, TogglesReadZeroOrOne) {
    int ctrls[] = {TOGGLEOn, CHECKBox, RBTA, RBTB, SWITCHMode};
    double ins[] = {1, 0, 5, -1, 0.5, NAN, 0};
    int outs[] = {1, 0, 1, 1, 1, 0, 0};
    for (int c : ctrls)
        for (size_t k = 0; k < sizeof ins / sizeof ins[0]; ++k) {
            SetCtrlVal(p, c, ins[k]);
            int v = -1;
            GetCtrlVal(p, c, &v);
            EXPECT_EQ(v, outs[k]) << "control " << c << " value " << ins[k];
        }
}

TEST_F(RtUi, StringsAreTerminatedAndCutToTheBuffer) {
    SetCtrlVal(p, TEXTMsg, "Echo Check - Line Ok!");
    char buf[64];
    EXPECT_EQ(GetCtrlVal(p, TEXTMsg, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "Echo Check - Line Ok!");
    char small[5];
    std::memset(small, 'z', sizeof small);
    GetCtrlVal(p, TEXTMsg, small, sizeof small);
    EXPECT_STREQ(small, "Echo");
    char one[1] = {'z'};
    GetCtrlVal(p, TEXTMsg, one, 1);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(GetCtrlVal(p, TEXTMsg, buf, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(rt_GetCtrlText(p, TEXTMsg), "Echo Check - Line Ok!");
    SetCtrlVal(p, TEXTMsg, "");
    EXPECT_EQ(rt_GetCtrlText(p, TEXTMsg), "");
}

// ---- rings and text boxes ---------------------------------------------------------------------

TEST_F(RtUi, RingItemsCarryTheirValues) {
    EXPECT_EQ(rt_GetListItems(p, RINGMode),
              (std::vector<std::string>{"DIRECT", "MAXIMA", "MINIMA"}));
    int v = -1;
    GetCtrlVal(p, RINGMode, &v);
    EXPECT_EQ(v, 0);   // items of the file: value = index
    SetCtrlVal(p, RINGMode, 2);
    EXPECT_EQ(rt_GetCtrlText(p, RINGMode), "MINIMA");

    EXPECT_EQ(ClearListCtrl(p, RINGMode), 0);
    int n = -1;
    GetNumListItems(p, RINGMode, &n);
    EXPECT_EQ(n, 0);
    EXPECT_LT(GetCtrlVal(p, RINGMode, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(InsertListItem(p, RINGMode, -1, "/dev/pts/3", 1), 0);
    EXPECT_EQ(InsertListItem(p, RINGMode, -1, "/dev/ttyS0", 3), 0);
    EXPECT_EQ(InsertListItem(p, RINGMode, 0, "first", 9), 0);
    EXPECT_LT(InsertListItem(p, RINGMode, 7, "beyond", 1), 0);
    EXPECT_LT(InsertListItem(p, RINGMode, -2, "before", 1), 0);
    EXPECT_EQ(rt_GetListItems(p, RINGMode),
              (std::vector<std::string>{"first", "/dev/pts/3", "/dev/ttyS0"}));
    GetNumListItems(p, RINGMode, &n);
    EXPECT_EQ(n, 3);
    // clang-format off
    struct { int set; int rc; int value; const char *text; } cases[] = {
        {3, 0, 3, "/dev/ttyS0"}, {1, 0, 1, "/dev/pts/3"}, {9, 0, 9, "first"},
        {2, RT_UIE_BAD_VALUE, 9, "first"},  // no item with value 2: selection stays
    };
    // clang-format on
    for (auto &c : cases) {
        EXPECT_EQ(SetCtrlVal(p, RINGMode, c.set), c.rc) << c.set;
        GetCtrlVal(p, RINGMode, &v);
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(rt_GetCtrlText(p, RINGMode), c.text);
    }
    // the operator picks by value too
    rt_UserSetVal(p, RINGMode, 3);
    GetCtrlVal(p, RINGMode, &v);
    EXPECT_EQ(v, 3);
    g_events.clear();
    rt_UserSetVal(p, RINGMode, 42);   // no such item: nothing happens
    EXPECT_TRUE(g_events.empty());

    char label[8];
    EXPECT_EQ(GetLabelFromIndex(p, RINGMode, 1, label, sizeof label), 0);
    EXPECT_STREQ(label, "/dev/pt");
    EXPECT_LT(GetLabelFromIndex(p, RINGMode, 3, label, sizeof label), 0);
    EXPECT_STREQ(label, "");
    EXPECT_LT(GetLabelFromIndex(p, RINGMode, -1, label, sizeof label), 0);
}

TEST_F(RtUi, TextBoxLinesAreReplacedAndPadded) {
    struct {
        const char *op;
        int line;
        const char *text;
        const char *expect;
    } steps[] = {
        {"reset", 0, "Sensor", "Sensor"},
        {"line", 3, "Firmware 252", "Sensor\n\n\nFirmware 252"},
        {"line", 0, "CCD 104", "CCD 104\n\n\nFirmware 252"},
        {"line", 1, "a", "CCD 104\na\n\nFirmware 252"},
        {"reset", 0, "", ""},
        {"line", 0, "only", "only"},
        {"line", 1, "", "only\n"},
        {"set", 0, "whole\ntext", "whole\ntext"},
    };
    for (auto &s : steps) {
        SCOPED_TRACE(std::string(s.op) + " " + s.text);
        if (!std::strcmp(s.op, "reset")) EXPECT_EQ(ResetTextBox(p, TEXTBox, s.text), 0);
        else if (!std::strcmp(s.op, "set")) EXPECT_EQ(SetCtrlVal(p, TEXTBox, s.text), 0);
        else EXPECT_EQ(ReplaceTextBoxLine(p, TEXTBox, s.line, s.text), 0);
        EXPECT_EQ(rt_GetCtrlText(p, TEXTBox), s.expect);
    }
    EXPECT_EQ(ReplaceTextBoxLine(p, TEXTBox, -1, "x"), RT_UIE_BAD_VALUE);
    EXPECT_EQ(rt_GetCtrlText(p, TEXTBox), "whole\ntext");
}

TEST_F(RtUi, NewTextMessageTakesItsAttributes) {
    int id = NewCtrl(p, CTRL_TEXT_MSG, "", 24, 20);
    ASSERT_GT(id, 0);
    int id2 = NewCtrl(p, CTRL_TEXT_MSG, "second", 40, 170);
    EXPECT_GT(id2, 0);
    EXPECT_NE(id, id2);
    EXPECT_EQ(rt_GetCtrlText(p, id2), "second");
    EXPECT_EQ(SetCtrlAttribute(p, id, ATTR_TEXT_FONT, "NIApp"), 0);
    EXPECT_EQ(SetCtrlAttribute(p, id, ATTR_TEXT_BGCOLOR, VAL_BLUE), 0);
    EXPECT_EQ(SetCtrlAttribute(p, id, ATTR_TEXT_COLOR, VAL_WHITE), 0);
    EXPECT_EQ(SetCtrlAttribute(p, id, ATTR_TEXT_POINT_SIZE, 18), 0);
    EXPECT_EQ(SetCtrlVal(p, id, "K-VEX-XC-Ridar"), 0);
    EXPECT_EQ(rt_GetCtrlText(p, id), "K-VEX-XC-Ridar");
    // clang-format off
    struct { int attr, value; } want[] = {
        {ATTR_TEXT_BGCOLOR, VAL_BLUE}, {ATTR_TEXT_COLOR, VAL_WHITE}, {ATTR_TEXT_POINT_SIZE, 18},
        {ATTR_LEFT, 20}, {ATTR_TOP, 24},
    };
    // clang-format on
    for (auto &w : want) {
        int v = -1;
        EXPECT_EQ(GetCtrlAttribute(p, id, w.attr, &v), 0);
        EXPECT_EQ(v, w.value) << w.attr;
    }
    EXPECT_EQ(SetCtrlAttribute(p, id, ATTR_TEXT_POINT_SIZE, 0), RT_UIE_BAD_VALUE);
    EXPECT_LT(NewCtrl(p, 99, "x", 0, 0), 0);
}

TEST_F(RtUi, PictureShowsAFileOrStaysEmpty) {
    std::string png = std::string(KVEX_BUILD_DIR) + "/rt_pic.png";
    ASSERT_EQ(rt_SavePanelImage(p, BTNCmd, png.c_str()), 0);
    EXPECT_EQ(DisplayImageFile(p, PICTPic, png.c_str()), 0);
    EXPECT_LT(DisplayImageFile(p, PICTPic, "/nonexistent/korvane.bmp"), 0);
    EXPECT_LT(DisplayImageFile(p, PICTPic, nullptr), 0);
    EXPECT_EQ(DisplayImageFile(p, NUMWord, png.c_str()), RT_UIE_BAD_TYPE);
}

// ---- graphs ------------------------------------------------------------------------------------

TEST_F(RtUi, GraphRectanglesCursorsAndAxes) {
    EXPECT_EQ(SetAxisScalingMode(p, GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0, 1024.0), 0);
    double lo, hi;
    rt_GetAxisRange(p, GRAPHBar, VAL_XAXIS, &lo, &hi);
    EXPECT_EQ(lo, 1.0);
    EXPECT_EQ(hi, 1024.0);
    rt_GetAxisRange(p, GRAPHBar, VAL_LEFT_YAXIS, &lo, &hi);
    EXPECT_EQ(lo, 0.0);   // from the resource file
    EXPECT_EQ(hi, 1.0);
    // unusable ranges are refused and the old one stays
    double bad[][2] = {{5, 5}, {10, 1}, {NAN, 1}, {0, INFINITY}};
    for (auto &b : bad) {
        EXPECT_EQ(SetAxisScalingMode(p, GRAPHBar, VAL_XAXIS, VAL_MANUAL, b[0], b[1]),
                  RT_UIE_BAD_VALUE);
        rt_GetAxisRange(p, GRAPHBar, VAL_XAXIS, &lo, &hi);
        EXPECT_EQ(lo, 1.0);
        EXPECT_EQ(hi, 1024.0);
    }
    EXPECT_EQ(SetAxisScalingMode(p, GRAPHBar, 2, VAL_MANUAL, 0, 1), RT_UIE_BAD_VALUE);

    for (int k = 1; k <= 3; ++k) EXPECT_EQ(SetGraphCursor(p, GRAPHBar, k, 100.0 * k, 0.75), 0);
    EXPECT_EQ(SetGraphCursor(p, GRAPHBar, 0, 1, 1), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetGraphCursor(p, GRAPHBar, 4, 1, 1), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetGraphCursor(p, GRAPHBar, 1, NAN, 1), RT_UIE_BAD_VALUE);

    int h1 = PlotRectangle(p, GRAPHBar, 1.0, 0.25, 300.0, 1.0, VAL_RED, VAL_RED);
    int h2 = PlotRectangle(p, GRAPHBar, 700.0, 0.25, 1020.0, 1.0, VAL_RED, VAL_RED);
    int h3 = PlotRectangle(p, GRAPHBar, 480.0, 0.0, 520.0, 0.35, VAL_GREEN, VAL_GREEN);
    EXPECT_GT(h1, 0);
    EXPECT_GT(h2, 0);
    EXPECT_GT(h3, 0);
    EXPECT_TRUE(h1 != h2 && h2 != h3 && h1 != h3);
    auto plots = rt_GetPlots(p, GRAPHBar);
    ASSERT_EQ(plots.size(), 3u);
    EXPECT_EQ(plots[0].kind, 1);
    EXPECT_EQ(plots[0].handle, h1);
    EXPECT_EQ(plots[1].x1, 700.0);
    EXPECT_EQ(plots[1].x2, 1020.0);
    EXPECT_EQ(plots[2].y2, 0.35);
    EXPECT_EQ(plots[2].color, VAL_GREEN);
    EXPECT_EQ(plots[2].fillColor, VAL_GREEN);

    EXPECT_EQ(DeleteGraphPlot(p, GRAPHBar, h2, VAL_IMMEDIATE_DRAW), 0);
    plots = rt_GetPlots(p, GRAPHBar);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[0].handle, h1);
    EXPECT_EQ(plots[1].handle, h3);
    EXPECT_EQ(DeleteGraphPlot(p, GRAPHBar, h2, 0), RT_UIE_BAD_VALUE);

    EXPECT_EQ(DeleteGraphPlot(p, GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW), 0);
    EXPECT_TRUE(rt_GetPlots(p, GRAPHBar).empty());
    for (int k = 1; k <= 3; ++k) {
        double x = 0, y = 0;
        EXPECT_EQ(rt_GetCursor(p, GRAPHBar, k, &x, &y), 0);
        EXPECT_EQ(x, 100.0 * k) << "cursor " << k << " lost by delete-all";
        EXPECT_EQ(y, 0.75);
    }
    EXPECT_LT(rt_GetCursor(p, GRAPHBar, 4, &lo, &hi), 0);
    // a redraw after delete-all reuses items and numbers handles afresh
    int h4 = PlotRectangle(p, GRAPHBar, 2, 0.25, 3, 1, VAL_RED, VAL_RED);
    EXPECT_GT(h4, h3);
    EXPECT_EQ(rt_GetPlots(p, GRAPHBar).size(), 1u);
    EXPECT_EQ(PlotRectangle(p, GRAPHBar, NAN, 0, 1, 1, 0, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(rt_GetPlots(p, GRAPHBar).size(), 1u);
}

TEST_F(RtUi, PlotXYTakesEachDataType) {
    double xd[4] = {1.5, 2.5, 3.5, 4.5};
    uint16_t yw[4] = {0, 65535, 100, 7};
    int yi[4] = {-5, 0, 5, INT_MAX};
    double yd[4] = {0.25, -1e9, 3, 4};
    int hw = PlotXY(p, GRAPHBar, xd, yw, 4, VAL_DOUBLE, VAL_UNSIGNED_SHORT_INTEGER,
                    VAL_CONNECTED_POINTS, VAL_SIMPLE_DOT, VAL_SOLID, 1, VAL_RED);
    int hi = PlotXY(p, GRAPHBar, yi, yd, 4, VAL_INTEGER, VAL_DOUBLE, VAL_CONNECTED_POINTS,
                    VAL_SIMPLE_DOT, VAL_SOLID, 1, VAL_BLACK);
    ASSERT_GT(hw, 0);
    ASSERT_GT(hi, 0);
    auto plots = rt_GetPlots(p, GRAPHBar);
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_EQ(plots[0].kind, 2);
    EXPECT_EQ(plots[0].x, (std::vector<double>{1.5, 2.5, 3.5, 4.5}));
    EXPECT_EQ(plots[0].y, (std::vector<double>{0, 65535, 100, 7}));
    EXPECT_EQ(plots[0].color, VAL_RED);
    EXPECT_EQ(plots[1].x, (std::vector<double>{-5, 0, 5, INT_MAX}));
    EXPECT_EQ(plots[1].y, (std::vector<double>{0.25, -1e9, 3, 4}));
    // clang-format off
    struct { const void *x, *y; int n, xt, yt; } bad[] = {
        {xd, yw, 4, 5, VAL_DOUBLE}, {xd, yw, 4, VAL_DOUBLE, 99}, {xd, yw, 0, VAL_DOUBLE, VAL_DOUBLE},
        {xd, yw, -3, VAL_DOUBLE, VAL_DOUBLE}, {nullptr, yw, 4, VAL_DOUBLE, VAL_DOUBLE}, {xd, nullptr, 4, VAL_DOUBLE, VAL_DOUBLE},
    };
    // clang-format on
    for (auto &b : bad)
        EXPECT_EQ(PlotXY(p, GRAPHBar, b.x, b.y, b.n, b.xt, b.yt, 5, 10, 0, 1, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(rt_GetPlots(p, GRAPHBar).size(), 2u);
    // autoscale follows the data
    EXPECT_EQ(SetAxisScalingMode(p, GRAPHBar, VAL_XAXIS, VAL_AUTOSCALE, 0, 0), 0);
    double lo, hi2;
    rt_GetAxisRange(p, GRAPHBar, VAL_XAXIS, &lo, &hi2);
    EXPECT_EQ(lo, -5.0);
    EXPECT_EQ(hi2, static_cast<double>(INT_MAX));
}

// ---- strip chart ----------------------------------------------------------------------------

TEST_F(RtUi, StripChartShowsTheLastHundredOfEachTraceNewestLast) {
    RtStrip s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.traces, 1);
    EXPECT_EQ(s.pointsPerScreen, 101);
    ASSERT_EQ(SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 101), 0);
    ASSERT_EQ(SetCtrlAttribute(p, STRIPRaw, ATTR_SCROLL_MODE, 1), 0);
    ASSERT_EQ(SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 6), 0);
    const int colors[6] = {VAL_DK_GREEN, VAL_DK_GREEN, VAL_BLACK, VAL_RED, VAL_RED, VAL_RED};
    for (int t = 1; t <= 6; ++t)
        EXPECT_EQ(SetTraceAttribute(p, STRIPRaw, t, ATTR_TRACE_COLOR, colors[t - 1]), 0);
    EXPECT_EQ(SetTraceAttribute(p, STRIPRaw, 0, ATTR_TRACE_COLOR, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetTraceAttribute(p, STRIPRaw, 7, ATTR_TRACE_COLOR, 0), RT_UIE_BAD_VALUE);
    EXPECT_EQ(SetTraceAttribute(p, STRIPRaw, 1, 999, 0), RT_UIE_BAD_ATTR);

    // value of trace t, sample s of frame f
    auto val = [](int f, int s, int t) { return f * 10000.0 + s * 10 + t; };
    double hist[600];
    for (int f = 0; f < 3; ++f) {
        for (int s = 0; s < 100; ++s)
            for (int t = 0; t < 6; ++t) hist[6 * s + t] = val(f, s, t);
        ASSERT_EQ(PlotStripChart(p, STRIPRaw, hist, 600, 0, 0, VAL_DOUBLE), 0);
        // the same settings again each frame change nothing
        SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 6);
        SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 101);
    }
    s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.traces, 6);
    EXPECT_EQ(s.pointsPerScreen, 101);
    EXPECT_EQ(s.colors, std::vector<int>(colors, colors + 6));
    ASSERT_EQ(s.points.size(), 6u);
    for (int t = 0; t < 6; ++t) {
        ASSERT_EQ(s.points[t].size(), 100u) << "trace " << t;
        for (int i = 0; i < 100; ++i) EXPECT_EQ(s.points[t][i], val(2, i, t)) << t << "/" << i;
    }

    // single samples scroll in at the right
    double one[6] = {1, 2, 3, 4, 5, 6};
    PlotStripChart(p, STRIPRaw, one, 6, 0, 0, VAL_DOUBLE);
    s = rt_GetStrip(p, STRIPRaw);
    for (int t = 0; t < 6; ++t) {
        ASSERT_EQ(s.points[t].size(), 100u);
        EXPECT_EQ(s.points[t].front(), val(2, 1, t));
        EXPECT_EQ(s.points[t].back(), t + 1.0);
    }
    // a partial sample or bad arguments are refused and change nothing
    // clang-format off
    struct { const void *d; int n, start, skip, type; } bad[] = {
        {one, 5, 0, 0, VAL_DOUBLE}, {one, 0, 0, 0, VAL_DOUBLE}, {nullptr, 6, 0, 0, VAL_DOUBLE},
        {one, 6, -1, 0, VAL_DOUBLE}, {one, 6, 0, -1, VAL_DOUBLE}, {one, 6, 0, 0, 3},
    };
    // clang-format on
    for (auto &b : bad)
        EXPECT_EQ(PlotStripChart(p, STRIPRaw, b.d, b.n, b.start, b.skip, b.type), RT_UIE_BAD_VALUE);
    EXPECT_EQ(rt_GetStrip(p, STRIPRaw).points, s.points);
}

TEST_F(RtUi, StripChartWindowTypesAndTraceCount) {
    SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 2);
    SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 4);   // shows 3
    uint16_t w[4] = {1, 10, 2, 20};
    int iv[6] = {-3, 30, -4, 40, -5, 50};
    EXPECT_EQ(PlotStripChart(p, STRIPRaw, w, 4, 0, 0, VAL_UNSIGNED_SHORT_INTEGER), 0);
    RtStrip s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.points[0], (std::vector<double>{1, 2}));
    EXPECT_EQ(s.points[1], (std::vector<double>{10, 20}));
    EXPECT_EQ(PlotStripChart(p, STRIPRaw, iv, 6, 0, 0, VAL_INTEGER), 0);
    s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.points[0], (std::vector<double>{-3, -4, -5}));
    EXPECT_EQ(s.points[1], (std::vector<double>{30, 40, 50}));
    // start and skip pick every other value from the third on
    double d[8] = {0, 0, 7, 99, 8, 99, 9, 99};
    EXPECT_EQ(PlotStripChart(p, STRIPRaw, d, 2, 2, 1, VAL_DOUBLE), 0);
    s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.points[0], (std::vector<double>{-4, -5, 7}));
    EXPECT_EQ(s.points[1], (std::vector<double>{40, 50, 8}));
    // a smaller window keeps the newest
    SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 3);
    s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.points[0], (std::vector<double>{-5, 7}));
    // another trace count starts an empty chart
    SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 3);
    s = rt_GetStrip(p, STRIPRaw);
    EXPECT_EQ(s.traces, 3);
    ASSERT_EQ(s.points.size(), 3u);
    for (auto &t : s.points) EXPECT_TRUE(t.empty());
    EXPECT_EQ(s.colors.size(), 3u);
}

// ---- popups ----------------------------------------------------------------------------------

TEST_F(RtUi, PopupHookAnswersAndSeesWhatWasAsked) {
    std::vector<RtPopup> asked;
    RtPopupAnswer next;
    rt_SetPopupHook([&](const RtPopup &pp) {
        asked.push_back(pp);
        return next;
    });
    MessagePopup("Attention !!!", "Wrong sensor series");
    next.result = 1;
    EXPECT_NE(ConfirmPopup("ATTENTION!", "Output-File already exist! - Overwrite ?"), 0);
    next.result = 0;
    EXPECT_EQ(ConfirmPopup("ATTENTION!", "again"), 0);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].kind, 1);
    EXPECT_EQ(asked[0].title, "Attention !!!");
    EXPECT_EQ(asked[0].message, "Wrong sensor series");
    EXPECT_EQ(asked[1].kind, 2);
    EXPECT_EQ(asked[1].message, "Output-File already exist! - Overwrite ?");

    char path[32] = "RECORD.OLD";
    // clang-format off
    struct { int result; std::string path; int bufSize; int rc; const char *after; } cases[] = {
        {VAL_EXISTING_FILE_SELECTED, "/tmp/RECORD.DAT", 32, 1, "/tmp/RECORD.DAT"},
        {VAL_NEW_FILE_SELECTED, "/tmp/new.dat", 32, 2, "/tmp/new.dat"},
        {VAL_NO_FILE_SELECTED, "/tmp/ignored.dat", 32, 0, "/tmp/new.dat"},      // cancel keeps the buffer
        {VAL_NEW_FILE_SELECTED, std::string(40, 'a'), 32, 0, "/tmp/new.dat"},    // would not fit
        {VAL_NEW_FILE_SELECTED, std::string(31, 'b'), 32, 2, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
        {VAL_NEW_FILE_SELECTED, std::string(32, 'c'), 32, 0, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
        {VAL_EXISTING_FILE_SELECTED, "", 32, 0, "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
    };
    // clang-format on
    for (auto &c : cases) {
        next.result = c.result;
        next.path = c.path;
        EXPECT_EQ(FileSelectPopup("/proj", "RECORD.DAT", "*.dat",
                                  "K-VEX-Series Recorder-File:", "OK", 0, 1, 1, 1, path, c.bufSize),
                  c.rc)
            << c.path;
        EXPECT_STREQ(path, c.after);
    }
    const RtPopup &f = asked.back();
    EXPECT_EQ(f.kind, 3);
    EXPECT_EQ(f.defaultDir, "/proj");
    EXPECT_EQ(f.defaultName, "RECORD.DAT");
    EXPECT_EQ(f.filter, "*.dat");
    EXPECT_EQ(f.title, "K-VEX-Series Recorder-File:");
    EXPECT_EQ(f.buttonLabel, "OK");
    // null texts do not crash the hook
    MessagePopup(nullptr, nullptr);
    EXPECT_EQ(asked.back().title, "");
}

// ---- event loop ------------------------------------------------------------------------------

TEST_F(RtUi, TimingWaitLoopCostsAlmostNoCpu) {
    if (rt_BusyPump()) GTEST_SKIP() << "benchmark build: the pump never blocks";
    Pump(0.05);
    double c0 = CpuSeconds(), t0 = Now();
    long calls = 0;
    while (Now() - t0 < 1.5) {
        ProcessSystemEvents();
        ++calls;
    }
    double cpu = CpuSeconds() - c0, wall = Now() - t0;
    EXPECT_LT(cpu / wall, 0.05) << calls << " calls used " << cpu << " s CPU";
    // it still comes back often enough for a 1.5 s time-out to mean 1.5 s
    EXPECT_GT(calls, 100);
}

TEST_F(RtUi, TimingPumpReturnsPromptlyWhenATimerFires) {
    // the machine is shared: most rounds must be prompt, none may be slow
    const int rounds = 7;
    int prompt = 0, onTime = 0;
    for (int round = 0; round < rounds; ++round) {
        double fired = 0, due = Now() + 0.05;
        rt_After(0.05, [&] { fired = Now(); });
        double back = 0;
        while (fired == 0 && Now() < due + 1.0) {
            ProcessSystemEvents();
            back = Now();
        }
        ASSERT_GT(fired, 0) << "timer never ran";
        EXPECT_GT(fired, due - 0.002);
        EXPECT_LT(back - fired, 0.100);
        EXPECT_LT(fired - due, 0.100);
        if (back - fired < 0.010) ++prompt;
        if (fired - due < 0.020) ++onTime;
    }
    EXPECT_GE(prompt, rounds - 2);
    EXPECT_GE(onTime, rounds - 2);
}

TEST_F(RtUi, PumpRunsWhatIsPendingInOneCall) {
    int ran = 0;
    rt_After(0, [&] { ++ran; });
    rt_After(0, [&] { ++ran; });
    ProcessSystemEvents();
    EXPECT_EQ(ran, 2);
}

TEST_F(RtUi, RunUserInterfaceEndsWithTheQuitCode) {
    rt_After(0.05, [] { QuitUserInterface(7); });
    double t0 = Now();
    EXPECT_EQ(RunUserInterface(), 7);
    EXPECT_LT(Now() - t0, 1.0);
    // a quit from a callback that runs its own wait loop ends the loop once the callback returns
    static int quitCode = 3;
    static bool loopDone = false;
    struct Local {
        static int Cb(int, int, int event, void *, int, int) {
            if (event != EVENT_COMMIT) return 0;
            QuitUserInterface(quitCode);
            Pump(0.05);
            loopDone = true;
            return 0;
        }
    };
    RtCallbackEntry e[] = {{"CC_BTNOther", Local::Cb}};
    RegisterCallbacks(e, 1);
    int q = LoadPanel(0, Uir().c_str(), 2);
    ASSERT_GT(q, 0);
    rt_After(0.02, [q] { rt_UserClick(q, 2); });
    EXPECT_EQ(RunUserInterface(), 3);
    EXPECT_TRUE(loopDone);
    DiscardPanel(q);
    RtCallbackEntry back[] = {{"CC_BTNOther", Record}};
    RegisterCallbacks(back, 1);
    // a quit asked for before the loop runs is not lost
    QuitUserInterface(0);
    t0 = Now();
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_LT(Now() - t0, 0.6);
}

TEST_F(RtUi, CallbackMayDiscardItsOwnPanel) {
    static int victim = 0;
    struct Local {
        static int Cb(int panel, int, int event, void *, int, int) {
            if (event == EVENT_COMMIT) victim = DiscardPanel(panel) == 0 ? panel : -1;
            return 0;
        }
    };
    RtCallbackEntry e[] = {{"CC_BTNOther", Local::Cb}};
    RegisterCallbacks(e, 1);
    int q = LoadPanel(0, Uir().c_str(), 2);
    rt_UserClick(q, 2);
    Pump(0.02);
    EXPECT_EQ(victim, q);
    EXPECT_LT(SetCtrlVal(q, 2, 1), 0);
    RtCallbackEntry back[] = {{"CC_BTNOther", Record}};
    RegisterCallbacks(back, 1);
}

// The same events come from real widget input, not only from the hooks.
using drive::SendClick;
using drive::SendKey;
using drive::WidgetAs;

TEST_F(RtUi, RealWidgetInputRaisesTheSameEvents) {
    DisplayPanel(p);
    Pump(0.02);
    auto *num = WidgetAs<QSpinBox>(p, "NUMWord");
    auto *btn = WidgetAs<QAbstractButton>(p, "BTNCmd");
    auto *chk = WidgetAs<QAbstractButton>(p, "CHECKBox");
    auto *ring = WidgetAs<QComboBox>(p, "RINGMode");
    ASSERT_TRUE(num && btn && chk && ring);
    QWidget *edit = num->findChild<QWidget *>();   // the spin box's line edit
    ASSERT_TRUE(edit);
    struct Step {
        const char *what;
        std::function<void()> act;
        int control;
        std::vector<int> events;
        double value;
    };
    // clang-format off
    std::vector<Step> steps = {
        {"arrow up", [&] { SendKey(num, Qt::Key_Up); }, NUMWord, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"type a digit", [&] { SendKey(num, Qt::Key_End); SendKey(num, Qt::Key_5, "5"); }, NUMWord, {EVENT_VAL_CHANGED}, 15},
        {"enter", [&] { SendKey(num, Qt::Key_Return); }, NUMWord, {EVENT_COMMIT}, 15},
        {"enter unchanged", [&] { SendKey(num, Qt::Key_Return); }, NUMWord, {EVENT_COMMIT}, 15},
        {"focus out unchanged", [&] { QFocusEvent fo(QEvent::FocusOut); QApplication::sendEvent(num, &fo); }, NUMWord, {}, 15},
        {"type then focus out", [&] {
             SendKey(num, Qt::Key_End);
             SendKey(num, Qt::Key_7, "7");
             QFocusEvent fo(QEvent::FocusOut);
             QApplication::sendEvent(num, &fo);
         }, NUMWord, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 157},
        {"mouse on button", [&] { SendClick(btn); }, BTNCmd, {EVENT_LEFT_CLICK, EVENT_COMMIT}, -1},
        {"mouse on check box", [&] { SendClick(chk); }, CHECKBox, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
        {"key down on ring", [&] { SendKey(ring, Qt::Key_Down); }, RINGMode, {EVENT_VAL_CHANGED, EVENT_COMMIT}, 1},
    };
    // clang-format on
    SetCtrlVal(p, NUMWord, 0);
    for (auto &s : steps) {
        SCOPED_TRACE(s.what);
        g_events.clear();
        s.act();
        EXPECT_EQ(EventsOf(s.control), s.events);
        EXPECT_EQ(g_events.size(), s.events.size());
        if (s.value >= 0) {
            double v = -1;
            GetCtrlVal(p, s.control, &v);
            EXPECT_EQ(v, s.value);
        }
    }
    // a dimmed button ignores the mouse
    SetCtrlAttribute(p, BTNCmd, ATTR_DIMMED, 1);
    g_events.clear();
    SendClick(btn);
    EXPECT_TRUE(g_events.empty());
}

// A frame of the run loop redraws the bar graph and the strip chart; at the
// line's pace of about 27 frames a second the drawing must leave time over.
TEST_F(RtUi, TimingFrameRedrawIsCheap) {
    DisplayPanel(p);
    Pump(0.05);
    double hist[600];
    const int colors[6] = {VAL_DK_GREEN, VAL_DK_GREEN, VAL_BLACK, VAL_RED, VAL_RED, VAL_RED};
    const int frames = 90;
    double c0 = CpuSeconds(), t0 = Now();
    for (int f = 0; f < frames; ++f) {
        for (int i = 0; i < 600; ++i) hist[i] = (i * 7 + f * 13) % 1024;
        SetCtrlAttribute(p, NUMWord, ATTR_TEXT_BGCOLOR, f % 2 ? VAL_RED : VAL_DK_GREEN);
        SetCtrlVal(p, NUMWord, f);
        SetAxisScalingMode(p, GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1.0, 1024.0);
        SetGraphCursor(p, GRAPHBar, 2, 100, 0.75);
        SetGraphCursor(p, GRAPHBar, 3, 900, 0.75);
        DeleteGraphPlot(p, GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);
        SetGraphCursor(p, GRAPHBar, 1, 400 + f, 0.75);
        PlotRectangle(p, GRAPHBar, 1.0, 0.25, 300 + f, 1.0, VAL_RED, VAL_RED);
        PlotRectangle(p, GRAPHBar, 700 - f, 0.25, 1020, 1.0, VAL_RED, VAL_RED);
        PlotRectangle(p, GRAPHBar, 350, 0.0, 380, 0.35, VAL_GREEN, VAL_GREEN);
        PlotRectangle(p, GRAPHBar, 620, 0.0, 650, 0.35, VAL_GREEN, VAL_GREEN);
        SetCtrlAttribute(p, STRIPRaw, ATTR_POINTS_PER_SCREEN, 101);
        SetCtrlAttribute(p, STRIPRaw, ATTR_SCROLL_MODE, 1);
        SetAxisScalingMode(p, STRIPRaw, VAL_LEFT_YAXIS, VAL_MANUAL, 0.0, 1024.0);
        for (int t = 1; t <= 6; ++t)
            SetTraceAttribute(p, STRIPRaw, t, ATTR_TRACE_COLOR, colors[t - 1]);
        SetCtrlAttribute(p, STRIPRaw, ATTR_NUM_TRACES, 6);
        PlotStripChart(p, STRIPRaw, hist, 600, 0, 0, VAL_DOUBLE);
        ProcessSystemEvents();
    }
    Pump(0.02);
    double cpu = CpuSeconds() - c0, wall = Now() - t0;
    EXPECT_LT(cpu / frames, 0.005)
        << "CPU per frame " << cpu / frames * 1000 << " ms, wall " << wall;
    // what the tests read is what the last frame drew
    EXPECT_EQ(rt_GetPlots(p, GRAPHBar).size(), 4u);
    RtStrip s = rt_GetStrip(p, STRIPRaw);
    ASSERT_EQ(s.points.size(), 6u);
    EXPECT_EQ(s.points[5].back(), hist[599]);
}

// A live graph keeps its layout from one frame to the next; whatever the
// layout depends on must still move the ticks and margins at the next paint.
TEST_F(RtUi, GraphTicksAndMarginsFollowRangesAndSize) {
    DisplayPanel(p);
    auto *plot = qobject_cast<QCustomPlot *>(rt_Widget(p, GRAPHBar));
    ASSERT_NE(plot, nullptr);
    auto shown = [&](double lo, double hi) {
        SetAxisScalingMode(p, GRAPHBar, VAL_LEFT_YAXIS, VAL_MANUAL, lo, hi);
        PlotRectangle(p, GRAPHBar, 1.0, lo, 2.0, hi, VAL_RED, VAL_RED);   // a frame's data
        Pump(0.03);
        const QVector<double> ticks = plot->yAxis->tickVector();
        EXPECT_FALSE(ticks.isEmpty()) << lo << ".." << hi;
        for (double t : ticks) {
            EXPECT_GE(t, lo - 1e-9 * std::fabs(hi - lo)) << lo << ".." << hi;
            EXPECT_LE(t, hi + 1e-9 * std::fabs(hi - lo)) << lo << ".." << hi;
        }
        return plot->axisRect()->left();
    };
    // clang-format off
    struct { double lo, hi; } ranges[] = {{0, 1}, {0, 1}, {0, 2.5e6}, {-7, 7}, {1000, 1001}, {0, 1}};
    // clang-format on
    std::vector<int> left;
    for (auto &r : ranges) left.push_back(shown(r.lo, r.hi));
    EXPECT_EQ(left[0], left[1]);
    EXPECT_GT(left[2], left[0]) << "wider tick labels need a wider margin";
    EXPECT_EQ(left[5], left[0]);

    const int w0 = plot->width(), a0 = plot->axisRect()->width();
    plot->resize(w0 + 150, plot->height());
    Pump(0.03);
    ASSERT_EQ(plot->width(), w0 + 150);
    EXPECT_EQ(plot->axisRect()->width() - a0, plot->width() - w0)
        << "the axis rectangle follows the widget";
}

// Live figures are set on every frame, most of them unchanged. An operator
// who selects a figure to copy it keeps the selection while the figure stays
// the same; a changed figure is shown at once, and an edit in progress is
// replaced by what the program sets.
TEST_F(RtUi, UnchangedTextKeepsTheOperatorsSelection) {
    DisplayPanel(p);
    Pump(0.05);
    auto *le = qobject_cast<QLineEdit *>(rt_Widget(p, TEXTMsg));
    ASSERT_NE(le, nullptr);
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    le->installEventFilter(&counter);
    auto set = [&](const char *text) {
        counter.paints = 0;
        SetCtrlVal(p, TEXTMsg, text);
        Pump(0.03);
    };
    set("12.345");
    EXPECT_GT(counter.paints, 0);
    le->setFocus();
    QTest::keyClick(le, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(le->selectedText(), QStringLiteral("12.345"));
    for (int frame = 0; frame < 5; ++frame) {
        set("12.345");
        EXPECT_EQ(le->selectedText(), QStringLiteral("12.345")) << "frame " << frame;
    }
    set("12.346");
    EXPECT_GT(counter.paints, 0);
    EXPECT_EQ(rt_GetCtrlText(p, TEXTMsg), "12.346");

    le->setReadOnly(false);   // an editable text field
    le->selectAll();
    QTest::keyClicks(le, "12.346");   // typed back to the same text
    EXPECT_TRUE(le->isModified());
    SetCtrlVal(p, TEXTMsg, "12.346");
    EXPECT_FALSE(le->isModified()) << "the program's value replaces the edit";
    SetCtrlVal(p, TEXTMsg, "n/a");
    EXPECT_EQ(rt_GetCtrlText(p, TEXTMsg), "n/a");
    le->removeEventFilter(&counter);
}

// ---- pictures of panels ---------------------------------------------------------------------

TEST_F(RtUi, SavedPanelImageIsAPngOfThePanelsSize) {
    DisplayPanel(p);
    SetAxisScalingMode(p, GRAPHBar, VAL_XAXIS, VAL_MANUAL, 1, 100);
    PlotRectangle(p, GRAPHBar, 10, 0.25, 40, 1, VAL_RED, VAL_RED);
    Pump(0.05);
    std::string file = std::string(KVEX_BUILD_DIR) + "/rt_panel.png";
    std::remove(file.c_str());
    ASSERT_EQ(rt_SavePanelImage(p, 0, file.c_str()), 0);
    QImage img(QString::fromStdString(file), "PNG");
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.width(), 640);
    EXPECT_EQ(img.height(), 360);
    std::string gfile = std::string(KVEX_BUILD_DIR) + "/rt_graph.png";
    ASSERT_EQ(rt_SavePanelImage(p, GRAPHBar, gfile.c_str()), 0);
    QImage g(QString::fromStdString(gfile), "PNG");
    ASSERT_FALSE(g.isNull());
    EXPECT_EQ(g.width(), 300);
    EXPECT_EQ(g.height(), 120);
    // the red bar was drawn: some pixels are pure red
    int red = 0;
    for (int y = 0; y < g.height(); ++y)
        for (int x = 0; x < g.width(); ++x)
            if ((g.pixel(x, y) & 0xFFFFFF) == 0xFF0000) ++red;
    EXPECT_GT(red, 100);
    EXPECT_LT(rt_SavePanelImage(p, 999, gfile.c_str()), 0);
    EXPECT_LT(rt_SavePanelImage(p, 0, "/nonexistent/dir/x.png"), 0);
    EXPECT_LT(rt_SavePanelImage(p, 0, nullptr), 0);
}

}   // namespace

// ---- the program's own resource file ------------------------------------------------------------

namespace {

struct Def {
    std::string panel, name;
    int id;
};

std::vector<Def> ControlIdsOfPanelsHeader() {
    std::vector<Def> out;
    std::string hdr = Dir() + "/../ui/panels.h";
    FILE *f = fopen(hdr.c_str(), "r");
    if (!f) return out;
    char line[256];
    while (fgets(line, sizeof line, f)) {
        char name[128];
        int id;
        if (sscanf(line, "#define %127s %d", name, &id) != 2) continue;
        std::string n = name;
        for (const char *pre : {"PANEL_", "POPUP_", "RECORD_"})
            if (n.rfind(pre, 0) == 0)
                out.push_back(
                    {std::string(pre, std::strlen(pre) - 1), n.substr(std::strlen(pre)), id});
    }
    fclose(f);
    return out;
}

bool StartsWith(const std::string &s, const char *p) { return s.rfind(p, 0) == 0; }

TEST_F(RtUi, ProgramResourceFileHoldsEveryControlOfThePanelsHeader) {
    int h[4] = {0, 0, 0, 0};
    for (int id = 1; id <= 3; ++id) {
        h[id] = LoadPanel(0, KVEX_UIR_PATH, id);
        ASSERT_GT(h[id], 0) << "panel " << id;
    }
    auto defs = ControlIdsOfPanelsHeader();
    ASSERT_GT(defs.size(), 50u);
    for (const Def &d : defs) {
        int ph = d.panel == "PANEL" ? h[1] : d.panel == "POPUP" ? h[2] : h[3];
        SCOPED_TRACE(d.panel + "_" + d.name);
        EXPECT_EQ(rt_Find(ph, d.name.c_str()), d.id);
        const std::string &n = d.name;
        // the kind the name promises answers to its operations
        double dv = 0;
        int n2 = 0;
        if (StartsWith(n, "GRAPH")) {
            EXPECT_EQ(SetGraphCursor(ph, d.id, 1, 0.5, 0.5), 0);
        } else if (StartsWith(n, "STRIP")) {
            EXPECT_EQ(SetCtrlAttribute(ph, d.id, ATTR_NUM_TRACES, 6), 0);
        } else if (StartsWith(n, "NUM") || StartsWith(n, "NEDIT")) {
            EXPECT_EQ(GetCtrlVal(ph, d.id, &dv), 0);
        } else if (StartsWith(n, "DROP") || StartsWith(n, "RING")) {
            EXPECT_EQ(GetNumListItems(ph, d.id, &n2), 0);
        } else if (StartsWith(n, "RBT") || StartsWith(n, "TOGG") || StartsWith(n, "Check") ||
                   StartsWith(n, "SWITCH")) {
            EXPECT_EQ(GetCtrlVal(ph, d.id, &dv), 0);
            EXPECT_TRUE(dv == 0 || dv == 1);
        } else if (StartsWith(n, "TEXT")) {
            EXPECT_EQ(SetCtrlVal(ph, d.id, "x"), 0);
        }
    }
    for (int id = 1; id <= 3; ++id) DiscardPanel(h[id]);
}

}   // namespace

// The resource file: every control the program addresses, with its id, kind,
// initial value and limits, and the containers the lock logic relies on.
// Panels are loaded fresh and bound to a recording callback, so nothing here
// talks to a sensor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/app.h"
#include "rt/rt_testing.h"
#include "params/vars.h"

namespace {

struct Ev {
    int panel, control, event;
};
std::vector<Ev> g_events;

int Rec(int panel, int control, int event, void *, int, int) {
    g_events.push_back({panel, control, event});
    return 0;
}

struct Named {
    int panel;   // PANEL, POPUP, RECORD
    const char *name;
    int id;
};
// clang-format off
#define C(P, N) {P, #N, P##_##N}

const Named kControls[] = {
    C(PANEL, DropDCom), C(PANEL, CTRLRunLockC), C(PANEL, RINGanaMode), C(PANEL, BTNRun),
    C(PANEL, BTNStop), C(PANEL, BTNSend), C(PANEL, BTNGet), C(PANEL, BTNVideo),
    C(PANEL, CTRLSeriesLockA), C(PANEL, CTRLSeriesLockB), C(PANEL, RBTFile), C(PANEL, RBTEeprom),
    C(PANEL, CTRLAnaGroupA), C(PANEL, NUMVideoThreshold), C(PANEL, NUMPower), C(PANEL, NUMDeltaTol),
    C(PANEL, NEDITTolerance), C(PANEL, NUMSetpoint), C(PANEL, RBTRam), C(PANEL, CTRLRunLockA),
    C(PANEL, CTRLStartFocus), C(PANEL, CTRLRunLockB), C(PANEL, RINGTrigMode), C(PANEL, DROPHardware),
    C(PANEL, RINGRs232Mode), C(PANEL, NUMPolarity), C(PANEL, NUMAverage), C(PANEL, NUMEvalMode),
    C(PANEL, ButtonTeach), C(PANEL, NUMAnaValue), C(PANEL, NUMMvalueMm), C(PANEL, NUMMvalue),
    C(PANEL, NUMAnaMin), C(PANEL, NUMAnaMax), C(PANEL, NUMToleranceMm), C(PANEL, NUMLedge),
    C(PANEL, NUMRedge), C(PANEL, ButtonReset), C(PANEL, DECOLogo), C(PANEL, NEDITEdgeRight),
    C(PANEL, NEDITEdgeLeft), C(PANEL, TEXTStatus), C(PANEL, GRAPHVideo), C(PANEL, GRAPHBar),
    C(PANEL, PICTLogo), C(PANEL, TOGGLEZoom), C(PANEL, CTRLAnaGroupB), C(PANEL, TOGGBTN_Recorder),
    C(PANEL, TOGGBTN_ParaII), C(PANEL, STRIPRaw), C(PANEL, SWITCHOpMode),
    C(POPUP, TEXTSensorInfo), C(POPUP, ActivateCalibration), C(POPUP, DiscardCalibration),
    C(POPUP, NUMFitIntercept), C(POPUP, NUMFitSlope), C(POPUP, ButtonAcceptObject2),
    C(POPUP, ButtonSaveCalValues), C(POPUP, ButtonAcceptObject1), C(POPUP, NUMPixelObject2),
    C(POPUP, NUMUmObject2), C(POPUP, ButtonDoFit), C(POPUP, NUMPixelObject1), C(POPUP, NUMUmObject1),
    C(POPUP, NUMCalOffset), C(POPUP, NUMCalSlope), C(POPUP, CheckStep2), C(POPUP, CheckStep1),
    C(RECORD, TEXTRecFile), C(RECORD, CBTNStartRecord), C(RECORD, CBTNStopRecord),
    C(RECORD, CMDBTNrecfile), C(RECORD, TEXTRecStatus), C(RECORD, NUMsample), C(RECORD, NUMinctime),
    C(RECORD, NUMRecMvalue), C(RECORD, NUMRecLedge), C(RECORD, NUMRecRedge),
    C(RECORD, NUMRecMvalueMm), C(RECORD, TEXTRecDate), C(RECORD, TEXTRecTime), C(RECORD, NUMRecDays),
    C(RECORD, NUMRecHours), C(RECORD, NUMRecMinutes), C(RECORD, NUMRecCount),
    C(RECORD, NUMRecSeconds),
};
// clang-format on

// Fresh panels whose every control reports to Rec.
class UiResource : public ::testing::Test {
protected:
    int h[4] = {0, 0, 0, 0};

    void SetUp() override {
        static char arg0[] = "test_ui_resource";
        static char *argv[] = {arg0, nullptr};
        ASSERT_EQ(InitCVIRTE(1, argv), 1);
        static std::vector<std::string> names;
        static std::vector<RtCallbackEntry> table;
        if (table.empty()) {
            for (const char *p : {"PANEL", "POPUP", "RECORD"})
                names.push_back(std::string("CC_") + p);
            for (const Named &c : kControls) names.push_back(std::string("CC_") + c.name);
            for (const std::string &n : names) table.push_back({n.c_str(), Rec});
        }
        RegisterCallbacks(table.data(), static_cast<int>(table.size()));
        for (int id : {PANEL, POPUP, RECORD}) {
            h[id] = LoadPanel(0, KVEX_UIR_PATH, id);
            ASSERT_GT(h[id], 0) << "panel " << id;
        }
        g_events.clear();
    }
    void TearDown() override {
        for (int id : {PANEL, POPUP, RECORD})
            if (h[id] > 0) DiscardPanel(h[id]);
    }

    // Events that reached one control since the last clear.
    std::vector<int> EventsOf(int panel, int control) const {
        std::vector<int> out;
        for (const Ev &e : g_events)
            if (e.panel == h[panel] && e.control == control) out.push_back(e.event);
        return out;
    }
    int Dimmed(int panel, int control) const {
        int v = -1;
        EXPECT_EQ(GetCtrlAttribute(h[panel], control, ATTR_DIMMED, &v), 0);
        return v;
    }
};

TEST_F(UiResource, EveryControlIsFoundByNameWithItsId) {
    for (const Named &c : kControls) EXPECT_EQ(rt_Find(h[c.panel], c.name), c.id) << c.name;
    // Names belong to one panel only.
    EXPECT_EQ(rt_Find(h[POPUP], "NUMPower"), -1);
    EXPECT_EQ(rt_Find(h[PANEL], "CheckStep1"), -1);
    EXPECT_EQ(rt_Find(h[RECORD], "TEXTStatus"), -1);
}

// ---- initial values --------------------------------------------------------
enum Kind { U16, INT, FLT, DBL, RING, ONOFF };
struct Init {
    int panel, id;
    Kind kind;
    double value;
};

TEST_F(UiResource, InitialValuesAreTheParameterDefaults) {
    // clang-format off
    const Init table[] = {
        {PANEL, PANEL_NUMPower, U16, 500},         {PANEL, PANEL_RINGRs232Mode, RING, 0},
        {PANEL, PANEL_NUMVideoThreshold, U16, 512}, {PANEL, PANEL_RINGanaMode, RING, 0},
        {PANEL, PANEL_NUMPolarity, U16, 1},        {PANEL, PANEL_NUMEvalMode, U16, 1},
        {PANEL, PANEL_NEDITEdgeLeft, U16, 1},      {PANEL, PANEL_NEDITEdgeRight, U16, 1024},
        {PANEL, PANEL_NUMSetpoint, U16, 512},      {PANEL, PANEL_NEDITTolerance, U16, 100},
        {PANEL, PANEL_DROPHardware, RING, 1},      {PANEL, PANEL_NUMAverage, U16, 0},
        {PANEL, PANEL_SWITCHOpMode, ONOFF, 0},     {PANEL, PANEL_NUMDeltaTol, U16, 10},
        {PANEL, PANEL_RINGTrigMode, RING, 0},      {PANEL, PANEL_RBTRam, ONOFF, 1},
        {PANEL, PANEL_RBTEeprom, ONOFF, 0},        {PANEL, PANEL_RBTFile, ONOFF, 0},
        {PANEL, PANEL_TOGGLEZoom, ONOFF, 0},       {PANEL, PANEL_TOGGBTN_ParaII, ONOFF, 0},
        {PANEL, PANEL_TOGGBTN_Recorder, ONOFF, 0}, {PANEL, PANEL_NUMMvalueMm, DBL, 0},
        {PANEL, PANEL_NUMToleranceMm, DBL, 0},
        {POPUP, POPUP_NUMCalSlope, FLT, 1.0},      {POPUP, POPUP_NUMCalOffset, FLT, 0.0},
        {POPUP, POPUP_NUMPixelObject1, U16, 241},  {POPUP, POPUP_NUMUmObject1, U16, 7960},
        {POPUP, POPUP_NUMPixelObject2, U16, 662},  {POPUP, POPUP_NUMUmObject2, U16, 21960},
        {POPUP, POPUP_CheckStep1, ONOFF, 0},       {POPUP, POPUP_CheckStep2, ONOFF, 0},
        {POPUP, POPUP_NUMFitSlope, DBL, 0},        {POPUP, POPUP_NUMFitIntercept, DBL, 0},
        {RECORD, RECORD_NUMsample, U16, 100},      {RECORD, RECORD_NUMinctime, U16, 0},
        {RECORD, RECORD_NUMRecCount, INT, 0},
    };
    // clang-format on
    for (const Init &t : table) {
        double got = NAN;
        int rc = -1;
        // clang-format off
        switch (t.kind) {
        case U16: { uint16_t v = 0xBEEF; rc = GetCtrlVal(h[t.panel], t.id, &v); got = v; break; }
        case INT: case RING: case ONOFF: { int v = -7; rc = GetCtrlVal(h[t.panel], t.id, &v); got = v; break; }
        case FLT: { float v = -7.f; rc = GetCtrlVal(h[t.panel], t.id, &v); got = v; break; }
        case DBL: { double v = -7; rc = GetCtrlVal(h[t.panel], t.id, &v); got = v; break; }
        }
        // clang-format on
        EXPECT_GE(rc, 0) << "panel " << t.panel << " control " << t.id;
        EXPECT_EQ(got, t.value) << "panel " << t.panel << " control " << t.id;
    }
    // Read the way the program reads them, the calibration fields give the
    // default calibration words.
    float s = 0, o = -1;
    GetCtrlVal(h[POPUP], POPUP_NUMCalSlope, &s);
    GetCtrlVal(h[POPUP], POPUP_NUMCalOffset, &o);
    EXPECT_EQ(DoubleToWord(1024.0 * s), 1024);
    EXPECT_EQ(DoubleToWord(30000.0 + o), 30000);
}

TEST_F(UiResource, RingItemsAndTheirValues) {
    // The analog-mode ring holds the list the program shows before any
    // sensor answered, so the first read of the panel gets mode 0.
    const std::vector<std::string> ana = {
        "DIRECT 0..10V",       "DIRECT <no AVG>",    "MAX. int. trigg.",   "MIN. int. trigg.",
        "MAX-MIN int. trigg.", "MAX. ext. IN0-gate", "MIN. ext. IN0-gate", "MAX-MIN IN0-gate"};
    EXPECT_EQ(rt_GetListItems(h[PANEL], PANEL_RINGanaMode), ana);
    EXPECT_EQ(rt_GetListItems(h[PANEL], PANEL_DROPHardware).size(), 4u);
    EXPECT_EQ(rt_GetListItems(h[PANEL], PANEL_RINGRs232Mode).size(), 2u);
    EXPECT_GE(rt_GetListItems(h[PANEL], PANEL_RINGTrigMode).size(), 2u);
    EXPECT_TRUE(rt_GetListItems(h[PANEL], PANEL_DropDCom).empty());   // the program fills it

    // Item value = position: every hardware variant and RS-232 mode can be
    // shown and read back.
    for (int v = 0; v <= 3; ++v) {
        ASSERT_GE(SetCtrlVal(h[PANEL], PANEL_DROPHardware, v), 0);
        uint16_t got = 99;
        GetCtrlVal(h[PANEL], PANEL_DROPHardware, &got);
        EXPECT_EQ(got, v);
    }
    for (int v = 0; v <= 1; ++v) {
        ASSERT_GE(SetCtrlVal(h[PANEL], PANEL_RINGRs232Mode, v), 0);
        uint16_t got = 99;
        GetCtrlVal(h[PANEL], PANEL_RINGRs232Mode, &got);
        EXPECT_EQ(got, v);
    }
}

// ---- limits ------------------------------------------------------------------
struct Limit {
    int panel, id;
    double lo, hi;
};

TEST_F(UiResource, OperatorEntriesStayWithinTheLimits) {
    const Limit table[] = {
        {PANEL, PANEL_NUMPower, 0, 1000},           {PANEL, PANEL_NUMVideoThreshold, 0, 1023},
        {PANEL, PANEL_NUMPolarity, 0, 1},           {PANEL, PANEL_NUMEvalMode, 0, 4},
        {PANEL, PANEL_NEDITEdgeLeft, 0, 8192},      {PANEL, PANEL_NEDITEdgeRight, 0, 8192},
        {PANEL, PANEL_NUMSetpoint, 0, 65535},       {PANEL, PANEL_NEDITTolerance, 0, 8192},
        {PANEL, PANEL_NUMAverage, 0, 1024},         {PANEL, PANEL_NUMDeltaTol, 0, 8192},
        {POPUP, POPUP_NUMUmObject1, 0, 65535},      {POPUP, POPUP_NUMUmObject2, 0, 65535},
        {POPUP, POPUP_NUMCalOffset, -30000, 35535}, {POPUP, POPUP_NUMCalSlope, 0, 128},
        {RECORD, RECORD_NUMsample, 0, 65535},       {RECORD, RECORD_NUMinctime, 0, 65535},
    };
    for (const Limit &t : table) {
        for (double v :
             {t.hi + 1, t.hi + 100000, t.lo - 1, t.lo - 100000, std::floor((t.lo + t.hi) / 2)}) {
            g_events.clear();
            rt_UserSetVal(h[t.panel], t.id, v);
            double got = NAN;
            GetCtrlVal(h[t.panel], t.id, &got);
            const double want = std::min(std::max(v, t.lo), t.hi);
            EXPECT_NEAR(got, want, 1e-6) << "control " << t.id << " entry " << v;
            EXPECT_EQ(EventsOf(t.panel, t.id), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}))
                << "control " << t.id;
        }
    }
}

// The calibration words travel through the popup's display fields on every
// get and send; a field that rounds them away would change the sensor's
// calibration by one step each time.
TEST_F(UiResource, EveryCalibrationWordSurvivesItsDisplayField) {
    int bad = 0;
    for (double scale : {1024.0, 512.0}) {
        for (int w = 0; w <= 65535; ++w) {
            float shown = static_cast<float>(w / scale);
            SetCtrlVal(h[POPUP], POPUP_NUMCalSlope, static_cast<double>(shown));
            float s = -1;
            GetCtrlVal(h[POPUP], POPUP_NUMCalSlope, &s);
            if (DoubleToWord(scale * s) != w && ++bad < 5)
                ADD_FAILURE() << "slope word " << w << " scale " << scale << " reads " << s;
        }
    }
    for (int w = 0; w <= 65535; ++w) {
        float shown = static_cast<float>(w - 30000);
        SetCtrlVal(h[POPUP], POPUP_NUMCalOffset, static_cast<double>(shown));
        float o = 1e9f;
        GetCtrlVal(h[POPUP], POPUP_NUMCalOffset, &o);
        if (DoubleToWord(30000.0 + o) != w && ++bad < 10)
            ADD_FAILURE() << "offset word " << w << " reads " << o;
    }
    EXPECT_EQ(bad, 0);
}

// ---- containers ----------------------------------------------------------------
// What the operator can do to each reachable control of the main panel.
struct Action {
    int id;
    bool click;   // click, else set a value
    double value;
};
// clang-format off
const Action kActions[] = {
    {PANEL_BTNRun, true, 0},          {PANEL_BTNStop, true, 0},
    {PANEL_BTNSend, true, 0},         {PANEL_BTNGet, true, 0},
    {PANEL_BTNVideo, true, 0},        {PANEL_ButtonTeach, true, 0},
    {PANEL_ButtonReset, true, 0},     {PANEL_RBTRam, true, 0},
    {PANEL_RBTEeprom, true, 0},       {PANEL_RBTFile, true, 0},
    {PANEL_TOGGLEZoom, true, 0},      {PANEL_TOGGBTN_Recorder, true, 0},
    {PANEL_TOGGBTN_ParaII, true, 0},  {PANEL_SWITCHOpMode, true, 0},
    {PANEL_DropDCom, false, 2},       {PANEL_DROPHardware, false, 2},
    {PANEL_RINGRs232Mode, false, 1},  {PANEL_RINGanaMode, false, 3},
    {PANEL_RINGTrigMode, false, 1},   {PANEL_NUMPower, false, 400},
    {PANEL_NUMVideoThreshold, false, 300}, {PANEL_NUMPolarity, false, 0},
    {PANEL_NUMEvalMode, false, 2},    {PANEL_NEDITEdgeLeft, false, 20},
    {PANEL_NEDITEdgeRight, false, 900}, {PANEL_NUMSetpoint, false, 444},
    {PANEL_NEDITTolerance, false, 50}, {PANEL_NUMAverage, false, 8},
    {PANEL_NUMDeltaTol, false, 12},
};
// clang-format on

struct Holds {
    int container;
    std::set<int> members;
};

TEST_F(UiResource, LockContainersHoldExactlyWhatTheyLock) {
    // clang-format off
    const Holds table[] = {
        {PANEL_CTRLRunLockA, {PANEL_RBTRam, PANEL_RBTEeprom, PANEL_RBTFile, PANEL_BTNSend, PANEL_BTNGet}},
        {PANEL_CTRLSeriesLockA, {PANEL_RBTRam, PANEL_RBTEeprom, PANEL_RBTFile, PANEL_BTNSend, PANEL_BTNGet}},
        {PANEL_CTRLRunLockB, {PANEL_BTNRun, PANEL_BTNVideo, PANEL_ButtonTeach}},
        {PANEL_CTRLSeriesLockB, {PANEL_BTNRun, PANEL_BTNVideo, PANEL_ButtonTeach, PANEL_BTNStop}},
        {PANEL_CTRLRunLockC, {PANEL_DropDCom}},
        {PANEL_CTRLAnaGroupB, {PANEL_ButtonReset}},
    };
    // clang-format on
    InsertListItem(h[PANEL], PANEL_DropDCom, -1, "/dev/ttyS0", 1);
    InsertListItem(h[PANEL], PANEL_DropDCom, -1, "/dev/ttyS1", 2);
    auto act = [&](const Action &a) {
        g_events.clear();
        if (a.click) rt_UserClick(h[PANEL], a.id);
        else rt_UserSetVal(h[PANEL], a.id, a.value);
        return !EventsOf(PANEL, a.id).empty();
    };
    for (const Holds &t : table) {
        for (int attr : {ATTR_DIMMED, ATTR_VISIBLE}) {
            const int lock = attr == ATTR_DIMMED ? 1 : 0;
            ASSERT_EQ(SetCtrlAttribute(h[PANEL], t.container, attr, lock), 0);
            for (const Action &a : kActions)
                EXPECT_EQ(act(a), t.members.count(a.id) == 0)
                    << "container " << t.container << " attr " << attr << " control " << a.id;
            ASSERT_EQ(SetCtrlAttribute(h[PANEL], t.container, attr, 1 - lock), 0);
            for (const Action &a : kActions)
                EXPECT_TRUE(act(a)) << "after unlock of " << t.container << ": control " << a.id;
        }
    }
}

// The containers as they stand in the file, every widget inside them
// counted, so that no control slips into a lock by accident.
struct XmlWidget {
    std::string cls, name;
    int ctrlId = 0;
    std::vector<int> kids;
    int parent = -1;
};

std::vector<XmlWidget> ParseWidgets(const std::string &xml) {
    std::vector<XmlWidget> out;
    std::vector<int> stack;
    size_t pos = 0;
    auto attr = [](const std::string &tag, const char *key) {
        std::string k = std::string(" ") + key + "=\"";
        size_t a = tag.find(k);
        if (a == std::string::npos) return std::string();
        a += k.size();
        return tag.substr(a, tag.find('"', a) - a);
    };
    while ((pos = xml.find('<', pos)) != std::string::npos) {
        size_t end = xml.find('>', pos);
        if (end == std::string::npos) break;
        std::string tag = xml.substr(pos, end - pos + 1);
        if (tag.rfind("<widget ", 0) == 0) {
            XmlWidget w;
            w.cls = attr(tag, "class");
            w.name = attr(tag, "name");
            w.parent = stack.empty() ? -1 : stack.back();
            out.push_back(w);
            int me = static_cast<int>(out.size()) - 1;
            if (w.parent >= 0) out[w.parent].kids.push_back(me);
            if (tag.compare(tag.size() - 2, 2, "/>") != 0) stack.push_back(me);
        } else if (tag == "</widget>") {
            if (!stack.empty()) stack.pop_back();
        } else if (tag.rfind("<property name=\"ctrlId\"", 0) == 0 && !stack.empty()) {
            size_t n = xml.find("<number>", end);
            if (n != std::string::npos) out[stack.back()].ctrlId = std::atoi(xml.c_str() + n + 8);
        }
        pos = end + 1;
    }
    return out;
}

TEST(UiResourceFile, ContainersHoldNoOtherControls) {
    std::ifstream f(KVEX_UIR_PATH, std::ios::binary);
    ASSERT_TRUE(f.good());
    std::stringstream ss;
    ss << f.rdbuf();
    const std::vector<XmlWidget> all = ParseWidgets(ss.str());
    ASSERT_FALSE(all.empty());

    auto find = [&](const char *name) {
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].name == name) return static_cast<int>(i);
        return -1;
    };
    std::function<void(int, std::set<std::string> &)> collect = [&](int i,
                                                                    std::set<std::string> &s) {
        for (int k : all[i].kids) {
            if (all[k].ctrlId > 0) s.insert(all[k].name);
            collect(k, s);
        }
    };
    // clang-format off
    const std::map<std::string, std::set<std::string>> expect = {
        // Compare reads the sensor as Get does: dimmed with it
        {"CTRLRunLockA", {"RBTRam", "RBTEeprom", "RBTFile", "BTNSend", "BTNGet", "BTNCompare"}},
        {"CTRLSeriesLockA", {"CTRLRunLockA", "RBTRam", "RBTEeprom", "RBTFile", "BTNSend", "BTNGet", "BTNCompare"}},
        {"CTRLRunLockB", {"BTNRun", "BTNVideo", "ButtonTeach"}},
        {"CTRLSeriesLockB", {"CTRLRunLockB", "BTNRun", "BTNVideo", "ButtonTeach", "BTNStop"}},
        {"CTRLRunLockC", {"DropDCom"}},
        {"CTRLAnaGroupA", {"NUMAnaValue", "NUMAnaMax", "NUMAnaMin"}},
        {"CTRLAnaGroupB", {"ButtonReset"}},
    };
    // clang-format on
    for (const auto &e : expect) {
        int i = find(e.first.c_str());
        ASSERT_GE(i, 0) << e.first;
        std::set<std::string> got;
        collect(i, got);
        EXPECT_EQ(got, e.second) << e.first;
    }
    // Each control once per file, each id once per panel.
    std::map<std::string, int> names;
    for (const XmlWidget &w : all)
        if (w.ctrlId > 0) ++names[w.name];
    for (const auto &n : names) EXPECT_EQ(n.second, 1) << n.first;
    for (const char *panel : {"PANEL", "POPUP", "RECORD"}) {
        int p = find(panel);
        ASSERT_GE(p, 0);
        std::set<std::string> inside;
        collect(p, inside);
        std::set<int> ids;
        for (const std::string &n : inside) {
            int id = all[find(n.c_str())].ctrlId;
            EXPECT_TRUE(ids.insert(id).second) << panel << " id " << id << " twice";
        }
    }
    // The logo strip is placed by pixels: it must not sit inside a layout,
    // so it and the picture are direct children of the main panel.
    EXPECT_EQ(all[find("DECOLogo")].parent, find("PANEL"));
    EXPECT_EQ(all[find("PICTLogo")].parent, find("PANEL"));
}

// ---- start state of the popup and the recorder -------------------------------------
struct Dim {
    int panel, id, dimmed;
};

TEST_F(UiResource, ProcedureControlsAndRecorderDisplaysStartDimmed) {
    const Dim table[] = {
        {POPUP, POPUP_CheckStep1, 1},          {POPUP, POPUP_CheckStep2, 1},
        {POPUP, POPUP_ButtonAcceptObject1, 1}, {POPUP, POPUP_ButtonAcceptObject2, 1},
        {POPUP, POPUP_ButtonDoFit, 1},         {POPUP, POPUP_ButtonSaveCalValues, 1},
        {POPUP, POPUP_ActivateCalibration, 0}, {POPUP, POPUP_DiscardCalibration, 0},
        {POPUP, POPUP_NUMUmObject1, 0},        {POPUP, POPUP_NUMUmObject2, 0},
        {POPUP, POPUP_NUMCalSlope, 0},         {POPUP, POPUP_NUMCalOffset, 0},
        {RECORD, RECORD_TEXTRecDate, 1},       {RECORD, RECORD_TEXTRecTime, 1},
        {RECORD, RECORD_NUMRecCount, 1},       {RECORD, RECORD_NUMRecDays, 1},
        {RECORD, RECORD_NUMRecHours, 1},       {RECORD, RECORD_NUMRecMinutes, 1},
        {RECORD, RECORD_NUMRecSeconds, 1},     {RECORD, RECORD_CBTNStartRecord, 0},
        {RECORD, RECORD_CBTNStopRecord, 0},    {RECORD, RECORD_CMDBTNrecfile, 0},
        {RECORD, RECORD_NUMsample, 0},         {RECORD, RECORD_NUMinctime, 0},
        {PANEL, PANEL_NEDITTolerance, 0},      {PANEL, PANEL_BTNSend, 0},
    };
    for (const Dim &t : table) EXPECT_EQ(Dimmed(t.panel, t.id), t.dimmed) << "control " << t.id;

    // A dimmed procedure button cannot be pressed; once enabled it can.
    rt_UserClick(h[POPUP], POPUP_ButtonDoFit);
    rt_UserClick(h[POPUP], POPUP_CheckStep1);
    EXPECT_TRUE(g_events.empty());
    SetCtrlAttribute(h[POPUP], POPUP_ButtonDoFit, ATTR_DIMMED, 0);
    rt_UserClick(h[POPUP], POPUP_ButtonDoFit);
    EXPECT_EQ(EventsOf(POPUP, POPUP_ButtonDoFit),
              (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}));
}

TEST_F(UiResource, StripChartShownAndVideoGraphHiddenAtStart) {
    int v = -1;
    GetCtrlAttribute(h[PANEL], PANEL_STRIPRaw, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 1);
    GetCtrlAttribute(h[PANEL], PANEL_GRAPHVideo, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 0);
    for (int id : {PANEL_TEXTStatus, PANEL_GRAPHBar, PANEL_CTRLAnaGroupA, PANEL_CTRLAnaGroupB}) {
        GetCtrlAttribute(h[PANEL], id, ATTR_VISIBLE, &v);
        EXPECT_EQ(v, 1) << id;
    }
    double lo = -1, hi = -1;
    ASSERT_EQ(rt_GetAxisRange(h[PANEL], PANEL_GRAPHBar, VAL_LEFT_YAXIS, &lo, &hi), 0);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 1.0);
}

// ---- kinds -------------------------------------------------------------------
TEST_F(UiResource, ButtonsRaiseClickThenCommit) {
    // clang-format off
    const Named buttons[] = {
        C(PANEL, BTNRun), C(PANEL, BTNStop), C(PANEL, BTNSend), C(PANEL, BTNGet), C(PANEL, BTNVideo),
        C(PANEL, ButtonTeach), C(PANEL, ButtonReset), C(POPUP, ActivateCalibration),
        C(POPUP, DiscardCalibration), C(POPUP, ButtonAcceptObject1), C(POPUP, ButtonAcceptObject2),
        C(POPUP, ButtonDoFit), C(POPUP, ButtonSaveCalValues), C(RECORD, CBTNStartRecord),
        C(RECORD, CBTNStopRecord), C(RECORD, CMDBTNrecfile),
    };
    // clang-format on
    for (const Named &b : buttons) {
        SetCtrlAttribute(h[b.panel], b.id, ATTR_DIMMED, 0);
        g_events.clear();
        rt_UserClick(h[b.panel], b.id);
        EXPECT_EQ(EventsOf(b.panel, b.id), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_COMMIT}))
            << b.name;
        EXPECT_EQ(g_events.size(), 2u) << b.name;
    }
}

TEST_F(UiResource, TogglesRadiosAndCheckBoxesFlipOnTheirOwn) {
    const Named flips[] = {
        C(PANEL, RBTRam),       C(PANEL, RBTEeprom),        C(PANEL, RBTFile),
        C(PANEL, TOGGLEZoom),   C(PANEL, TOGGBTN_Recorder), C(PANEL, TOGGBTN_ParaII),
        C(PANEL, SWITCHOpMode), C(POPUP, CheckStep1),       C(POPUP, CheckStep2),
    };
    for (const Named &t : flips) {
        SetCtrlAttribute(h[t.panel], t.id, ATTR_DIMMED, 0);
        int before = -1, after = -1;
        GetCtrlVal(h[t.panel], t.id, &before);
        g_events.clear();
        rt_UserClick(h[t.panel], t.id);
        GetCtrlVal(h[t.panel], t.id, &after);
        EXPECT_EQ(after, 1 - before) << t.name;
        EXPECT_EQ(EventsOf(t.panel, t.id), (std::vector<int>{EVENT_VAL_CHANGED, EVENT_COMMIT}))
            << t.name;
    }
    // The radio buttons do not switch each other off: the program does.
    int ram = -1, eeprom = -1, file = -1;
    GetCtrlVal(h[PANEL], PANEL_RBTRam, &ram);
    GetCtrlVal(h[PANEL], PANEL_RBTEeprom, &eeprom);
    GetCtrlVal(h[PANEL], PANEL_RBTFile, &file);
    EXPECT_EQ(ram + eeprom + file, 2);   // RAM went off, the other two on
    // The two check boxes of the popup do not either.
    int s1 = -1, s2 = -1;
    GetCtrlVal(h[POPUP], POPUP_CheckStep1, &s1);
    GetCtrlVal(h[POPUP], POPUP_CheckStep2, &s2);
    EXPECT_EQ(s1 + s2, 2);
}

TEST_F(UiResource, SwitchShowsTheTextsTheProgramGivesIt) {
    ASSERT_EQ(SetCtrlAttribute(h[PANEL], PANEL_SWITCHOpMode, ATTR_ON_TEXT, "HI-GAIN"), 0);
    ASSERT_EQ(SetCtrlAttribute(h[PANEL], PANEL_SWITCHOpMode, ATTR_OFF_TEXT, "LO-GAIN"), 0);
    EXPECT_EQ(rt_GetCtrlText(h[PANEL], PANEL_SWITCHOpMode), "LO-GAIN");
    SetCtrlVal(h[PANEL], PANEL_SWITCHOpMode, 1);
    EXPECT_EQ(rt_GetCtrlText(h[PANEL], PANEL_SWITCHOpMode), "HI-GAIN");
    uint16_t v = 0;
    GetCtrlVal(h[PANEL], PANEL_SWITCHOpMode, &v);
    EXPECT_EQ(v, 1);
}

TEST_F(UiResource, TextControlsHoldWhatTheProgramWrites) {
    for (const Named &t : {Named C(POPUP, TEXTSensorInfo), Named C(RECORD, TEXTRecFile),
                           Named C(RECORD, TEXTRecStatus)}) {
        ASSERT_GE(ResetTextBox(h[t.panel], t.id, "first\nsecond"), 0) << t.name;
        ASSERT_GE(ReplaceTextBoxLine(h[t.panel], t.id, 1, "other"), 0) << t.name;
        EXPECT_EQ(rt_GetCtrlText(h[t.panel], t.id), "first\nother") << t.name;
    }
    for (const Named &t :
         {Named C(PANEL, TEXTStatus), Named C(RECORD, TEXTRecDate), Named C(RECORD, TEXTRecTime)}) {
        ASSERT_GE(SetCtrlVal(h[t.panel], t.id, "12-06-2026"), 0) << t.name;
        char buf[32] = {};
        GetCtrlVal(h[t.panel], t.id, buf, sizeof buf);
        EXPECT_STREQ(buf, "12-06-2026") << t.name;
    }
}

TEST_F(UiResource, IndicatorsTakeTheWholeRangeOfTheirValues) {
    // u16 displays show any word; the millimetre displays any 32-bit value / 1000.
    for (const Named &t :
         {Named C(PANEL, NUMLedge), Named C(PANEL, NUMRedge), Named C(PANEL, NUMMvalue),
          Named C(PANEL, NUMAnaValue), Named C(PANEL, NUMAnaMax), Named C(PANEL, NUMAnaMin),
          Named C(POPUP, NUMPixelObject1), Named C(POPUP, NUMPixelObject2),
          Named C(RECORD, NUMRecLedge), Named C(RECORD, NUMRecRedge), Named C(RECORD, NUMRecMvalue),
          Named C(RECORD, NUMRecDays), Named C(RECORD, NUMRecHours), Named C(RECORD, NUMRecMinutes),
          Named C(RECORD, NUMRecSeconds)}) {
        for (unsigned v : {0u, 1u, 65535u}) {
            SetCtrlVal(h[t.panel], t.id, v);
            uint16_t got = 7;
            GetCtrlVal(h[t.panel], t.id, &got);
            EXPECT_EQ(got, v) << t.name;
        }
    }
    for (const Named &t : {Named C(PANEL, NUMMvalueMm), Named C(RECORD, NUMRecMvalueMm)}) {
        for (double v : {0.0, 14.312, 4294967.295}) {
            SetCtrlVal(h[t.panel], t.id, v);
            double got = -1;
            GetCtrlVal(h[t.panel], t.id, &got);
            EXPECT_NEAR(got, v, 1e-9) << t.name;
        }
    }
    // 65535 x 65535 / 512000: the largest tolerance in millimetres.
    SetCtrlVal(h[PANEL], PANEL_NUMToleranceMm, 8388.4801);
    double tol = 0;
    GetCtrlVal(h[PANEL], PANEL_NUMToleranceMm, &tol);
    EXPECT_NEAR(tol, 8388.4801, 1e-9);
    SetCtrlVal(h[PANEL], PANEL_NUMToleranceMm, 3.325);
    GetCtrlVal(h[PANEL], PANEL_NUMToleranceMm, &tol);
    EXPECT_NEAR(tol, 3.325, 1e-9);
    // Fit results of any size, with their fraction.
    SetCtrlVal(h[POPUP], POPUP_NUMFitSlope, 14000.0 / 421.0);
    double fs = 0;
    GetCtrlVal(h[POPUP], POPUP_NUMFitSlope, &fs);
    EXPECT_NEAR(fs, 14000.0 / 421.0, 1e-4);
    SetCtrlVal(h[POPUP], POPUP_NUMFitIntercept, -54.2518);
    GetCtrlVal(h[POPUP], POPUP_NUMFitIntercept, &fs);
    EXPECT_NEAR(fs, -54.2518, 1e-4);
    SetCtrlVal(h[RECORD], RECORD_NUMRecCount, 100000);
    int count = 0;
    GetCtrlVal(h[RECORD], RECORD_NUMRecCount, &count);
    EXPECT_EQ(count, 100000);
}

TEST_F(UiResource, GraphsStripChartAndLogo) {
    for (int id : {PANEL_GRAPHBar, PANEL_GRAPHVideo}) {
        EXPECT_GE(PlotRectangle(h[PANEL], id, 10, 0, 20, 0.25, VAL_GREEN, VAL_GREEN), 0) << id;
        EXPECT_EQ(rt_GetPlots(h[PANEL], id).size(), 1u) << id;
    }
    for (int c = 1; c <= 3; ++c)
        EXPECT_GE(SetGraphCursor(h[PANEL], PANEL_GRAPHBar, c, 100.0 * c, 0.75), 0);
    SetCtrlAttribute(h[PANEL], PANEL_STRIPRaw, ATTR_NUM_TRACES, 6);
    const double sample[6] = {612, 412, 512, 500, 500, 500};
    EXPECT_GE(PlotStripChart(h[PANEL], PANEL_STRIPRaw, sample, 6, 0, 0, VAL_DOUBLE), 0);
    EXPECT_EQ(rt_GetStrip(h[PANEL], PANEL_STRIPRaw).traces, 6);

    EXPECT_EQ(SetCtrlAttribute(h[PANEL], PANEL_DECOLogo, ATTR_FRAME_COLOR, VAL_BLUE), 0);
    int left = -1, top = -1;
    GetCtrlAttribute(h[PANEL], PANEL_DECOLogo, ATTR_LEFT, &left);
    GetCtrlAttribute(h[PANEL], PANEL_DECOLogo, ATTR_TOP, &top);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(top, 0);
    std::string dir = KVEX_UIR_PATH;
    dir.erase(dir.rfind('/'));
    for (const char *bmp : {"korvane.bmp", "tessaro.bmp"})
        EXPECT_GE(DisplayImageFile(h[PANEL], PANEL_PICTLogo, (dir + "/bitmaps/" + bmp).c_str()), 0)
            << bmp;
    EXPECT_LT(DisplayImageFile(h[PANEL], PANEL_PICTLogo, (dir + "/bitmaps/none.bmp").c_str()), 0);
    // The start-up focus goes to a control that takes it.
    EXPECT_GE(SetActiveCtrl(h[PANEL], PANEL_CTRLStartFocus), 0);
}

}   // namespace

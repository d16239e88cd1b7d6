// The built program as a subprocess: where it finds its resource file, how it
// fails without one, and that closing the main panel ends it with 0.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status = -1000;   // exit status, or -signal
    std::string err;
    double seconds = 0;
};

// Runs `exe args` in `cwd` with the extra environment, killing it after
// `limit` seconds.
RunResult RunProgram(const std::string &exe, const std::vector<std::string> &args,
                     const std::string &cwd,
                     const std::vector<std::pair<std::string, std::string>> &env, double limit) {
    RunResult r;
    std::vector<std::string> vars = {"QT_QPA_PLATFORM=offscreen"};
    for (const auto &e : env) vars.push_back(e.first + "=" + e.second);
    const double t0 = Now();
    ChildProcess child;
    if (!child.Start(exe, args, vars, cwd)) return r;
    if (!child.Wait(limit)) {
        child.Signal(SIGKILL);
        child.Wait(5.0);
    }
    r.seconds = Now() - t0;
    r.err = child.err;
    if (child.rc >= 0) r.status = child.killedBy ? -child.killedBy : child.rc;
    return r;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/ridar-app-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

const char *kUir = "K-VEX-XCRidarV252.uir";

// Lines of s that start with prefix.
int CountLines(const std::string &s, const std::string &prefix) {
    int n = 0;
    size_t at = 0;
    while (at < s.size()) {
        size_t nl = s.find('\n', at);
        if (nl == std::string::npos) nl = s.size();
        if (s.compare(at, prefix.size(), prefix) == 0) ++n;
        at = nl + 1;
    }
    return n;
}

TEST(App, WithoutUsableResourceFileEndsWithMinusOneAndOneLine) {
    struct Case {
        const char *name;
        const char *content;   // nullptr: no file
    } cases[] = {
        {"missing", nullptr},
        {"not a resource file", "this is no user interface\n"},
        {"empty", ""},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const std::string bin = dir.Path() + "/bin";
        fs::create_directories(bin);
        fs::copy_file(KVEX_RIDAR_PATH, bin + "/kvex-ridar");
        std::string expectName = bin + "/" + kUir;
        if (c.content) std::ofstream(expectName) << c.content;
        PtyPeer peer;   // a port that never answers, should it get that far
        // a runtime directory of its own keeps Qt from remarking on its absence
        const std::string runtimeDir = dir.Path() + "/run";
        fs::create_directories(runtimeDir);
        fs::permissions(runtimeDir, fs::perms::owner_all);
        RunResult r = RunProgram(bin + "/kvex-ridar", {"--port", peer.Device()}, dir.Path(),
                                 {{"XDG_RUNTIME_DIR", runtimeDir}}, 20.0);
        EXPECT_EQ(r.status, 255) << c.name << ": " << r.err;
        // one line of the program's own; the parser may add its diagnosis of a bad file
        EXPECT_EQ(CountLines(r.err, "kvex-ridar:"), 1) << c.name << ": " << r.err;
        if (!c.content) { EXPECT_EQ(CountLines(r.err, ""), 1) << c.name << ": " << r.err; }
        EXPECT_NE(r.err.find(expectName), std::string::npos) << c.name << ": " << r.err;
        // nothing waited for a sensor before giving up
        EXPECT_LT(r.seconds, 5.0) << c.name;
    }
}

TEST(App, FindsResourceFileOfAnInstalledProgramAndInTheWorkingDirectory) {
    struct Case {
        const char *name;
        const char *uirDir;   // relative to the temp dir
        const char *cwd;      // relative to the temp dir
    } cases[] = {
        {"installed", "share/kvex-ridar", "."},
        {"working directory", "work", "work"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const std::string bin = dir.Path() + "/bin";
        fs::create_directories(bin);
        fs::create_directories(dir.Path() + "/" + c.uirDir);
        fs::copy_file(KVEX_RIDAR_PATH, bin + "/kvex-ridar");
        fs::copy_file(KVEX_UIR_PATH, dir.Path() + "/" + c.uirDir + "/" + kUir);
        PtyPeer peer;
        RunResult r =
            RunProgram(bin + "/kvex-ridar", {"--port", peer.Device()}, dir.Path() + "/" + c.cwd,
                       {{"RIDAR_TEST_CLOSE_AFTER", "2.0"}}, 20.0);
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    }
}

// No sensor answers: the echo check waits 1.5 s. Closing the main panel
// during that wait, or later from the event loop, ends the program with 0.
TEST(App, ClosingTheMainPanelEndsWithZero) {
    struct Case {
        const char *closeAfter;
        double atMost;
    } cases[] = {
        {"0.4", 6.0},   // inside the echo wait loop
        {"2.5", 6.0},   // from the event loop
    };
    for (const Case &c : cases) {
        PtyPeer peer;
        const std::string exe = KVEX_RIDAR_PATH;
        RunResult r =
            RunProgram(exe, {"--port", peer.Device()}, fs::path(exe).parent_path().string(),
                       {{"RIDAR_TEST_CLOSE_AFTER", c.closeAfter}}, 20.0);
        EXPECT_EQ(r.status, 0) << c.closeAfter << ": " << r.err;
        EXPECT_LT(r.seconds, c.atMost) << c.closeAfter;
        EXPECT_GE(r.seconds, std::atof(c.closeAfter)) << c.closeAfter;
        // the echo request went out on the given port
        std::string req = peer.Read(36, 0.2);
        EXPECT_EQ(req.substr(0, 4), std::string("\x00\x55\x00\x05", 4)) << c.closeAfter;
    }
}

// --simulate hands every later argument to the simulator; the program
// identifies it and still ends cleanly when its panel is closed.
TEST(App, SimulateStartsTheSimulatorAndEndsWithZero) {
    const std::string exe = KVEX_RIDAR_PATH;
    RunResult r =
        RunProgram(exe, {"--simulate", "--fast", "--ccdtype", "104", "--softversion", "249"},
                   fs::path(exe).parent_path().string(), {{"RIDAR_TEST_CLOSE_AFTER", "2.5"}}, 20.0);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.seconds, 8.0);
    // a simulator option the simulator does not know makes it refuse to start
    RunResult bad =
        RunProgram(exe, {"--simulate", "--no-such-simulator-option"},
                   fs::path(exe).parent_path().string(), {{"RIDAR_TEST_CLOSE_AFTER", "2.5"}}, 20.0);
    EXPECT_EQ(bad.status, 255) << bad.err;
    EXPECT_NE(bad.err.find("kvex-sim"), std::string::npos) << bad.err;
}

// Closing the main panel while a live loop runs ends the loop and the
// program with 0, whichever loop it is.
TEST(App, ClosingTheMainPanelDuringALiveLoopEndsWithZero) {
    const std::string exe = KVEX_RIDAR_PATH;
    const struct {
        const char *click;
    } cases[] = {{"1.0:BTNRun"}, {"1.0:BTNVideo"}, {"1.0:BTNRun,1.5:BTNStop,2.0:BTNRun"}};
    for (const auto &c : cases) {
        RunResult r =
            RunProgram(exe, {"--simulate", "--fast"}, fs::path(exe).parent_path().string(),
                       {{"RIDAR_TEST_CLICK", c.click}, {"RIDAR_TEST_CLOSE_AFTER", "3.0"}}, 40.0);
        EXPECT_EQ(r.status, 0) << c.click << r.err;
        EXPECT_GE(r.seconds, 3.0) << c.click;
        EXPECT_LT(r.seconds, 20.0) << c.click;   // a hang, not a start under the sanitizers
    }
}

// ---- the shell inside this process ------------------------------------------------

TEST(Shell, ClosingPopupOrRecorderOnlyHidesItAndResetsItsToggle) {
    ASSERT_TRUE(StartRidarForTest());
    const struct {
        int *panel;
        int toggle;
        CtrlCallbackPtr cb;
    } cases[] = {
        {&pPopup, PANEL_TOGGBTN_ParaII, CC_POPUP},
        {&pRecord, PANEL_TOGGBTN_Recorder, CC_RECORD},
    };
    for (const auto &c : cases) {
        // the toggle opens it
        SetCtrlVal(pHandle, c.toggle, 0);
        rt_UserClick(pHandle, c.toggle);
        EXPECT_EQ(rt_IsShown(*c.panel), 1);
        // other events leave it alone
        for (int event : {EVENT_COMMIT, EVENT_VAL_CHANGED, EVENT_LEFT_CLICK}) {
            EXPECT_EQ(c.cb(*c.panel, 0, event, nullptr, 0, 0), 0);
            EXPECT_EQ(rt_IsShown(*c.panel), 1) << event;
        }
        // the window frame hides it and switches the toggle off
        rt_UserClosePanel(*c.panel);
        EXPECT_EQ(rt_IsShown(*c.panel), 0);
        int on = -1;
        GetCtrlVal(pHandle, c.toggle, &on);
        EXPECT_EQ(on, 0);
        // and it opens again through the toggle
        rt_UserClick(pHandle, c.toggle);
        EXPECT_EQ(rt_IsShown(*c.panel), 1);
        rt_UserClosePanel(*c.panel);
        EXPECT_EQ(rt_IsShown(*c.panel), 0);
    }
    // the main panel reacts to its close box only
    stop_flag = STOP_RUNNING;
    for (int event : {EVENT_COMMIT, EVENT_VAL_CHANGED, EVENT_LEFT_CLICK})
        EXPECT_EQ(CC_PANEL(pHandle, 0, event, nullptr, 0, 0), 0);
    EXPECT_EQ(stop_flag, STOP_RUNNING);
    stop_flag = STOP_ASKED;
}

TEST(Shell, InitVarsDefaultsBarGraphAndPortRing) {
    ASSERT_TRUE(StartRidarForTest());
    rt_SetPortTable({"/dev/ridar-a", "/dev/ridar-b"});
    pixB = 9;
    pixE = 9;
    com = 2;
    sync = 7;
    order = 9;
    target = DATFILE;
    rx_flag = 1;
    stop_flag = STOP_RUNNING;
    ccdmaxpixel = 9;
    ccdvirtpixel = 9;
    pcbtype = 9;
    adcmax = 9;
    InitVars();
    EXPECT_EQ(pixB, 1);
    EXPECT_EQ(pixE, 1024);
    EXPECT_EQ(com, 1);
    EXPECT_EQ(sync, 0x55);
    EXPECT_EQ(order, 1);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(stop_flag, STOP_ASKED);
    EXPECT_EQ(ccdmaxpixel, 1024);
    EXPECT_EQ(ccdvirtpixel, 2048);
    EXPECT_EQ(pcbtype, 100);
    EXPECT_EQ(adcmax, 256);
    EXPECT_STREQ(szStatus, "InitVars");
    EXPECT_EQ(rt_GetCtrlText(pHandle, PANEL_TEXTStatus), "InitVars");
    EXPECT_STREQ(szSoftName, "K-VEX-XC-Ridar");
    EXPECT_STREQ(szSoftVersion, "Version 2.52");
    // the panel's values replace the defaults of parameters with a control
    uint16_t panelSetpoint = 0, panelTol = 0, panelThd = 0;
    GetCtrlVal(pHandle, PANEL_NUMSetpoint, &panelSetpoint);
    GetCtrlVal(pHandle, PANEL_NEDITTolerance, &panelTol);
    GetCtrlVal(pHandle, PANEL_NUMVideoThreshold, &panelThd);
    EXPECT_EQ(tVal, panelSetpoint);
    EXPECT_EQ(tTol, panelTol);
    EXPECT_EQ(vThd, panelThd);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(thdArray[i], vThd) << i;
    // bar graph: only the green tolerance band, cursors at set-point and window
    const auto plots = rt_GetPlots(pHandle, PANEL_GRAPHBar);
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].kind, 1);
    EXPECT_EQ(plots[0].x1, static_cast<double>(tVal) - tTol);
    EXPECT_EQ(plots[0].x2, static_cast<double>(tVal) + tTol);
    EXPECT_EQ(plots[0].y1, 0.0);
    EXPECT_EQ(plots[0].y2, 0.25);
    EXPECT_EQ(plots[0].color, 0x00FF00);
    EXPECT_EQ(plots[0].fillColor, 0x00FF00);
    const struct {
        int cursor;
        double x;
    } cursors[] = {{1, static_cast<double>(tVal)},
                   {2, static_cast<double>(eBeg)},
                   {3, static_cast<double>(eEnd)}};
    for (const auto &c : cursors) {
        double x = -1, y = -1;
        ASSERT_GE(rt_GetCursor(pHandle, PANEL_GRAPHBar, c.cursor, &x, &y), 0);
        EXPECT_EQ(x, c.x) << c.cursor;
        EXPECT_EQ(y, 1.0) << c.cursor;
    }
    // the port ring lists the port table by number, port 1 selected
    const auto ports = rt_GetListItems(pHandle, PANEL_DropDCom);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0], "COM1  /dev/ridar-a");
    EXPECT_EQ(ports[1], "COM2  /dev/ridar-b");
    int sel = 0;
    GetCtrlVal(pHandle, PANEL_DropDCom, &sel);
    EXPECT_EQ(sel, 1);
}

TEST(Shell, InitGUILaysOutThePanelForTheSensor) {
    ASSERT_TRUE(StartRidarForTest());
    const struct {
        int hardware, mode, version;
        int tolDimmed, anaVisible;
        size_t items;
    } cases[] = {
        {0, 0, 0, 0, 0, 8},   {1, 1, 239, 1, 0, 8}, {2, 2, 240, 0, 1, 5},
        {3, 4, 252, 1, 1, 5}, {1, 7, 100, 1, 1, 8}, {2, 3, 65535, 0, 1, 5},
    };
    for (const auto &c : cases) {
        SetCtrlVal(pHandle, PANEL_DROPHardware, c.hardware);
        anaMode = static_cast<uint16_t>(c.mode);
        softversion = static_cast<uint16_t>(c.version);
        SetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, 1);
        InitGUI();
        SCOPED_TRACE(c.version);
        EXPECT_EQ(Attr(pHandle, PANEL_NEDITTolerance, ATTR_DIMMED), c.tolDimmed);
        for (int id : {PANEL_NUMAnaValue, PANEL_NUMAnaMax, PANEL_NUMAnaMin, PANEL_CTRLAnaGroupA,
                       PANEL_CTRLAnaGroupB})
            EXPECT_EQ(Attr(pHandle, id, ATTR_VISIBLE), c.anaVisible) << id;
        const auto items = rt_GetListItems(pHandle, PANEL_RINGanaMode);
        ASSERT_EQ(items.size(), c.items);
        EXPECT_EQ(items[1], "DIRECT <no AVG>");
        EXPECT_EQ(items.back(), c.items == 5 ? "MAX - MIN" : "MAX-MIN IN0-gate");
        // the refilled ring still shows the sensor's analog mode
        int shown = -1;
        GetCtrlVal(pHandle, PANEL_RINGanaMode, &shown);
        EXPECT_EQ(shown, c.mode);
        int rec = -1;
        GetCtrlVal(pHandle, PANEL_TOGGBTN_Recorder, &rec);
        EXPECT_EQ(rec, 0);
    }
    char expect[260];
    MakePathname(proj_dir, "RECORD.DAT", expect, sizeof expect);
    EXPECT_STREQ(rec_fname, expect);
    EXPECT_EQ(rt_GetCtrlText(pRecord, RECORD_TEXTRecFile), expect);
}

TEST(Shell, LogoStyles) {
    ASSERT_TRUE(StartRidarForTest());
    struct Text {
        const char *text;
        int left, top, fg, bg, size;
    };
    // clang-format off
    const struct {
        int style;
        int backdrop;
        int picture;   // 1 shown
        int picLeft, picTop;
        std::vector<Text> texts;
    } cases[] = {
        {0, 0xFFFFFF, 0, 0, 0,
         {{"K-VEX-XC-Ridar", 20, 24, 0x808080, 0xFFFFFF, 18}, {"Version 2.52", 170, 30, 0x808080, 0xFFFFFF, 11}}},
        {1, 0x0080FF, 0, 0, 0,
         {{"K-VEX-XC-Ridar", 20, 24, 0xFFFFFF, 0x0080FF, 18}, {"Version 2.52", 170, 30, 0xFFFFFF, 0x0080FF, 11}}},
        {2, 0x0080FF, 1, 300, 10,
         {{"Korvane GmbH", 15, 10, 0xFFFFFF, 0x0080FF, 11},
          {"Tel. +00 (0)0000 0000-0", 15, 25, 0xFFFFFF, 0x0080FF, 11},
          {"www.korvane.example", 15, 40, 0xFFFFFF, 0x0080FF, 11}, {"K-VEX-XC-Ridar", 300, 35, 0xFFFFFF, 0x0080FF, 18},
          {"Version 2.52", 450, 40, 0xFFFFFF, 0x0080FF, 11}}},
        {3, 0xFFFFFF, 1, 670, 7,
         {{"Tessaro Strumenti Ottici S.r.l.", 15, 10, 0x000000, 0xFFFFFF, 11},
          {"Via Esempio 0, I-00000 Esempio (XX)", 15, 25, 0x000000, 0xFFFFFF, 11},
          {"Tel. +00 000 0000 000", 15, 40, 0x000000, 0xFFFFFF, 11}, {"K-VEX-XC-Ridar", 300, 22, 0x808080, 0xFFFFFF, 18},
          {"Version 2.52", 450, 28, 0x808080, 0xFFFFFF, 11}}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.style);
        const int before = NewCtrl(pHandle, CTRL_TEXT_MSG, "", 0, 0);
        ASSERT_GT(before, 0);
        ShowLogo(c.style);
        EXPECT_EQ(Attr(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR), c.backdrop);
        EXPECT_EQ(Attr(pHandle, PANEL_PICTLogo, ATTR_VISIBLE), c.picture);
        if (c.picture) {
            EXPECT_EQ(Attr(pHandle, PANEL_PICTLogo, ATTR_LEFT), c.picLeft);
            EXPECT_EQ(Attr(pHandle, PANEL_PICTLogo, ATTR_TOP), c.picTop);
        }
        for (size_t i = 0; i < c.texts.size(); ++i) {
            const Text &t = c.texts[i];
            const int id = before + 1 + static_cast<int>(i);
            const std::string shown = rt_GetCtrlText(pHandle, id);
            EXPECT_EQ(shown, t.text) << i;
            // contact lines name no real firm: nothing to dial, nothing to browse to
            if (shown.rfind("Tel.", 0) == 0) {
                EXPECT_EQ(shown.find_first_of("123456789"), std::string::npos) << shown;
            }
            if (shown.rfind("www.", 0) == 0) {
                EXPECT_TRUE(shown.size() > 12 &&
                            shown.compare(shown.size() - 8, 8, ".example") == 0)
                    << shown;
            }
            EXPECT_EQ(Attr(pHandle, id, ATTR_LEFT), t.left) << i;
            EXPECT_EQ(Attr(pHandle, id, ATTR_TOP), t.top) << i;
            EXPECT_EQ(Attr(pHandle, id, ATTR_TEXT_COLOR), t.fg) << i;
            EXPECT_EQ(Attr(pHandle, id, ATTR_TEXT_BGCOLOR), t.bg) << i;
            EXPECT_EQ(Attr(pHandle, id, ATTR_TEXT_POINT_SIZE), t.size) << i;
        }
        // nothing more was created
        const int after = NewCtrl(pHandle, CTRL_TEXT_MSG, "", 0, 0);
        EXPECT_EQ(after, before + 1 + static_cast<int>(c.texts.size()));
    }
    // styles outside 0..3 change nothing
    const int backdrop = Attr(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR);
    const int picture = Attr(pHandle, PANEL_PICTLogo, ATTR_VISIBLE);
    const int before = NewCtrl(pHandle, CTRL_TEXT_MSG, "", 0, 0);
    ShowLogo(4);
    ShowLogo(-1);
    EXPECT_EQ(NewCtrl(pHandle, CTRL_TEXT_MSG, "", 0, 0), before + 1);
    EXPECT_EQ(Attr(pHandle, PANEL_DECOLogo, ATTR_FRAME_COLOR), backdrop);
    EXPECT_EQ(Attr(pHandle, PANEL_PICTLogo, ATTR_VISIBLE), picture);
}

}   // namespace

// Operator comforts: link-health counters after faults, pictures as PNG,
// keyboard shortcuts, tooltips, the statistics fed by the run and recorder
// loops, the installed program, --help and --version.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"
#include "stats/stats.h"

namespace {

using testfs::Exists;
using testfs::ReadFile;

std::string TempDir() { return testfs::NewTempDir("ridar-comfort"); }

std::string Health() {
    ShowLinkHealth();
    return TextBox(pHandle, PANEL_TEXTLinkHealth);
}

int HealthColour() {
    int v = -1;
    GetCtrlAttribute(pHandle, PANEL_TEXTLinkHealth, ATTR_TEXT_BGCOLOR, &v);
    return v;
}

// Runs a shell command; its exit status, or -1.
int Shell(const std::string &cmd) {
    const int rc = std::system(cmd.c_str());
    return rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

const char kPngMagic[] = "\x89PNG\r\n\x1a\n";

}   // namespace

// ---- link health ---------------------------------------------------------------------------
class LinkHealth : public ::testing::Test {
protected:
    PtyPeer peer;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        SelectTarget(RAM);
        stop_flag = STOP_ASKED;
    }
    void TearDown() override { CloseCom(1); }
};

// The link-health tooltip names the USB adapter's latency timer where the
// driver shows one, and says how to lower it when it would delay replies.
TEST_F(LinkHealth, TooltipNamesTheAdapterLatency) {
    const std::string base =
        "Link health since start: frames received, time-outs, resyncs (frames found again after stray bytes) "
        "and the bytes dropped, failed port opens, and the age of the last frame (green while the sensor talks)";
    char dirTemplate[] = "/tmp/ridar-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string tty = peer.Device().substr(peer.Device().rfind('/') + 1);
    ASSERT_EQ(Shell("mkdir -p '" + dir + "/" + tty + "'"), 0);
    // clang-format off
    struct Case {
        const char *timer;  // nullptr: the device has no latency timer
        std::string tip;
    } cases[] = {
        {"16\n", base + "\nUSB adapter latency timer: 16 ms - every reply may wait that long; lower it to 1 ms "
                         "with the udev rule in the README (Troubleshooting)"},
        {"3\n", base + "\nUSB adapter latency timer: 3 ms - every reply may wait that long; lower it to 1 ms "
                        "with the udev rule in the README (Troubleshooting)"},
        {"2\n", base + "\nUSB adapter latency timer: 2 ms"},
        {"1\n", base + "\nUSB adapter latency timer: 1 ms"},
        {nullptr, base},
    };
    // clang-format on
    setenv("RIDAR_USB_SERIAL_SYSFS", dir.c_str(), 1);
    for (const Case &c : cases) {
        const std::string file = dir + "/" + tty + "/latency_timer";
        std::remove(file.c_str());
        if (c.timer) std::ofstream(file) << c.timer;
        CloseCom(1);
        const std::string status = StatusLine();
        ASSERT_TRUE(OpenTestLine(peer.Device()));
        ShowLinkHealth();
        EXPECT_EQ(rt_GetToolTip(pHandle, PANEL_TEXTLinkHealth), c.tip)
            << (c.timer ? c.timer : "none");
        // a pseudo-terminal refuses low latency: not worth a word in the status line
        EXPECT_EQ(StatusLine(), status);
    }
    unsetenv("RIDAR_USB_SERIAL_SYSFS");
    Shell("rm -rf '" + dir + "'");
}

TEST_F(LinkHealth, GetAgainstASilentSensorCountsOneTimeout) {
    const long timeouts = linkTimeouts, frames = linkFrames;
    rt_UserClick(pHandle, PANEL_BTNGet);
    const std::string request = peer.Read(36, 0.5);
    ASSERT_EQ(request.size(), 36u);
    EXPECT_EQ(request.substr(0, 4), std::string("\x00\x55\x00\x02", 4));
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(linkTimeouts, timeouts + 1);
    EXPECT_EQ(linkFrames, frames);
    EXPECT_NE(Health().find("Time-outs " + std::to_string(timeouts + 1) + " "), std::string::npos)
        << Health();
}

TEST_F(LinkHealth, AFrameIsCountedATornOneIsATimeout) {
    const long timeouts = linkTimeouts, frames = linkFrames;
    std::thread sensor([&] {
        if (peer.Read(36, 3.0).size() == 36)
            peer.Write(MakeFrame(0xAA, 2, std::vector<int>(16, 7)));
    });
    rt_UserClick(pHandle, PANEL_BTNGet);
    sensor.join();
    EXPECT_EQ(StatusLine(), "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(linkFrames, frames + 1);
    EXPECT_EQ(linkTimeouts, timeouts);
    EXPECT_LE(Timer() - linkLastFrame, 0.5);
    EXPECT_NE(Health().find("Frames " + std::to_string(frames + 1) + " "), std::string::npos);
    EXPECT_NE(Health().find("Last frame 0."), std::string::npos) << Health();
    EXPECT_EQ(HealthColour(), 0xC8F0C8) << "a sensor that talks shows green";

    // 20 bytes of a frame and then nothing: no frame, one time-out
    std::thread torn([&] {
        if (peer.Read(36, 3.0).size() == 36)
            peer.Write(MakeFrame(0xAA, 2, std::vector<int>(16, 7)).substr(0, 20));
    });
    rt_UserClick(pHandle, PANEL_BTNGet);
    torn.join();
    EXPECT_EQ(linkFrames, frames + 1);
    EXPECT_EQ(linkTimeouts, timeouts + 1);
}

TEST_F(LinkHealth, OpenFailuresAreCounted) {
    CloseCom(1);
    const long failures = linkOpenFailures;
    rt_SetPortTable({"/nonexistent/ttyRidar"});
    InitRS232(1);   // a device that is not there
    EXPECT_EQ(linkOpenFailures, failures + 1);
    InitRS232(9);   // a port beyond the table
    EXPECT_EQ(linkOpenFailures, failures + 2);
    EXPECT_NE(Health().find("Open failures " + std::to_string(failures + 2) + " "),
              std::string::npos);
    ASSERT_TRUE(OpenTestLine(peer.Device()));
}

TEST_F(LinkHealth, AgeOfTheLastFrame) {
    struct Age {
        double age;   // negative: no frame yet (the clock starts with the program)
        const char *text;
        int colour;
    };
    // clang-format off
    const Age cases[] = {
        {-1, "Last frame none yet", 0xFFFFFF},
        {0.0, "Last frame 0.0 s ago", 0xC8F0C8},
        {1.94, "Last frame 1.9 s ago", 0xC8F0C8},
        {2.5, "Last frame 2.5 s ago", 0xFFFFFF},
        {59.4, "Last frame 59.4 s ago", 0xFFFFFF},
        {61, "Last frame 1 min ago", 0xFFFFFF},
        {3599, "Last frame 59 min ago", 0xFFFFFF},
        {2.5 * 3600, "Last frame 2.5 h ago", 0xFFFFFF},
    };
    // clang-format on
    const double saved = linkLastFrame;
    const long frames = linkFrames;
    // a dark desktop palette: light text by default, yet the field stays light
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    QApplication::setPalette(dark);
    for (const Age &c : cases) {
        linkFrames = c.age < 0 ? 0 : frames + 1;
        linkLastFrame = Timer() - c.age;
        const std::string h = Health();
        EXPECT_EQ(h.substr(h.find("Last frame")), c.text) << c.age;
        EXPECT_EQ(HealthColour(), c.colour) << c.age;
        const QWidget *field = rt_Widget(pHandle, PANEL_TEXTLinkHealth);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::black)) << c.age;
    }
    QApplication::setPalette(before);
    // the line updates itself, twice a second, without anyone asking
    linkLastFrame = Timer() - 75;
    SetCtrlVal(pHandle, PANEL_TEXTLinkHealth, "");
    Pump(1.5);
    const std::string h = TextBox(pHandle, PANEL_TEXTLinkHealth);
    EXPECT_NE(h.find("Last frame 1 min ago"), std::string::npos) << h;
    linkLastFrame = saved;
    linkFrames = frames;
}

// ---- pictures -----------------------------------------------------------------------------
class Pictures : public ::testing::Test {
protected:
    std::string dir;
    std::vector<RtPopup> popups;
    std::string answerPath;
    int answer = VAL_NEW_FILE_SELECTED;
    int confirm = 0;

    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        DisplayPanel(pHandle);
        SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 0);
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 1);
        stop_flag = STOP_ASKED;
        dir = TempDir();
        ASSERT_FALSE(dir.empty());
        rt_SetPopupHook([this](const RtPopup &p) {
            popups.push_back(p);
            RtPopupAnswer a;
            if (p.kind == 3) {
                a.result = answer;
                a.path = answerPath;
            } else if (p.kind == 2) {
                a.result = confirm;
            }
            return a;
        });
    }
    void TearDown() override {
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
        HidePanel(pHandle);
        Shell("rm -rf '" + dir + "'");
    }
    // The PNG decodes and has the size of what it shows.
    void ExpectPicture(const std::string &path, int control) {
        const std::string bytes = ReadFile(path);
        ASSERT_GT(bytes.size(), 8u) << path;
        EXPECT_EQ(bytes.substr(0, 8), std::string(kPngMagic, 8));
        int w = 0, h = 0, cw = 0, ch = 0;
        ASSERT_EQ(rt_ReadImageSize(path.c_str(), &w, &h), 0) << path;
        ASSERT_EQ(rt_GetCtrlSize(pHandle, control, &cw, &ch), 0);
        EXPECT_GT(cw, 50);
        EXPECT_GT(ch, 50);
        EXPECT_EQ(w, cw);
        EXPECT_EQ(h, ch);
    }
};

TEST_F(Pictures, EachGraphFromItsContextMenuAndThePanelByCtrlP) {
    struct Target {
        int control;   // 0: the whole panel by its shortcut
        const char *file;
    };
    const Target cases[] = {
        {PANEL_GRAPHBar, "bar.png"},
        {PANEL_STRIPRaw, "strip.png"},
        {0, "panel.png"},
    };
    for (const Target &c : cases) {
        popups.clear();
        answerPath = dir + "/" + c.file;
        const long long t0 = static_cast<long long>(std::time(nullptr));
        if (c.control == 0) {
            rt_UserKey(pHandle, "Ctrl+P");
        } else {
            EXPECT_EQ(rt_GetMenuItems(pHandle, c.control),
                      std::vector<std::string>({"Save this graph as PNG...",
                                                "Save the whole panel as PNG...  (Ctrl+P)"}));
            ASSERT_EQ(rt_UserMenuItem(pHandle, c.control, "Save this graph as PNG..."), 0);
        }
        const long long t1 = static_cast<long long>(std::time(nullptr));
        ASSERT_EQ(popups.size(), 1u) << c.file;
        EXPECT_EQ(popups[0].kind, 3);
        EXPECT_EQ(popups[0].filter, "*.png");
        // the proposed name carries the date and time of the request
        char first[64], last[64];
        PictureName(first, sizeof first, t0);
        PictureName(last, sizeof last, t1);
        EXPECT_TRUE(std::regex_match(popups[0].defaultName,
                                     std::regex(R"(ridar-\d{4}-\d{2}-\d{2}-\d{6}\.png)")))
            << popups[0].defaultName;
        EXPECT_GE(popups[0].defaultName, std::string(first));
        EXPECT_LE(popups[0].defaultName, std::string(last));
        ExpectPicture(answerPath, c.control);
        EXPECT_EQ(StatusLine(), std::string("Picture saved: ") + c.file);
    }
    // the whole-panel item of a graph's menu is the same picture as Ctrl+P
    answerPath = dir + "/panel2.png";
    ASSERT_EQ(rt_UserMenuItem(pHandle, PANEL_GRAPHBar, "Save the whole panel as PNG...  (Ctrl+P)"),
              0);
    ExpectPicture(answerPath, 0);
}

TEST_F(Pictures, HiddenGraphHasNoMenuUntilShown) {
    answerPath = dir + "/video.png";
    EXPECT_NE(rt_UserMenuItem(pHandle, PANEL_GRAPHVideo, "Save this graph as PNG..."), 0);
    EXPECT_TRUE(popups.empty());
    EXPECT_FALSE(Exists(answerPath));
    SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 1);
    ASSERT_EQ(rt_UserMenuItem(pHandle, PANEL_GRAPHVideo, "Save this graph as PNG..."), 0);
    ExpectPicture(answerPath, PANEL_GRAPHVideo);
    EXPECT_NE(rt_UserMenuItem(pHandle, PANEL_GRAPHVideo, "No such item"), 0);
}

TEST_F(Pictures, CancelOverwriteAndFailure) {
    ShowStatusText("before");
    // cancelled dialog: nothing written, nothing said
    answer = VAL_NO_FILE_SELECTED;
    answerPath = dir + "/cancel.png";
    EXPECT_EQ(SavePicture(PANEL_GRAPHBar), -1);
    EXPECT_FALSE(Exists(answerPath));
    EXPECT_EQ(StatusLine(), "before");

    // an existing file is kept when the operator declines
    answer = VAL_EXISTING_FILE_SELECTED;
    answerPath = dir + "/keep.png";
    { std::ofstream(answerPath, std::ios::binary) << "precious"; }
    popups.clear();
    confirm = 0;
    EXPECT_EQ(SavePicture(PANEL_GRAPHBar), -1);
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[1].kind, 2);
    EXPECT_EQ(popups[1].message, "File already exist - overwrite ?");
    EXPECT_EQ(ReadFile(answerPath), "precious");
    // and replaced when he agrees
    confirm = 1;
    EXPECT_EQ(SavePicture(PANEL_GRAPHBar), 0);
    ExpectPicture(answerPath, PANEL_GRAPHBar);

    // a name without an extension becomes a .png
    answer = VAL_NEW_FILE_SELECTED;
    answerPath = dir + "/noext";
    EXPECT_EQ(SavePicture(PANEL_STRIPRaw), 0);
    EXPECT_FALSE(Exists(answerPath));
    ExpectPicture(answerPath + ".png", PANEL_STRIPRaw);

    // a place that cannot be written is reported, not passed off as saved
    answerPath = dir + "/no/such/dir/x.png";
    EXPECT_EQ(SavePicture(PANEL_GRAPHBar), -1);
    EXPECT_EQ(StatusLine(), "Picture could not be written: x.png");
}

TEST_F(Pictures, WhileMeasuringNoDialogHoldsTheLoopUp) {
    answerPath = dir + "/first.png";
    ASSERT_EQ(SavePicture(PANEL_GRAPHBar), 0);   // the directory to use from now on
    popups.clear();
    stop_flag = STOP_RUNNING;   // a loop is running
    const long long t0 = static_cast<long long>(std::time(nullptr));
    const int rc = SavePicture(PANEL_STRIPRaw);
    const long long t1 = static_cast<long long>(std::time(nullptr));
    stop_flag = STOP_ASKED;
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(popups.empty());
    char a[64], b[64];
    PictureName(a, sizeof a, t0);
    PictureName(b, sizeof b, t1);
    const std::string got = Exists(dir + "/" + a) ? dir + "/" + a : dir + "/" + b;
    ExpectPicture(got, PANEL_STRIPRaw);
}

TEST(PictureName, DateAndTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct N {
        long long t;
        const char *name;
    };
    const N cases[] = {
        {0, "ridar-1970-01-01-000000.png"},
        {951782400, "ridar-2000-02-29-000000.png"},
        {1796653855, "ridar-2026-12-07-143055.png"},
    };
    for (const N &c : cases) {
        char buf[64];
        PictureName(buf, sizeof buf, c.t);
        EXPECT_STREQ(buf, c.name);
    }
    char small[10];
    PictureName(small, sizeof small, 0);
    EXPECT_STREQ(small, "ridar.png") << "too small for the date: still a PNG name";
}

// ---- shortcuts ------------------------------------------------------------------------------
namespace {

struct Ev {
    int control, event;
};
std::vector<Ev> g_events;

int Recorder(int, int control, int event, void *, int, int) {
    g_events.push_back({control, event});
    return 0;
}

}   // namespace

// A fresh main panel whose buttons only record their events.
class Shortcuts : public ::testing::Test {
protected:
    int saved = 0, h = 0;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        static const RtCallbackEntry rec[] = {
            {"CC_BTNRun", Recorder}, {"CC_BTNVideo", Recorder}, {"CC_BTNStop", Recorder},
            {"CC_BTNGet", Recorder}, {"CC_BTNSend", Recorder},
        };
        RegisterCallbacks(rec, 5);
        h = LoadPanel(0, KVEX_UIR_PATH, PANEL);
        RegisterRidarCallbacks();
        ASSERT_GT(h, 0);
        saved = pHandle;
        pHandle = h;
        InitComforts();
        DisplayPanel(h);
        g_events.clear();
    }
    void TearDown() override {
        pHandle = saved;
        DiscardPanel(h);
        ProcessSystemEvents();
    }
};

TEST_F(Shortcuts, KeysPressTheirButtonsAndRespectDimming) {
    struct Key {
        const char *keys;
        int button;
        int lock;   // dimming this container (or the button) silences the key
    };
    const Key cases[] = {
        {"F5", PANEL_BTNRun, PANEL_CTRLRunLockB},
        {"F6", PANEL_BTNVideo, PANEL_CTRLRunLockB},
        {"Esc", PANEL_BTNStop, PANEL_BTNStop},
        {"Ctrl+G", PANEL_BTNGet, PANEL_CTRLRunLockA},
        {"Ctrl+S", PANEL_BTNSend, PANEL_CTRLRunLockA},
        {"F5", PANEL_BTNRun, PANEL_CTRLSeriesLockB},
        {"Ctrl+S", PANEL_BTNSend, PANEL_CTRLSeriesLockA},
    };
    for (const Key &c : cases) {
        g_events.clear();
        rt_UserKey(h, c.keys);
        ASSERT_EQ(g_events.size(), 2u) << c.keys;
        EXPECT_EQ(g_events[0].control, c.button) << c.keys;
        EXPECT_EQ(g_events[0].event, EVENT_LEFT_CLICK) << c.keys;
        EXPECT_EQ(g_events[1].control, c.button) << c.keys;
        EXPECT_EQ(g_events[1].event, EVENT_COMMIT) << c.keys;

        g_events.clear();
        SetCtrlAttribute(h, c.lock, ATTR_DIMMED, 1);
        rt_UserKey(h, c.keys);
        EXPECT_TRUE(g_events.empty()) << c.keys << " while dimmed";
        SetCtrlAttribute(h, c.lock, ATTR_DIMMED, 0);
    }
    g_events.clear();
    for (const char *other : {"F7", "Ctrl+X", "Return", "G"}) rt_UserKey(h, other);
    EXPECT_TRUE(g_events.empty());
}

TEST_F(Shortcuts, OnlyWhileTheMainPanelIsActive) {
    DisplayPanel(pRecord);
    rt_UserKey(pRecord, "F5");
    rt_UserKey(pRecord, "Esc");
    HidePanel(pRecord);
    EXPECT_TRUE(g_events.empty());
}

// ---- tooltips -------------------------------------------------------------------------------
TEST(Tooltips, EveryParameterControlSaysWhatItIsAndItsRange) {
    ASSERT_TRUE(StartRidarForTest());
    struct Tip {
        int panel;
        int control;
        const char *meaning, *range;
    };
    // clang-format off
    const Tip cases[] = {
        {PANEL, PANEL_NUMPower, "power", "0 to 1000"},
        {PANEL, PANEL_RINGRs232Mode, "Serial-line mode", "0 or 1"},
        {PANEL, PANEL_NUMVideoThreshold, "Video threshold", "50 to 950"},
        {PANEL, PANEL_RINGanaMode, "Analog output", "0 to 7"},
        {PANEL, PANEL_NUMPolarity, "Polarity", "0 or 1"},
        {PANEL, PANEL_NUMEvalMode, "Evaluation mode", "0 to 4"},
        {PANEL, PANEL_NEDITEdgeLeft, "Left limit of the evaluation window", "1 to the number of pixels"},
        {PANEL, PANEL_NEDITEdgeRight, "Right limit of the evaluation window", "1 to the number of pixels"},
        {PANEL, PANEL_NUMSetpoint, "Set-point", "0 to 65535"},
        {PANEL, PANEL_NEDITTolerance, "Tolerance around the set-point", "1 to the number of pixels"},
        {PANEL, PANEL_DROPHardware, "Hardware variant", "0 to 3"},
        {PANEL, PANEL_NUMAverage, "Averaging", "0 to 1024"},
        {PANEL, PANEL_SWITCHOpMode, "Operating mode", "Off (0) or on (1)"},
        {PANEL, PANEL_NUMDeltaTol, "Delta tolerance", "1 to the number of pixels"},
        {PANEL, PANEL_RINGTrigMode, "Trigger mode", "0 to 3"},
        {POPUP, POPUP_NUMCalSlope, "Calibration slope", "0 to 128"},
        {POPUP, POPUP_NUMCalOffset, "Calibration offset", "-30000 to 30000"},
    };
    // clang-format on
    for (const Tip &c : cases) {
        const int panel = c.panel == PANEL ? pHandle : pPopup;
        const std::string tip = rt_GetToolTip(panel, c.control);
        EXPECT_NE(tip.find(c.meaning), std::string::npos) << c.control << ": " << tip;
        EXPECT_NE(tip.find(c.range), std::string::npos) << c.control << ": " << tip;
    }
}

// ---- statistics fed by the loops ------------------------------------------------------------
class LoopsFeedStatistics : public ::testing::Test {
protected:
    SimProcess sim;
    std::string dir;
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        ASSERT_TRUE(sim.Start({"--fast", "--noise", "0", "--object", "400", "600"}));
        OpenSensorLine(sim.Device());
        ASSERT_EQ(softversion, 252) << szStatus;
        DisplayPanel(pHandle);
        StatsClear(&statsPx);
        StatsClear(&statsUm);
        dir = TempDir();
    }
    void TearDown() override {
        stop_flag = STOP_ASKED;
        CloseCom(1);
        HidePanel(pHandle);
        Shell("rm -rf '" + dir + "'");
    }
};

TEST_F(LoopsFeedStatistics, RunModeByF5StoppedByEsc) {
    const long frames = linkFrames;
    rt_After(1.0, [] { rt_UserKey(pHandle, "Esc"); });
    const double t0 = Timer();
    rt_UserKey(pHandle, "F5");   // returns when the run has ended
    EXPECT_LT(Timer() - t0, 3.0);
    const long got = linkFrames - frames;
    ASSERT_GT(got, 5);
    // every frame the loop drew went in; one may have come after the stop
    EXPECT_GE(statsPx.total.n, got - 1);
    EXPECT_LE(statsPx.total.n, got);
    EXPECT_EQ(statsUm.total.n, statsPx.total.n);
    // an object that does not move: sigma 0, no capability
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatAllPxMean), std::to_string(Mvalue) + ".00");
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatAllPxSdev), "0.00");
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatAllPxPp), "n/a");
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatAllPxPpk), "n/a");
    char mm[32];
    std::snprintf(mm, sizeof mm, "%.4f", umValue / 1000.0);
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatWinMmMean), mm);
    const std::string n = std::to_string(statsPx.total.n > 100 ? 100 : statsPx.total.n);
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatWinPxCount), n);
}

TEST_F(LoopsFeedStatistics, RunModeTimeoutIsCounted) {
    const long timeouts = linkTimeouts;
    rt_After(0.5, [this] { sim.Command("silent on"); });
    rt_UserClick(pHandle, PANEL_BTNRun);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(linkTimeouts, timeouts + 1);
    EXPECT_GT(statsPx.total.n, 0);
    sim.Command("silent off");
}

TEST_F(LoopsFeedStatistics, RecorderFramesGoIn) {
    std::snprintf(rec_fname, sizeof rec_fname, "%s/rec.dat", dir.c_str());
    SetCtrlVal(pRecord, RECORD_NUMsample, 2);
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0);
    const long frames = linkFrames;
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    const long got = linkFrames - frames;
    ASSERT_GE(got, 2);
    EXPECT_GE(statsPx.total.n, got - 1);
    EXPECT_LE(statsPx.total.n, got);
    EXPECT_EQ(TextBox(pHandle, PANEL_TEXTStatAllPxCount), std::to_string(statsPx.total.n));
}

// ---- installation and the command line ----------------------------------------------------
TEST(CommandLine, HelpAndVersionAnswerBeforeAnyWindow) {
    struct Opt {
        const char *args;
        int rc;
        const char *out;   // expected start of stdout
    };
    const Opt cases[] = {
        {"--help", 0, "Usage: kvex-ridar [--port DEVICE] [--simulate [SIMULATOR OPTIONS]]\n"},
        {"-h", 0, "Usage: kvex-ridar"},
        {"--version", 0, "kvex-ridar (K-VEX-XC-Ridar) 2.52\n"},
        {"--port /dev/null --version", 0, "kvex-ridar (K-VEX-XC-Ridar) 2.52\n"},
        // after --simulate everything belongs to the simulator; without a
        // display the program itself cannot start, and says so
        {"--simulate --version", 1, ""},
    };
    const std::string dir = TempDir();
    for (const Opt &c : cases) {
        const std::string out = dir + "/out";
        const int rc =
            Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 " +
                  std::string(KVEX_RIDAR_PATH) + " " + c.args + " >" + out + " 2>/dev/null");
        EXPECT_EQ(rc, c.rc) << c.args;
        const std::string got = ReadFile(out);
        EXPECT_EQ(got.substr(0, std::strlen(c.out)), c.out) << c.args;
        if (std::string(c.args) == "--help") {
            for (const char *w :
                 {"--port DEVICE", "--simulate", "--version", "F5 run", "F6 video", "Esc stop",
                  "Ctrl+G get", "Ctrl+S send", "Ctrl+P", "F7 the Analysis", "Ctrl+D the Compare",
                  "Shift+F10", "Esc closes"})
                EXPECT_NE(got.find(w), std::string::npos) << w;
        }
    }
    Shell("rm -rf '" + dir + "'");
}

// What a user sees when the program cannot start: one line on stderr naming
// the cause and what to do, and the exit code scripts can tell apart.
TEST(CommandLine, NoDisplayAndBadOptionsSayWhatIsWrong) {
    const std::string noDisplay =
        "kvex-ridar: no display: set DISPLAY (X11) or WAYLAND_DISPLAY, run it under xvfb-run, "
        "or set QT_QPA_PLATFORM=offscreen for a headless run\n";
    const std::string usage =
        "Usage: kvex-ridar [--port DEVICE] [--simulate [SIMULATOR OPTIONS]]\n"
        "       kvex-ridar --analyse FILE [--export OUT.pdf [--lsl X] [--usl Y] [--unit px|mm]]\n";
    struct Case {
        const char *env;   // what the environment holds besides no display
        const char *args;
        int rc;
        std::string err;   // all of stderr
    };
    const Case cases[] = {
        {"", "", 1, noDisplay},
        {"", "--port /dev/null", 1, noDisplay},
        {"QT_QPA_PLATFORM=xcb", "--port /dev/null", 1, noDisplay},
        {"QT_QPA_PLATFORM=wayland DISPLAY=:0", "--port /dev/null", 1, noDisplay},
        // options are checked before the display: a typo is reported as such
        {"", "--prot /dev/ttyUSB0", 2, "kvex-ridar: unknown option --prot\n" + usage},
        {"", "-x", 2, "kvex-ridar: unknown option -x\n" + usage},
        {"", "/dev/ttyUSB0", 2, "kvex-ridar: unexpected argument /dev/ttyUSB0\n" + usage},
        {"", "--port", 2, "kvex-ridar: --port needs a device name\n" + usage},
        {"", "--port=", 2, "kvex-ridar: unknown option --port=\n" + usage},
        {"QT_QPA_PLATFORM=offscreen", "--bogus", 2, "kvex-ridar: unknown option --bogus\n" + usage},
    };
    const std::string dir = TempDir();
    for (const Case &c : cases) {
        const std::string out = dir + "/out", err = dir + "/err";
        const int rc =
            Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(c.env) +
                  " timeout 20 " + KVEX_RIDAR_PATH + " " + c.args + " >" + out + " 2>" + err);
        EXPECT_EQ(rc, c.rc) << c.env << " " << c.args;
        EXPECT_EQ(ReadFile(err), c.err) << c.env << " " << c.args;
        EXPECT_EQ(ReadFile(out), "") << c.env << " " << c.args;
    }
    Shell("rm -rf '" + dir + "'");
}

// ./run refuses at once, before installing or building anything.
TEST(CommandLine, RunScriptWithoutDisplayStopsBeforeBuilding) {
    const std::string dir = TempDir();
    const std::string run = std::string(KVEX_SOURCE_DIR) + "/run";
    const auto t0 = Clock::now();
    const int rc = Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 " + run +
                         " >" + dir + "/out 2>" + dir + "/err");
    EXPECT_EQ(rc, 1);
    EXPECT_LT(Since(t0), 5.0);
    EXPECT_EQ(
        ReadFile(dir + "/err"),
        "kvex-ridar: no display: set DISPLAY (X11) or WAYLAND_DISPLAY, run it under xvfb-run, "
        "or set QT_QPA_PLATFORM=offscreen for a headless run\n");
    EXPECT_EQ(ReadFile(dir + "/out"), "");
    Shell("rm -rf '" + dir + "'");
}

TEST(Install, InstalledProgramStartsFromItsPrefixAndFindsItsResourceFile) {
    const std::string prefix = TempDir();
    ASSERT_FALSE(prefix.empty());
    ASSERT_EQ(Shell("cmake --install '" + std::string(KVEX_BUILD_DIR) + "' --prefix '" + prefix +
                    "' >/dev/null"),
              0);
    for (const char *f : {"bin/kvex-ridar", "bin/kvex-sim",
                          "share/kvex-ridar/K-VEX-XCRidarV252.uir", "share/kvex-ridar/korvane.bmp",
                          "share/kvex-ridar/tessaro.bmp", "share/applications/kvex-ridar.desktop",
                          "share/icons/hicolor/scalable/apps/kvex-ridar.svg"})
        EXPECT_TRUE(Exists(prefix + "/" + f)) << f;
    EXPECT_EQ(ReadFile(prefix + "/share/kvex-ridar/K-VEX-XCRidarV252.uir"),
              ReadFile(KVEX_UIR_PATH));
    const std::string desktop = ReadFile(prefix + "/share/applications/kvex-ridar.desktop");
    for (const char *line : {"[Desktop Entry]\n", "\nType=Application\n", "\nExec=kvex-ridar\n",
                             "\nIcon=kvex-ridar\n", "\nName=K-VEX-XC-Ridar\n"})
        EXPECT_NE(desktop.find(line), std::string::npos) << line;
    // started where the logo bitmaps lie
    EXPECT_NE(desktop.find("\nPath=" + prefix + "/share/kvex-ridar\n"), std::string::npos)
        << desktop;
    EXPECT_NE(ReadFile(prefix + "/share/icons/hicolor/scalable/apps/kvex-ridar.svg").find("<svg"),
              std::string::npos);

    // started from an empty directory, so only the installed resource file can serve
    const std::string cwd = TempDir();
    const std::string run =
        "cd '" + cwd +
        "' && env QT_QPA_PLATFORM=offscreen RIDAR_TEST_CLOSE_AFTER=1.5 timeout 30 '" + prefix +
        "/bin/kvex-ridar' --simulate --fast >'" + cwd + "/out' 2>'" + cwd + "/err'";
    EXPECT_EQ(Shell(run), 0) << ReadFile(cwd + "/err");
    EXPECT_EQ(ReadFile(cwd + "/err").find("cannot load"), std::string::npos);

    // and without it the program says so and ends with -1
    ASSERT_EQ(std::remove((prefix + "/share/kvex-ridar/K-VEX-XCRidarV252.uir").c_str()), 0);
    EXPECT_EQ(Shell(run), 255);
    EXPECT_NE(ReadFile(cwd + "/err").find("cannot load the user interface file"),
              std::string::npos);
    Shell("rm -rf '" + prefix + "' '" + cwd + "'");
}

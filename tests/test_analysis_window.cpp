// The Analysis window as an operator uses it: opened from the main panel,
// a recording written by the tool read back, the controls, the PDF report
// and the PNG pictures, the command line without a display, and a live
// recording of kvex-sim whose file later shows the same numbers.
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <qcustomplot.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "analysis/live.h"
#include "rt/rt_testing.h"
#include "analysisui/analysisui.h"
#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"
#include "stats/stats.h"
#include "tests/support/support.h"

namespace {

std::string TempDir() { return testfs::TempDir("ridar-analysis"); }
std::string TempPath(const std::string &name) { return TempDir() + "/" + name; }
using testfs::Exists;
using testfs::ReadFile;
using testfs::WriteFile;

// Pages of a PDF: page objects ("/Type /Page", not "/Pages").
int PdfPages(const std::string &pdf) {
    int n = 0;
    size_t p = 0;
    while ((p = pdf.find("/Type /Page", p)) != std::string::npos) {
        p += 11;
        if (p < pdf.size() && pdf[p] != 's') ++n;
    }
    return n;
}

// The table for 10 12 11 14 13 with tolerance 8 .. 17, worked out by hand:
// mean 12, sigma overall sqrt 2.5 = 1.5811, mean moving range 1.75, sigma
// within 1.75 / 1.128 = 1.5514, Cp 0.9669, Cpk 0.8594, Pp 0.9487, Ppk 0.8433;
// expected ppm: tails beyond 4 and 5 sigmas-worth of the limits (below).
std::string HandTable(const char *unit, int decimals) {
    const double sw = 1.75 / 1.128, so = std::sqrt(2.5);
    auto tail = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };
    char within[32], overall[32];
    std::snprintf(within, sizeof within, "%.0f", 1e6 * (tail(4 / sw) + tail(5 / sw)));
    std::snprintf(overall, sizeof overall, "%.0f", 1e6 * (tail(4 / so) + tail(5 / so)));
    const std::string u = unit;
    const std::string z =
        decimals == 0 ? "" : "." + std::string(static_cast<size_t>(decimals), '0');
    const std::string mean = decimals == 0 ? "12.00" : "12.00000";
    const std::string sdw = decimals == 0 ? "1.55" : "1.55142";
    const std::string sdo = decimals == 0 ? "1.58" : "1.58114";
    auto row = [](const std::string &n, const std::string &v) {
        return n + std::string(31 - n.size(), ' ') + v + "\n";
    };
    return row("n", "5") + row("LSL [" + u + "]", "8" + z) + row("USL [" + u + "]", "17" + z) +
           row("mean [" + u + "]", mean) + row("sigma within [" + u + "]", sdw) +
           row("sigma overall [" + u + "]", sdo) + row("Cp", "0.97") + row("Cpk", "0.86") +
           row("Pp", "0.95") + row("Ppk", "0.84") + row("ppm outside, observed", "0") +
           row("ppm outside, expected within", within) +
           row("ppm outside, expected overall", overall);
}

const char kHeader[] =
    "Date:\t12-06-2026\r\nTime:\t14:05:33\r\nTime-Increment[s]:\t0\r\nNumber of Samples:\t5\r\n"
    "Offset-Value [\xB5m]:\t0\r\nSlope-Value [\xB5m/pixel]:\t1000.0000\r\nE-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n";
const int kValues[5] = {10, 12, 11, 14, 13};

std::string FiveSamples() {
    std::string t = kHeader;
    for (int v : kValues)
        t += "1\t2\t" + std::to_string(v) + "\t2\t" + std::to_string(v * 1000) + "\r\n";
    return t;
}

class AnalysisWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_GT(AnalysisLoadPanel(), 0);
        rt_SetPopupHook([this](const RtPopup &p) {
            popups.push_back(p);
            RtPopupAnswer a;
            a.result = p.kind == 3 ? fileResult : (p.kind == 2 ? 1 : 0);
            a.path = filePath;
            return a;
        });
        AnalysisSetUnit(SPC_UNIT_PX);
        AnalysisSetLimits(SPC_LIMITS_NONE, NAN, NAN);
        AnalysisSetBinWidth(0.0);
        AnalysisSetSource(SPC_SOURCE_LIVE);
    }
    void TearDown() override {
        rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    }

    std::string Status() { return rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcStatus); }

    std::vector<RtPopup> popups;
    int fileResult = 0;
    std::string filePath;
};

TEST_F(AnalysisWindow, MainPanelButtonAndShortcutOpenIt) {
    HidePanel(pAnalysis);
    ASSERT_GT(rt_Find(pHandle, "BTNAnalysis"), 0);
    EXPECT_EQ(rt_GetCtrlText(pHandle, PANEL_BTNAnalysis), "Analysis...");
    rt_UserClick(pHandle, PANEL_BTNAnalysis);
    EXPECT_TRUE(rt_IsShown(pAnalysis));
    HidePanel(pAnalysis);
    InitAnalysis();
    DisplayPanel(pHandle);
    rt_UserKey(pHandle, "F7");
    EXPECT_TRUE(rt_IsShown(pAnalysis));
    // the close box hides it; the program goes on
    rt_UserClosePanel(pAnalysis);
    EXPECT_FALSE(rt_IsShown(pAnalysis));
}

// A recording written by the tool's own recorder file code, then read back.
TEST_F(AnalysisWindow, RecordingWrittenByTheTool) {
    const std::string path = TempPath("tool.dat");
    remove(path.c_str());
    std::snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());
    slope = 1000;   // 1000 / 1024 um per pixel
    intersect = YOFFSET;
    ccdtype = 0;
    softversion = 252;
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0u);
    SetCtrlVal(pRecord, RECORD_NUMsample, 5u);
    ASSERT_EQ(writeFileHeader(), 0);
    for (int v : kValues)
        ASSERT_EQ(WriteDataLine(1, 2, static_cast<uint16_t>(v), 2, static_cast<uint32_t>(v * 1000)),
                  0);

    ASSERT_EQ(AnalysisOpenFile(path.c_str()), 0) << Status();
    EXPECT_EQ(Status(), "Read 5 samples from " + path);
    EXPECT_EQ(rt_GetCtrlText(pAnalysis, ANALYSIS_STRINGSpcFile), path);
    int source = -1;
    GetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, &source);
    EXPECT_EQ(source, SPC_SOURCE_FILE);
    const std::string info = rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcInfo);
    EXPECT_NE(info.find("Number of Samples 5"), std::string::npos) << info;
    EXPECT_NE(info.find("Slope-Value 0.9766 um/pixel"), std::string::npos) << info;

    // the operator enters the tolerance as an operator would: field by field
    rt_UserSetVal(pAnalysis, ANALYSIS_RINGSpcLimits, SPC_LIMITS_ENTERED);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcLsl, 8);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcUsl, 17);
    EXPECT_EQ(AnalysisTableText(), HandTable("px", 0));
    // millimetres: M-VAL[um] / 1000 are the same numbers here; the entered
    // limits follow through the recording's calibration (0.9766 um/px)
    rt_UserSetVal(pAnalysis, ANALYSIS_RINGSpcUnit, SPC_UNIT_MM);
    double lsl = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_NUMSpcLsl, &lsl);
    EXPECT_NEAR(lsl, 8 * 1000.0 / 1024 / 1000, 1e-6);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcLsl, 8);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcUsl, 17);
    EXPECT_EQ(AnalysisTableText(), HandTable("mm", 3));
    // the table on screen says the same
    const std::string shown = rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcTable);
    EXPECT_NE(shown.find("0.97"), std::string::npos);
    EXPECT_NE(shown.find("12.00000"), std::string::npos);
}

TEST_F(AnalysisWindow, FilesThatAreNoRecordingKeepWhatIsShown) {
    const std::string good = TempPath("good.dat");
    WriteFile(good, FiveSamples());
    ASSERT_EQ(AnalysisOpenFile(good.c_str()), 0);
    const std::string before = AnalysisTableText();
    struct Case {
        std::string name, text, message;
    };
    // clang-format off
    const Case cases[] = {
        {"empty.dat", "", "the file is empty: not a recorder file"},
        {"para.dat", "500\r\n0\r\n512\r\n", "not a recorder file: line 1 should begin with \"Date:\""},
        {"short.dat", "Date:\t12-06-2026\r\n", "not a recorder file: the header has 1 of its 7 lines"},
    };
    // clang-format on
    for (const Case &c : cases) {
        const std::string p = TempPath(c.name);
        WriteFile(p, c.text);
        EXPECT_EQ(AnalysisOpenFile(p.c_str()), -1) << c.name;
        EXPECT_EQ(Status(), p + ": " + c.message);
        EXPECT_EQ(AnalysisTableText(), before) << c.name;
    }
    // a file still being written: a partial line is left out and said so,
    // Reload reads what has come since
    const std::string growing = TempPath("growing.dat");
    WriteFile(growing, FiveSamples() + "1\t2\t1");
    ASSERT_EQ(AnalysisOpenFile(growing.c_str()), 0);
    EXPECT_NE(Status().find("the last line is incomplete (5 bytes, no line end) and was ignored"),
              std::string::npos)
        << Status();
    WriteFile(growing, FiveSamples() + "1\t2\t15\t2\t15000\r\n");
    rt_UserClick(pAnalysis, ANALYSIS_BTNSpcReload);
    EXPECT_EQ(Status(), "Read 6 samples from " + growing);
}

TEST_F(AnalysisWindow, PdfReportAndPngPictures) {
    const std::string rec = TempPath("five.dat");
    WriteFile(rec, FiveSamples());
    ASSERT_EQ(AnalysisOpenFile(rec.c_str()), 0);
    AnalysisSetLimits(SPC_LIMITS_ENTERED, 8, 17);
    DisplayPanel(pAnalysis);
    ProcessSystemEvents();

    // Export PDF...: the dialog proposes a dated name; the report is written there
    const std::string pdf = TempPath("report.pdf");
    fileResult = VAL_NEW_FILE_SELECTED;
    filePath = pdf;
    rt_UserClick(pAnalysis, ANALYSIS_BTNSpcExportPdf);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].filter, "*.pdf");
    EXPECT_TRUE(
        std::regex_match(popups[0].defaultName,
                         std::regex("ridar-analysis-[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{6}\\.pdf")))
        << popups[0].defaultName;
    EXPECT_EQ(Status(), "Report written: " + pdf);
    const std::string bytes = ReadFile(pdf);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 7), "%PDF-1.");
    EXPECT_NE(bytes.find("%%EOF", bytes.size() - 16), std::string::npos);
    EXPECT_EQ(PdfPages(bytes), 1);   // one A4 page
    EXPECT_NE(bytes.find("/Count 1"), std::string::npos);

    // Save PNGs...: three pictures at the size they have on screen
    popups.clear();
    filePath = TempPath("pict.png");
    rt_UserClick(pAnalysis, ANALYSIS_BTNSpcSavePng);
    const struct {
        int control;
        const char *suffix;
    } pictures[] = {
        {ANALYSIS_GRAPHSpcIndiv, "-individuals.png"},
        {ANALYSIS_GRAPHSpcMR, "-moving-range.png"},
        {ANALYSIS_GRAPHSpcHist, "-histogram.png"},
    };
    for (const auto &p : pictures) {
        int w = 0, h = 0, cw = 0, ch = 0;
        const std::string file = TempPath(std::string("pict") + p.suffix);
        ASSERT_EQ(rt_ReadImageSize(file.c_str(), &w, &h), 0) << file;
        ASSERT_EQ(rt_GetCtrlSize(pAnalysis, p.control, &cw, &ch), 0);
        EXPECT_EQ(w, cw) << file;
        EXPECT_EQ(h, ch) << file;
        EXPECT_GT(w, 300);
    }
    // a path that cannot be written is said so
    EXPECT_EQ(AnalysisWritePdf("/nonexistent-dir/x.pdf"), -1);
    filePath = "/nonexistent-dir/x.pdf";
    rt_UserClick(pAnalysis, ANALYSIS_BTNSpcExportPdf);
    EXPECT_EQ(Status(),
              "Report could not be written: /nonexistent-dir/x.pdf: No such file or directory");
}

// Runs kvex-ridar with no display at all; its exit code, stdout and stderr.
struct RunResult {
    int code = -1;
    std::string out, err;
};
RunResult RunRidar(const std::vector<std::string> &args, const std::string &locale = "") {
    const std::string out = TempPath("stdout"), err = TempPath("stderr");
    std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";
    if (!locale.empty()) cmd += " LC_ALL=" + locale;
    cmd += std::string(" '") + KVEX_RIDAR_PATH + "'";
    for (const std::string &a : args) cmd += " '" + a + "'";
    cmd += " >'" + out + "' 2>'" + err + "'";
    RunResult r;
    const int st = std::system(cmd.c_str());
    r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

TEST(AnalysisCommandLine, ExportWithoutADisplay) {
    const std::string rec = TempPath("cli.dat");
    WriteFile(rec, FiveSamples());
    const std::string pdf = TempPath("cli.pdf");
    remove(pdf.c_str());
    RunResult r = RunRidar({"--analyse", rec, "--export", pdf, "--lsl", "8", "--usl", "17"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, HandTable("px", 0));
    EXPECT_EQ(r.err, "");   // nothing from the platform layer either
    EXPECT_EQ(PdfPages(ReadFile(pdf)), 1);
    // millimetres, and a locale with a decimal comma changes nothing
    r = RunRidar({"--analyse", rec, "--export", pdf, "--unit", "mm", "--lsl", "8", "--usl", "17"},
                 "de_DE.UTF-8");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, HandTable("mm", 3));
    // no tolerance: the indices are n/a
    r = RunRidar({"--analyse", rec, "--export", pdf});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Cpk                            n/a\n"), std::string::npos) << r.out;
}

// Bad input, reports that cannot be written and limits that give no
// capability: the exit code and the one line on stderr, no report left behind.
TEST(AnalysisCommandLine, BadInputGetsAClearMessage) {
    const std::string para = TempPath("para.txt");
    WriteFile(para, "500\n0\n");
    const std::string rec = TempPath("fail.dat");
    WriteFile(rec, FiveSamples());
    const std::string dir = TempDir(), pdf = TempPath("never.pdf"),
                      missing = TempPath("missing.dat");
    remove(pdf.c_str());
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    // clang-format off
    const Case cases[] = {
        {{"--analyse", para, "--export", pdf}, 1, "kvex-ridar: " + para + ": not a recorder file: line 1 should begin with \"Date:\"\n"},
        {{"--analyse", missing, "--export", pdf}, 1, "kvex-ridar: " + missing + ": cannot open the file: No such file or directory\n"},
        {{"--analyse", dir, "--export", pdf}, 1, "kvex-ridar: " + dir + ": cannot read the file: Is a directory\n"},
        {{"--analyse", para, "--export", pdf, "--unit", "inch"}, 2, "kvex-ridar: --unit is px or mm\n"},
        {{"--analyse", para, "--export", pdf, "--lsl", "abc"}, 2, "kvex-ridar: --lsl needs a number\n"},
        {{"--analyse", rec, "--export", pdf, "--usl", "nan"}, 2, "kvex-ridar: --usl needs a number\n"},
        {{"--export", pdf}, 2, "kvex-ridar: --export needs --analyse FILE\n"},
        {{"--analyse", rec, "--export", pdf, "--lsl", "700", "--usl", "500"}, 2,
         "kvex-ridar: --lsl 700 lies above --usl 500: no capability\n"},
        {{"--analyse", rec, "--export", pdf, "--lsl", "500", "--usl", "500"}, 2,
         "kvex-ridar: --lsl 500 equals --usl 500: the tolerance has no width\n"},
        {{"--analyse", rec, "--export", "/nonexistent/x.pdf"}, 1,
         "kvex-ridar: the report could not be written to /nonexistent/x.pdf: No such file or directory\n"},
        {{"--analyse", rec, "--export", dir}, 1,
         "kvex-ridar: the report could not be written to " + dir + ": Is a directory\n"},
    };
    // clang-format on
    for (const Case &c : cases) {
        RunResult r = RunRidar(c.args);
        EXPECT_EQ(r.code, c.code) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(Exists(pdf));
}

// The program with the Analysis window, connected to kvex-sim started with
// `args`, holding the simulator's factory parameter set.
class LiveSensor : public ::testing::Test {
protected:
    void Connect(const std::vector<std::string> &args) {
        ASSERT_TRUE(StartRidarForTest());
        ASSERT_GT(AnalysisLoadPanel(), 0);
        InitAnalysis();
        ASSERT_TRUE(sim.Start(args));
        CloseCom(1);
        ASSERT_TRUE(OpenTestLine(sim.Device()));
        HoldSimulatorFactorySet();
        stop_flag = STOP_ASKED;
        rt_UserClick(pHandle, PANEL_BTNStatsReset);
        AnalysisSetSource(SPC_SOURCE_LIVE);
        AnalysisSetUnit(SPC_UNIT_PX);
        AnalysisSetLimits(SPC_LIMITS_LIVE, NAN, NAN);
        AnalysisShow();
    }
    void TearDown() override {
        rt_SetTimerRate(1.0);
        stop_flag = STOP_ASKED;
        CloseCom(1);
        sim.Stop();
        if (pAnalysis > 0) HidePanel(pAnalysis);
    }
    SimProcess sim;
};

// Operator scenario: reset the statistics, record from a moving object with
// noise, look at the live analysis, then open the recorder file: the same
// numbers. The recorder paces one request a second by the run-time clock,
// left at its true rate: a faster clock shrinks the line's time-out below
// what a redraw of the live analysis takes under the sanitizers on a loaded
// machine.
TEST_F(LiveSensor, RecordingShowsTheSameNumbersLiveAndFromTheFile) {
    Connect({"--fast", "--noise", "2", "--motion", "20", "60", "--exit-on-eof"});
    const std::string path = TempPath("live.dat");
    remove(path.c_str());
    std::snprintf(rec_fname, sizeof rec_fname, "%s", path.c_str());

    EXPECT_EQ(AnaLiveCount(&anaLive), 0u);
    SetCtrlVal(pRecord, RECORD_NUMsample, 20u);
    SetCtrlVal(pRecord, RECORD_NUMinctime, 0u);
    rt_After(120.0, [] { stop_flag = STOP_ASKED; });
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    ASSERT_EQ(stop_flag, STOP_COMPLETED) << rt_GetCtrlText(pHandle, PANEL_TEXTStatus);
    EXPECT_EQ(anaLive.total, 20);

    AnalysisRefresh();
    const std::string livePx = AnalysisTableText();
    AnalysisSetUnit(SPC_UNIT_MM);
    const std::string liveMm = AnalysisTableText();
    EXPECT_NE(livePx.find("n                              20\n"), std::string::npos) << livePx;
    // the live set's limits: 512 +- 100 px, 5.150 .. 7.650 mm through 12.5 um/px
    EXPECT_NE(livePx.find("LSL [px]                       412\n"), std::string::npos) << livePx;
    EXPECT_NE(liveMm.find("LSL [mm]                       5.150\n"), std::string::npos) << liveMm;
    EXPECT_NE(liveMm.find("USL [mm]                       7.650\n"), std::string::npos) << liveMm;

    ASSERT_EQ(AnalysisOpenFile(path.c_str()), 0)
        << rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcStatus);
    AnalysisSetUnit(SPC_UNIT_PX);
    EXPECT_EQ(AnalysisTableText(), livePx);
    AnalysisSetUnit(SPC_UNIT_MM);
    EXPECT_EQ(AnalysisTableText(), liveMm);
    AnalysisSetSource(SPC_SOURCE_LIVE);
}

// The run loop feeds the live series at full speed; the window redraws a
// few times a second at most, never once per frame.
TEST_F(LiveSensor, RedrawsAFewTimesASecondInRunMode) {
    Connect({"--fast", "--noise", "2", "--exit-on-eof"});
    const long redraws0 = AnalysisLiveRedraws();
    const double seconds = 3.0;
    rt_After(seconds, [] { stop_flag = STOP_ASKED; });
    rt_UserClick(pHandle, PANEL_BTNRun);
    const long redraws = AnalysisLiveRedraws() - redraws0;
    EXPECT_GT(anaLive.total, 300);   // frames fed to the series
    EXPECT_GE(redraws, 2);
    EXPECT_LE(redraws, static_cast<long>(seconds / SPC_LIVE_MIN_REDRAW) + 1);
}

}   // namespace

// Dark pixels (text) of a chart's grab above its axes: the title and the
// legend. Their columns must lie inside the chart, off its edges.
void TitleInk(QCustomPlot *plot, int *left, int *right) {
    const QImage img = plot->grab().toImage();
    *left = img.width();
    *right = -1;
    const int top = plot->axisRect()->top() - 8;
    for (int y = 0; y < top && y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 100) {
                *left = std::min(*left, x);
                *right = std::max(*right, x);
            }
}

QCustomPlot *Plot(int control) {
    return qobject_cast<QCustomPlot *>(rt_Widget(pAnalysis, control));
}

std::string ChartNote(QCustomPlot *p) {
    for (int i = 0; i < p->itemCount(); ++i)
        if (auto *t = qobject_cast<QCPItemText *>(p->item(i)))
            if (t->position->type() == QCPItemPosition::ptAxisRectRatio &&
                t->position->key() == 0.5)
                return t->text().toStdString();
    return "";
}

// The window at 1366 x 768 as an operator meets it: before any data, after a
// file that is no recording, then a steady whole-pixel recording with
// limits far off (long titles) and limits typed the wrong way round.
TEST_F(AnalysisWindow, StatesAndTitlesAt1366x768) {
    rt_Widget(pAnalysis, 0)->resize(1366, 768);
    AnalysisForgetRecording();
    AnalysisSetSource(SPC_SOURCE_LIVE);
    AnalysisLiveReset();
    AnalysisShow();
    for (int i = 0; i < 10; ++i) ProcessSystemEvents();
    const int charts[3] = {ANALYSIS_GRAPHSpcIndiv, ANALYSIS_GRAPHSpcMR, ANALYSIS_GRAPHSpcHist};
    auto fullSize = [&](const char *state) {
        for (int c : charts) {
            QCustomPlot *p = Plot(c);
            ASSERT_TRUE(p);
            EXPECT_GT(p->axisRect()->width(), p->width() * 8 / 10) << state << " chart " << c;
        }
    };
    fullSize("empty");
    for (int c : charts)
        EXPECT_EQ(ChartNote(Plot(c)),
                  "No measurements yet\nstart run mode or the recorder, or open a recorder file");
    EXPECT_EQ(Plot(ANALYSIS_GRAPHSpcIndiv)->plotLayout()->rowCount(), 2);   // no empty legend

    const std::string junk = TempPath("junk.dat");
    WriteFile(junk, "junk\n");
    EXPECT_EQ(AnalysisOpenFile(junk.c_str()), -1);
    for (int i = 0; i < 10; ++i) ProcessSystemEvents();
    fullSize("bad file");
    int source = -1;
    GetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, &source);
    EXPECT_EQ(source, SPC_SOURCE_FILE);
    EXPECT_EQ(rt_GetCtrlText(pAnalysis, ANALYSIS_STRINGSpcFile), junk);
    const std::string why = "not a recorder file: line 1 should begin with \"Date:\"";
    const std::string info = rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcInfo);
    EXPECT_EQ(info.substr(0, info.find('\n')), "Source: no recording - " + junk + ": " + why);
    EXPECT_EQ(info.find("Parameter set"), std::string::npos) << info;
    EXPECT_EQ(ChartNote(Plot(ANALYSIS_GRAPHSpcHist)), "No recording\n" + why);

    // 600 nineteen times and one 601: too coarse for run rules 2 to 4
    std::string rec = kHeader;
    for (int i = 0; i < 20; ++i)
        rec += i == 3 ? "1\t2\t601\t2\t601000\r\n" : "1\t2\t600\t2\t600000\r\n";
    const std::string steady = TempPath("steady.dat");
    WriteFile(steady, rec);
    ASSERT_EQ(AnalysisOpenFile(steady.c_str()), 0) << Status();
    rt_UserSetVal(pAnalysis, ANALYSIS_RINGSpcLimits, SPC_LIMITS_ENTERED);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcLsl, 412);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcUsl, 612);
    for (int i = 0; i < 10; ++i) ProcessSystemEvents();
    fullSize("steady");
    const std::string notes = rt_GetCtrlText(pAnalysis, ANALYSIS_TEXTSpcInfo);
    EXPECT_NE(notes.find("rules broken: 1: 1  2: 0  3: 0  4: 0 points"), std::string::npos)
        << notes;
    EXPECT_NE(notes.find("Resolution too coarse for this spread: 1 possible value"),
              std::string::npos)
        << notes;
    for (int c : charts) {
        QCustomPlot *p = Plot(c);
        int left = 0, right = 0;
        TitleInk(p, &left, &right);
        EXPECT_GT(left, 1) << "chart " << c;
        EXPECT_LT(right, p->width() - 2) << "chart " << c;
    }
    auto *title =
        qobject_cast<QCPTextElement *>(Plot(ANALYSIS_GRAPHSpcHist)->plotLayout()->element(0, 0));
    ASSERT_TRUE(title);
    EXPECT_TRUE(title->text().contains('\n'));   // wider than its chart: wrapped
    EXPECT_EQ(title->text().replace('\n', ' ').toStdString(),
              "Histogram (bin width 1 px, Scott, the IQR being 0) [LSL 412 left, USL 612 right]");

    // limits the wrong way round: red fields, no figure, the reason said
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcLsl, 700);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcUsl, 500);
    int bg = 0;
    GetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcLsl, ATTR_TEXT_BGCOLOR, &bg);
    EXPECT_EQ(bg, 0xFF9090);
    EXPECT_EQ(Status(), "No capability: the lower tolerance limit lies above the upper one");
    EXPECT_NE(std::string(AnalysisTableText()).find("Cp                             n/a\n"),
              std::string::npos);
    rt_UserSetVal(pAnalysis, ANALYSIS_NUMSpcUsl, 800);
    GetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcLsl, ATTR_TEXT_BGCOLOR, &bg);
    EXPECT_EQ(bg, 0xFFFFFF);
}

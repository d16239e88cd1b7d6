// The live loops measured on the real program: WinMain starts as it does
// for an operator (offscreen, port 1 = a kvex-sim pseudo-terminal), and
// once the main panel is up a scenario presses the buttons an operator
// would press. Prints "RESULT key value" lines for run-all.
//
//   bench_live --mode MODE [--seconds S] [--repeat N] [--sample S] [--net SCHEME]
//              [-- SIM OPTIONS]
//
// MODE: run (run mode), video (video mode), record (recorder), idle (main
// event loop with nothing to do), timeouts (get and run mode against a
// simulator gone silent), footprint (peak RSS after start-up, then run
// mode with RSS samples). --net rfc2217 or --net tcp puts ser2net on
// 127.0.0.1 in front of the simulator and gives the program its network port.
#include "bench/bench_common.h"
#include "rt/rt_testing.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "link/frame.h"
#include "params/vars.h"
#include "recorder/recorder.h"
#include "rt/rt.h"
#include "rt/rt_ui_internal.h"
#include "tests/support/ser2net.h"

using namespace bench;

namespace {

struct Options {
    std::string mode = "run";
    double seconds = 30.0;
    int repeat = 6;
    double sample = 10.0;   // footprint: seconds between RSS samples
    std::string net;        // "", "rfc2217" or "tcp"
    std::vector<std::string> simArgs;
};

Options opt;
Sim sim;
int failures = 0;

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct PlotWatch {
    QCustomPlot *plot = nullptr;
    long replots = 0;
    PaintCounter painter;
    void Attach(int panel, int control) {
        rtui::Ctrl *c = rtui::FindCtrl(panel, control);
        plot = c ? qobject_cast<QCustomPlot *>(c->w) : nullptr;
        if (!plot) return;
        QObject::connect(plot, &QCustomPlot::afterReplot, plot, [this] { ++replots; });
        plot->installEventFilter(&painter);
    }
};

PlotWatch stripWatch, barWatch, videoWatch;

struct Mark {
    double wall = 0, cpu = 0;
    long sleeps = 0;
    long pumpPasses = 0, pumpReturns = 0;
    RtLinkStats link;
    long stripReplots = 0, barReplots = 0, videoReplots = 0;
    long stripPaints = 0, barPaints = 0, videoPaints = 0;
};

Mark Take() {
    Mark m;
    m.wall = Now();
    m.cpu = CpuSeconds();
    m.sleeps = Sleeps();
    m.link = rt_LinkStats();
    rt_PumpCounts(&m.pumpPasses, &m.pumpReturns);
    m.stripReplots = stripWatch.replots;
    m.barReplots = barWatch.replots;
    m.videoReplots = videoWatch.replots;
    m.stripPaints = stripWatch.painter.paints;
    m.barPaints = barWatch.painter.paints;
    m.videoPaints = videoWatch.painter.paints;
    return m;
}

Mark m0, m1;

std::string Status() {
    char buf[128] = {0};
    GetCtrlVal(pHandle, PANEL_TEXTStatus, buf, static_cast<int>(sizeof buf));
    return buf;
}

void ReportWindow(const char *prefix) {
    const double wall = m1.wall - m0.wall;
    const double cpu = m1.cpu - m0.cpu;
    const long frames = m1.link.framesNotified - m0.link.framesNotified;
    std::string k(prefix);
    Result((k + ".seconds").c_str(), wall);
    Result((k + ".frames").c_str(), static_cast<double>(frames));
    Result((k + ".rate").c_str(), wall > 0 ? frames / wall : 0.0);
    Result((k + ".cpu_share").c_str(), wall > 0 ? 100.0 * cpu / wall : 0.0);
    Result((k + ".cpu_per_frame_ms").c_str(), frames > 0 ? 1000.0 * cpu / frames : 0.0);
    Result((k + ".sleeps_per_s").c_str(), wall > 0 ? (m1.sleeps - m0.sleeps) / wall : 0.0);
    // where the wake-ups go: passes of the event pump, its returns to the
    // program and wake-ups of the wait on the line alone, per frame
    const double perFrame = frames > 0 ? 1.0 / static_cast<double>(frames) : 0.0;
    Result((k + ".pump_passes_per_frame").c_str(), (m1.pumpPasses - m0.pumpPasses) * perFrame);
    Result((k + ".pump_returns_per_frame").c_str(), (m1.pumpReturns - m0.pumpReturns) * perFrame);
    Result((k + ".line_wakes_per_frame").c_str(),
           (m1.link.lineWaitWakes - m0.link.lineWaitWakes) * perFrame);
    Result((k + ".sleeps_per_frame").c_str(), (m1.sleeps - m0.sleeps) * perFrame);
    Result((k + ".bytes_out").c_str(), static_cast<double>(m1.link.bytesOut - m0.link.bytesOut));
    Result((k + ".bytes_in").c_str(), static_cast<double>(m1.link.bytesIn - m0.link.bytesIn));
    Result((k + ".strip_replots").c_str(), static_cast<double>(m1.stripReplots - m0.stripReplots));
    Result((k + ".bar_replots").c_str(), static_cast<double>(m1.barReplots - m0.barReplots));
    Result((k + ".video_replots").c_str(), static_cast<double>(m1.videoReplots - m0.videoReplots));
    Result((k + ".strip_paints").c_str(), static_cast<double>(m1.stripPaints - m0.stripPaints));
    Result((k + ".bar_paints").c_str(), static_cast<double>(m1.barPaints - m0.barPaints));
    Result((k + ".video_paints").c_str(), static_cast<double>(m1.videoPaints - m0.videoPaints));
}

void ClosePanel() { rt_UserClosePanel(pHandle); }

// ---- scenarios ----------------------------------------------------------------------------

// Run mode or video mode for opt.seconds, stopped with BTNStop.
void LiveLoop(int button, const char *prefix) {
    m0 = Take();
    rt_After(opt.seconds, [] {
        m1 = Take();
        rt_UserClick(pHandle, PANEL_BTNStop);
    });
    rt_UserClick(pHandle, button);
    const std::string st = Status();
    // the loop must have ended by the stop, not by a time-out
    const bool timedOut = st.find("Timeout") != std::string::npos;
    if (timedOut) {
        ++failures;
        m1 = Take();
    }
    Note("%s ended with status \"%s\"", prefix, st.c_str());
    Result((std::string(prefix) + ".timed_out").c_str(), timedOut ? 1 : 0);
    ReportWindow(prefix);
}

void Record() {
    static char dir[] = "/tmp/ridar-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        ++failures;
        return;
    }
    std::snprintf(rec_fname, sizeof rec_fname, "%s/RECORD.DAT", dir);
    rt_UserClick(pHandle, PANEL_TOGGBTN_Recorder);
    rt_UserSetVal(pRecord, RECORD_NUMinctime, 0);
    rt_UserSetVal(pRecord, RECORD_NUMsample, 10000);
    m0 = Take();
    rt_After(opt.seconds, [] {
        m1 = Take();
        rt_UserClick(pRecord, RECORD_CBTNStopRecord);
    });
    rt_UserClick(pRecord, RECORD_CBTNStartRecord);
    // samples actually written: lines after the seven header lines
    long lines = 0;
    if (FILE *f = std::fopen(rec_fname, "r")) {
        int ch;
        while ((ch = std::fgetc(f)) != EOF)
            if (ch == '\n') ++lines;
        std::fclose(f);
    }
    std::remove(rec_fname);
    rmdir(dir);
    Result("record.samples", static_cast<double>(std::max(0L, lines - 7)));
    ReportWindow("record");
}

void Idle() {
    m0 = Take();
    rt_After(opt.seconds, [] {
        m1 = Take();
        ReportWindow("idle");
        ClosePanel();
    });
}

// Get and run mode against a sensor that went silent: every one must end
// by its time-out, 1.5 s after the request.
void Timeouts() {
    sim.Command("silent on");
    sim.Drain(200);
    std::vector<double> took;
    int wrongText = 0;
    m0 = Take();
    for (int i = 0; i < opt.repeat; ++i) {
        const bool get = (i % 2) == 0;
        const double t = Timer();
        rt_UserClick(pHandle, get ? PANEL_BTNGet : PANEL_BTNRun);
        took.push_back(Timer() - t);
        const std::string st = Status();
        const char *want = get ? "Timeout-RS-232..." : "Timeout RS232-Line!";
        if (st != want) {
            ++wrongText;
            Note("time-out %d: status \"%s\", expected \"%s\"", i, st.c_str(), want);
        }
    }
    m1 = Take();
    ReportWindow("timeouts");
    double lo = 1e9, hi = 0;
    for (double d : took) {
        lo = std::min(lo, d);
        hi = std::max(hi, d);
    }
    Result("timeouts.count", static_cast<double>(took.size()));
    Result("timeouts.min_s", lo);
    Result("timeouts.max_s", hi);
    Result("timeouts.wrong_text", wrongText);
    if (wrongText) ++failures;
}

std::vector<long> rssSamples;

void SampleRss() {
    if (stop_flag != STOP_RUNNING) return;
    rssSamples.push_back(StatusKb("VmRSS"));
    rt_After(opt.sample, SampleRss);
}

void Footprint() {
    Result("footprint.peak_rss_startup_kb", static_cast<double>(StatusKb("VmHWM")));
    Result("footprint.rss_startup_kb", static_cast<double>(StatusKb("VmRSS")));
    rssSamples.clear();
    rt_After(opt.sample, SampleRss);
    const long startKb = StatusKb("VmRSS");
    LiveLoop(PANEL_BTNRun, "footprint");
    const long endKb = StatusKb("VmRSS");
    // growth from the first sample on: the first seconds fill caches that
    // are built once (glyphs, paint buffers)
    const long warmKb = rssSamples.empty() ? startKb : rssSamples.front();
    Result("footprint.rss_run_start_kb", static_cast<double>(startKb));
    Result("footprint.rss_warm_kb", static_cast<double>(warmKb));
    Result("footprint.rss_end_kb", static_cast<double>(endKb));
    Result("footprint.rss_growth_kb", static_cast<double>(endKb - warmKb));
    Result("footprint.rss_growth_total_kb", static_cast<double>(endKb - startKb));
    Result("footprint.peak_rss_kb", static_cast<double>(StatusKb("VmHWM")));
    std::string trail;
    for (long kb : rssSamples) trail += std::to_string(kb) + " ";
    Note("RSS samples (kB, every %.0f s): %s", opt.sample, trail.c_str());
}

void Scenario() {
    stripWatch.Attach(pHandle, PANEL_STRIPRaw);
    barWatch.Attach(pHandle, PANEL_GRAPHBar);
    videoWatch.Attach(pHandle, PANEL_GRAPHVideo);
    Note("start-up status \"%s\", load average %.2f", Status().c_str(), LoadAverage1());
    Result("load_average_start", LoadAverage1());
    if (opt.mode == "idle") {
        Idle();
        return;
    }
    if (opt.mode == "run") LiveLoop(PANEL_BTNRun, "run");
    else if (opt.mode == "video") LiveLoop(PANEL_BTNVideo, "video");
    else if (opt.mode == "record") Record();
    else if (opt.mode == "timeouts") Timeouts();
    else if (opt.mode == "footprint") Footprint();
    Result("load_average_end", LoadAverage1());
    ClosePanel();
}

// The scenario starts once start-up has shown the main panel; start-up's
// own waits pump events too, so this keeps asking until then.
void WaitForPanel() {
    static bool started = false;
    if (started) return;
    if (pHandle > 0 && rt_IsShown(pHandle)) {
        started = true;
        // let the first paint of the panel happen before measuring
        rt_After(1.0, Scenario);
        return;
    }
    rt_After(0.02, WaitForPanel);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_live --mode run|video|record|idle|timeouts|footprint [--seconds S]\n"
                 "                  [--repeat N] [--sample S] [--net rfc2217|tcp]\n"
                 "                  [-- kvex-sim options]\n");
    return 2;
}

}   // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i) opt.simArgs.push_back(argv[i]);
            break;
        }
        if (i + 1 >= argc) return Usage();
        if (a == "--mode") opt.mode = argv[++i];
        else if (a == "--seconds") opt.seconds = std::atof(argv[++i]);
        else if (a == "--repeat") opt.repeat = std::atoi(argv[++i]);
        else if (a == "--sample") opt.sample = std::atof(argv[++i]);
        else if (a == "--net") opt.net = argv[++i];
        else return Usage();
    }
    const char *modes[] = {"run", "video", "record", "idle", "timeouts", "footprint"};
    if (std::find_if(std::begin(modes), std::end(modes),
                     [](const char *m) { return opt.mode == m; }) == std::end(modes))
        return Usage();
    if (!(opt.seconds > 0) || opt.repeat < 1 || !(opt.sample > 0)) return Usage();
    if (!opt.net.empty() && opt.net != "rfc2217" && opt.net != "tcp") return Usage();

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!sim.Start(opt.simArgs)) {
        std::fprintf(stderr, "bench_live: kvex-sim did not start\n");
        return 1;
    }
    if (!InitCVIRTE(argc > 0 ? 1 : 0, argv)) {
        std::fprintf(stderr, "bench_live: no display platform\n");
        return 1;
    }
    // confirm every question (an old recorder file), cancel file dialogs
    rt_SetPopupHook([](const RtPopup &p) {
        RtPopupAnswer a;
        a.result = p.kind == 2 ? 1 : 0;
        return a;
    });
#ifdef RIDAR_BUSY_PUMP_BUILD
    Result("busy_pump", 1);
#else
    Result("busy_pump", 0);
#endif
    rt_After(0.02, WaitForPanel);
    std::string dev = sim.Device();
    Ser2net server;
    if (!opt.net.empty()) {
        const char *accepter = opt.net == "tcp" ? "tcp" : "telnet(rfc2217),tcp";
        if (!server.Start(accepter, dev)) {
            std::fprintf(stderr, "bench_live: ser2net did not start (Debian package ser2net)\n");
            return 1;
        }
        dev = server.Url(opt.net.c_str());
        Note("port %s", dev.c_str());
    }
    char a0[] = "kvex-ridar", a1[] = "--port";
    std::vector<char> a2(dev.begin(), dev.end());
    a2.push_back('\0');
    char *wargv[] = {a0, a1, a2.data(), nullptr};
    const int rc = WinMain(3, wargv);
    sim.Stop();
    Result("exit_code", rc);
    return failures ? 1 : 0;
}

// Drawing cost with Google Benchmark, offscreen, on the main panel at the
// size the resource file gives it, after a real start-up against kvex-sim
// (so the sensor description and the layout are those of a sensor).
//
// One frame of run mode: CopyPPtoRAWVars, PlotVIDEOBarGraph, PlotRAWGraphX8,
// then the queued replots and the repaint of the window are processed until
// both graphs were painted. One video pass: PlotVIDEOCurve with its repaint.
// Besides Google Benchmark's own report, prints "RESULT key value" lines
// with the median and 95th percentile of single iterations.
#include "bench/bench_common.h"
#include "rt/rt_testing.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QPaintEvent>
#include <QWidget>
#include <QEvent>
#include <QObject>
#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "display/display.h"
#include "link/frame.h"
#include "params/vars.h"
#include "rt/rt.h"
#include "rt/rt_ui_internal.h"

using namespace bench;

namespace {

class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

QCustomPlot *PlotOf(int control) {
    rtui::Ctrl *c = rtui::FindCtrl(pHandle, control);
    return c ? qobject_cast<QCustomPlot *>(c->w) : nullptr;
}

PaintCounter stripPaint, barPaint, videoPaint;
std::vector<double> frameMs, callsMs, videoMs;
long unpainted = 0;

// Runs the event loop's pending work until every counter moved: the queued
// replot first, then the window's repaint.
void PaintUntil(std::initializer_list<std::pair<PaintCounter *, long>> waits) {
    for (int guard = 0; guard < 10000; ++guard) {
        bool all = true;
        for (const auto &w : waits)
            if (w.first->paints == w.second) all = false;
        if (all) return;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    ++unpainted;
}

// A measurement frame as the sensor sends it, the object moving a little.
void FillMeasurement(long i) {
    const int l = 400 + static_cast<int>(i % 37), r = 600 + static_cast<int>((i * 7) % 41);
    pp[0] = static_cast<uint16_t>(l);
    pp[1] = static_cast<uint16_t>(r);
    pp[2] = static_cast<uint16_t>(r - l);
    const uint32_t um = static_cast<uint32_t>(r - l) * 1000u;
    pp[3] = static_cast<uint16_t>(um & 0xFFFF);
    pp[4] = static_cast<uint16_t>(um >> 16);
    pp[5] = 200;
    pp[6] = 10;
    pp[7] = 2;
    pp[8] = 100;
    pp[9] = 100;
    pp[10] = 0;
    pp[11] = static_cast<uint16_t>(r - l + 3);
    pp[12] = static_cast<uint16_t>(r - l - 3);
    pp[13] = 0;
}

double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void RunModeView() {
    SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 1);
    QCoreApplication::processEvents();
}

void BM_RunFrame(benchmark::State &state) {
    RunModeView();
    long i = 0;
    for (auto _ : state) {
        FillMeasurement(i++);
        const long s0 = stripPaint.paints, b0 = barPaint.paints;
        auto t0 = std::chrono::steady_clock::now();
        CopyPPtoRAWVars();
        PlotVIDEOBarGraph();
        PlotRAWGraphX8();
        PaintUntil({{&stripPaint, s0}, {&barPaint, b0}});
        frameMs.push_back(Ms(t0, std::chrono::steady_clock::now()));
    }
}

// Only the calls the run loop makes before it sends the next request; the
// replot and the repaint happen while that request is on the line.
void BM_RunFrameCalls(benchmark::State &state) {
    RunModeView();
    long i = 0;
    for (auto _ : state) {
        FillMeasurement(i++);
        const long s0 = stripPaint.paints, b0 = barPaint.paints;
        auto t0 = std::chrono::steady_clock::now();
        CopyPPtoRAWVars();
        PlotVIDEOBarGraph();
        PlotRAWGraphX8();
        callsMs.push_back(Ms(t0, std::chrono::steady_clock::now()));
        state.PauseTiming();
        PaintUntil({{&stripPaint, s0}, {&barPaint, b0}});
        state.ResumeTiming();
    }
}

void BM_VideoCurve(benchmark::State &state) {
    SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 0);
    SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 1);
    QCoreApplication::processEvents();
    long i = 0;
    for (auto _ : state) {
        // a bright line with a shadow that moves, and some noise
        const int l = 50 + static_cast<int>(i % 13), r = 75 + static_cast<int>(i % 11);
        for (int k = 0; k < 256; ++k) {
            int v = (k >= l && k < r) ? 80 : 900;
            v += static_cast<int>((k * 37 + i * 11) % 9) - 4;
            adcbuf[k] = static_cast<uint16_t>(v);
        }
        ++i;
        const long v0 = videoPaint.paints;
        auto t0 = std::chrono::steady_clock::now();
        PlotVIDEOCurve(adcbuf, xArray8);
        PaintUntil({{&videoPaint, v0}});
        videoMs.push_back(Ms(t0, std::chrono::steady_clock::now()));
    }
}

BENCHMARK(BM_RunFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RunFrameCalls)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VideoCurve)->Unit(benchmark::kMicrosecond);

double Percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t k = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(k, v.size() - 1)];
}

void Report(const char *key, const std::vector<double> &v) {
    std::string k(key);
    Result((k + ".median_ms").c_str(), Percentile(v, 0.5));
    Result((k + ".p95_ms").c_str(), Percentile(v, 0.95));
    Result((k + ".samples").c_str(), static_cast<double>(v.size()));
}

bool StartUp(Sim &sim, char *arg0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!sim.Start({"--fast"})) return false;
    char *argv[] = {arg0, nullptr};
    if (!InitCVIRTE(1, argv)) return false;
    rt_SetPopupHook([](const RtPopup &) { return RtPopupAnswer{}; });
    RegisterRidarCallbacks();
    char dir[260] = "", uir[600];
    GetProjectDir(dir, sizeof dir);
    MakePathname(dir, UIR_FILE, uir, sizeof uir);
    pHandle = LoadPanel(0, uir, PANEL);
    pPopup = LoadPanel(0, uir, POPUP);
    pRecord = LoadPanel(0, uir, RECORD);
    if (pHandle < 0 || pPopup < 0 || pRecord < 0) return false;
    rt_SetPortTable({sim.Device()});
    GetProjectDir(proj_dir, sizeof proj_dir);
    InitVars();
    InitRS232(com);
    InitGUI();
    DisplayPanel(pHandle);
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    return ccdvirtpixel > 0;
}

}   // namespace

int main(int argc, char **argv) {
    Sim sim;
    if (!StartUp(sim, argv[0])) {
        std::fprintf(stderr, "bench_draw: start-up failed\n");
        return 1;
    }
    QCustomPlot *strip = PlotOf(PANEL_STRIPRaw), *bar = PlotOf(PANEL_GRAPHBar),
                *video = PlotOf(PANEL_GRAPHVideo);
    if (!strip || !bar || !video) {
        std::fprintf(stderr, "bench_draw: graphs missing\n");
        return 1;
    }
    strip->installEventFilter(&stripPaint);
    bar->installEventFilter(&barPaint);
    video->installEventFilter(&videoPaint);
    QWidget *panel = strip->window();
    Note("panel %dx%d, strip chart %dx%d, bar graph %dx%d, video graph %dx%d, ccdvirtpixel %d",
         panel->width(), panel->height(), strip->width(), strip->height(), bar->width(),
         bar->height(), video->width(), video->height(), static_cast<int>(ccdvirtpixel));
    Result("load_average_start", LoadAverage1());

    // BENCH_DRAW_PAINTS=1: list the widgets that repaint during 50 frames
    if (std::getenv("BENCH_DRAW_PAINTS")) {
        RunModeView();
        struct Who : QObject {
            std::map<std::string, int> n;
            bool eventFilter(QObject *o, QEvent *e) override {
                if (e->type() == QEvent::Paint)
                    ++n[std::string(o->metaObject()->className()) + " " +
                        o->objectName().toStdString() + " " +
                        std::to_string(static_cast<QPaintEvent *>(e)->rect().height()) + "px"];
                return false;
            }
        } who;
        for (QWidget *w : QApplication::allWidgets()) w->installEventFilter(&who);
        for (long i = 0; i < 50; ++i) {
            FillMeasurement(i);
            const long s0 = stripPaint.paints, b0 = barPaint.paints;
            CopyPPtoRAWVars();
            PlotVIDEOBarGraph();
            PlotRAWGraphX8();
            PaintUntil({{&stripPaint, s0}, {&barPaint, b0}});
        }
        for (const auto &kv : who.n) Note("%4d paints  %s", kv.second, kv.first.c_str());
        for (QWidget *w : QApplication::allWidgets()) w->removeEventFilter(&who);
        sim.Stop();
        return 0;
    }

    // BENCH_DRAW_SNAPSHOT=prefix: save pictures of a fixed sequence of frames
    // instead of timing, to check that a drawing change shows the same.
    if (const char *snap = std::getenv("BENCH_DRAW_SNAPSHOT")) {
        RunModeView();
        for (long i = 0; i < 120; ++i) {
            FillMeasurement(i);
            const long s0 = stripPaint.paints, b0 = barPaint.paints;
            CopyPPtoRAWVars();
            PlotVIDEOBarGraph();
            PlotRAWGraphX8();
            PaintUntil({{&stripPaint, s0}, {&barPaint, b0}});
        }
        rt_SavePanelImage(pHandle, 0, (std::string(snap) + "-run.png").c_str());
        SetCtrlAttribute(pHandle, PANEL_STRIPRaw, ATTR_VISIBLE, 0);
        SetCtrlAttribute(pHandle, PANEL_GRAPHVideo, ATTR_VISIBLE, 1);
        for (int k = 0; k < 256; ++k)
            adcbuf[k] = static_cast<uint16_t>((k >= 50 && k < 75) ? 80 : 900 + k % 7);
        const long v0 = videoPaint.paints;
        PlotVIDEOCurve(adcbuf, xArray8);
        PaintUntil({{&videoPaint, v0}});
        rt_SavePanelImage(pHandle, 0, (std::string(snap) + "-video.png").c_str());
        sim.Stop();
        return 0;
    }

    // The same frame's CPU time drawn back to back and drawn as run mode
    // draws it, one frame every 38 ms (the line's pace) with the process
    // asleep in between. A machine whose caches and clocks go cold while a
    // process sleeps charges the paced frame more for the very same work.
    {
        RunModeView();
        auto frameCpu = [&](double gapS, int frames, long from) {
            double cpu = 0;
            for (int i = 0; i < frames; ++i) {
                if (gapS > 0) {
                    const timespec gap{0, static_cast<long>(gapS * 1e9)};
                    nanosleep(&gap, nullptr);
                }
                FillMeasurement(from + i);
                const long s0 = stripPaint.paints, b0 = barPaint.paints;
                const double c0 = CpuSeconds();
                CopyPPtoRAWVars();
                PlotVIDEOBarGraph();
                PlotRAWGraphX8();
                PaintUntil({{&stripPaint, s0}, {&barPaint, b0}});
                cpu += CpuSeconds() - c0;
            }
            return 1000.0 * cpu / frames;
        };
        frameCpu(0, 50, 0);   // warm up
        Result("draw.cpu_back_to_back_ms", frameCpu(0, 400, 50));
        Result("draw.cpu_paced_ms", frameCpu(0.038, 150, 450));
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    Report("draw.frame", frameMs);
    Report("draw.frame_calls", callsMs);
    Report("draw.video", videoMs);
    Result("draw.unpainted", static_cast<double>(unpainted));
    Result("load_average_end", LoadAverage1());
    DiscardPanel(pPopup);
    DiscardPanel(pHandle);
    DiscardPanel(pRecord);
    sim.Stop();
    return unpainted ? 1 : 0;
}

// The Analysis window on a large recording: a generated 1,000,000-line
// recorder file (about 11 days at one sample a second) is read, analysed,
// drawn and exported; the figures are the wall time of each step and the
// peak resident memory. Also the cost of the live feed per frame, and how
// long a live redraw of a full live series takes (which sets how often the
// window redraws while the run loop goes on).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_common.h"   // before the program's headers: it needs POSIX sync()
#include "analysis/live.h"
#include "analysisui/analysisui.h"

namespace {

const long kLines = 1000000;

// Drift of a slow motion, noise and a step, as a long recording would show.
std::string Generate(const char *path) {
    std::FILE *f = std::fopen(path, "wb");
    if (!f) return "cannot write " + std::string(path);
    std::fputs(
        "Date:\t12-07-2026\r\nTime:\t08:00:00\r\nTime-Increment[s]:\t1\r\nNumber of Samples:\t-16960\r\n"
        "Offset-Value [\xB5m]:\t-54\r\nSlope-Value [\xB5m/pixel]:\t12.5000\r\n"
        "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n",
        f);
    unsigned seed = 12345;
    for (long i = 0; i < kLines; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double noise = (static_cast<double>((seed >> 8) & 0xFFFF) / 65535.0 - 0.5) * 6.0;
        const double m = 512.0 + 20.0 * std::sin(2.0 * M_PI * static_cast<double>(i) / 86400.0) +
                         noise + (i > 700000 ? 8.0 : 0.0);
        const int mv = static_cast<int>(std::lround(m));
        std::fprintf(f, "%d\t%d\t%d\t2\t%d\r\n", mv - 100, mv + 100, mv,
                     static_cast<int>(std::lround(mv * 12.5 - 54)));
    }
    std::fclose(f);
    return "";
}

}   // namespace

int main(int argc, char **argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    const std::string rec = dir + "/ridar-bench-analysis.dat";
    const std::string pdf = dir + "/ridar-bench-analysis.pdf";
    const std::string png = dir + "/ridar-bench-analysis-window.png";
    bench::Note("load average %.2f", bench::LoadAverage1());

    double t = bench::Now();
    const std::string err = Generate(rec.c_str());
    if (!err.empty()) {
        std::fprintf(stderr, "%s\n", err.c_str());
        return 1;
    }
    bench::Note("generated %ld lines in %.2f s", kLines, bench::Now() - t);

    if (!InitCVIRTE(argc, argv)) return 1;
    RegisterAnalysisCallbacks();
    if (AnalysisLoadPanel() < 0) return 1;
    DisplayPanel(pAnalysis);
    ProcessSystemEvents();
    const long rssStart = bench::StatusKb("VmRSS");

    // open: read, analyse and hand the pictures their data
    t = bench::Now();
    if (AnalysisOpenFile(rec.c_str()) != 0) return 1;
    const double open = bench::Now() - t;
    // draw: the whole window painted (grabbed into an image)
    t = bench::Now();
    rt_SavePanelImage(pAnalysis, 0, png.c_str());
    const double draw = bench::Now() - t;
    t = bench::Now();
    AnalysisSetUnit(SPC_UNIT_MM);
    rt_SavePanelImage(pAnalysis, 0, png.c_str());
    const double switchUnit = bench::Now() - t;
    t = bench::Now();
    if (AnalysisWritePdf(pdf.c_str()) != 0) return 1;
    const double report = bench::Now() - t;

    bench::Result("analysis_open_1m_s", open);
    bench::Result("analysis_draw_1m_s", draw);
    bench::Result("analysis_open_and_draw_1m_s", open + draw);
    bench::Result("analysis_pdf_1m_s", report);
    bench::Result("analysis_rss_start_mb", rssStart / 1024.0);
    bench::Result("analysis_peak_rss_mb", bench::StatusKb("VmHWM") / 1024.0);
    bench::Note("unit switched to mm: analysed again and painted in %.2f s", switchUnit);

    // the live feed: what each frame of the run loop pays
    AnaLiveReset(&anaLive);
    t = bench::Now();
    for (long i = 0; i < kLines; ++i)
        AnalysisLiveAdd(static_cast<uint16_t>(500 + i % 25), static_cast<uint32_t>(6000 + i % 300));
    const double feed = bench::Now() - t;
    bench::Result("analysis_live_feed_ns_per_frame", feed / kLines * 1e9);
    AnalysisSetSource(SPC_SOURCE_LIVE);
    t = bench::Now();
    AnalysisRefresh();
    rt_SavePanelImage(pAnalysis, 0, png.c_str());
    const double live = bench::Now() - t;
    bench::Result("analysis_live_redraw_1m_s", live);
    bench::Note("with 1,000,000 live values kept the window redraws at most every %.1f s",
                std::max(SPC_LIVE_MIN_REDRAW, 10.0 * live));
    bench::Result("analysis_peak_rss_end_mb", bench::StatusKb("VmHWM") / 1024.0);
    std::remove(rec.c_str());
    return 0;
}

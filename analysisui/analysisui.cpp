// The Analysis window: what it shows and how it follows its controls.
#include "analysisui/analysisui.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/live.h"
#include "analysis/recfile.h"
#include "analysis/table.h"
#include "fileio/fileio.h"
#include "ui/panels.h"
#include "params/vars.h"
#include "stats/stats.h"

int pAnalysis = -1;

namespace {

// colours of the pictures
const int kDataColor = 0x3060A0;
const int kCentreColor = 0x008000;
const int kControlColor = 0xD00000;
const int kToleranceColor = 0x0050FF;
const int kRuleColors[4] = {0xE00000, 0xFF8C00, 0xC000C0, 0x7030A0};
const char *const kRuleNames[4] = {
    "1: beyond 3\u03c3",
    "2: 2 of 3 beyond 2\u03c3",
    "3: 4 of 5 beyond 1\u03c3",
    "4: 8 on one side",
};
const int kCurvePoints = 200;

struct Recording {
    int loaded = 0;
    std::string path;
    RecHeader header;
    RecReadInfo info;
    std::vector<int32_t> px, um;
};

struct State {
    int standalone = 0;   // opened by --analyse: closing ends the program
    int source = SPC_SOURCE_LIVE;
    int unit = SPC_UNIT_PX;
    int limits = SPC_LIMITS_LIVE;
    double lsl = NAN, usl = NAN;   // entered, in the shown unit
    double binWidth = 0.0;
    Recording rec;
    std::vector<double> values;
    AnaLimits lim;
    AnaResult result;
    std::string limitsFrom;   // where the limits came from, in words
    std::string table;
    uint64_t shownGeneration = ~0ULL;
    double lastDraw = -1e9, drawCost = 0.0;
    long liveRedraws = 0;
    int timer = 0;
};
State g;

void Status(const char *text) {
    if (pAnalysis > 0) SetCtrlVal(pAnalysis, ANALYSIS_TEXTSpcStatus, text);
}

const char *UnitName() { return g.unit == SPC_UNIT_MM ? "mm" : "px"; }
double Resolution() { return g.unit == SPC_UNIT_MM ? 0.001 : 1.0; }
int Decimals() { return g.unit == SPC_UNIT_MM ? 3 : 0; }

void AddSample(const RecSample *s, void *user) {
    Recording *r = static_cast<Recording *>(user);
    r->px.push_back(s->value);
    r->um.push_back(s->um);
}

// Pixels to millimetres through a calibration line (micrometres per pixel
// and an offset in micrometres).
double PxToMm(double px, double slope, double offset) { return (px * slope + offset) / 1000.0; }

void TakeLimits() {
    g.lim = AnaLimits{};
    g.limitsFrom.clear();
    if (g.limits == SPC_LIMITS_NONE) {
        g.limitsFrom = "none";
        return;
    }
    if (g.limits == SPC_LIMITS_ENTERED) {
        g.lim.hasLsl = std::isfinite(g.lsl);
        g.lim.hasUsl = std::isfinite(g.usl);
        g.lim.lsl = g.lsl;
        g.lim.usl = g.usl;
        g.limitsFrom = "entered";
        return;
    }
    // the live set: tVal +- tol
    double lo = 0, hi = 0;
    StatsLimitsPx(&lo, &hi);
    if (g.unit == SPC_UNIT_MM) {
        if (g.source == SPC_SOURCE_FILE && g.rec.loaded) {
            lo = PxToMm(lo, g.rec.header.slope, static_cast<double>(g.rec.header.offset));
            hi = PxToMm(hi, g.rec.header.slope, static_cast<double>(g.rec.header.offset));
            g.limitsFrom =
                "set-point +/- tolerance of the live set, through the recording's calibration";
        } else {
            StatsLimitsMm(&lo, &hi);
            g.limitsFrom = "set-point +/- tolerance of the live set, through its calibration";
        }
    } else {
        g.limitsFrom = "set-point +/- tolerance of the live set";
    }
    if (hi < lo) std::swap(lo, hi);
    g.lim.hasLsl = g.lim.hasUsl = 1;
    g.lim.lsl = lo;
    g.lim.usl = hi;
}

void TakeValues() {
    const double scale = g.unit == SPC_UNIT_MM ? 0.001 : 1.0;
    if (g.source == SPC_SOURCE_LIVE) {
        AnaLiveCopy(&anaLive, g.unit == SPC_UNIT_MM ? 1 : 0, scale, &g.values);
        g.shownGeneration = anaLive.generation;
        return;
    }
    const std::vector<int32_t> &v = g.unit == SPC_UNIT_MM ? g.rec.um : g.rec.px;
    g.values.resize(v.size());
    for (size_t i = 0; i < v.size(); ++i) g.values[i] = static_cast<double>(v[i]) * scale;
}

std::string Num(double v, int decimals) { return AnaNumber(1, v, decimals); }

void Extend(double v, double *lo, double *hi) {
    if (!std::isfinite(v)) return;
    if (v < *lo) *lo = v;
    if (v > *hi) *hi = v;
}

void Pad(double *lo, double *hi) {
    double span = *hi - *lo;
    if (!(span > 0.0)) span = std::fabs(*hi) > 0 ? std::fabs(*hi) * 0.1 : 1.0;
    *lo -= 0.08 * span;
    *hi += 0.08 * span;
}

RtChartLine Line(int vertical, double at, int color, int style, double width,
                 const std::string &label) {
    RtChartLine l;
    l.vertical = vertical;
    l.at = at;
    l.color = color;
    l.style = style;
    l.width = width;
    l.label = label;
    return l;
}

// The tolerance lines; a limit far away from the data (more than the
// data's own span off) is left out of the range, or the data would shrink to
// a thin band: the returned text names it for the title.
std::string ToleranceLines(int vertical, std::vector<RtChartLine> *lines, double *lo, double *hi) {
    const int d = Decimals();
    const double span = std::max(*hi - *lo, Resolution());
    const double a = *lo - span, b = *hi + span;
    std::string away;
    const struct {
        int has;
        double at;
        const char *name;
    } limits[2] = {{g.lim.hasLsl, g.lim.lsl, "LSL"}, {g.lim.hasUsl, g.lim.usl, "USL"}};
    for (const auto &l : limits) {
        if (!l.has) continue;
        const std::string label = std::string(l.name) + " " + Num(l.at, d);
        lines->push_back(Line(vertical, l.at, kToleranceColor, RT_LINE_SOLID, 2.0, label));
        if (l.at >= a && l.at <= b) {
            Extend(l.at, lo, hi);
        } else {
            const char *where =
                vertical ? (l.at < a ? "left" : "right") : (l.at < a ? "below" : "above");
            away += (away.empty() ? "" : ", ") + label + " " + where;
        }
    }
    return away;
}

int64_t FirstNumber() { return g.source == SPC_SOURCE_LIVE ? AnaLiveDropped(&anaLive) + 1 : 1; }

void DrawIndividuals() {
    const AnaResult &r = g.result;
    const size_t n = g.values.size();
    const int d = Decimals();
    RtChart c;
    c.title = "Individuals chart";
    if (r.ctl.has)
        c.title += "   (sigma within " + Num(r.ctl.sigma, d + 2) + " " + UnitName() +
                   " = mean moving range / 1.128)";
    c.xLabel = "sample";
    c.yLabel = std::string("value [") + UnitName() + "]";
    const double first = static_cast<double>(FirstNumber());
    RtChartSeries s;
    s.color = kDataColor;
    s.xStart = first;
    s.y = g.values;
    c.series.push_back(std::move(s));
    // each point in the colour of the first rule it breaks: one mark a point
    for (int k = 0; k < 4; ++k) {
        if (r.broken[k] == 0) continue;
        RtChartSeries p;
        p.kind = RT_SERIES_POINTS;
        p.color = kRuleColors[k];
        p.width = 6.0;
        p.name = std::string(kRuleNames[k]) + " (" +
                 std::to_string(static_cast<long long>(r.broken[k])) + ")";
        const uint8_t mine = static_cast<uint8_t>(1 << k), lower = static_cast<uint8_t>(mine - 1);
        for (size_t i = 0; i < n; ++i)
            if ((r.flags[i] & mine) && !(r.flags[i] & lower)) {
                p.x.push_back(first + static_cast<double>(i));
                p.y.push_back(g.values[i]);
            }
        c.series.push_back(std::move(p));
    }
    c.legend = r.broken[0] + r.broken[1] + r.broken[2] + r.broken[3] > 0;
    double lo = r.sum.hasMean ? r.sum.min : 0.0, hi = r.sum.hasMean ? r.sum.max : 1.0;
    if (r.ctl.has) {
        c.lines.push_back(
            Line(0, r.ctl.cl, kCentreColor, RT_LINE_SOLID, 1.5, "CL " + Num(r.ctl.cl, d + 2)));
        c.lines.push_back(
            Line(0, r.ctl.ucl, kControlColor, RT_LINE_DASHED, 1.5, "UCL " + Num(r.ctl.ucl, d + 2)));
        c.lines.push_back(
            Line(0, r.ctl.lcl, kControlColor, RT_LINE_DASHED, 1.5, "LCL " + Num(r.ctl.lcl, d + 2)));
        Extend(r.ctl.ucl, &lo, &hi);
        Extend(r.ctl.lcl, &lo, &hi);
    }
    const std::string away = ToleranceLines(0, &c.lines, &lo, &hi);
    if (!away.empty()) c.title += "   [" + away + "]";
    Pad(&lo, &hi);
    c.yMin = lo;
    c.yMax = hi;
    c.xMin = first - 0.5;
    c.xMax = first + static_cast<double>(n > 1 ? n - 1 : 1) + 0.5;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcIndiv, c);
}

void DrawMovingRange() {
    const AnaResult &r = g.result;
    const size_t n = g.values.size();
    const int d = Decimals();
    RtChart c;
    c.title = "Moving Range chart";
    c.xLabel = "sample";
    c.yLabel = std::string("moving range [") + UnitName() + "]";
    const double first = static_cast<double>(FirstNumber());
    RtChartSeries s, above;
    s.color = kDataColor;
    above.kind = RT_SERIES_POINTS;
    above.color = kRuleColors[0];
    above.width = 6.0;
    double hi = 0.0;
    s.xStart = first + 1.0;
    if (n >= 2) {
        s.y.resize(n - 1);
        for (size_t i = 1; i < n; ++i) {
            const double mr = std::fabs(g.values[i] - g.values[i - 1]);
            s.y[i - 1] = mr;
            if (mr > hi) hi = mr;
            if (r.ctl.has && mr > r.ctl.mrUcl) {
                above.x.push_back(first + static_cast<double>(i));
                above.y.push_back(mr);
            }
        }
    }
    c.series.push_back(std::move(s));
    if (!above.x.empty()) {
        above.name = "above UCL (" + std::to_string(above.x.size()) + ")";
        c.series.push_back(std::move(above));
        c.legend = 1;
    }
    if (r.ctl.has) {
        c.lines.push_back(
            Line(0, r.ctl.mrCl, kCentreColor, RT_LINE_SOLID, 1.5, "CL " + Num(r.ctl.mrCl, d + 2)));
        c.lines.push_back(Line(0, r.ctl.mrUcl, kControlColor, RT_LINE_DASHED, 1.5,
                               "UCL " + Num(r.ctl.mrUcl, d + 2)));
        if (r.ctl.mrUcl > hi) hi = r.ctl.mrUcl;
    }
    c.yMin = 0.0;
    c.yMax = hi > 0.0 ? hi * 1.08 : 1.0;
    c.xMin = first - 0.5;
    c.xMax = first + static_cast<double>(n > 1 ? n - 1 : 1) + 0.5;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcMR, c);
}

const char *RuleName(int rule) {
    switch (rule) {
    case ANA_BINS_FD: return "Freedman-Diaconis";
    case ANA_BINS_SCOTT: return "Scott, the IQR being 0";
    case ANA_BINS_SINGLE: return "one step, sigma being 0";
    default: return "entered";
    }
}

void DrawHistogram() {
    const AnaResult &r = g.result;
    const AnaHistogram &h = r.hist;
    const int d = Decimals();
    RtChart c;
    c.xLabel = std::string("value [") + UnitName() + "]";
    c.yLabel = "count";
    c.title = "Histogram";
    if (!h.counts.empty()) {
        c.title += "   (bin width " + Num(h.width, d) + " " + UnitName() + ", " + RuleName(h.rule) +
                   (h.widened ? ", widened to " + std::to_string(ANA_MAX_BINS) + " bins" : "") +
                   ")";
    }
    RtChartSeries b;
    b.kind = RT_SERIES_BARS;
    b.color = kDataColor;
    b.barWidth = h.width;
    double lo = 0.0, hi = 1.0, top = 1.0;
    if (!h.counts.empty()) {
        lo = h.first;
        hi = h.first + h.width * static_cast<double>(h.counts.size());
        for (size_t k = 0; k < h.counts.size(); ++k) {
            b.x.push_back(h.first + (static_cast<double>(k) + 0.5) * h.width);
            b.y.push_back(static_cast<double>(h.counts[k]));
            if (b.y.back() > top) top = b.y.back();
        }
    }
    c.series.push_back(std::move(b));
    if (r.sum.hasSigma && r.sum.sigmaOverall > 0.0) {
        const double m = r.sum.mean, s = r.sum.sigmaOverall;
        double a = std::min(lo, m - 4.0 * s), z = std::max(hi, m + 4.0 * s);
        RtChartSeries curve;
        curve.color = kControlColor;
        curve.width = 2.0;
        curve.name = "normal, sigma overall " + Num(s, d + 2);
        const double scale = static_cast<double>(r.sum.n) * h.width / s;
        for (int i = 0; i <= kCurvePoints; ++i) {
            const double x = a + (z - a) * i / kCurvePoints;
            curve.x.push_back(x);
            curve.y.push_back(scale * AnaNormalPdf((x - m) / s));
        }
        top = std::max(top, scale * AnaNormalPdf(0.0));
        lo = std::min(lo, m - 3.5 * s);
        hi = std::max(hi, m + 3.5 * s);
        c.series.push_back(std::move(curve));
        c.legend = 1;
    }
    if (r.sum.hasMean) {
        // at the foot of its line: the tolerance labels sit at the top
        c.lines.push_back(Line(1, r.sum.mean, kCentreColor, RT_LINE_DASHED, 1.5,
                               "mean " + Num(r.sum.mean, d + 2)));
        c.lines.back().labelOtherEnd = 1;
    }
    const std::string away = ToleranceLines(1, &c.lines, &lo, &hi);
    if (!away.empty()) c.title += "   [" + away + "]";
    Pad(&lo, &hi);
    c.xMin = lo;
    c.xMax = hi;
    c.yMin = 0.0;
    c.yMax = top * 1.12;
    rt_DrawChart(pAnalysis, ANALYSIS_GRAPHSpcHist, c);
}

std::string Html(const std::string &s) {
    std::string o;
    for (char ch : s) {
        if (ch == '<') o += "&lt;";
        else if (ch == '>') o += "&gt;";
        else if (ch == '&') o += "&amp;";
        else o += ch;
    }
    return o;
}

std::vector<AnaRow> Rows() {
    return AnaCapabilityRows(&g.result.cap, &g.lim, UnitName(), Decimals());
}

void ShowTable() {
    const std::vector<AnaRow> rows = Rows();
    g.table = AnaRowsText(rows);
    std::string t = "<table cellspacing='0' cellpadding='3'>";
    t += "<tr><th align='left'>Capability</th><th align='right'></th></tr>";
    for (size_t i = 0; i < rows.size(); ++i) {
        t += i % 2 ? "<tr style='background-color:#f0f0f0'>" : "<tr>";
        t += "<td>" + Html(rows[i].name) + "</td><td align='right'><b>" + Html(rows[i].value) +
             "</b></td></tr>";
    }
    t += "</table>";
    SetCtrlVal(pAnalysis, ANALYSIS_TEXTSpcTable, t.c_str());
}

}   // namespace

// Lines that describe the source: shown beside the table and at the head of
// the report.
static std::vector<std::string> SourceLines() {
    std::vector<std::string> out;
    char t[600];
    if (g.source == SPC_SOURCE_LIVE) {
        const int64_t dropped = AnaLiveDropped(&anaLive);
        std::snprintf(t, sizeof t, "Source: live measurements since the statistics' Reset: %lld",
                      static_cast<long long>(anaLive.total));
        out.push_back(t);
        if (dropped > 0) {
            const AnaRunning &o = g.unit == SPC_UNIT_MM ? anaLive.droppedUm : anaLive.droppedPx;
            const double scale = g.unit == SPC_UNIT_MM ? 0.001 : 1.0;
            const double sd =
                o.n > 1 ? static_cast<double>(std::sqrt(AnaRunningVariance(o))) * scale : NAN;
            std::snprintf(
                t, sizeof t,
                "Shown: the newest %zu. The %lld older ones are left out of the pictures and the table: "
                "mean %s, sigma %s %s",
                AnaLiveCount(&anaLive), static_cast<long long>(dropped),
                AnaNumber(1, static_cast<double>(o.mean) * scale, Decimals() + 2).c_str(),
                AnaNumber(o.n > 1, sd, Decimals() + 2).c_str(), UnitName());
            out.push_back(t);
        }
        std::string fw(szVersion);
        while (!fw.empty() && (fw.back() == ' ' || fw.back() == '\0')) fw.pop_back();
        out.push_back("Sensor firmware: " + (fw.empty() ? std::string("(not identified)") : fw));
        if (pPopup > 0) {
            char info[400] = "";
            GetCtrlVal(pPopup, POPUP_TEXTSensorInfo, info, static_cast<int>(sizeof info));
            for (char *p = info; *p; ++p)
                if (*p == '\n' || *p == '\r') *p = ' ';
            if (info[0]) out.push_back(std::string("Sensor: ") + info);
        }
        std::snprintf(
            t, sizeof t,
            "Parameter set: set-point %u, tolerance %u, window %u .. %u, threshold %u, power %u, "
            "average %u, slope %u, intersect %u",
            tVal, tTol, eBeg, eEnd, vThd, power, average, slope, intersect);
        out.push_back(t);
    } else if (g.rec.loaded) {
        out.push_back("Source: recording " + g.rec.path);
        const RecHeader &h = g.rec.header;
        std::snprintf(t, sizeof t,
                      "Header: Date %s, Time %s, Time-Increment %ld s, Number of Samples %ld, "
                      "Offset-Value %ld um, Slope-Value %.4f um/pixel",
                      h.date.c_str(), h.time.c_str(), h.increment, h.samples, h.offset, h.slope);
        out.push_back(t);
        std::snprintf(t, sizeof t, "Samples read: %lld",
                      static_cast<long long>(g.rec.info.samples));
        out.push_back(t);
        if (!g.rec.info.message.empty()) out.push_back("Note: " + g.rec.info.message);
    } else {
        out.push_back("Source: recording - none opened yet");
    }
    std::string u = g.unit == SPC_UNIT_MM ? "Unit: mm (M-VAL[um] / 1000)" : "Unit: px (M-VALUE)";
    out.push_back(u + ";  tolerance: " + g.limitsFrom);
    return out;
}

static void ShowInfo() {
    std::string text;
    for (const std::string &l : SourceLines()) text += l + "\n";
    const AnaResult &r = g.result;
    char t[300];
    std::snprintf(t, sizeof t,
                  "Western Electric rules broken: 1: %lld   2: %lld   3: %lld   4: %lld points\n"
                  "Moving ranges above their UCL: %lld",
                  static_cast<long long>(r.broken[0]), static_cast<long long>(r.broken[1]),
                  static_cast<long long>(r.broken[2]), static_cast<long long>(r.broken[3]),
                  static_cast<long long>(r.mrAbove));
    text += t;
    SetCtrlVal(pAnalysis, ANALYSIS_TEXTSpcInfo, text.c_str());
}

// The limit fields show the limits in force; they are for typing only when
// the limits are entered.
static void ShowLimitFields() {
    const int entered = g.limits == SPC_LIMITS_ENTERED;
    SetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcLsl, ATTR_DIMMED, entered ? 0 : 1);
    SetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcUsl, ATTR_DIMMED, entered ? 0 : 1);
    if (!entered) {
        SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcLsl, g.lim.hasLsl ? g.lim.lsl : 0.0);
        SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcUsl, g.lim.hasUsl ? g.lim.usl : 0.0);
    }
    SetCtrlAttribute(pAnalysis, ANALYSIS_BTNSpcReload, ATTR_DIMMED,
                     g.source == SPC_SOURCE_FILE ? 0 : 1);
}

void AnalysisRefresh(void) {
    const double t0 = Timer();
    TakeLimits();
    TakeValues();
    AnaAnalyse(g.values, &g.lim, g.binWidth, Resolution(), &g.result);
    g.table = AnaRowsText(Rows());
    if (pAnalysis > 0) {
        ShowLimitFields();
        DrawIndividuals();
        DrawMovingRange();
        DrawHistogram();
        ShowTable();
        ShowInfo();
    }
    g.lastDraw = Timer();
    g.drawCost = g.lastDraw - t0;
}

const char *AnalysisTableText(void) { return g.table.c_str(); }

long AnalysisLiveRedraws(void) { return g.liveRedraws; }

// The live series is looked at a few times a second and drawn only when it
// changed, never for each frame; a large series that takes long to draw is
// drawn less often still, so the run loop keeps its pace.
static void LiveTick(void) {
    if (pAnalysis <= 0 || !rt_IsShown(pAnalysis) || g.source != SPC_SOURCE_LIVE) return;
    if (anaLive.generation == g.shownGeneration) return;
    const double now = Timer();
    const double wait = std::max(SPC_LIVE_MIN_REDRAW, 10.0 * g.drawCost);
    if (now - g.lastDraw < wait) return;
    AnalysisRefresh();
    ++g.liveRedraws;
}

static void SavePicture(int control, const char *what);

int AnalysisLoadPanel(void) {
    if (pAnalysis > 0) return pAnalysis;
    const std::string path = fileio::FindDataFile(ANALYSIS_UI_FILE);
    pAnalysis = LoadPanel(0, path.c_str(), ANALYSIS);
    if (pAnalysis < 0) {
        std::fprintf(stderr, "kvex-ridar: cannot load the analysis form %s\n", path.c_str());
        return pAnalysis;
    }
    SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, g.source);
    SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcUnit, g.unit);
    SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcLimits, g.limits);
    SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcBinWidth, g.binWidth);
    static const struct {
        int control;
        const char *what;
    } pictures[] = {
        {ANALYSIS_GRAPHSpcIndiv, "individuals"},
        {ANALYSIS_GRAPHSpcMR, "moving-range"},
        {ANALYSIS_GRAPHSpcHist, "histogram"},
    };
    for (const auto &p : pictures) {
        const int control = p.control;
        const char *what = p.what;
        rt_AddMenuItem(pAnalysis, control, "Save this picture as PNG...",
                       [control, what] { SavePicture(control, what); });
    }
    rt_SetShortcut(pAnalysis, "Ctrl+P", [] { rt_UserClick(pAnalysis, ANALYSIS_BTNSpcSavePng); });
    rt_SetShortcut(pAnalysis, "Ctrl+E", [] { rt_UserClick(pAnalysis, ANALYSIS_BTNSpcExportPdf); });
    rt_SetShortcut(pAnalysis, "F5", [] { rt_UserClick(pAnalysis, ANALYSIS_BTNSpcReload); });
    // alone (--analyse) the window is the program: Esc does not end it
    if (!g.standalone) rt_SetCloseKey(pAnalysis);
    return pAnalysis;
}

int AnalysisShow(void) {
    if (AnalysisLoadPanel() < 0) return -1;
    AnalysisRefresh();
    DisplayPanel(pAnalysis);
    SetActivePanel(pAnalysis);
    return 0;
}

void InitAnalysis(void) {
    if (g.timer <= 0) g.timer = rt_NewTimer(SPC_LIVE_TICK, LiveTick);
    if (pHandle > 0)
        rt_SetShortcut(pHandle, "F7", [] { rt_UserClick(pHandle, PANEL_BTNAnalysis); });
}

int AnalysisOpenFile(const char *path) {
    Recording r;
    r.path = path ? path : "";
    RecReadFile(path, &r.header, AddSample, &r, &r.info);
    if (!r.info.ok) {
        std::string m = r.path + ": " + r.info.message;
        Status(m.c_str());
        // on the command line nobody sees the status line
        if (g.standalone) std::fprintf(stderr, "kvex-ridar: %s\n", m.c_str());
        return -1;
    }
    r.loaded = 1;
    g.rec = std::move(r);
    g.source = SPC_SOURCE_FILE;
    if (pAnalysis > 0) {
        SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, g.source);
        SetCtrlVal(pAnalysis, ANALYSIS_STRINGSpcFile, g.rec.path.c_str());
    }
    AnalysisRefresh();
    char m[900];
    std::snprintf(m, sizeof m, "Read %lld samples from %s%s%s",
                  static_cast<long long>(g.rec.info.samples), g.rec.path.c_str(),
                  g.rec.info.message.empty() ? "" : " - ", g.rec.info.message.c_str());
    Status(m);
    return 0;
}

void AnalysisSetSource(int source) {
    g.source = source == SPC_SOURCE_FILE ? SPC_SOURCE_FILE : SPC_SOURCE_LIVE;
    if (pAnalysis > 0) SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, g.source);
    AnalysisRefresh();
}

void AnalysisSetUnit(int unit) {
    g.unit = unit == SPC_UNIT_MM ? SPC_UNIT_MM : SPC_UNIT_PX;
    if (pAnalysis > 0) SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcUnit, g.unit);
    AnalysisRefresh();
}

void AnalysisSetLimits(int limits, double lsl, double usl) {
    g.limits = limits;
    g.lsl = lsl;
    g.usl = usl;
    if (pAnalysis > 0) {
        SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcLimits, limits);
        if (limits == SPC_LIMITS_ENTERED) {
            SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcLsl, std::isfinite(lsl) ? lsl : 0.0);
            SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcUsl, std::isfinite(usl) ? usl : 0.0);
        }
    }
    AnalysisRefresh();
}

void AnalysisSetBinWidth(double width) {
    g.binWidth = std::isfinite(width) && width > 0.0 ? width : 0.0;
    if (pAnalysis > 0) SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcBinWidth, g.binWidth);
    AnalysisRefresh();
}

void AnalysisFileName(char *name, int bufSize, long long unixTime, const char *ext) {
    if (!name || bufSize <= 0) return;
    const std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    char stamp[40] = "";
    if (localtime_r(&t, &local) == nullptr ||
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local) == 0)
        stamp[0] = '\0';
    std::snprintf(name, static_cast<size_t>(bufSize), "ridar-analysis%s%s%s", stamp[0] ? "-" : "",
                  stamp, ext ? ext : "");
}

int AnalysisWritePdf(const char *path) {
    if (AnalysisLoadPanel() < 0) return -1;
    RtReport rep;
    rep.title = g.source == SPC_SOURCE_LIVE ? "K-VEX-XC-Ridar analysis: live measurements"
                                            : "K-VEX-XC-Ridar analysis: recording";
    char made[120];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[40] = "";
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(made, sizeof made, "Made %s by kvex-ridar %s", stamp, RIDAR_VERSION);
    rep.lines.push_back(made);
    for (const std::string &l : SourceLines()) rep.lines.push_back(l);
    rep.panel = pAnalysis;
    rep.charts = {ANALYSIS_GRAPHSpcIndiv, ANALYSIS_GRAPHSpcMR, ANALYSIS_GRAPHSpcHist};
    rep.chartHeights = {290, 180, 260};
    rep.table.push_back({"Capability", "value"});
    for (const AnaRow &r : Rows()) rep.table.push_back({r.name, r.value});
    const AnaResult &r = g.result;
    char t[300];
    std::snprintf(t, sizeof t,
                  "Western Electric rules broken: 1: %lld  2: %lld  3: %lld  4: %lld points; "
                  "moving ranges above their UCL: %lld",
                  static_cast<long long>(r.broken[0]), static_cast<long long>(r.broken[1]),
                  static_cast<long long>(r.broken[2]), static_cast<long long>(r.broken[3]),
                  static_cast<long long>(r.mrAbove));
    rep.notes.push_back(t);
    rep.notes.push_back(
        "Control limits at +/- 3 sigma within (mean moving range / 1.128); Cp, Cpk with sigma "
        "within, Pp, Ppk with sigma overall (n - 1); expected ppm from the normal distribution.");
    return rt_WritePdfReport(path, rep) == 0 ? 0 : -1;
}

int AnalysisSavePngs(const char *base) {
    if (AnalysisLoadPanel() < 0 || !base) return -1;
    static const struct {
        int control;
        const char *suffix;
    } pictures[] = {
        {ANALYSIS_GRAPHSpcIndiv, "-individuals.png"},
        {ANALYSIS_GRAPHSpcMR, "-moving-range.png"},
        {ANALYSIS_GRAPHSpcHist, "-histogram.png"},
    };
    int rc = 0;
    for (const auto &p : pictures) {
        const std::string file = std::string(base) + p.suffix;
        if (rt_SavePanelImage(pAnalysis, p.control, file.c_str()) != 0) rc = -1;
    }
    return rc;
}

// Where the last report or picture went; empty: the working directory.
static char lastDir[260] = "";

static void RememberDir(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (!slash) return;
    const size_t n = static_cast<size_t>(slash - path);
    if (n >= sizeof lastDir) return;
    std::memcpy(lastDir, path, n);
    lastDir[n] = '\0';
}

// Asks for a file name ending in ext; 0 when one was chosen (and may be written).
static int AskFile(const char *title, const char *ext, const char *filter, char *path,
                   int bufSize) {
    char name[80];
    AnalysisFileName(name, sizeof name, static_cast<long long>(std::time(nullptr)), ext);
    const int r = FileSelectPopup(lastDir, name, filter, title, "Save", 0, 1, 1, 1, path, bufSize);
    if (r <= 0) return -1;
    const size_t n = std::strlen(path), e = std::strlen(ext);
    if ((n < e || std::strcmp(path + n - e, ext) != 0) && n + e < static_cast<size_t>(bufSize))
        std::strcat(path, ext);
    long size = 0;
    if (GetFileInfo(path, &size) == 1 &&
        !ConfirmPopup("ATTENTION !", "File already exist - overwrite ?"))
        return -1;
    RememberDir(path);
    return 0;
}

static void SavePicture(int control, const char *what) {
    char path[300] = "";
    if (AskFile("Save picture as PNG", ".png", "*.png", path, static_cast<int>(sizeof path)) != 0)
        return;
    std::string m = rt_SavePanelImage(pAnalysis, control, path) == 0
                        ? std::string("Picture saved: ") + path
                        : std::string("Picture could not be written: ") + path;
    (void)what;
    Status(m.c_str());
}

// ---- callbacks -------------------------------------------------------------------------

int CVICALLBACK CC_ANALYSIS(int panel, int control, int event, void *callbackData, int eventData1,
                            int eventData2) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event != EVENT_CLOSE) return 0;
    HidePanel(pAnalysis);
    if (g.standalone) QuitUserInterface(0);
    return 0;
}

RIDAR_CALLBACK(CC_BTNAnalysis) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) AnalysisShow();
    return 0;
}

RIDAR_CALLBACK(CC_RINGSpcSource) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    int v = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, &v);
    if (v == SPC_SOURCE_FILE && !g.rec.loaded) {
        Status("No recording opened yet: choose one with Open...");
    }
    AnalysisSetSource(v);
    return 0;
}

RIDAR_CALLBACK(CC_BTNSpcOpen) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    char path[300] = "";
    const char *dir = lastDir[0] ? lastDir : proj_dir;
    const int r = FileSelectPopup(dir, "RECORD.DAT", "*.dat", "Open a recorder file", "Open", 0, 0,
                                  1, 0, path, static_cast<int>(sizeof path));
    if (r != VAL_EXISTING_FILE_SELECTED) return 0;
    RememberDir(path);
    AnalysisOpenFile(path);
    return 0;
}

RIDAR_CALLBACK(CC_BTNSpcReload) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    if (!g.rec.loaded) {
        Status("No recording opened yet: choose one with Open...");
        return 0;
    }
    const std::string path = g.rec.path;
    AnalysisOpenFile(path.c_str());
    return 0;
}

RIDAR_CALLBACK(CC_RINGSpcUnit) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    int v = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_RINGSpcUnit, &v);
    if (v == g.unit) return 0;
    // entered limits follow the unit, through the calibration of the source
    if (g.limits == SPC_LIMITS_ENTERED) {
        double slope = 0, offset = 0;
        if (g.source == SPC_SOURCE_FILE && g.rec.loaded) {
            slope = g.rec.header.slope;
            offset = static_cast<double>(g.rec.header.offset);
        } else {
            slope = static_cast<double>(::slope) / SlopeScale();
            offset = static_cast<double>(intersect) - YOFFSET;
        }
        for (double *x : {&g.lsl, &g.usl}) {
            if (!std::isfinite(*x)) continue;
            if (v == SPC_UNIT_MM) *x = PxToMm(*x, slope, offset);
            else if (slope != 0.0) *x = (*x * 1000.0 - offset) / slope;
        }
        SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcLsl, std::isfinite(g.lsl) ? g.lsl : 0.0);
        SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcUsl, std::isfinite(g.usl) ? g.usl : 0.0);
    }
    g.binWidth = 0.0;   // a width in the other unit means nothing here
    SetCtrlVal(pAnalysis, ANALYSIS_NUMSpcBinWidth, 0.0);
    AnalysisSetUnit(v);
    return 0;
}

RIDAR_CALLBACK(CC_RINGSpcLimits) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    int v = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_RINGSpcLimits, &v);
    if (v == SPC_LIMITS_ENTERED && !std::isfinite(g.lsl) && !std::isfinite(g.usl)) {
        // start from the limits that were shown
        g.lsl = g.lim.hasLsl ? g.lim.lsl : NAN;
        g.usl = g.lim.hasUsl ? g.lim.usl : NAN;
    }
    AnalysisSetLimits(v, g.lsl, g.usl);
    return 0;
}

static void LimitEdited(void) {
    double lo = 0, hi = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_NUMSpcLsl, &lo);
    GetCtrlVal(pAnalysis, ANALYSIS_NUMSpcUsl, &hi);
    AnalysisSetLimits(SPC_LIMITS_ENTERED, lo, hi);
    if (lo >= hi) Status("The lower tolerance limit is not below the upper one");
}

RIDAR_CALLBACK(CC_NUMSpcLsl) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) LimitEdited();
    return 0;
}

RIDAR_CALLBACK(CC_NUMSpcUsl) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event == EVENT_COMMIT) LimitEdited();
    return 0;
}

RIDAR_CALLBACK(CC_NUMSpcBinWidth) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    double w = 0;
    GetCtrlVal(pAnalysis, ANALYSIS_NUMSpcBinWidth, &w);
    AnalysisSetBinWidth(w);
    return 0;
}

RIDAR_CALLBACK(CC_BTNSpcExportPdf) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    char path[300] = "";
    if (AskFile("Export the analysis as PDF", ".pdf", "*.pdf", path,
                static_cast<int>(sizeof path)) != 0)
        return 0;
    const std::string m = AnalysisWritePdf(path) == 0
                              ? std::string("Report written: ") + path
                              : std::string("Report could not be written: ") + path;
    Status(m.c_str());
    return 0;
}

RIDAR_CALLBACK(CC_BTNSpcSavePng) {
    RIDAR_CALLBACK_ARGS_UNUSED;
    if (event != EVENT_COMMIT) return 0;
    char path[300] = "";
    if (AskFile("Save the three pictures as PNG (name-individuals.png, ...)", ".png", "*.png", path,
                static_cast<int>(sizeof path)) != 0)
        return 0;
    path[std::strlen(path) - 4] = '\0';   // the base name; each picture adds its own ending
    const std::string m = AnalysisSavePngs(path) == 0
                              ? std::string("Pictures saved: ") + path + "-*.png"
                              : std::string("Pictures could not be written: ") + path;
    Status(m.c_str());
    return 0;
}

static const RtCallbackEntry kAnalysisCallbacks[] = {
    {"CC_ANALYSIS", CC_ANALYSIS},
    {"CC_BTNAnalysis", CC_BTNAnalysis},
    {"CC_RINGSpcSource", CC_RINGSpcSource},
    {"CC_BTNSpcOpen", CC_BTNSpcOpen},
    {"CC_BTNSpcReload", CC_BTNSpcReload},
    {"CC_RINGSpcUnit", CC_RINGSpcUnit},
    {"CC_RINGSpcLimits", CC_RINGSpcLimits},
    {"CC_NUMSpcLsl", CC_NUMSpcLsl},
    {"CC_NUMSpcUsl", CC_NUMSpcUsl},
    {"CC_NUMSpcBinWidth", CC_NUMSpcBinWidth},
    {"CC_BTNSpcExportPdf", CC_BTNSpcExportPdf},
    {"CC_BTNSpcSavePng", CC_BTNSpcSavePng},
};

void RegisterAnalysisCallbacks(void) {
    RegisterCallbacks(kAnalysisCallbacks,
                      static_cast<int>(sizeof kAnalysisCallbacks / sizeof kAnalysisCallbacks[0]));
}

// ---- command line ----------------------------------------------------------------------

static int ParseNumber(const char *s, double *out) {
    if (!s) return 0;
    return RecParseDouble(s, std::strlen(s), out);
}

int AnalysisCommandLine(int argc, char **argv, int *handled) {
    *handled = 0;
    const char *file = nullptr, *out = nullptr;
    double lsl = NAN, usl = NAN;
    int unit = SPC_UNIT_PX;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        if (std::strcmp(a, "--simulate") == 0) break;
        auto value = [&](const char *name) -> const char * {
            if (i + 1 < argc) return argv[++i];
            std::fprintf(stderr, "kvex-ridar: %s needs a value\n", name);
            return nullptr;
        };
        if (std::strcmp(a, "--analyse") == 0 || std::strcmp(a, "--analyze") == 0) {
            *handled = 1;
            file = value(a);
            if (!file) return 2;
        } else if (std::strcmp(a, "--export") == 0) {
            out = value(a);
            if (!out) {
                *handled = 1;
                return 2;
            }
        } else if (std::strcmp(a, "--lsl") == 0 || std::strcmp(a, "--usl") == 0) {
            const char *v = value(a);
            double d = 0;
            if (!v || !ParseNumber(v, &d)) {
                std::fprintf(stderr, "kvex-ridar: %s needs a number\n", a);
                *handled = 1;
                return 2;
            }
            (a[2] == 'l' ? lsl : usl) = d;
        } else if (std::strcmp(a, "--unit") == 0) {
            const char *v = value(a);
            if (!v || (std::strcmp(v, "px") != 0 && std::strcmp(v, "mm") != 0)) {
                std::fprintf(stderr, "kvex-ridar: --unit is px or mm\n");
                *handled = 1;
                return 2;
            }
            unit = std::strcmp(v, "mm") == 0 ? SPC_UNIT_MM : SPC_UNIT_PX;
        }
    }
    if (!*handled) {
        if (out) {
            std::fprintf(stderr, "kvex-ridar: --export needs --analyse FILE\n");
            *handled = 1;
            return 2;
        }
        return 0;
    }
    // A report needs no display: nothing is shown.
    if (out) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (InitCVIRTE(argc, argv) == 0) {
        std::fprintf(
            stderr,
            "kvex-ridar: no display to open the analysis window on (use --export for a report)\n");
        return 1;
    }
    RegisterAnalysisCallbacks();
    g.standalone = 1;
    g.unit = unit;
    const int entered = std::isfinite(lsl) || std::isfinite(usl);
    g.limits = entered ? SPC_LIMITS_ENTERED : SPC_LIMITS_NONE;
    g.lsl = lsl;
    g.usl = usl;
    if (AnalysisLoadPanel() < 0) return 1;
    if (AnalysisOpenFile(file) != 0) {
        if (out) return 1;
    }
    if (out) {
        if (g.rec.info.message.size())
            std::fprintf(stderr, "kvex-ridar: %s: %s\n", file, g.rec.info.message.c_str());
        // the pictures are drawn at the window's size, as on screen
        DisplayPanel(pAnalysis);
        ProcessSystemEvents();
        AnalysisRefresh();
        if (AnalysisWritePdf(out) != 0) {
            std::fprintf(stderr, "kvex-ridar: the report could not be written to %s\n", out);
            return 1;
        }
        std::fputs(AnalysisTableText(), stdout);
        std::fflush(stdout);
        DiscardPanel(pAnalysis);
        pAnalysis = -1;
        return 0;
    }
    InitAnalysis();
    DisplayPanel(pAnalysis);
    SetActivePanel(pAnalysis);
    RunUserInterface();
    DiscardPanel(pAnalysis);
    pAnalysis = -1;
    return 0;
}

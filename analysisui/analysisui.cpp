// The Analysis window: what it shows and how it follows its controls.
#include "analysisui/analysisui.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysis/live.h"
#include "analysisui/analysisui_internal.h"
#include "fileio/fileio.h"
#include "params/vars.h"
#include "stats/stats.h"
#include "ui/panels.h"

int pAnalysis = -1;

namespace anaui {

State g;

const int kBadLimitColor = 0xFF9090;

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

std::vector<AnaRow> Rows() {
    return AnaCapabilityRows(&g.result.cap, &g.lim, UnitName(), Decimals());
}
namespace {

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
std::vector<std::string> SourceLines() {
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
    } else if (!g.faultPath.empty()) {
        out.push_back("Source: no recording - " + g.faultPath + ": " + g.faultReason);
    } else {
        out.push_back("Source: recording - none opened yet");
    }
    std::string u = g.unit == SPC_UNIT_MM ? "Unit: mm (M-VAL[um] / 1000)" : "Unit: px (M-VALUE)";
    out.push_back(u + ";  tolerance: " + g.limitsFrom);
    return out;
}

std::string EmptyText() {
    if (g.source == SPC_SOURCE_LIVE)
        return "No measurements yet\nstart run mode or the recorder, or open a recorder file";
    if (!g.faultPath.empty()) return "No recording\n" + g.faultReason;
    return "No recording opened\nchoose one with Open...";
}

std::vector<std::string> FindingLines() {
    const AnaResult &r = g.result;
    std::vector<std::string> out;
    char t[300];
    std::snprintf(t, sizeof t,
                  "Western Electric rules broken: 1: %lld  2: %lld  3: %lld  4: %lld points; "
                  "moving ranges above their UCL: %lld",
                  static_cast<long long>(r.broken[0]), static_cast<long long>(r.broken[1]),
                  static_cast<long long>(r.broken[2]), static_cast<long long>(r.broken[3]),
                  static_cast<long long>(r.mrAbove));
    out.push_back(t);
    const std::string coarse =
        AnaResolutionNote(&r.sum, &r.res, Resolution(), UnitName(), Decimals());
    if (!coarse.empty()) out.push_back(coarse);
    if (!AnaLimitsUsable(r.cap.limits))
        out.push_back(std::string("No capability: ") + AnaLimitsProblem(r.cap.limits));
    return out;
}

static void ShowInfo() {
    std::string text;
    for (const std::string &l : SourceLines()) text += l + "\n";
    for (const std::string &l : FindingLines()) text += l + "\n";
    text.pop_back();
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
    // limits that give no capability are shown in red
    const int bad = !AnaLimitsUsable(g.result.cap.limits);
    SetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcLsl, ATTR_TEXT_BGCOLOR,
                     bad ? kBadLimitColor : VAL_WHITE);
    SetCtrlAttribute(pAnalysis, ANALYSIS_NUMSpcUsl, ATTR_TEXT_BGCOLOR,
                     bad ? kBadLimitColor : VAL_WHITE);
    SetCtrlAttribute(pAnalysis, ANALYSIS_BTNSpcReload, ATTR_DIMMED,
                     g.source == SPC_SOURCE_FILE ? 0 : 1);
}

}   // namespace anaui

using namespace anaui;

void AnalysisRefresh(void) {
    const double t0 = Timer();
    TakeLimits();
    TakeValues();
    AnaAnalyse(g.values, &g.lim, g.binWidth, Resolution(), &g.result);
    g.table = AnaRowsText(Rows());
    if (pAnalysis > 0) {
        ShowTable();
        ShowLimitFields();
        DrawIndividuals();
        DrawMovingRange();
        DrawHistogram();
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
    for (const int control : {ANALYSIS_GRAPHSpcIndiv, ANALYSIS_GRAPHSpcMR, ANALYSIS_GRAPHSpcHist}) {
        rt_AddMenuItem(pAnalysis, control, "Save this picture as PNG...",
                       [control] { SavePicture(control); });
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
        // a recording already shown stays; otherwise the window says there is none, and why
        if (!g.rec.loaded) {
            g.faultPath = r.path;
            g.faultReason = r.info.message;
            g.source = SPC_SOURCE_FILE;
            if (pAnalysis > 0) {
                SetCtrlVal(pAnalysis, ANALYSIS_RINGSpcSource, g.source);
                SetCtrlVal(pAnalysis, ANALYSIS_STRINGSpcFile, r.path.c_str());
            }
            AnalysisRefresh();
        }
        // on the command line nobody sees the status line
        if (g.standalone) std::fprintf(stderr, "kvex-ridar: %s\n", m.c_str());
        return -1;
    }
    r.loaded = 1;
    g.rec = std::move(r);
    g.faultPath.clear();
    g.faultReason.clear();
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

void AnalysisForgetRecording(void) {
    g.rec = Recording{};
    g.faultPath.clear();
    g.faultReason.clear();
    if (pAnalysis > 0) SetCtrlVal(pAnalysis, ANALYSIS_STRINGSpcFile, "");
    AnalysisRefresh();
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

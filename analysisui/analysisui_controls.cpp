// The Analysis window's controls: one callback a control.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "analysisui/analysisui_internal.h"
#include "params/vars.h"
#include "ui/panels.h"

using namespace anaui;

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
    // a recording that could not be read is tried again
    const std::string path = g.rec.loaded ? g.rec.path : g.faultPath;
    if (path.empty()) {
        Status("No recording opened yet: choose one with Open...");
        return 0;
    }
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
    const int check = g.result.cap.limits;
    if (!AnaLimitsUsable(check))
        Status((std::string("No capability: ") + AnaLimitsProblem(check)).c_str());
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
    std::string why;
    const std::string m = AnalysisWritePdf(path, &why) == 0
                              ? std::string("Report written: ") + path
                              : std::string("Report could not be written: ") + path + ": " + why;
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

// The Analysis window: Individuals and Moving Range chart, histogram and
// capability table of the live measurements or of a recorder file, with
// its PDF report and PNG pictures, and the command line --analyse.
#pragma once

#include <string>

#include "link/frame.h"
#include "rt/rt.h"

#define ANALYSIS 4
#define ANALYSIS_RINGSpcSource 2
#define ANALYSIS_STRINGSpcFile 3
#define ANALYSIS_BTNSpcOpen 4
#define ANALYSIS_BTNSpcReload 5
#define ANALYSIS_RINGSpcUnit 6
#define ANALYSIS_RINGSpcLimits 7
#define ANALYSIS_NUMSpcLsl 8
#define ANALYSIS_NUMSpcUsl 9
#define ANALYSIS_NUMSpcBinWidth 10
#define ANALYSIS_BTNSpcExportPdf 11
#define ANALYSIS_BTNSpcSavePng 12
#define ANALYSIS_GRAPHSpcIndiv 13
#define ANALYSIS_GRAPHSpcMR 14
#define ANALYSIS_TEXTSpcTable 15
#define ANALYSIS_TEXTSpcInfo 16
#define ANALYSIS_GRAPHSpcHist 17
#define ANALYSIS_TEXTSpcStatus 18

// The main panel's button beside "Recorder...".
#define PANEL_BTNAnalysis 120

#define ANALYSIS_UI_FILE "K-VEX-XCRidarAnalysis.ui"

// ring items
enum { SPC_SOURCE_LIVE = 0, SPC_SOURCE_FILE = 1 };
enum { SPC_UNIT_PX = 0, SPC_UNIT_MM = 1 };
enum { SPC_LIMITS_LIVE = 0, SPC_LIMITS_ENTERED = 1, SPC_LIMITS_NONE = 2 };

// seconds between looks at the live series, and the least time between two
// redraws of it
#define SPC_LIVE_TICK 0.25
#define SPC_LIVE_MIN_REDRAW 0.5

extern int pAnalysis;

void RegisterAnalysisCallbacks(void);   // before any panel is loaded
void InitAnalysis(void);                // the main panel's shortcut F7 and the live timer
// Loads the panel once; its handle, negative when the form cannot be loaded.
int AnalysisLoadPanel(void);
// Shows the window (loading it first).
int AnalysisShow(void);
// Reads a recorder file and shows it; 0 when it is one, else the message is
// in the status line (and in `message` when given).
int AnalysisOpenFile(const char *path);
// Back to no recording opened, as in a fresh window.
void AnalysisForgetRecording(void);
void AnalysisSetSource(int source);
void AnalysisSetUnit(int unit);
// limits: SPC_LIMITS_*; lsl/usl used when entered (NaN: that side absent)
void AnalysisSetLimits(int limits, double lsl, double usl);
void AnalysisSetBinWidth(double width);
void AnalysisRefresh(void);
// Writes the report (one A4 page); 0 when written, else the reason in *why.
int AnalysisWritePdf(const char *path, std::string *why = nullptr);
// Saves the three pictures as PNG: base + "-individuals.png", "-moving-range.png",
// "-histogram.png" (base without ".png"); 0 when all were written.
int AnalysisSavePngs(const char *base);
// The capability table as text, as --export prints it.
const char *AnalysisTableText(void);
// "ridar-analysis-YYYY-MM-DD-HHMMSS" + ext for the given local time.
void AnalysisFileName(char *name, int bufSize, long long unixTime, const char *ext);
// Live redraws done so far (tests and benchmarks).
long AnalysisLiveRedraws(void);

// --analyse FILE [--export OUT.pdf [--lsl X] [--usl Y] [--unit px|mm]]:
// *handled 1 when the command line asked for it; the return is the exit code.
int AnalysisCommandLine(int argc, char **argv, int *handled);

int CVICALLBACK CC_ANALYSIS(int panel, int control, int event, void *callbackData, int eventData1,
                            int eventData2);
RIDAR_CALLBACK(CC_BTNAnalysis);
RIDAR_CALLBACK(CC_RINGSpcSource);
RIDAR_CALLBACK(CC_BTNSpcOpen);
RIDAR_CALLBACK(CC_BTNSpcReload);
RIDAR_CALLBACK(CC_RINGSpcUnit);
RIDAR_CALLBACK(CC_RINGSpcLimits);
RIDAR_CALLBACK(CC_NUMSpcLsl);
RIDAR_CALLBACK(CC_NUMSpcUsl);
RIDAR_CALLBACK(CC_NUMSpcBinWidth);
RIDAR_CALLBACK(CC_BTNSpcExportPdf);
RIDAR_CALLBACK(CC_BTNSpcSavePng);

// What the parts of the Analysis window share: its state and the helpers
// the chart builders, the report and the command line all use.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "analysis/analyse.h"
#include "analysis/recfile.h"
#include "analysis/table.h"
#include "analysisui/analysisui.h"

namespace anaui {

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
    // when a recording could not be read: its path, and why
    std::string faultPath, faultReason;
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
extern State g;

void Status(const char *text);
const char *UnitName();
double Resolution();
int Decimals();
std::string Num(double v, int decimals);
std::vector<AnaRow> Rows();
// Lines that describe the source: shown beside the table and at the head of
// the report.
std::vector<std::string> SourceLines();
// What the analysis found, a line each: the rules broken, a resolution too
// coarse for the spread, limits that give no capability.
std::vector<std::string> FindingLines();
// What a chart without data says instead.
std::string EmptyText();
double PxToMm(double px, double slope, double offset);

void DrawIndividuals();
void DrawMovingRange();
void DrawHistogram();

// Where the last report or picture went; empty: the working directory.
extern char lastDir[260];
void RememberDir(const char *path);
// Asks for a file name ending in ext; 0 when one was chosen (and may be written).
int AskFile(const char *title, const char *ext, const char *filter, char *path, int bufSize);
void SavePicture(int control);

}   // namespace anaui

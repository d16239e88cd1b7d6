// Statistics of the live measured value: over the strip chart's window of the
// last 100 measurements and since the operator's reset, in pixels and in
// millimetres, with the process performance (Pp, Ppk: the sample standard
// deviation, n - 1) against tVal +- tol.
#pragma once

#include <cstdint>
#include "analysis/live.h"
#include "link/frame.h"

#define STATS_WINDOW 100

// One measured quantity. The window keeps exact integer sums, so what
// leaves the window is taken off without rounding drift; its minimum and
// maximum come from monotonic queues (constant time per sample). The part
// since the reset is open-ended and uses the running mean and sum of
// squared deviations, which cannot overflow.
struct StatsSeries {
    int64_t ring[STATS_WINDOW];   // the window's values, by sample number % 100
    uint64_t added;               // samples ever added to the window
    __int128 wSum, wSq;           // sums over the window
    uint64_t maxSeq[STATS_WINDOW], minSeq[STATS_WINDOW];
    int64_t maxVal[STATS_WINDOW], minVal[STATS_WINDOW];
    int maxHead, maxLen, minHead, minLen;
    AnaRunning total;   // since the reset
    int64_t tMin, tMax;
};

// What is shown for one series and span; each has* flag says whether the
// figure is defined (no samples, a single sample, or sigma 0 leave some out).
struct StatsResult {
    int64_t n;
    int hasMean, hasSd, hasPp;   // hasPp: Pp and Ppk
    double mean, sd, min, max, range, pp, ppk;
};

extern StatsSeries statsPx;   // Mvalue, pixels
extern StatsSeries statsUm;   // umValue, micrometres

void StatsClear(StatsSeries *s);        // window and since-reset
void StatsResetTotal(StatsSeries *s);   // since-reset only
void StatsAdd(StatsSeries *s, int64_t value);
// scale multiplies values (1 for pixels, 0.001 from micrometres to mm);
// lsl and usl are the tolerance limits in the shown unit.
void StatsWindow(const StatsSeries *s, double scale, double lsl, double usl, StatsResult *r);
void StatsTotal(const StatsSeries *s, double scale, double lsl, double usl, StatsResult *r);

// Tolerance limits tVal - tol and tVal + tol in pixels and in millimetres
// (through the calibration line slope/intersect, as umValue is formed).
void StatsLimitsPx(double *lsl, double *usl);
void StatsLimitsMm(double *lsl, double *usl);

// A figure as shown: "n/a" when not defined.
void StatsFormat(char *buf, int bufSize, int defined, double value, int decimals);

// The frame just unpacked into Mvalue and umValue; shows the statistics.
void StatsAddSample(void);
// Forgets the since-reset part of both series and shows the statistics.
void StatsReset(void);
void StatsShow(void);

RIDAR_CALLBACK(CC_BTNStatsReset);

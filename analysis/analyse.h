// Everything the Analysis window and its report show for one series.
// Plain C++: no Qt, no panels.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/spc.h"

struct AnaResult {
    AnaSummary sum;
    AnaControl ctl;
    AnaCapability cap;
    AnaHistogram hist;
    AnaResolution res;                  // coarse: rules 2 to 4 are not applied
    std::vector<uint8_t> flags;         // Western Electric rules broken, per point
    int64_t broken[4] = {0, 0, 0, 0};   // points marked by rule 1 .. 4
    int64_t mrAbove = 0;                // moving ranges above the MR chart's UCL
};

// binWidth <= 0: automatic (spc.h); resolution: the data's step. On data
// too coarse for its spread only rule 1 marks points.
void AnaAnalyse(const std::vector<double> &x, const AnaLimits *lim, double binWidth,
                double resolution, AnaResult *r);

#define ANA_MAX_BINS 400

// Statistics of a series of individual measurements, for the Analysis
// window and its report: the Individuals and Moving Range chart, the
// Western Electric rules 1 to 4, a histogram whose bin width follows the
// Freedman-Diaconis rule, and the capability indices.
// Plain C++: no Qt, no panels, no globals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Control chart constants for moving ranges of two consecutive values.
#define ANA_D2 1.128
#define ANA_D4 3.267

// Tolerance limits; either side may be missing.
struct AnaLimits {
    int hasLsl = 0, hasUsl = 0;
    double lsl = 0.0, usl = 0.0;
};

// One pass over the series.
struct AnaSummary {
    int64_t n = 0;
    int hasMean = 0;    // n >= 1
    int hasSigma = 0;   // n >= 2: the sigmas and the moving ranges exist
    double mean = 0.0, min = 0.0, max = 0.0;
    double sigmaOverall = 0.0;   // sample standard deviation (n - 1)
    double mrBar = 0.0;          // mean of |x[i] - x[i-1]|, i = 1 .. n-1
    double sigmaWithin = 0.0;    // mrBar / 1.128
};
void AnaSummarise(const double *x, size_t n, AnaSummary *s);

// Limits of the Individuals chart (centre line the mean, +-3 sigma within)
// and of the Moving Range chart (centre line mrBar, UCL 3.267 mrBar, LCL 0).
struct AnaControl {
    int has = 0;   // n >= 2
    double cl = 0.0, ucl = 0.0, lcl = 0.0, sigma = 0.0;
    double mrCl = 0.0, mrUcl = 0.0;
};
void AnaControlLimits(const AnaSummary *s, AnaControl *c);

// Western Electric rules; a point is marked with the rules it completes:
//  1  the point lies beyond 3 sigma;
//  2  the point is beyond 2 sigma, and so are at least 2 of the last 3 points
//     (this one included) on the same side;
//  3  the point is beyond 1 sigma, and so are at least 4 of the last 5 points
//     on the same side;
//  4  the point and the 7 before it all lie on the same side of the centre
//     line (a point on the centre line belongs to neither side).
// Nothing is marked when sigma is not positive.
enum { ANA_RULE1 = 1, ANA_RULE2 = 2, ANA_RULE3 = 4, ANA_RULE4 = 8 };
void AnaWesternElectric(const double *x, size_t n, double cl, double sigma, uint8_t *flags);

// Tolerance limits as given: none, one side, both the right way round, or
// unusable (a limit that is not a finite number, LSL above or equal to USL).
enum {
    ANA_LIMITS_BOTH = 0,
    ANA_LIMITS_LOWER = 1,   // LSL only
    ANA_LIMITS_UPPER = 2,   // USL only
    ANA_LIMITS_NONE = 3,
    ANA_LIMITS_NOT_A_NUMBER = 4,
    ANA_LIMITS_REVERSED = 5,
    ANA_LIMITS_EQUAL = 6,
};
int AnaCheckLimits(const AnaLimits *lim);
// The unusable kinds in words ("LSL 700 lies above USL 500"); "" for usable ones.
const char *AnaLimitsProblem(int check);
// Limits that capability figures can be taken against (none counts).
int AnaLimitsUsable(int check);

// One family of capability indexes for one sigma, as the SPC manuals and the
// common statistics packages define them:
//   p  = (USL - LSL) / 6 sigma           both limits only
//   pl = (mean - LSL) / 3 sigma          with an LSL
//   pu = (USL - mean) / 3 sigma          with a USL
//   pk = min(pl, pu)                     both limits only
// A one-sided tolerance has only its pl or pu. Nothing is defined for a
// sigma that is not positive or for unusable limits, so p is never negative.
struct AnaIndex {
    int hasP = 0, hasPk = 0, hasPl = 0, hasPu = 0;
    double p = 0.0, pk = 0.0, pl = 0.0, pu = 0.0;
};
void AnaIndexOf(double mean, double sigma, const AnaLimits *lim, AnaIndex *ix);

// Capability against the tolerance: Cp, Cpk, Cpl, Cpu with sigma within
// (mean moving range / 1.128), Pp, Ppk, Ppl, Ppu with sigma overall (n - 1).
// Every figure has a has* flag: 0 means "n/a" (no values, fewer than two
// values, sigma 0, no tolerance or an unusable one).
struct AnaCapability {
    int64_t n = 0;
    int limits = ANA_LIMITS_NONE;   // AnaCheckLimits
    int hasMean = 0, hasSigmaWithin = 0, hasSigmaOverall = 0;
    double mean = 0.0, sigmaWithin = 0.0, sigmaOverall = 0.0;
    AnaIndex within, overall;   // C.. and P..
    // parts per million outside the tolerance (beyond the limits given):
    // counted, and expected from the normal distribution with sigma within
    // and with sigma overall
    int hasPpmObserved = 0, hasPpmWithin = 0, hasPpmOverall = 0;
    double ppmObserved = 0.0, ppmWithin = 0.0, ppmOverall = 0.0;
};
void AnaCapabilityOf(const double *x, size_t n, const AnaSummary *s, const AnaLimits *lim,
                     AnaCapability *c);

// Whether the data's resolution (1 px, 0.001 mm) can show this spread
// (Wheeler's inadequate measurement units): too coarse when fewer than
// ANA_MIN_STEPS possible values lie within the natural process limits
// (mean +- 3 sigma within), or the mean moving range is below one step.
// Run rules 2 to 4 then mark the steps, not the process.
#define ANA_MIN_STEPS 5
struct AnaResolution {
    int known = 0;       // n >= 2 and a resolution given
    int coarse = 0;      // too coarse, as above
    int64_t steps = 0;   // possible values within the natural process limits
};
void AnaResolutionOf(const AnaSummary *s, double resolution, AnaResolution *r);

// Histogram: bin k holds first + k*width <= x < first + (k+1)*width.
enum { ANA_BINS_GIVEN = 0, ANA_BINS_FD = 1, ANA_BINS_SCOTT = 2, ANA_BINS_SINGLE = 3 };
struct AnaHistogram {
    double width = 0.0, first = 0.0;
    int rule = ANA_BINS_GIVEN;
    int widened = 0;   // the width was raised to keep at most maxBins bins
    std::vector<uint64_t> counts;
};
// Quartiles as in R's default (type 7: linear interpolation between order
// statistics); 0 when n is 0.
double AnaQuantile(const double *x, size_t n, double p);
// Freedman-Diaconis: 2 IQR n^(-1/3); 0 when n < 2 or IQR 0.
double AnaFreedmanDiaconis(const double *x, size_t n);
// width > 0: that width; width <= 0: Freedman-Diaconis, Scott's
// 3.49 sigma n^(-1/3) when the IQR is 0, one bin when sigma is 0 too.
// resolution > 0 (1 px, 0.001 mm): the data's step; the width is rounded up
// to a whole number of steps and the edges lie half a step off the values,
// so whole values never sit on an edge.
void AnaHistogramOf(const double *x, size_t n, double width, double resolution, int maxBins,
                    AnaHistogram *h);

// Standard normal distribution function and density.
double AnaNormalCdf(double z);
double AnaNormalPdf(double z);

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

// Capability against the tolerance. Every figure has a has* flag: 0 means
// "n/a" (no values, fewer than two values, sigma 0, no tolerance).
struct AnaCapability {
    int64_t n = 0;
    int hasMean = 0, hasSigmaWithin = 0, hasSigmaOverall = 0;
    double mean = 0.0, sigmaWithin = 0.0, sigmaOverall = 0.0;
    int hasCp = 0, hasCpk = 0, hasPp = 0, hasPpk = 0;
    double cp = 0.0, cpk = 0.0, pp = 0.0, ppk = 0.0;
    // parts per million outside the tolerance: counted, and expected from
    // the normal distribution with sigma within and with sigma overall
    int hasPpmObserved = 0, hasPpmWithin = 0, hasPpmOverall = 0;
    double ppmObserved = 0.0, ppmWithin = 0.0, ppmOverall = 0.0;
};
// Cp and Pp need both limits; Cpk and Ppk take the nearer of the limits
// given (with one limit, that one).
void AnaCapabilityOf(const double *x, size_t n, const AnaSummary *s, const AnaLimits *lim,
                     AnaCapability *c);

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

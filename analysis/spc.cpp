// Statistics of a series of individual measurements (see spc.h).
#include "analysis/spc.h"

#include "analysis/live.h"

#include <algorithm>
#include <cmath>

void AnaSummarise(const double *x, size_t n, AnaSummary *s) {
    *s = AnaSummary{};
    s->n = static_cast<int64_t>(n);
    if (n == 0 || !x) return;
    AnaRunning run;
    long double mrSum = 0.0L;
    double lo = x[0], hi = x[0];
    for (size_t i = 0; i < n; ++i) {
        const long double v = x[i];
        AnaRunningAdd(&run, x[i]);
        if (x[i] < lo) lo = x[i];
        if (x[i] > hi) hi = x[i];
        if (i > 0) mrSum += std::fabs(v - static_cast<long double>(x[i - 1]));
    }
    s->hasMean = 1;
    s->mean = static_cast<double>(run.mean);
    s->min = lo;
    s->max = hi;
    if (n >= 2) {
        s->hasSigma = 1;
        s->sigmaOverall = static_cast<double>(std::sqrt(AnaRunningVariance(run)));
        s->mrBar = static_cast<double>(mrSum / static_cast<long double>(n - 1));
        s->sigmaWithin = s->mrBar / ANA_D2;
    }
}

void AnaControlLimits(const AnaSummary *s, AnaControl *c) {
    *c = AnaControl{};
    if (!s->hasSigma) return;
    c->has = 1;
    c->cl = s->mean;
    c->sigma = s->sigmaWithin;
    c->ucl = s->mean + 3.0 * s->sigmaWithin;
    c->lcl = s->mean - 3.0 * s->sigmaWithin;
    c->mrCl = s->mrBar;
    c->mrUcl = ANA_D4 * s->mrBar;
}

// -1 below, +1 above, 0 not beyond k sigma.
static int Side(double v, double cl, double sigma, double k) {
    if (v > cl + k * sigma) return 1;
    if (v < cl - k * sigma) return -1;
    return 0;
}

void AnaWesternElectric(const double *x, size_t n, double cl, double sigma, uint8_t *flags) {
    if (!flags) return;
    for (size_t i = 0; i < n; ++i) flags[i] = 0;
    if (!x || !(sigma > 0.0) || !std::isfinite(sigma)) return;
    // run of the same side of the centre line ending at i
    int runSide = 0;
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        const double v = x[i];
        uint8_t f = 0;
        if (Side(v, cl, sigma, 3.0) != 0) f |= ANA_RULE1;

        const int s2 = Side(v, cl, sigma, 2.0);
        if (s2 != 0) {
            int same = 0;
            for (size_t j = (i >= 2 ? i - 2 : 0); j <= i; ++j)
                if (Side(x[j], cl, sigma, 2.0) == s2) ++same;
            if (same >= 2) f |= ANA_RULE2;
        }
        const int s1 = Side(v, cl, sigma, 1.0);
        if (s1 != 0) {
            int same = 0;
            for (size_t j = (i >= 4 ? i - 4 : 0); j <= i; ++j)
                if (Side(x[j], cl, sigma, 1.0) == s1) ++same;
            if (same >= 4) f |= ANA_RULE3;
        }
        const int s0 = v > cl ? 1 : (v < cl ? -1 : 0);
        if (s0 == 0) {
            runSide = 0;
            run = 0;
        } else if (s0 == runSide) {
            ++run;
        } else {
            runSide = s0;
            run = 1;
        }
        if (run >= 8) f |= ANA_RULE4;
        flags[i] = f;
    }
}

double AnaNormalCdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

double AnaNormalPdf(double z) {
    static const double kInvSqrt2Pi = 0.39894228040143267794;
    return kInvSqrt2Pi * std::exp(-0.5 * z * z);
}

static double UpperTail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

int AnaCheckLimits(const AnaLimits *lim) {
    if ((lim->hasLsl && !std::isfinite(lim->lsl)) || (lim->hasUsl && !std::isfinite(lim->usl)))
        return ANA_LIMITS_NOT_A_NUMBER;
    if (lim->hasLsl && lim->hasUsl) {
        if (lim->lsl > lim->usl) return ANA_LIMITS_REVERSED;
        if (lim->lsl == lim->usl) return ANA_LIMITS_EQUAL;
        return ANA_LIMITS_BOTH;
    }
    if (lim->hasLsl) return ANA_LIMITS_LOWER;
    if (lim->hasUsl) return ANA_LIMITS_UPPER;
    return ANA_LIMITS_NONE;
}

const char *AnaLimitsProblem(int check) {
    switch (check) {
    case ANA_LIMITS_NOT_A_NUMBER: return "a tolerance limit is not a number";
    case ANA_LIMITS_REVERSED: return "the lower tolerance limit lies above the upper one";
    case ANA_LIMITS_EQUAL: return "the tolerance limits are equal: the tolerance has no width";
    default: return "";
    }
}

int AnaLimitsUsable(int check) { return check <= ANA_LIMITS_NONE; }

static int Usable(int check) { return check <= ANA_LIMITS_UPPER; }

void AnaIndexOf(double mean, double sigma, const AnaLimits *lim, AnaIndex *ix) {
    *ix = AnaIndex{};
    const int check = AnaCheckLimits(lim);
    if (!Usable(check) || !(sigma > 0.0) || !std::isfinite(sigma) || !std::isfinite(mean)) return;
    if (lim->hasLsl) {
        ix->hasPl = 1;
        ix->pl = (mean - lim->lsl) / (3.0 * sigma);
    }
    if (lim->hasUsl) {
        ix->hasPu = 1;
        ix->pu = (lim->usl - mean) / (3.0 * sigma);
    }
    if (check == ANA_LIMITS_BOTH) {
        ix->hasP = ix->hasPk = 1;
        ix->p = (lim->usl - lim->lsl) / (6.0 * sigma);
        ix->pk = ix->pl < ix->pu ? ix->pl : ix->pu;
    }
}

void AnaCapabilityOf(const double *x, size_t n, const AnaSummary *s, const AnaLimits *lim,
                     AnaCapability *c) {
    *c = AnaCapability{};
    c->n = s->n;
    c->limits = AnaCheckLimits(lim);
    c->hasMean = s->hasMean;
    c->mean = s->mean;
    c->hasSigmaWithin = s->hasSigma;
    c->sigmaWithin = s->sigmaWithin;
    c->hasSigmaOverall = s->hasSigma;
    c->sigmaOverall = s->sigmaOverall;
    if (!Usable(c->limits) || c->limits == ANA_LIMITS_NONE) return;

    if (s->n > 0 && x) {
        uint64_t outside = 0;
        for (size_t i = 0; i < n; ++i)
            if ((lim->hasLsl && x[i] < lim->lsl) || (lim->hasUsl && x[i] > lim->usl)) ++outside;
        c->hasPpmObserved = 1;
        c->ppmObserved = 1e6 * static_cast<double>(outside) / static_cast<double>(n);
    }
    if (!s->hasSigma) return;
    AnaIndexOf(s->mean, s->sigmaWithin, lim, &c->within);
    AnaIndexOf(s->mean, s->sigmaOverall, lim, &c->overall);
    const struct {
        double sigma;
        int *has;
        double *ppm;
    } expected[2] = {{s->sigmaWithin, &c->hasPpmWithin, &c->ppmWithin},
                     {s->sigmaOverall, &c->hasPpmOverall, &c->ppmOverall}};
    for (const auto &e : expected) {
        if (!(e.sigma > 0.0) || !std::isfinite(e.sigma)) continue;
        double p = 0.0;
        if (lim->hasLsl) p += AnaNormalCdf((lim->lsl - s->mean) / e.sigma);
        if (lim->hasUsl) p += UpperTail((lim->usl - s->mean) / e.sigma);
        *e.has = 1;
        *e.ppm = 1e6 * p;
    }
}

void AnaResolutionOf(const AnaSummary *s, double resolution, AnaResolution *r) {
    *r = AnaResolution{};
    if (!s->hasSigma || !(resolution > 0.0) || !std::isfinite(resolution)) return;
    r->known = 1;
    // the values lie on a grid of whole steps; a hair of slack for the
    // rounding of mean and sigma
    const double lo = (s->mean - 3.0 * s->sigmaWithin) / resolution;
    const double hi = (s->mean + 3.0 * s->sigmaWithin) / resolution;
    const double count = std::floor(hi + 1e-9) - std::ceil(lo - 1e-9) + 1.0;
    r->steps = count > 0.0 && std::isfinite(count)
                   ? (count > 1e15 ? static_cast<int64_t>(1e15) : static_cast<int64_t>(count))
                   : 0;
    r->coarse = r->steps < ANA_MIN_STEPS || s->mrBar < resolution * (1.0 - 1e-9);
}

double AnaQuantile(const double *x, size_t n, double p) {
    if (n == 0 || !x) return 0.0;
    std::vector<double> v(x, x + n);
    if (p <= 0.0) return *std::min_element(v.begin(), v.end());
    if (p >= 1.0) return *std::max_element(v.begin(), v.end());
    const double h = (static_cast<double>(n) - 1.0) * p;
    const size_t lo = static_cast<size_t>(std::floor(h));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(lo), v.end());
    const double a = v[lo];
    if (lo + 1 >= n) return a;
    // the next order statistic is the smallest of what lies above
    const double b = *std::min_element(v.begin() + static_cast<std::ptrdiff_t>(lo + 1), v.end());
    return a + (h - static_cast<double>(lo)) * (b - a);
}

double AnaFreedmanDiaconis(const double *x, size_t n) {
    if (n < 2 || !x) return 0.0;
    const double iqr = AnaQuantile(x, n, 0.75) - AnaQuantile(x, n, 0.25);
    if (!(iqr > 0.0)) return 0.0;
    return 2.0 * iqr / std::cbrt(static_cast<double>(n));
}

void AnaHistogramOf(const double *x, size_t n, double width, double resolution, int maxBins,
                    AnaHistogram *h) {
    *h = AnaHistogram{};
    if (maxBins < 1) maxBins = 1;
    if (n == 0 || !x) return;
    AnaSummary s;
    AnaSummarise(x, n, &s);
    double w = width;
    h->rule = ANA_BINS_GIVEN;
    if (!(w > 0.0) || !std::isfinite(w)) {
        w = AnaFreedmanDiaconis(x, n);
        h->rule = ANA_BINS_FD;
        if (!(w > 0.0)) {
            w = s.hasSigma ? 3.49 * s.sigmaOverall / std::cbrt(static_cast<double>(n)) : 0.0;
            h->rule = ANA_BINS_SCOTT;
        }
        if (!(w > 0.0)) {
            w = resolution > 0.0 ? resolution : 1.0;
            h->rule = ANA_BINS_SINGLE;
        }
    }
    const double span = s.max - s.min;
    if (span / w >= static_cast<double>(maxBins)) {
        w = span / (static_cast<double>(maxBins) - 1.0);
        h->widened = 1;
    }
    double offset = 0.0;
    if (resolution > 0.0) {
        const double steps = std::ceil(w / resolution - 1e-9);
        w = (steps < 1.0 ? 1.0 : steps) * resolution;
        offset = -0.5 * resolution;
    }
    const double first = std::floor((s.min - offset) / w) * w + offset;
    long bins = static_cast<long>(std::floor((s.max - first) / w)) + 1;
    if (bins < 1) bins = 1;
    if (bins > maxBins + 1) bins = maxBins + 1;
    h->width = w;
    h->first = first;
    h->counts.assign(static_cast<size_t>(bins), 0);
    for (size_t i = 0; i < n; ++i) {
        long k = static_cast<long>(std::floor((x[i] - first) / w));
        if (k < 0) k = 0;
        if (k >= bins) k = bins - 1;
        ++h->counts[static_cast<size_t>(k)];
    }
}

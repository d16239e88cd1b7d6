// Everything shown for one series (see analyse.h).
#include "analysis/analyse.h"

#include <cmath>

void AnaAnalyse(const std::vector<double> &x, const AnaLimits *lim, double binWidth,
                double resolution, AnaResult *r) {
    const double *d = x.empty() ? nullptr : x.data();
    const size_t n = x.size();
    AnaSummarise(d, n, &r->sum);
    AnaControlLimits(&r->sum, &r->ctl);
    AnaCapabilityOf(d, n, &r->sum, lim, &r->cap);
    AnaHistogramOf(d, n, binWidth, resolution, ANA_MAX_BINS, &r->hist);
    AnaResolutionOf(&r->sum, resolution, &r->res);
    r->flags.assign(n, 0);
    for (int k = 0; k < 4; ++k) r->broken[k] = 0;
    r->mrAbove = 0;
    if (!r->ctl.has) return;
    AnaWesternElectric(d, n, r->ctl.cl, r->ctl.sigma, r->flags.data());
    if (r->res.coarse)
        for (uint8_t &f : r->flags) f &= ANA_RULE1;
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 4; ++k)
            if (r->flags[i] & (1 << k)) ++r->broken[k];
    for (size_t i = 1; i < n; ++i)
        if (std::fabs(x[i] - x[i - 1]) > r->ctl.mrUcl) ++r->mrAbove;
}

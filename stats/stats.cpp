// Statistics of the live measured value, updated once per frame.
#include "stats/stats.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "analysis/live.h"
#include "analysis/spc.h"
#include "ui/panels.h"
#include "params/vars.h"

StatsSeries statsPx;
StatsSeries statsUm;

void StatsResetTotal(StatsSeries *s) {
    s->total = AnaRunning{};
    s->tMin = 0;
    s->tMax = 0;
}

void StatsClear(StatsSeries *s) {
    *s = StatsSeries{};
    StatsResetTotal(s);
}

void StatsAdd(StatsSeries *s, int64_t value) {
    const uint64_t seq = s->added;
    const int slot = static_cast<int>(seq % STATS_WINDOW);
    if (seq >= STATS_WINDOW) {
        const int64_t old = s->ring[slot];
        s->wSum -= old;
        s->wSq -= static_cast<__int128>(old) * old;
    }
    s->ring[slot] = value;
    s->wSum += value;
    s->wSq += static_cast<__int128>(value) * value;

    // Monotonic queues: the front is the window's extreme; entries that have
    // left the window go from the front, entries that can never be the
    // extreme again go from the back.
    if (s->maxLen > 0 && s->maxSeq[s->maxHead] + STATS_WINDOW <= seq) {
        s->maxHead = (s->maxHead + 1) % STATS_WINDOW;
        --s->maxLen;
    }
    while (s->maxLen > 0 && s->maxVal[(s->maxHead + s->maxLen - 1) % STATS_WINDOW] <= value)
        --s->maxLen;
    const int maxTail = (s->maxHead + s->maxLen) % STATS_WINDOW;
    s->maxSeq[maxTail] = seq;
    s->maxVal[maxTail] = value;
    ++s->maxLen;

    if (s->minLen > 0 && s->minSeq[s->minHead] + STATS_WINDOW <= seq) {
        s->minHead = (s->minHead + 1) % STATS_WINDOW;
        --s->minLen;
    }
    while (s->minLen > 0 && s->minVal[(s->minHead + s->minLen - 1) % STATS_WINDOW] >= value)
        --s->minLen;
    const int minTail = (s->minHead + s->minLen) % STATS_WINDOW;
    s->minSeq[minTail] = seq;
    s->minVal[minTail] = value;
    ++s->minLen;

    s->added = seq + 1;

    // since the reset
    AnaRunningAdd(&s->total, static_cast<double>(value));
    if (s->total.n == 1 || value < s->tMin) s->tMin = value;
    if (s->total.n == 1 || value > s->tMax) s->tMax = value;
}

// Pp and Ppk as the Analysis window has them: sigma overall, both limits
// the right way round; with sigma 0 (or none) they stay undefined.
static void Performance(double lsl, double usl, StatsResult *r) {
    AnaLimits lim;
    lim.hasLsl = lim.hasUsl = 1;
    lim.lsl = lsl;
    lim.usl = usl;
    AnaIndex ix;
    AnaIndexOf(r->mean, r->hasSd ? r->sd : 0.0, &lim, &ix);
    r->hasPp = ix.hasP && ix.hasPk;
    r->pp = r->hasPp ? ix.p : 0.0;
    r->ppk = r->hasPp ? ix.pk : 0.0;
}

static void Empty(StatsResult *r) { *r = StatsResult{}; }

void StatsWindow(const StatsSeries *s, double scale, double lsl, double usl, StatsResult *r) {
    Empty(r);
    const int64_t n = s->added < STATS_WINDOW ? static_cast<int64_t>(s->added) : STATS_WINDOW;
    r->n = n;
    if (n == 0) return;
    r->hasMean = 1;
    r->mean = static_cast<double>(static_cast<long double>(s->wSum) / n) * scale;
    r->min = static_cast<double>(s->minVal[s->minHead]) * scale;
    r->max = static_cast<double>(s->maxVal[s->maxHead]) * scale;
    r->range = static_cast<double>(s->maxVal[s->maxHead] - s->minVal[s->minHead]) * scale;
    if (n >= 2) {
        // exact: n*sum(x^2) - (sum x)^2 is never negative
        const __int128 num = n * s->wSq - s->wSum * s->wSum;
        const long double var =
            static_cast<long double>(num) / (static_cast<long double>(n) * (n - 1));
        r->hasSd = 1;
        r->sd = static_cast<double>(std::sqrt(var)) * scale;
    }
    Performance(lsl, usl, r);
}

void StatsTotal(const StatsSeries *s, double scale, double lsl, double usl, StatsResult *r) {
    Empty(r);
    r->n = s->total.n;
    if (s->total.n == 0) return;
    r->hasMean = 1;
    r->mean = static_cast<double>(s->total.mean) * scale;
    r->min = static_cast<double>(s->tMin) * scale;
    r->max = static_cast<double>(s->tMax) * scale;
    r->range = static_cast<double>(s->tMax - s->tMin) * scale;
    if (s->total.n >= 2) {
        r->hasSd = 1;
        r->sd = static_cast<double>(std::sqrt(AnaRunningVariance(s->total))) * scale;
    }
    Performance(lsl, usl, r);
}

void StatsLimitsPx(double *lsl, double *usl) {
    // the statistics take the band as the sensor states it, unclamped
    const proto::Band b = proto::ToleranceBand(tVal, tol, INT_MIN, INT_MAX);
    *lsl = b.lower;
    *usl = b.upper;
}

void StatsLimitsMm(double *lsl, double *usl) {
    const double k = static_cast<double>(SlopeScale());
    const double centre =
        (static_cast<double>(tVal) * slope / k + (static_cast<double>(intersect) - YOFFSET)) /
        1000.0;
    // the tolerance as NUMToleranceMm shows it
    const double half = static_cast<double>(tol) * static_cast<double>(slope) / (k * 1000.0);
    *lsl = centre - half;
    *usl = centre + half;
}

void StatsFormat(char *buf, int bufSize, int defined, double value, int decimals) {
    if (!buf || bufSize <= 0) return;
    if (!defined || !std::isfinite(value)) {
        std::snprintf(buf, static_cast<size_t>(bufSize), "n/a");
        return;
    }
    // a huge figure (a capability with sigma nearly 0) must still fit its cell
    if (std::fabs(value) >= 1e6) std::snprintf(buf, static_cast<size_t>(bufSize), "%.4g", value);
    else std::snprintf(buf, static_cast<size_t>(bufSize), "%.*f", decimals, value);
}

// decimals of the values themselves and of mean and sigma
static void ShowRow(int firstCtrl, const StatsResult *r, int decimals, int fine) {
    char t[64];
    std::snprintf(t, sizeof t, "%lld", static_cast<long long>(r->n));
    SetCtrlVal(pHandle, firstCtrl + 0, t);
    StatsFormat(t, sizeof t, r->hasMean, r->mean, fine);
    SetCtrlVal(pHandle, firstCtrl + 1, t);
    StatsFormat(t, sizeof t, r->hasSd, r->sd, fine);
    SetCtrlVal(pHandle, firstCtrl + 2, t);
    StatsFormat(t, sizeof t, r->hasMean, r->min, decimals);
    SetCtrlVal(pHandle, firstCtrl + 3, t);
    StatsFormat(t, sizeof t, r->hasMean, r->max, decimals);
    SetCtrlVal(pHandle, firstCtrl + 4, t);
    StatsFormat(t, sizeof t, r->hasMean, r->range, decimals);
    SetCtrlVal(pHandle, firstCtrl + 5, t);
    StatsFormat(t, sizeof t, r->hasPp, r->pp, 2);
    SetCtrlVal(pHandle, firstCtrl + 6, t);
    StatsFormat(t, sizeof t, r->hasPp, r->ppk, 2);
    SetCtrlVal(pHandle, firstCtrl + 7, t);
}

void StatsShow(void) {
    double pl, pu, ml, mu;
    StatsLimitsPx(&pl, &pu);
    StatsLimitsMm(&ml, &mu);
    StatsResult r;
    // pixels are whole numbers; micrometres shown as mm keep three decimals
    StatsWindow(&statsPx, 1.0, pl, pu, &r);
    ShowRow(PANEL_TEXTStatWinPxCount, &r, 0, 2);
    StatsWindow(&statsUm, 0.001, ml, mu, &r);
    ShowRow(PANEL_TEXTStatWinMmCount, &r, 3, 4);
    StatsTotal(&statsPx, 1.0, pl, pu, &r);
    ShowRow(PANEL_TEXTStatAllPxCount, &r, 0, 2);
    StatsTotal(&statsUm, 0.001, ml, mu, &r);
    ShowRow(PANEL_TEXTStatAllMmCount, &r, 3, 4);
}

void StatsAddSample(void) {
    StatsAdd(&statsPx, static_cast<int64_t>(Mvalue));
    StatsAdd(&statsUm, static_cast<int64_t>(umValue));
    AnalysisLiveAdd(Mvalue, umValue);
    StatsShow();
}

void StatsReset(void) {
    StatsResetTotal(&statsPx);
    StatsResetTotal(&statsUm);
    AnalysisLiveReset();
    StatsShow();
}

RIDAR_CALLBACK(CC_BTNStatsReset) {
    (void)panel;
    (void)control;
    (void)callbackData;
    (void)eventData1;
    (void)eventData2;
    if (event == EVENT_COMMIT) StatsReset();
    return 0;
}

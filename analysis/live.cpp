// The live measurements for the Analysis window (see live.h).
#include "analysis/live.h"

AnaLive anaLive;

void AnaRunningAdd(AnaRunning *r, double v) {
    ++r->n;
    const long double x = v;
    const long double d = x - r->mean;
    r->mean += d / static_cast<long double>(r->n);
    r->m2 += d * (x - r->mean);
}

long double AnaRunningVariance(const AnaRunning &r) {
    if (r.n < 2 || r.m2 <= 0.0L) return 0.0L;
    return r.m2 / static_cast<long double>(r.n - 1);
}

void AnaLiveReset(AnaLive *l) {
    l->px.clear();
    l->um.clear();
    l->head = 0;
    l->total = 0;
    l->droppedPx = AnaRunning{};
    l->droppedUm = AnaRunning{};
    ++l->generation;
}

void AnaLiveAdd(AnaLive *l, int32_t px, int32_t um) {
    if (l->keep == 0) l->keep = 1;
    if (l->px.size() < l->keep) {
        // the whole bound at once: no copying of a grown buffer in the run loop
        // (the pages are only touched as the values come)
        if (l->px.capacity() < l->keep) {
            l->px.reserve(l->keep);
            l->um.reserve(l->keep);
        }
        l->px.push_back(px);
        l->um.push_back(um);
    } else {
        AnaRunningAdd(&l->droppedPx, l->px[l->head]);
        AnaRunningAdd(&l->droppedUm, l->um[l->head]);
        l->px[l->head] = px;
        l->um[l->head] = um;
        if (++l->head == l->px.size()) l->head = 0;
    }
    ++l->total;
    ++l->generation;
}

size_t AnaLiveCount(const AnaLive *l) { return l->px.size(); }

int64_t AnaLiveDropped(const AnaLive *l) { return l->droppedPx.n; }

void AnaLiveCopy(const AnaLive *l, int column, double scale, std::vector<double> *out) {
    const std::vector<int32_t> &v = column == 0 ? l->px : l->um;
    out->resize(v.size());
    size_t k = 0;
    for (size_t i = l->head; i < v.size(); ++i) (*out)[k++] = static_cast<double>(v[i]) * scale;
    for (size_t i = 0; i < l->head; ++i) (*out)[k++] = static_cast<double>(v[i]) * scale;
}

// M-VAL[um] as the recorder file writes it: a 32-bit signed number.
void AnalysisLiveAdd(uint16_t mvalue, uint32_t umValue) {
    AnaLiveAdd(&anaLive, static_cast<int32_t>(mvalue), static_cast<int32_t>(umValue));
}

void AnalysisLiveReset(void) { AnaLiveReset(&anaLive); }

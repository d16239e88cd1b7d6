// The live measurements for the Analysis window: every measured value of the
// run and recording loops since the statistics' Reset, M-VALUE (pixels) and
// M-VAL[um] side by side. The newest ANA_LIVE_KEEP pairs are kept; older ones
// are summarised (count, mean, standard deviation) and never mixed into the
// kept ones. Adding costs a few stores: no allocation once the buffer has
// grown, no drawing. Plain C++: no Qt, no panels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#define ANA_LIVE_KEEP 1000000

// Running count, mean and sum of squared deviations.
struct AnaRunning {
    int64_t n = 0;
    long double mean = 0.0L, m2 = 0.0L;
};
void AnaRunningAdd(AnaRunning *r, double v);
// The sample variance (n - 1), 0 below two values.
long double AnaRunningVariance(const AnaRunning &r);

struct AnaLive {
    size_t keep = ANA_LIVE_KEEP;   // bound of the kept values
    std::vector<int32_t> px, um;   // ring once full; oldest at `head`
    size_t head = 0;
    int64_t total = 0;                 // values since the reset
    AnaRunning droppedPx, droppedUm;   // the summarised older ones
    uint64_t generation = 0;           // changes with every add and reset
};

void AnaLiveReset(AnaLive *l);
void AnaLiveAdd(AnaLive *l, int32_t px, int32_t um);
size_t AnaLiveCount(const AnaLive *l);      // kept values
int64_t AnaLiveDropped(const AnaLive *l);   // summarised older values
// The kept values, oldest first: column 0 pixels, 1 micrometres, times scale.
void AnaLiveCopy(const AnaLive *l, int column, double scale, std::vector<double> *out);

// The program's live series, fed by the statistics of the live value.
extern AnaLive anaLive;
void AnalysisLiveAdd(uint16_t mvalue, uint32_t umValue);
void AnalysisLiveReset(void);

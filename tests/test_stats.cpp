// Statistics of the live value: hand-computed series, the window of the last
// 100 against the part since the reset, the limits in pixels and millimetres,
// and what the panel's cells show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "app/app.h"
#include "params/vars.h"
#include "stats/stats.h"

namespace {

StatsSeries Feed(const std::vector<int64_t> &values) {
    StatsSeries s;
    StatsClear(&s);
    for (int64_t v : values) StatsAdd(&s, v);
    return s;
}

// What a straightforward recount gives for a series.
StatsResult Recount(const std::vector<int64_t> &v, double lsl, double usl) {
    StatsResult r{};
    r.n = static_cast<int64_t>(v.size());
    if (v.empty()) return r;
    long double sum = 0;
    for (int64_t x : v) sum += x;
    const long double mean = sum / v.size();
    long double sq = 0;
    for (int64_t x : v) sq += (x - mean) * (x - mean);
    r.hasMean = 1;
    r.mean = static_cast<double>(mean);
    r.min = static_cast<double>(*std::min_element(v.begin(), v.end()));
    r.max = static_cast<double>(*std::max_element(v.begin(), v.end()));
    r.range = r.max - r.min;
    if (v.size() >= 2) {
        r.hasSd = 1;
        r.sd = static_cast<double>(std::sqrt(sq / (v.size() - 1)));
    }
    r.hasPp = r.hasSd && r.sd > 0;
    if (r.hasPp) {
        r.pp = (usl - lsl) / (6 * r.sd);
        r.ppk = std::min(usl - r.mean, r.mean - lsl) / (3 * r.sd);
    }
    return r;
}

void ExpectSame(const StatsResult &a, const StatsResult &b, double tol, const std::string &what) {
    EXPECT_EQ(a.n, b.n) << what;
    EXPECT_EQ(a.hasMean, b.hasMean) << what;
    EXPECT_EQ(a.hasSd, b.hasSd) << what;
    EXPECT_EQ(a.hasPp, b.hasPp) << what;
    EXPECT_NEAR(a.mean, b.mean, tol) << what;
    EXPECT_NEAR(a.sd, b.sd, tol) << what;
    EXPECT_EQ(a.min, b.min) << what;
    EXPECT_EQ(a.max, b.max) << what;
    EXPECT_EQ(a.range, b.range) << what;
    EXPECT_NEAR(a.pp, b.pp, tol) << what;
    EXPECT_NEAR(a.ppk, b.ppk, tol) << what;
}

}   // namespace

// ---- hand-computed series ------------------------------------------------------------
struct Series {
    const char *name;
    std::vector<int64_t> values;
    double lsl, usl;
    // expected: n, mean, sd (-1: not defined), min, max, range, pp and ppk (-1: not defined)
    int64_t n;
    double mean, sd, min, max, range, pp, ppk;
};

TEST(StatsSeries, HandComputed) {
    const double nd = -1;
    // clang-format off
    const Series cases[] = {
        {"empty", {}, 0, 10, 0, 0, nd, 0, 0, 0, nd, nd},
        {"one sample: no spread yet", {5}, 0, 10, 1, 5, nd, 5, 5, 0, nd, nd},
        // deviations 3,1,1,1,0,0,2,4: squares 32, sample variance 32/7
        {"textbook series", {2, 4, 4, 4, 5, 5, 7, 9}, 0, 10, 8, 5, std::sqrt(32.0 / 7), 2, 9, 7,
         10 / (6 * std::sqrt(32.0 / 7)), 5 / (3 * std::sqrt(32.0 / 7))},
        {"off-centre: Ppk takes the nearer limit", {2, 4, 4, 4, 5, 5, 7, 9}, 2, 10, 8, 5,
         std::sqrt(32.0 / 7), 2, 9, 7, 8 / (6 * std::sqrt(32.0 / 7)), 3 / (3 * std::sqrt(32.0 / 7))},
        {"mean outside the limits: negative Ppk", {20, 22}, 0, 10, 2, 21, std::sqrt(2.0), 20, 22, 2,
         10 / (6 * std::sqrt(2.0)), -11 / (3 * std::sqrt(2.0))},
        {"constant: sigma 0, no capability", {512, 512, 512, 512, 512, 512}, 502, 522, 6, 512, 0, 512,
         512, 0, nd, nd},
        {"largest micrometre values do not overflow", {4294967295LL, 4294967294LL}, 0, 1, 2,
         4294967294.5, std::sqrt(0.5), 4294967294.0, 4294967295.0, 1, 1 / (6 * std::sqrt(0.5)),
         (1 - 4294967294.5) / (3 * std::sqrt(0.5))},
        // the Analysis window's worked example: the same Pp and Ppk as its table
        {"Pp 0.95, Ppk 0.84 as in the Analysis window", {10, 12, 11, 14, 13}, 8, 17, 5, 12,
         std::sqrt(2.5), 10, 14, 4, 9 / (6 * std::sqrt(2.5)), 4 / (3 * std::sqrt(2.5))},
        {"tolerance 0: equal limits, no Pp", {4, 6}, 5, 5, 2, 5, std::sqrt(2.0), 4, 6, 2, nd, nd},
        {"zero and 65535", {0, 65535}, 0, 65535, 2, 32767.5, 65535 / std::sqrt(2.0), 0, 65535, 65535,
         65535 / (6 * 65535 / std::sqrt(2.0)), 32767.5 / (3 * 65535 / std::sqrt(2.0))},
    };
    // clang-format on
    for (const Series &c : cases) {
        StatsSeries s = Feed(c.values);
        StatsResult w, t;
        StatsWindow(&s, 1.0, c.lsl, c.usl, &w);
        StatsTotal(&s, 1.0, c.lsl, c.usl, &t);
        for (const StatsResult *r : {&w, &t}) {
            const std::string what =
                std::string(c.name) + (r == &w ? " (window)" : " (since reset)");
            const double tol = 1e-9 * std::max(1.0, std::fabs(c.mean));
            EXPECT_EQ(r->n, c.n) << what;
            EXPECT_EQ(r->hasMean, c.n > 0) << what;
            if (c.n > 0) {
                EXPECT_NEAR(r->mean, c.mean, tol) << what;
                EXPECT_EQ(r->min, c.min) << what;
                EXPECT_EQ(r->max, c.max) << what;
                EXPECT_EQ(r->range, c.range) << what;
            }
            EXPECT_EQ(r->hasSd, c.sd >= 0) << what;
            if (c.sd >= 0) { EXPECT_NEAR(r->sd, c.sd, 1e-9 * std::max(1.0, c.sd)) << what; }
            EXPECT_EQ(r->hasPp, c.pp >= 0) << what;
            if (r->hasPp) {
                EXPECT_NEAR(r->pp, c.pp, 1e-9) << what;
                EXPECT_NEAR(r->ppk, c.ppk, 1e-6 * std::max(1.0, std::fabs(c.ppk))) << what;
            }
            EXPECT_TRUE(std::isfinite(r->pp) && std::isfinite(r->ppk)) << what;
        }
    }
}

TEST(StatsSeries, MillimetresComeFromMicrometres) {
    StatsSeries s = Feed({10200, 10240, 10280});
    StatsResult r;
    StatsWindow(&s, 0.001, 10.02, 10.42, &r);
    EXPECT_NEAR(r.mean, 10.24, 1e-12);
    EXPECT_NEAR(r.sd, 0.04, 1e-12);
    EXPECT_NEAR(r.min, 10.2, 1e-12);
    EXPECT_NEAR(r.max, 10.28, 1e-12);
    EXPECT_NEAR(r.range, 0.08, 1e-12);
    EXPECT_NEAR(r.pp, 0.4 / 0.24, 1e-9);
    EXPECT_NEAR(r.ppk, 0.18 / 0.12, 1e-9);
}

// ---- the window of 100 against since-reset --------------------------------------------
TEST(StatsSeries, WindowHoldsTheLastHundredResetOnlyTheTotal) {
    StatsSeries s;
    StatsClear(&s);
    for (int v = 1; v <= 150; ++v) StatsAdd(&s, v);
    StatsResult w, t;
    StatsWindow(&s, 1, 0, 200, &w);
    StatsTotal(&s, 1, 0, 200, &t);
    // 51..150 in the window; the sample variance of k consecutive integers is k(k+1)/12
    EXPECT_EQ(w.n, 100);
    EXPECT_DOUBLE_EQ(w.mean, 100.5);
    EXPECT_EQ(w.min, 51);
    EXPECT_EQ(w.max, 150);
    EXPECT_NEAR(w.sd, std::sqrt(100.0 * 101 / 12), 1e-9);
    EXPECT_EQ(t.n, 150);
    EXPECT_NEAR(t.mean, 75.5, 1e-12);
    EXPECT_EQ(t.min, 1);
    EXPECT_EQ(t.max, 150);
    EXPECT_NEAR(t.sd, std::sqrt(150.0 * 151 / 12), 1e-9);

    StatsResetTotal(&s);
    StatsTotal(&s, 1, 0, 200, &t);
    StatsWindow(&s, 1, 0, 200, &w);
    EXPECT_EQ(t.n, 0);
    EXPECT_FALSE(t.hasMean);
    EXPECT_EQ(w.n, 100) << "the reset leaves the window alone";

    for (int v : {10, 20, 30}) StatsAdd(&s, v);
    StatsTotal(&s, 1, 0, 200, &t);
    StatsWindow(&s, 1, 0, 200, &w);
    EXPECT_EQ(t.n, 3);
    EXPECT_NEAR(t.mean, 20, 1e-12);
    EXPECT_NEAR(t.sd, 10, 1e-12);
    EXPECT_EQ(t.min, 10);
    EXPECT_EQ(t.max, 30);
    std::vector<int64_t> expect;
    for (int v = 54; v <= 150; ++v) expect.push_back(v);
    for (int v : {10, 20, 30}) expect.push_back(v);
    ExpectSame(w, Recount(expect, 0, 200), 1e-9, "window after the reset");
}

// Every step of a long series against a recount of its last 100: rising and
// falling runs, plateaus and repeats exercise the min and max queues, and
// the exact sums must not drift however many values pass through.
TEST(StatsSeries, SlidingWindowMatchesARecountAtEveryStep) {
    StatsSeries s;
    StatsClear(&s);
    std::vector<int64_t> all;
    uint32_t lcg = 12345;
    for (int i = 0; i < 3000; ++i) {
        int64_t v;
        if (i < 300) v = i;              // rising
        else if (i < 600) v = 600 - i;   // falling
        else if (i < 800) v = 77;        // plateau
        else {
            lcg = lcg * 1103515245u + 12345u;
            v = (lcg >> 16) % 9;                                  // many repeats
            if (i > 2500) v = 4000000000LL + (lcg >> 8) % 5000;   // large micrometre values
        }
        all.push_back(v);
        StatsAdd(&s, v);
        const size_t from = all.size() > 100 ? all.size() - 100 : 0;
        std::vector<int64_t> last(all.begin() + static_cast<long>(from), all.end());
        StatsResult w;
        StatsWindow(&s, 1, 0, 10, &w);
        const StatsResult e = Recount(last, 0, 10);
        ASSERT_EQ(w.n, e.n) << "step " << i;
        ASSERT_EQ(w.min, e.min) << "step " << i;
        ASSERT_EQ(w.max, e.max) << "step " << i;
        ASSERT_NEAR(w.mean, e.mean, 1e-6) << "step " << i;
        ASSERT_NEAR(w.sd, e.sd, 1e-6 * std::max(1.0, e.sd)) << "step " << i;
        ASSERT_EQ(w.hasPp, e.hasPp) << "step " << i;
    }
    StatsResult t;
    StatsTotal(&s, 1, 0, 10, &t);
    ExpectSame(t, Recount(all, 0, 10), 1e-3, "since reset after 3000");
}

// ---- limits --------------------------------------------------------------------------
struct Limits {
    uint16_t ccd, fw, slopeWord, intersectWord, setpoint, tolerance;
    double pxLow, pxHigh, mmLow, mmHigh;
};

TEST(StatsLimits, PixelsAndMillimetres) {
    const Limits cases[] = {
        // 20 um per pixel with scale 1024, no offset
        {2, 252, 20480, 30000, 511, 10, 501, 521, 10.02, 10.42},
        // scale 512 for CCD type 104 below firmware 250; offset +100 um
        {104, 249, 10240, 30100, 500, 5, 495, 505, 10.0, 10.2},
        // firmware 250: scale 1024 again, so the same words mean 10 um per pixel
        {104, 250, 10240, 30100, 500, 5, 495, 505, 5.05, 5.15},
        // negative offset; a tolerance larger than the set-point keeps its true lower limit
        {2, 252, 1024, 29000, 50, 80, -30, 130, -1.03, -0.87},
    };
    for (const Limits &c : cases) {
        ccdtype = c.ccd;
        softversion = c.fw;
        slope = c.slopeWord;
        intersect = c.intersectWord;
        tVal = c.setpoint;
        tol = c.tolerance;
        double lo, hi;
        StatsLimitsPx(&lo, &hi);
        EXPECT_DOUBLE_EQ(lo, c.pxLow) << c.ccd << "/" << c.fw;
        EXPECT_DOUBLE_EQ(hi, c.pxHigh) << c.ccd << "/" << c.fw;
        StatsLimitsMm(&lo, &hi);
        EXPECT_NEAR(lo, c.mmLow, 1e-12) << c.ccd << "/" << c.fw;
        EXPECT_NEAR(hi, c.mmHigh, 1e-12) << c.ccd << "/" << c.fw;
    }
    ccdtype = 0;
    softversion = 0;
}

// ---- formatting ------------------------------------------------------------------------
TEST(StatsFormat, NotDefinedNeverInfinity) {
    struct F {
        int defined;
        double v;
        int decimals;
        const char *text;
    };
    // clang-format off
    const F cases[] = {
        {0, 1.5, 2, "n/a"},
        {1, NAN, 2, "n/a"},
        {1, INFINITY, 2, "n/a"},
        {1, -INFINITY, 2, "n/a"},
        {1, 1.2345, 2, "1.23"},
        {1, 512, 0, "512"},
        {1, -0.5, 1, "-0.5"},
        {1, 10.24, 4, "10.2400"},
        {1, 2.5e7, 2, "2.5e+07"},
    };
    // clang-format on
    for (const F &c : cases) {
        char buf[32] = "unchanged";
        StatsFormat(buf, sizeof buf, c.defined, c.v, c.decimals);
        EXPECT_STREQ(buf, c.text) << c.v;
    }
    char small[4] = "xyz";
    StatsFormat(small, 0, 1, 3.0, 0);
    EXPECT_STREQ(small, "xyz") << "no room: nothing written";
    StatsFormat(small, sizeof small, 1, 123456.0, 0);
    EXPECT_STREQ(small, "123") << "cut to the buffer, always terminated";
}

// ---- the panel ------------------------------------------------------------------------------
namespace {

std::string Cell(int control) {
    char buf[64] = {0};
    GetCtrlVal(pHandle, control, buf, static_cast<int>(sizeof buf));
    return buf;
}

std::vector<std::string> Row(int first) {
    std::vector<std::string> out;
    for (int i = 0; i < 8; ++i) out.push_back(Cell(first + i));
    return out;
}

using V = std::vector<std::string>;

class StatsPanel : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        InitComforts();
        ccdtype = 2;
        softversion = 252;
        slope = 20480;
        intersect = 30000;
        tVal = 511;
        tol = 10;
    }
    static void Frame(int px, uint32_t um) {
        Mvalue = static_cast<uint16_t>(px);
        umValue = um;
        StatsAddSample();
    }
};

}   // namespace

TEST_F(StatsPanel, CellsShowBothSpansInPixelsAndMillimetres) {
    EXPECT_EQ(Row(PANEL_TEXTStatWinPxCount),
              V({"0", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a"}));
    Frame(510, 10200);
    Frame(512, 10240);
    Frame(514, 10280);
    const V px = {"3", "512.00", "2.00", "510", "514", "4", "1.67", "1.50"};
    const V mm = {"3", "10.2400", "0.0400", "10.200", "10.280", "0.080", "1.67", "1.50"};
    EXPECT_EQ(Row(PANEL_TEXTStatWinPxCount), px);
    EXPECT_EQ(Row(PANEL_TEXTStatWinMmCount), mm);
    EXPECT_EQ(Row(PANEL_TEXTStatAllPxCount), px);
    EXPECT_EQ(Row(PANEL_TEXTStatAllMmCount), mm);

    // the reset button empties only the part since the reset
    rt_UserClick(pHandle, PANEL_BTNStatsReset);
    EXPECT_EQ(Row(PANEL_TEXTStatAllPxCount),
              V({"0", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a"}));
    EXPECT_EQ(Row(PANEL_TEXTStatAllMmCount),
              V({"0", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a"}));
    EXPECT_EQ(Row(PANEL_TEXTStatWinPxCount), px);

    Frame(600, 12000);
    EXPECT_EQ(Row(PANEL_TEXTStatAllPxCount),
              V({"1", "600.00", "n/a", "600", "600", "0", "n/a", "n/a"}));
    EXPECT_EQ(Cell(PANEL_TEXTStatWinPxCount), "4");
}

TEST_F(StatsPanel, ConstantValueShowsSigmaZeroAndNoCapability) {
    for (int i = 0; i < 120; ++i) Frame(512, 10240);
    EXPECT_EQ(Row(PANEL_TEXTStatWinPxCount),
              V({"100", "512.00", "0.00", "512", "512", "0", "n/a", "n/a"}));
    EXPECT_EQ(Row(PANEL_TEXTStatAllMmCount),
              V({"120", "10.2400", "0.0000", "10.240", "10.240", "0.000", "n/a", "n/a"}));
}

TEST_F(StatsPanel, MicrometreValueWithTopBitSetStaysPositive) {
    Frame(1, 0x80000000u);
    Frame(1, 0x80000000u);
    // far beyond any object, but positive and short enough for its cell
    EXPECT_EQ(Cell(PANEL_TEXTStatWinMmMean), "2.147e+06");
    EXPECT_EQ(Cell(PANEL_TEXTStatWinMmMin), "2.147e+06");
    EXPECT_EQ(Cell(PANEL_TEXTStatWinMmRange), "0.000");
}

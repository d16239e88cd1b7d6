// The Analysis window's statistics and the recorder-file reader, against
// worked examples whose expected values are worked out by hand here (the
// arithmetic is written out in the comments), never by the code under test.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "analysis/analyse.h"
#include "analysis/live.h"
#include "analysis/recfile.h"
#include "analysis/spc.h"
#include "analysis/table.h"

namespace {

const double kTight = 1e-9;

AnaLimits Limits(double lsl, double usl) {
    AnaLimits l;
    l.hasLsl = l.hasUsl = 1;
    l.lsl = lsl;
    l.usl = usl;
    return l;
}

// The normal tail written out independently of the code under test.
double Tail(double z) { return 0.5 * std::erfc(std::fabs(z) / std::sqrt(2.0)); }

// ---- statistics -----------------------------------------------------------------

// x = 10 12 11 14 13
//   mean      = 60 / 5 = 12
//   deviations -2 0 -1 2 1, squares 4 0 1 4 1 = 10, variance 10 / 4 = 2.5
//   sigma overall = sqrt(2.5) = 1.5811388300841898
//   moving ranges 2 1 3 1 (sum 7), mean moving range 7 / 4 = 1.75
//   sigma within  = 1.75 / 1.128 = 1.5514184397163120
//   I chart: UCL = 12 + 3 * 1.5514184397 = 16.654255319, LCL = 7.345744681
//   MR chart: CL 1.75, UCL 3.267 * 1.75 = 5.71725
//   tolerance 8 .. 17:
//   Cp  = 9 / (6 * 1.75 / 1.128) = 9 * 1.128 / 10.5 = 0.96685714285714
//   Cpk = min(17 - 12, 12 - 8) / (3 * 1.75 / 1.128) = 4 * 1.128 / 5.25 = 0.85942857142857
//   Pp  = 9 / (6 * sqrt 2.5) = 1.5 / 1.58113883 = 0.94868329805051
//   Ppk = 4 / (3 * sqrt 2.5) = 0.84327404271157
//   no value outside: observed ppm 0
TEST(AnalysisStats, WorkedExampleOfFive) {
    const std::vector<double> x = {10, 12, 11, 14, 13};
    AnaLimits lim = Limits(8, 17);
    AnaResult r;
    AnaAnalyse(x, &lim, 0.0, 1.0, &r);
    EXPECT_EQ(r.sum.n, 5);
    EXPECT_NEAR(r.sum.mean, 12.0, kTight);
    EXPECT_NEAR(r.sum.sigmaOverall, 1.5811388300841898, kTight);
    EXPECT_NEAR(r.sum.mrBar, 1.75, kTight);
    EXPECT_NEAR(r.sum.sigmaWithin, 1.5514184397163120, kTight);
    ASSERT_TRUE(r.ctl.has);
    EXPECT_NEAR(r.ctl.cl, 12.0, kTight);
    EXPECT_NEAR(r.ctl.ucl, 16.654255319148936, 1e-9);
    EXPECT_NEAR(r.ctl.lcl, 7.345744680851064, 1e-9);
    EXPECT_NEAR(r.ctl.mrCl, 1.75, kTight);
    EXPECT_NEAR(r.ctl.mrUcl, 5.71725, kTight);
    ASSERT_TRUE(r.cap.within.hasP && r.cap.within.hasPk && r.cap.overall.hasP &&
                r.cap.overall.hasPk);
    EXPECT_NEAR(r.cap.within.p, 0.96685714285714, 1e-12);
    EXPECT_NEAR(r.cap.within.pk, 0.85942857142857, 1e-12);
    EXPECT_NEAR(r.cap.overall.p, 0.94868329805051, 1e-12);
    EXPECT_NEAR(r.cap.overall.pk, 0.84327404271157, 1e-12);
    ASSERT_TRUE(r.cap.hasPpmObserved);
    EXPECT_EQ(r.cap.ppmObserved, 0.0);
    // expected: below 8 at z = -4 / sigma, above 17 at z = 5 / sigma
    ASSERT_TRUE(r.cap.hasPpmOverall && r.cap.hasPpmWithin);
    const double so = std::sqrt(2.5), sw = 1.75 / 1.128;
    EXPECT_NEAR(r.cap.ppmOverall, 1e6 * (Tail(4 / so) + Tail(5 / so)), 1e-6);
    EXPECT_NEAR(r.cap.ppmWithin, 1e6 * (Tail(4 / sw) + Tail(5 / sw)), 1e-6);
    // nothing breaks a rule: all within 1 sigma of 12 but 10 and 14, no runs
    for (uint8_t f : r.flags) EXPECT_EQ(f, 0);
    EXPECT_EQ(r.mrAbove, 0);
}

// Observed ppm: 2 of 8 values outside 1 .. 6 (0 below, 7 above) = 250000 ppm.
TEST(AnalysisStats, ObservedPartsPerMillion) {
    const std::vector<double> x = {0, 2, 3, 4, 5, 3, 7, 2};
    AnaLimits lim = Limits(1, 6);
    AnaResult r;
    AnaAnalyse(x, &lim, 0.0, 1.0, &r);
    EXPECT_NEAR(r.cap.ppmObserved, 250000.0, kTight);
    // one limit only: Cp, Cpk, Pp and Ppk need both; Cpu takes the limit given
    // mean = 26 / 8 = 3.25; moving ranges 2 1 1 1 2 4 5 = 16 / 7
    AnaLimits upper;
    upper.hasUsl = 1;
    upper.usl = 6;
    AnaAnalyse(x, &upper, 0.0, 1.0, &r);
    EXPECT_FALSE(r.cap.within.hasP);
    EXPECT_FALSE(r.cap.overall.hasP);
    EXPECT_FALSE(r.cap.within.hasPk || r.cap.within.hasPl);
    ASSERT_TRUE(r.cap.within.hasPu);
    EXPECT_NEAR(r.cap.within.pu, (6 - 3.25) / (3 * (16.0 / 7 / 1.128)), 1e-12);
    EXPECT_NEAR(r.cap.ppmObserved, 125000.0, kTight);
}

// A constant series: sigma 0, so no index and no expected ppm; the one bin
// is one step wide, centred on the value.
TEST(AnalysisStats, ConstantSeries) {
    const std::vector<double> x = {5, 5, 5, 5};
    AnaLimits lim = Limits(4, 6);
    AnaResult r;
    AnaAnalyse(x, &lim, 0.0, 1.0, &r);
    EXPECT_EQ(r.cap.n, 4);
    EXPECT_NEAR(r.cap.mean, 5.0, kTight);
    EXPECT_TRUE(r.cap.hasSigmaWithin);
    EXPECT_EQ(r.cap.sigmaWithin, 0.0);
    EXPECT_EQ(r.cap.sigmaOverall, 0.0);
    EXPECT_FALSE(r.cap.within.hasP);
    EXPECT_FALSE(r.cap.within.hasPk);
    EXPECT_FALSE(r.cap.overall.hasP);
    EXPECT_FALSE(r.cap.overall.hasPk);
    EXPECT_FALSE(r.cap.hasPpmWithin);
    EXPECT_FALSE(r.cap.hasPpmOverall);
    EXPECT_TRUE(r.cap.hasPpmObserved);
    EXPECT_EQ(r.cap.ppmObserved, 0.0);
    for (uint8_t f : r.flags) EXPECT_EQ(f, 0);
    ASSERT_EQ(r.hist.counts.size(), 1u);
    EXPECT_EQ(r.hist.counts[0], 4u);
    EXPECT_NEAR(r.hist.first, 4.5, kTight);
    EXPECT_NEAR(r.hist.width, 1.0, kTight);
    EXPECT_EQ(r.hist.rule, ANA_BINS_SINGLE);
    const auto rows = AnaCapabilityRows(&r.cap, &lim, "px", 0);
    EXPECT_EQ(AnaRowsText(rows), "n                              4\n"
                                 "LSL [px]                       4\n"
                                 "USL [px]                       6\n"
                                 "mean [px]                      5.00\n"
                                 "sigma within [px]              0.00\n"
                                 "sigma overall [px]             0.00\n"
                                 "Cp                             n/a\n"
                                 "Cpk                            n/a\n"
                                 "Pp                             n/a\n"
                                 "Ppk                            n/a\n"
                                 "ppm outside, observed          0\n"
                                 "ppm outside, expected within   n/a\n"
                                 "ppm outside, expected overall  n/a\n");
}

// The capability table for 10 12 11 14 13 (mean 12, sigma within
// 1.75 / 1.128, sigma overall sqrt 2.5, worked out above) against each kind
// of tolerance, and for a constant series:
//   8 .. 17   Cp  9 * 1.128 / 10.5 = 0.97    Cpk 4 * 1.128 / 5.25 = 0.86
//             Pp  9 / (6 * 1.58114) = 0.95   Ppk 4 / (3 * 1.58114) = 0.84
//   LSL 8     Cpl 4 * 1.128 / 5.25 = 0.86    Ppl 4 / 4.74342 = 0.84
//             ppm below: 1e6 * tail(4 / 1.55142) = 4965, 1e6 * tail(4 / 1.58114) = 5706
//   USL 17    Cpu 5 * 1.128 / 5.25 = 1.07    Ppu 5 / 4.74342 = 1.05
//             ppm above: 1e6 * tail(5 / 1.55142) = 635, 1e6 * tail(5 / 1.58114) = 783
//   both: 4965 + 635 = 5599 within (rounded apart), 5706 + 783 = 6489 overall
//   17 .. 8, 12 .. 12, NaN .. 17: no index and no ppm at all (never a negative Cp)
//   5 5 5 5 against 4 .. 6: sigma 0, so no index and no expected ppm
TEST(AnalysisStats, CapabilityTableForEachKindOfTolerance) {
    const double nan = std::nan("");
    struct Case {
        const char *name;
        std::vector<double> x;
        int hasLsl, hasUsl;
        double lsl, usl;
        int check;
        std::vector<std::string> rows;   // rows 6 .. 12 of the table as text
    } cases[] = {
        {"two-sided",
         {10, 12, 11, 14, 13},
         1,
         1,
         8,
         17,
         ANA_LIMITS_BOTH,
         {"Cp 0.97", "Cpk 0.86", "Pp 0.95", "Ppk 0.84", "ppm outside, observed 0",
          "ppm outside, expected within 5599", "ppm outside, expected overall 6489"}},
        {"LSL only",
         {10, 12, 11, 14, 13},
         1,
         0,
         8,
         0,
         ANA_LIMITS_LOWER,
         {"Cpl 0.86", "Ppl 0.84", "ppm below LSL, observed 0",
          "ppm below LSL, expected within 4965", "ppm below LSL, expected overall 5706"}},
        {"USL only",
         {10, 12, 11, 14, 13},
         0,
         1,
         0,
         17,
         ANA_LIMITS_UPPER,
         {"Cpu 1.07", "Ppu 1.05", "ppm above USL, observed 0", "ppm above USL, expected within 635",
          "ppm above USL, expected overall 783"}},
        {"reversed",
         {10, 12, 11, 14, 13},
         1,
         1,
         17,
         8,
         ANA_LIMITS_REVERSED,
         {"Cp n/a", "Cpk n/a", "Pp n/a", "Ppk n/a", "ppm outside, observed n/a",
          "ppm outside, expected within n/a", "ppm outside, expected overall n/a"}},
        {"equal",
         {10, 12, 11, 14, 13},
         1,
         1,
         12,
         12,
         ANA_LIMITS_EQUAL,
         {"Cp n/a", "Cpk n/a", "Pp n/a", "Ppk n/a", "ppm outside, observed n/a",
          "ppm outside, expected within n/a", "ppm outside, expected overall n/a"}},
        {"not a number",
         {10, 12, 11, 14, 13},
         1,
         1,
         nan,
         17,
         ANA_LIMITS_NOT_A_NUMBER,
         {"Cp n/a", "Cpk n/a", "Pp n/a", "Ppk n/a", "ppm outside, observed n/a",
          "ppm outside, expected within n/a", "ppm outside, expected overall n/a"}},
        {"sigma zero",
         {5, 5, 5, 5},
         1,
         1,
         4,
         6,
         ANA_LIMITS_BOTH,
         {"Cp n/a", "Cpk n/a", "Pp n/a", "Ppk n/a", "ppm outside, observed 0",
          "ppm outside, expected within n/a", "ppm outside, expected overall n/a"}},
    };
    for (const Case &c : cases) {
        AnaLimits lim;
        lim.hasLsl = c.hasLsl;
        lim.hasUsl = c.hasUsl;
        lim.lsl = c.lsl;
        lim.usl = c.usl;
        AnaResult r;
        AnaAnalyse(c.x, &lim, 0.0, 1.0, &r);
        EXPECT_EQ(r.cap.limits, c.check) << c.name;
        const auto rows = AnaCapabilityRows(&r.cap, &lim, "px", 0);
        std::vector<std::string> got;
        for (size_t i = 6; i < rows.size(); ++i) got.push_back(rows[i].name + " " + rows[i].value);
        EXPECT_EQ(got, c.rows) << c.name;
        EXPECT_FALSE(r.cap.within.hasP && r.cap.within.p < 0) << c.name;
    }
}

// A steady sensor measuring whole pixels: 600 nineteen times with one 601
// (the fourth value).
//   mean 12001 / 20 = 600.05; squares 19 * 0.05^2 + 0.95^2 = 0.95,
//   sigma overall sqrt(0.95 / 19) = sqrt 0.05 = 0.2236068
//   moving ranges: two of 1 among 19, mean 2 / 19 = 0.1052632,
//   sigma within 0.1052632 / 1.128 = 0.0933184
//   natural process limits 600.05 +- 0.2799552 = 599.770 .. 600.330: one
//   possible whole value (600), and the mean moving range is below 1 px:
//   too coarse. 601 lies beyond the UCL (rule 1 stays); the sixteen 600s
//   after it lie below the centre line (rule 4 would mark the last nine).
//   tolerance 590 .. 610: Cp 20 / (6 * 0.0933184) = 20 * 1.128 * 19 / 12 = 35.72
//   Cpk 9.95 * 1.128 * 19 / 6 = 35.54, Pp 20 / 1.3416408 = 14.91,
//   Ppk 9.95 / 0.6708204 = 14.83
TEST(AnalysisStats, WholePixelSeriesIsTooCoarseForRunRules) {
    std::vector<double> x(20, 600.0);
    x[3] = 601.0;
    AnaLimits lim = Limits(590, 610);
    AnaResult r;
    AnaAnalyse(x, &lim, 0.0, 1.0, &r);
    ASSERT_TRUE(r.res.known);
    EXPECT_TRUE(r.res.coarse);
    EXPECT_EQ(r.res.steps, 1);
    for (size_t i = 0; i < x.size(); ++i)
        EXPECT_EQ(r.flags[i], i == 3 ? ANA_RULE1 : 0) << "point " << i;
    EXPECT_EQ(r.broken[3], 0);
    EXPECT_NEAR(r.cap.within.p, 20 * 1.128 * 19 / 12.0, 1e-9);
    EXPECT_NEAR(r.cap.within.pk, 9.95 * 1.128 * 19 / 6.0, 1e-9);
    EXPECT_NEAR(r.cap.overall.p, 20 / (6 * std::sqrt(0.05)), 1e-9);
    EXPECT_NEAR(r.cap.overall.pk, 9.95 / (3 * std::sqrt(0.05)), 1e-9);
    EXPECT_EQ(AnaResolutionNote(&r.sum, &r.res, 1.0, "px", 0),
              "Resolution too coarse for this spread: 1 possible value within the natural "
              "process limits, mean moving range 0.11 px against a step of 1 px; run rules 2 "
              "to 4 not applied");
    // in micrometres (step 0.001 mm) the same spread spans many steps
    for (double &v : x) v /= 1000.0;
    AnaAnalyse(x, &lim, 0.0, 0.000001, &r);
    EXPECT_FALSE(r.res.coarse);
    EXPECT_GT(r.broken[3], 0);
}

// Two values 3 and 7, tolerance 0 .. 10:
//   mean 5, sigma overall sqrt((4 + 4) / 1) = sqrt 8 = 2.8284271247461903
//   one moving range 4, sigma within 4 / 1.128 = 3.5460992907801416
//   Cp  = 10 / (6 * 4 / 1.128) = 11.28 / 24 = 0.47,  Cpk = 5 * 1.128 / 12 = 0.47
//   Pp  = 10 / (6 sqrt 8) = 0.58925565098879,        Ppk = 5 / (3 sqrt 8) = the same
TEST(AnalysisStats, TwoValues) {
    const std::vector<double> x = {3, 7};
    AnaLimits lim = Limits(0, 10);
    AnaResult r;
    AnaAnalyse(x, &lim, 0.0, 1.0, &r);
    EXPECT_NEAR(r.sum.sigmaOverall, 2.8284271247461903, kTight);
    EXPECT_NEAR(r.sum.sigmaWithin, 3.5460992907801416, kTight);
    EXPECT_NEAR(r.cap.within.p, 0.47, 1e-12);
    EXPECT_NEAR(r.cap.within.pk, 0.47, 1e-12);
    EXPECT_NEAR(r.cap.overall.p, 0.58925565098879, 1e-12);
    EXPECT_NEAR(r.cap.overall.pk, 0.58925565098879, 1e-12);
}

// One value and none: no sigma, no index; the count and the mean remain.
TEST(AnalysisStats, OneValueAndNone) {
    AnaLimits lim = Limits(0, 10);
    AnaResult r;
    AnaAnalyse({4}, &lim, 0.0, 1.0, &r);
    EXPECT_EQ(r.cap.n, 1);
    EXPECT_TRUE(r.cap.hasMean);
    EXPECT_FALSE(r.cap.hasSigmaWithin);
    EXPECT_FALSE(r.cap.hasSigmaOverall);
    EXPECT_FALSE(r.cap.within.hasP || r.cap.within.hasPk || r.cap.overall.hasP ||
                 r.cap.overall.hasPk);
    EXPECT_FALSE(r.cap.hasPpmWithin || r.cap.hasPpmOverall);
    EXPECT_FALSE(r.ctl.has);
    AnaAnalyse({}, &lim, 0.0, 1.0, &r);
    EXPECT_EQ(r.cap.n, 0);
    EXPECT_FALSE(r.cap.hasMean);
    EXPECT_FALSE(r.cap.hasPpmObserved);
    EXPECT_TRUE(r.hist.counts.empty());
    const auto rows = AnaCapabilityRows(&r.cap, &lim, "mm", 3);
    EXPECT_EQ(rows[3].value, "n/a");    // mean
    EXPECT_EQ(rows[10].value, "n/a");   // observed ppm
}

// No tolerance: the sigmas are there, every index and ppm is n/a.
TEST(AnalysisStats, NoTolerance) {
    AnaLimits none;
    AnaResult r;
    AnaAnalyse({10, 12, 11, 14, 13}, &none, 0.0, 1.0, &r);
    EXPECT_TRUE(r.cap.hasSigmaOverall);
    EXPECT_FALSE(r.cap.within.hasP || r.cap.within.hasPk || r.cap.overall.hasP ||
                 r.cap.overall.hasPk);
    EXPECT_FALSE(r.cap.hasPpmObserved || r.cap.hasPpmWithin || r.cap.hasPpmOverall);
}

// The rules with centre line 0 and sigma 1 given.
//   index 2 (3.5) lies beyond 3 sigma: rule 1; its neighbours lie within 2
//   sigma, so rules 2 and 3 stay quiet. Indexes 6 .. 13 are eight values
//   above the centre line: index 13 completes rule 4. Nothing else.
TEST(AnalysisStats, PointBeyondThreeSigmaAndRunOfEight) {
    const std::vector<double> x = {0.5, -0.5, 3.5, -0.5, 0.5, -0.5, 0.2, 0.3,
                                   0.4, 0.2,  0.3, 0.4,  0.2, 0.3,  -0.5};
    std::vector<uint8_t> f(x.size(), 0xFF);
    AnaWesternElectric(x.data(), x.size(), 0.0, 1.0, f.data());
    for (size_t i = 0; i < x.size(); ++i) {
        if (i == 2) EXPECT_EQ(f[i], ANA_RULE1) << i;
        else if (i == 13) EXPECT_EQ(f[i], ANA_RULE4) << i;
        else EXPECT_EQ(f[i], 0) << i;
    }
    // a ninth point on the same side is marked again
    std::vector<double> y = x;
    y[14] = 0.1;
    AnaWesternElectric(y.data(), y.size(), 0.0, 1.0, f.data());
    EXPECT_EQ(f[13], ANA_RULE4);
    EXPECT_EQ(f[14], ANA_RULE4);
    // a point on the centre line breaks the run
    y = x;
    y[9] = 0.0;
    AnaWesternElectric(y.data(), y.size(), 0.0, 1.0, f.data());
    EXPECT_EQ(f[13], 0);
}

// Rule 2: 2 of 3 beyond 2 sigma on one side; rule 3: 4 of 5 beyond 1 sigma.
TEST(AnalysisStats, RulesTwoAndThree) {
    std::vector<uint8_t> f(8);
    const std::vector<double> a = {0, 2.5, 0, 2.5};   // index 3: 2.5 and 2.5 in the last 3
    AnaWesternElectric(a.data(), a.size(), 0.0, 1.0, f.data());
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[1], 0);
    EXPECT_EQ(f[2], 0);
    EXPECT_EQ(f[3], ANA_RULE2);
    const std::vector<double> b = {2.5, 0, -2.5};   // beyond 2 sigma, but not on one side
    AnaWesternElectric(b.data(), b.size(), 0.0, 1.0, f.data());
    EXPECT_EQ(f[2], 0);
    const std::vector<double> c = {1.5, 1.5, 0, 1.5,
                                   1.5};   // index 4: 4 of the last 5 above 1 sigma
    AnaWesternElectric(c.data(), c.size(), 0.0, 1.0, f.data());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f[i], 0) << i;
    EXPECT_EQ(f[4], ANA_RULE3);
    // sigma 0: no rule
    AnaWesternElectric(c.data(), c.size(), 0.0, 0.0, f.data());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(f[i], 0);
}

// The whole series: 10 11 10 11 ... (20 values) then 20.
//   moving ranges: 19 of 1, then |20 - 11| = 9: mean (19 + 9) / 20 = 1.4
//   sigma within 1.4 / 1.128 = 1.2411347517730495
//   mean (10 * 10 + 10 * 11 + 20) / 21 = 230 / 21 = 10.952380952380953
//   UCL 10.95238 + 3.72340 = 14.67579: only 20 lies beyond (rule 1).
//   2 sigma above is 13.43, 1 sigma 12.19: only 20 is beyond them, and the
//   values alternate around the mean, so rules 2, 3 and 4 mark nothing.
//   The last moving range, 9, lies above the MR chart's UCL 3.267 * 1.4 = 4.5738.
TEST(AnalysisStats, OutlierInAWholeSeries) {
    std::vector<double> x;
    for (int i = 0; i < 10; ++i) {
        x.push_back(10);
        x.push_back(11);
    }
    x.push_back(20);
    AnaLimits none;
    AnaResult r;
    AnaAnalyse(x, &none, 0.0, 1.0, &r);
    EXPECT_NEAR(r.ctl.sigma, 1.2411347517730495, kTight);
    EXPECT_NEAR(r.ctl.cl, 10.952380952380953, kTight);
    EXPECT_NEAR(r.ctl.ucl, 10.952380952380953 + 3 * 1.2411347517730495, kTight);
    for (size_t i = 0; i + 1 < x.size(); ++i) EXPECT_EQ(r.flags[i], 0) << i;
    EXPECT_EQ(r.flags[20], ANA_RULE1);
    EXPECT_EQ(r.broken[0], 1);
    EXPECT_EQ(r.broken[1] + r.broken[2] + r.broken[3], 0);
    EXPECT_EQ(r.mrAbove, 1);
}

// Freedman-Diaconis on 10 12 11 14 13: sorted 10 11 12 13 14; type-7
// quartiles at positions 4 * 0.25 = 1 and 4 * 0.75 = 3: Q1 11, Q3 13, IQR 2;
// width 2 * 2 / 5^(1/3) = 4 / 1.7099759 = 2.3392... raised to whole pixels: 3;
// edges half a pixel off: first = floor(10.5 / 3) * 3 - 0.5 = 8.5;
// bins [8.5, 11.5) holds 10 11, [11.5, 14.5) holds 12 13 14.
TEST(AnalysisStats, HistogramFreedmanDiaconis) {
    const std::vector<double> x = {10, 12, 11, 14, 13};
    EXPECT_NEAR(AnaQuantile(x.data(), x.size(), 0.25), 11.0, kTight);
    EXPECT_NEAR(AnaQuantile(x.data(), x.size(), 0.75), 13.0, kTight);
    EXPECT_NEAR(AnaFreedmanDiaconis(x.data(), x.size()), 4.0 / std::cbrt(5.0), kTight);
    AnaHistogram h;
    AnaHistogramOf(x.data(), x.size(), 0.0, 1.0, 400, &h);
    EXPECT_EQ(h.rule, ANA_BINS_FD);
    EXPECT_NEAR(h.width, 3.0, kTight);
    EXPECT_NEAR(h.first, 8.5, kTight);
    ASSERT_EQ(h.counts.size(), 2u);
    EXPECT_EQ(h.counts[0], 2u);
    EXPECT_EQ(h.counts[1], 3u);
    // no resolution: width as computed, first edge a whole multiple of it
    AnaHistogramOf(x.data(), x.size(), 0.0, 0.0, 400, &h);
    EXPECT_NEAR(h.width, 4.0 / std::cbrt(5.0), kTight);
    EXPECT_NEAR(h.first, 4 * h.width, kTight);   // floor(10 / 2.339) = 4
    // quartile between order statistics: 1 2 3 4 at 0.25 -> position 0.75 -> 1.75
    const std::vector<double> q = {4, 1, 3, 2};
    EXPECT_NEAR(AnaQuantile(q.data(), q.size(), 0.25), 1.75, kTight);
    // a width given by the operator: 1 px -> five bins of one value each
    AnaHistogramOf(x.data(), x.size(), 1.0, 1.0, 400, &h);
    EXPECT_EQ(h.rule, ANA_BINS_GIVEN);
    ASSERT_EQ(h.counts.size(), 5u);
    for (uint64_t c : h.counts) EXPECT_EQ(c, 1u);
    // too many bins asked for: widened to span / (3 - 1) = 2, first edge
    // floor(10 / 2) * 2 = 10: [10, 12) holds 10 11, [12, 14) 12 13, the last 14
    AnaHistogramOf(x.data(), x.size(), 0.001, 0.0, 3, &h);
    EXPECT_TRUE(h.widened);
    EXPECT_NEAR(h.width, 2.0, kTight);
    EXPECT_NEAR(h.first, 10.0, kTight);
    EXPECT_EQ(h.counts, (std::vector<uint64_t>{2, 2, 1}));
}

// The numbers of the table keep a decimal point whatever the locale.
TEST(AnalysisStats, NumbersIgnoreTheLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the locale de_DE.UTF-8 is missing (scripts/install-deps generates it)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5");   // the locale is in force
    EXPECT_EQ(AnaNumber(1, 1234.5678, 2), "1234.57");
    EXPECT_EQ(AnaNumber(1, -0.0001, 3), "0.000");
    EXPECT_EQ(AnaNumber(0, 1.0, 2), "n/a");
    EXPECT_EQ(AnaNumber(1, NAN, 2), "n/a");
    double d = 0;
    EXPECT_TRUE(RecParseDouble("33,2539", 7, &d));
    EXPECT_NEAR(d, 33.2539, 1e-12);
    EXPECT_TRUE(RecParseDouble("33.2539", 7, &d));
    EXPECT_NEAR(d, 33.2539, 1e-12);
    std::setlocale(LC_ALL, "C");
}

// ---- the live series ---------------------------------------------------------------

TEST(AnalysisLive, KeepsTheNewestAndSummarisesTheOlder) {
    AnaLive l;
    l.keep = 4;
    for (int i = 1; i <= 6; ++i) AnaLiveAdd(&l, i, 1000 * i);
    EXPECT_EQ(AnaLiveCount(&l), 4u);
    EXPECT_EQ(AnaLiveDropped(&l), 2);
    EXPECT_EQ(l.total, 6);
    // dropped: 1 and 2 (mean 1.5), 1000 and 2000
    EXPECT_NEAR(static_cast<double>(l.droppedPx.mean), 1.5, kTight);
    EXPECT_NEAR(static_cast<double>(l.droppedUm.mean), 1500.0, kTight);
    std::vector<double> v;
    AnaLiveCopy(&l, 0, 1.0, &v);
    EXPECT_EQ(v, (std::vector<double>{3, 4, 5, 6}));
    AnaLiveCopy(&l, 1, 0.001, &v);
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NEAR(v[0], 3.0, kTight);
    EXPECT_NEAR(v[3], 6.0, kTight);
    const uint64_t g = l.generation;
    AnaLiveReset(&l);
    EXPECT_NE(l.generation, g);
    EXPECT_EQ(AnaLiveCount(&l), 0u);
    EXPECT_EQ(AnaLiveDropped(&l), 0);
}

// ---- the recorder file -----------------------------------------------------------------

struct Collect {
    std::vector<RecSample> s;
    static void Add(const RecSample *x, void *u) { static_cast<Collect *>(u)->s.push_back(*x); }
};

const char kHeaderCrLf[] = "Date:\t12-06-2026\r\n"
                           "Time:\t14:05:33\r\n"
                           "Time-Increment[s]:\t5\r\n"
                           "Number of Samples:\t100\r\n"
                           "Offset-Value [\xB5m]:\t-54\r\n"
                           "Slope-Value [\xB5m/pixel]:\t33.2539\r\n"
                           "E-LEFT\tE-RIGHT\tM-VALUE\tEDGES\tM-VAL[um]\r\n";

std::string Lf(std::string s) {
    std::string o;
    for (char c : s)
        if (c != '\r') o += c;
    return o;
}

TEST(AnalysisRecFile, CrLfAsTheToolWritesIt) {
    const std::string text =
        std::string(kHeaderCrLf) + "312\t553\t432\t2\t14312\r\n" + "313\t554\t433\t2\t14345\r\n";
    RecHeader h;
    RecReadInfo info;
    Collect c;
    ASSERT_EQ(RecReadBuffer(text.data(), text.size(), &h, Collect::Add, &c, &info), 0)
        << info.message;
    EXPECT_TRUE(info.ok);
    EXPECT_TRUE(info.message.empty()) << info.message;
    EXPECT_EQ(info.crlf, 1);
    EXPECT_EQ(h.date, "12-06-2026");
    EXPECT_EQ(h.time, "14:05:33");
    EXPECT_EQ(h.increment, 5);
    EXPECT_EQ(h.samples, 100);
    EXPECT_EQ(h.offset, -54);
    EXPECT_NEAR(h.slope, 33.2539, 1e-12);
    ASSERT_EQ(c.s.size(), 2u);
    EXPECT_EQ(c.s[0].left, 312);
    EXPECT_EQ(c.s[0].right, 553);
    EXPECT_EQ(c.s[0].value, 432);
    EXPECT_EQ(c.s[0].edges, 2);
    EXPECT_EQ(c.s[0].um, 14312);
    EXPECT_EQ(c.s[1].um, 14345);
}

TEST(AnalysisRecFile, LfLineEnds) {
    const std::string text = Lf(std::string(kHeaderCrLf) + "1\t2\t3\t4\t5\r\n6\t7\t8\t9\t10\r\n");
    RecHeader h;
    RecReadInfo info;
    Collect c;
    ASSERT_EQ(RecReadBuffer(text.data(), text.size(), &h, Collect::Add, &c, &info), 0)
        << info.message;
    EXPECT_EQ(info.crlf, 0);
    EXPECT_EQ(h.offset, -54);
    ASSERT_EQ(c.s.size(), 2u);
    EXPECT_EQ(c.s[1].value, 8);
    EXPECT_EQ(c.s[1].um, 10);
}

TEST(AnalysisRecFile, NegativeMicrometres) {
    // a umValue above 2147483647 is written as a negative 32-bit number
    const std::string text =
        std::string(kHeaderCrLf) + "10\t20\t15\t2\t-54\r\n0\t0\t0\t0\t-2147483648\r\n";
    RecHeader h;
    RecReadInfo info;
    Collect c;
    ASSERT_EQ(RecReadBuffer(text.data(), text.size(), &h, Collect::Add, &c, &info), 0);
    ASSERT_EQ(c.s.size(), 2u);
    EXPECT_EQ(c.s[0].um, -54);
    EXPECT_EQ(c.s[1].um, INT32_MIN);
}

TEST(AnalysisRecFile, TruncatedInTheMiddleOfALine) {
    const std::string text =
        std::string(kHeaderCrLf) + "1\t2\t3\t4\t5\r\n" + "6\t7\t8\t9\t10\r\n" + "11\t12\t1";
    RecHeader h;
    RecReadInfo info;
    Collect c;
    ASSERT_EQ(RecReadBuffer(text.data(), text.size(), &h, Collect::Add, &c, &info), 0);
    EXPECT_EQ(c.s.size(), 2u);
    EXPECT_EQ(info.partialLastLine, 1);
    EXPECT_EQ(info.partialBytes, 7);
    EXPECT_NE(info.message.find("incomplete"), std::string::npos) << info.message;
    // cut right after the CR: the line had its end but for the LF
    const std::string cr = std::string(kHeaderCrLf) + "1\t2\t3\t4\t5\r";
    ASSERT_EQ(RecReadBuffer(cr.data(), cr.size(), &h, Collect::Add, &c, &info), 0);
    EXPECT_EQ(info.partialLastLine, 1);
}

TEST(AnalysisRecFile, BadLinesAreSkippedAndCounted) {
    const std::string text =
        std::string(kHeaderCrLf) + "1\t2\t3\t4\t5\r\nhello\r\n1\t2\t3\r\n\r\n6\t7\t8\t9\t10\r\n";
    RecHeader h;
    RecReadInfo info;
    Collect c;
    ASSERT_EQ(RecReadBuffer(text.data(), text.size(), &h, Collect::Add, &c, &info), 0);
    EXPECT_EQ(c.s.size(), 2u);
    EXPECT_EQ(info.badLines, 2);
    EXPECT_EQ(info.firstBadLine, 9);
    EXPECT_NE(info.message.find("line 9"), std::string::npos) << info.message;
}

TEST(AnalysisRecFile, NotARecording) {
    RecHeader h;
    RecReadInfo info;
    const std::string para = "500\r\n0\r\n512\r\n";   // a parameter file
    EXPECT_EQ(RecReadBuffer(para.data(), para.size(), &h, nullptr, nullptr, &info), -1);
    EXPECT_FALSE(info.ok);
    EXPECT_EQ(info.message, "not a recorder file: line 1 should begin with \"Date:\"");
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    EXPECT_EQ(RecReadBuffer(png.data(), png.size(), &h, nullptr, nullptr, &info), -1);
    EXPECT_NE(info.message.find("not a recorder file"), std::string::npos);
    std::string badSlope = kHeaderCrLf;
    badSlope.replace(badSlope.find("33.2539"), 7, "abc");
    EXPECT_EQ(RecReadBuffer(badSlope.data(), badSlope.size(), &h, nullptr, nullptr, &info), -1);
    EXPECT_EQ(info.message, "not a recorder file: line 6 has no number after its label");
    const std::string shortHeader = "Date:\t12-06-2026\r\nTime:\t14:05:33\r\n";
    EXPECT_EQ(RecReadBuffer(shortHeader.data(), shortHeader.size(), &h, nullptr, nullptr, &info),
              -1);
    EXPECT_EQ(info.message, "not a recorder file: the header has 2 of its 7 lines");
    const std::string noEnd(200000, 'x');
    EXPECT_EQ(RecReadBuffer(noEnd.data(), noEnd.size(), &h, nullptr, nullptr, &info), -1);
    EXPECT_NE(info.message.find("not a recorder file"), std::string::npos);
}

TEST(AnalysisRecFile, EmptyFileAndHeaderOnly) {
    RecHeader h;
    RecReadInfo info;
    EXPECT_EQ(RecReadBuffer("", 0, &h, nullptr, nullptr, &info), -1);
    EXPECT_EQ(info.message, "the file is empty: not a recorder file");
    char path[] = "/tmp/ridar-ana-empty-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(RecReadFile(path, &h, nullptr, nullptr, &info), -1);
    EXPECT_EQ(info.message, "the file is empty: not a recorder file");
    // a recording with 0 samples is a recording
    {
        std::ofstream f(path, std::ios::binary);
        f << kHeaderCrLf;
    }
    EXPECT_EQ(RecReadFile(path, &h, nullptr, nullptr, &info), 0);
    EXPECT_EQ(info.samples, 0);
    unlink(path);
    EXPECT_EQ(RecReadFile("/nonexistent/x.dat", &h, nullptr, nullptr, &info), -1);
    EXPECT_NE(info.message.find("cannot open"), std::string::npos);
}

// A file read in blocks: lines cut by the block boundary come out whole,
// and a decimal comma in the slope (a file written under a German locale) reads.
TEST(AnalysisRecFile, LargeFileInBlocksAndADecimalComma) {
    char path[] = "/tmp/ridar-ana-big-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::string header = kHeaderCrLf;
    header.replace(header.find("33.2539"), 7, "33,2539");
    long long sum = 0;
    {
        std::ofstream f(path, std::ios::binary);
        f << header;
        for (int i = 0; i < 200000; ++i) {
            f << (100 + i % 7) << '\t' << (900 + i % 5) << '\t' << (500 + i % 11) << "\t2\t"
              << (16000 + i % 13) << "\r\n";
            sum += 500 + i % 11;
        }
    }
    RecHeader h;
    RecReadInfo info;
    struct Sum {
        long long s = 0, n = 0;
        static void Add(const RecSample *x, void *u) {
            static_cast<Sum *>(u)->s += x->value;
            ++static_cast<Sum *>(u)->n;
        }
    } acc;
    ASSERT_EQ(RecReadFile(path, &h, Sum::Add, &acc, &info), 0) << info.message;
    EXPECT_EQ(acc.n, 200000);
    EXPECT_EQ(acc.s, sum);
    EXPECT_EQ(info.badLines, 0);
    EXPECT_NEAR(h.slope, 33.2539, 1e-12);
    unlink(path);
}

}   // namespace

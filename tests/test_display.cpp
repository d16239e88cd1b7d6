// Bar graph, numeric displays, strip chart history and video curve, checked
// through the run-time layer's graph state; Shift and Copy1D.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "app/panels.h"
#include "display/display.h"
#include "params/vars.h"

// ---------------------------------------------------------------- Shift, Copy1D

struct ShiftCase {
    int count, shift;
    int status;
    std::vector<double> expect; // empty: output untouched
};

TEST(Shift, StatusAndResult) {
    const std::vector<ShiftCase> cases = {
        {5, -2, 0, {3, 4, 5, 0, 0}},
        {5, 2, 0, {0, 0, 1, 2, 3}},
        {5, 0, 0, {1, 2, 3, 4, 5}},
        {5, -4, 0, {5, 0, 0, 0, 0}},
        {5, 4, 0, {0, 0, 0, 0, 1}},
        {5, 5, -20102, {}},
        {5, -5, -20102, {}},
        {5, 9, -20102, {}},
        {5, -2147483647 - 1, -20102, {}},
        {5, 2147483647, -20102, {}},
        {0, 0, -20003, {}},
        {0, 3, -20003, {}},
        {-1, 0, -20003, {}},
        {1, 0, 0, {1}},
        {1, 1, -20102, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count) + " shift " + std::to_string(c.shift));
        const double in[5] = {1, 2, 3, 4, 5};
        double out[5] = {-7, -7, -7, -7, -7};
        EXPECT_EQ(Shift(in, c.count, c.shift, out), c.status);
        for (int i = 0; i < 5; ++i) {
            double want = i < static_cast<int>(c.expect.size()) ? c.expect[i] : -7;
            EXPECT_EQ(out[i], want) << "element " << i;
        }
    }
}

TEST(Shift, InPlaceBothDirections) {
    for (int shift : {-1, -3, -6, 1, 3, 6, 0}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        double a[12], ref[12];
        for (int i = 0; i < 12; ++i) a[i] = ref[i] = 10 + i;
        ASSERT_EQ(Shift(a, 12, shift, a), 0);
        for (int i = 0; i < 12; ++i) {
            int src = i - shift;
            double want = (src >= 0 && src < 12) ? ref[src] : 0.0;
            EXPECT_EQ(a[i], want) << "element " << i;
        }
    }
}

TEST(Shift, HistoryAgeingOf600) {
    static double h[600];
    for (int i = 0; i < 600; ++i) h[i] = i + 1;
    ASSERT_EQ(Shift(h, 600, -6, h), 0);
    for (int i = 0; i < 594; ++i) ASSERT_EQ(h[i], i + 7) << i;
    for (int i = 594; i < 600; ++i) ASSERT_EQ(h[i], 0.0) << i;
}

TEST(Copy1D, StatusAndResult) {
    const double in[4] = {1.5, -2, 3e300, 4};
    struct C { int count, status; } cases[] = {{4, 0}, {2, 0}, {0, -20003}, {-5, -20003}};
    for (auto c : cases) {
        double out[4] = {9, 9, 9, 9};
        EXPECT_EQ(Copy1D(in, c.count, out), c.status) << c.count;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], i < c.count ? in[i] : 9) << c.count << "/" << i;
    }
    double same[3] = {1, 2, 3};
    EXPECT_EQ(Copy1D(same, 3, same), 0);
    EXPECT_EQ(same[2], 3);
}


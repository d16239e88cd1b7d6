// Calibration: the linear fit, the calibration words on the wire, the state
// of the popup's controls through a cycle, and a calibration of kvex-sim.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/peer_responder.h"
#include "tests/support/support.h"
#include "app/panels.h"
#include "calib/calib.h"
#include "params/vars.h"

namespace {

// ---------------------------------------------------------------- LinFit

TEST(LinFit, FewerThanTwoPointsWriteNothing) {
    const double x[1] = {5}, y[1] = {7};
    for (int n : {1, 0, -3}) {
        double z[2] = {-1, -1}, k = -2, b = -3, e = -4;
        EXPECT_EQ(LinFit(x, y, n, z, &k, &b, &e), -20006) << n;
        EXPECT_EQ(z[0], -1);
        EXPECT_EQ(z[1], -1);
        EXPECT_EQ(k, -2);
        EXPECT_EQ(b, -3);
        EXPECT_EQ(e, -4);
    }
}

TEST(LinFit, TwoPointsAreReproduced) {
    struct Case { double x0, y0, x1, y1; } cases[] = {
        {241, 7960, 662, 21960}, {1, 0, 2, 1}, {100, 5000, 50, 2500}, {3, -10, 9000, 65535},
        {662, 21960, 241, 7960}};
    for (const auto &c : cases) {
        const double x[2] = {c.x0, c.x1}, y[2] = {c.y0, c.y1};
        double z[2], k, b, e;
        ASSERT_EQ(LinFit(x, y, 2, z, &k, &b, &e), 0);
        EXPECT_NEAR(z[0], c.y0, 1e-9 * (1 + std::fabs(c.y0)));
        EXPECT_NEAR(z[1], c.y1, 1e-9 * (1 + std::fabs(c.y1)));
        EXPECT_NEAR(k * c.x0 + b, c.y0, 1e-7);
        EXPECT_NEAR(k, (c.y1 - c.y0) / (c.x1 - c.x0), 1e-12);
        EXPECT_NEAR(e, 0.0, 1e-12);
    }
}

TEST(LinFit, InitialCalibrationPoints) {
    double z[2], k, b, e;
    ASSERT_EQ(LinFit(pixel, umeter, 2, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 14000.0 / 421.0, 1e-12);
    EXPECT_NEAR(b, 7960.0 - 241.0 * 14000.0 / 421.0, 1e-9);
    EXPECT_NEAR(b, -54.2518, 5e-5);
}

TEST(LinFit, MorePointsAgainstHandComputedLine) {
    // x 1..4, y 2,3,5,4: Sx 10, Sxx 30, Sy 14, Sxy 39 -> slope 0.8, intercept 1.5,
    // fitted 2.3 3.1 3.9 4.7, squared errors .09 .01 1.21 .49 -> mse 0.45
    const double x[4] = {1, 2, 3, 4}, y[4] = {2, 3, 5, 4};
    double z[4], k, b, e;
    ASSERT_EQ(LinFit(x, y, 4, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 0.8, 1e-12);
    EXPECT_NEAR(b, 1.5, 1e-12);
    EXPECT_NEAR(e, 0.45, 1e-12);
    const double want[4] = {2.3, 3.1, 3.9, 4.7};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(z[i], want[i], 1e-12);

    // a line given exactly by three points
    const double x3[3] = {10, 20, 40}, y3[3] = {-5, 15, 55};
    ASSERT_EQ(LinFit(x3, y3, 3, z, &k, &b, &e), 0);
    EXPECT_NEAR(k, 2.0, 1e-12);
    EXPECT_NEAR(b, -25.0, 1e-9);
    EXPECT_NEAR(e, 0.0, 1e-12);
}

} // namespace

// Bar graph, numeric displays, strip chart history and video curve, checked
// through the run-time layer's graph state; Shift and Copy1D.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "display/display.h"
#include "params/vars.h"

// ---------------------------------------------------------------- Shift, Copy1D

struct ShiftCase {
    int count, shift;
    int status;
    std::vector<double> expect;   // empty: output untouched
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
    struct C {
        int count, status;
    } cases[] = {{4, 0}, {2, 0}, {0, -20003}, {-5, -20003}};
    for (auto c : cases) {
        double out[4] = {9, 9, 9, 9};
        EXPECT_EQ(Copy1D(in, c.count, out), c.status) << c.count;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(out[i], i < c.count ? in[i] : 9) << c.count << "/" << i;
    }
    double same[3] = {1, 2, 3};
    EXPECT_EQ(Copy1D(same, 3, same), 0);
    EXPECT_EQ(same[2], 3);
}

// ---------------------------------------------------------------- drawing

namespace {

struct Rect {
    double x1, y1, x2, y2;
};

class Draw : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StartRidarForTest());
        // a 2048-pixel line, the working defaults of each case
        ccdvirtpixel = 2048;
        pixB = 10;
        pixE = 2040;
        ccdtype = 0;
        softversion = 250;
        eMode = 0;
        eBeg = 100;
        eEnd = 1900;
        vThd = 500;
        tTol = 50;
        slope = 1024;
        anaMode = 0;
        Ledge = 500;
        Redge = 1500;
        Mvalue = 1000;
        umValue = 1000000;
        tVal = 1000;
        tol = 20;
        edcnt = 2;
        mvstart = 100;
        mvend = 100;
        anaMax = 0;
        anaMin = 0;
        SetCtrlVal(pPopup, POPUP_CheckStep1, 0);
        SetCtrlVal(pPopup, POPUP_CheckStep2, 0);
        SetCtrlVal(pHandle, PANEL_TOGGLEZoom, 0);
    }
    static std::vector<Rect> Rects(int color) {
        std::vector<Rect> r;
        for (const auto &p : rt_GetPlots(pHandle, PANEL_GRAPHBar)) {
            if (p.kind != 1) continue;
            EXPECT_EQ(p.color, p.fillColor);
            if (p.color == color) r.push_back({p.x1, p.y1, p.x2, p.y2});
        }
        return r;
    }
    static void ExpectRects(const std::vector<Rect> &got, const std::vector<Rect> &want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_DOUBLE_EQ(got[i].x1, want[i].x1) << "rect " << i;
            EXPECT_DOUBLE_EQ(got[i].y1, want[i].y1) << "rect " << i;
            EXPECT_DOUBLE_EQ(got[i].x2, want[i].x2) << "rect " << i;
            EXPECT_DOUBLE_EQ(got[i].y2, want[i].y2) << "rect " << i;
        }
    }
    static int Bg(int control) {
        int c = -1;
        GetCtrlAttribute(pHandle, control, ATTR_TEXT_BGCOLOR, &c);
        return c;
    }
    static double Num(int panel, int control) {
        double v = -1;
        GetCtrlVal(panel, control, &v);
        return v;
    }
    static std::vector<double> Newest() {
        return std::vector<double>(arrayNORM + 594, arrayNORM + 600);
    }
};

}   // namespace

namespace {
// the bar graph's note, as it is drawn
std::string Note() {
    auto *p = qobject_cast<QCustomPlot *>(rt_Widget(pHandle, PANEL_GRAPHBar));
    for (int i = 0; p && i < p->itemCount(); ++i)
        if (auto *t = qobject_cast<QCPItemText *>(p->item(i)); t && t->visible())
            return t->text().toStdString();
    return "";
}
const char *const kIn = "In tolerance";
const char *const kAbove = "Out of tolerance: above set-point + tolerance";
const char *const kBelow = "Out of tolerance: below set-point - tolerance";
}   // namespace

// In and out of tolerance in colour, and in words and weight beside it.
TEST_F(Draw, ToleranceColourBoundsInclusive) {
    struct C {
        uint16_t vp, tVal, tol, mv;
        int color;
        const char *words;
    } cases[] = {
        {2048, 1000, 20, 1020, VAL_DK_GREEN, kIn},
        {2048, 1000, 20, 1021, VAL_RED, kAbove},
        {2048, 1000, 20, 980, VAL_DK_GREEN, kIn},
        {2048, 1000, 20, 979, VAL_RED, kBelow},
        {2048, 1000, 0, 1000, VAL_DK_GREEN, kIn},
        {2048, 1000, 0, 1001, VAL_RED, kAbove},
        // tol above tVal: the lower bound is 0
        {2048, 10, 30, 0, VAL_DK_GREEN, kIn},
        {2048, 10, 30, 40, VAL_DK_GREEN, kIn},
        {2048, 10, 30, 41, VAL_RED, kAbove},
        // the upper bound stops at the line's end
        {2048, 2040, 20, 2048, VAL_DK_GREEN, kIn},
        {2048, 2040, 20, 2050, VAL_RED, kAbove},
        // no 16-bit wrap of tVal + tol
        {2048, 65000, 1000, 1000, VAL_RED, kBelow},
        {65535, 65000, 1000, 65535, VAL_DK_GREEN, kIn},
    };
    for (auto c : cases) {
        SCOPED_TRACE("tVal " + std::to_string(c.tVal) + " tol " + std::to_string(c.tol) +
                     " Mvalue " + std::to_string(c.mv));
        ccdvirtpixel = c.vp;
        tVal = c.tVal;
        tol = c.tol;
        Mvalue = c.mv;
        PlotVIDEOBarGraph();
        EXPECT_EQ(Bg(PANEL_NUMMvalue), c.color);
        EXPECT_EQ(Bg(PANEL_NUMMvalueMm), c.color);
        EXPECT_EQ(Note(), c.words);
        for (int control : {PANEL_NUMMvalue, PANEL_NUMMvalueMm}) {
            EXPECT_EQ(rt_GetToolTip(pHandle, control), c.words);
            int bold = -1;
            GetCtrlAttribute(pHandle, control, ATTR_TEXT_BOLD, &bold);
            EXPECT_EQ(bold, c.color == VAL_RED ? 1 : 0);
        }
    }
}

namespace {
// contrast ratio of two colours as WCAG 2 defines it
double Contrast(const QColor &a, const QColor &b) {
    auto lum = [](const QColor &c) {
        double v[3] = {c.redF(), c.greenF(), c.blueF()};
        for (double &x : v) x = x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];
    };
    const double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
}   // namespace

// The strip chart's limits are dashed and its extremes dotted; on a light
// and on a dark palette every line, axis text and the note stand out from
// the plot's background.
TEST_F(Draw, LinesByShapeAndReadableOnLightAndDarkPalettes) {
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    for (const QPalette &pal : {light, dark}) {
        const QColor base = pal.color(QPalette::Base);
        SCOPED_TRACE("base " + base.name().toStdString());
        QApplication::setPalette(pal);
        Mvalue = 1021;   // out of tolerance: the note is shown
        PlotVIDEOBarGraph();
        PlotRAWGraphX8();
        ProcessSystemEvents();
        auto *strip = qobject_cast<QCustomPlot *>(rt_Widget(pHandle, PANEL_STRIPRaw));
        auto *bar = qobject_cast<QCustomPlot *>(rt_Widget(pHandle, PANEL_GRAPHBar));
        ASSERT_TRUE(strip && bar);
        ASSERT_EQ(strip->graphCount(), 6);
        // upper, lower, set-point, value, max, min
        const Qt::PenStyle styles[6] = {Qt::DashLine,  Qt::DashLine, Qt::SolidLine,
                                        Qt::SolidLine, Qt::DotLine,  Qt::DotLine};
        for (int t = 0; t < 6; ++t) {
            EXPECT_EQ(strip->graph(t)->pen().style(), styles[t]) << "trace " << t + 1;
            EXPECT_GE(Contrast(strip->graph(t)->pen().color(), base), 3.0) << "trace " << t + 1;
        }
        for (QCustomPlot *p : {strip, bar}) {
            // the plot is painted on the palette's base (its corner lies outside the axes)
            EXPECT_EQ(p->grab().toImage().pixelColor(1, 1), base);
            EXPECT_GE(Contrast(p->xAxis->tickLabelColor(), base), 4.5);
            for (int i = 0; i < p->itemCount(); ++i) {
                if (!p->item(i)->visible()) continue;
                if (auto *t = qobject_cast<QCPItemText *>(p->item(i))) {
                    EXPECT_GE(Contrast(t->color(), t->brush().color()), 4.5);
                } else if (auto *l = qobject_cast<QCPItemStraightLine *>(p->item(i))) {
                    EXPECT_GE(Contrast(l->pen().color(), base), 3.0) << "cursor " << i;
                }
            }
        }
        EXPECT_EQ(Note(), kAbove);
    }
    QApplication::setPalette(light);
}

TEST_F(Draw, ReferenceCursorAndClamps) {
    struct C {
        uint16_t eMode, L, R, pixB, pixE, vp;
        double x;
    } cases[] = {
        {0, 500, 1500, 10, 2040, 2048, 500},
        {1, 500, 1500, 10, 2040, 2048, 1500},
        {2, 500, 1501, 10, 2040, 2048, 1000},   // halves round down
        {3, 500, 1501, 10, 2040, 2048, 1000},
        {4, 600, 800, 10, 2040, 2048, 700},
        {2, 0, 1500, 10, 2040, 2048, 10},   // 1, then pixB
        {2, 0, 1500, 0, 2040, 2048, 1},
        {2, 700, 0, 0, 2040, 2048, 1},
        {2, 65535, 65535, 0, 65535, 65535, 65535},   // no 16-bit overflow of the sum
        {0, 5, 1500, 10, 2040, 2048, 10},
        {1, 500, 2045, 10, 2040, 2048, 2040},
        {0, 0, 1500, 0, 2040, 2048, 1},
        {0, 3000, 1500, 0, 4000, 2048, 2048},
    };
    for (auto c : cases) {
        SCOPED_TRACE("eMode " + std::to_string(c.eMode) + " L " + std::to_string(c.L) + " R " +
                     std::to_string(c.R));
        eMode = c.eMode;
        Ledge = c.L;
        Redge = c.R;
        pixB = c.pixB;
        pixE = c.pixE;
        ccdvirtpixel = c.vp;
        eBeg = 111;
        eEnd = 1777;
        PlotVIDEOBarGraph();
        double x = -1, y = -1;
        rt_GetCursor(pHandle, PANEL_GRAPHBar, 1, &x, &y);
        EXPECT_DOUBLE_EQ(x, c.x);
        EXPECT_DOUBLE_EQ(y, 0.75);
        rt_GetCursor(pHandle, PANEL_GRAPHBar, 2, &x, &y);
        EXPECT_DOUBLE_EQ(x, 111);
        EXPECT_DOUBLE_EQ(y, 0.75);
        rt_GetCursor(pHandle, PANEL_GRAPHBar, 3, &x, &y);
        EXPECT_DOUBLE_EQ(x, 1777);
        EXPECT_DOUBLE_EQ(y, 0.75);
        double lo = -1, hi = -1;
        rt_GetAxisRange(pHandle, PANEL_GRAPHBar, VAL_XAXIS, &lo, &hi);
        EXPECT_DOUBLE_EQ(lo, 1.0);
        EXPECT_DOUBLE_EQ(hi, c.vp);
    }
}

TEST_F(Draw, RedBarsByEdgeCount) {
    struct C {
        uint16_t edcnt, mvstart, mvend;
        std::vector<Rect> bars;
    } cases[] = {
        {0, 600, 600, {{1, 0.25, 500, 1}, {1500, 0.25, 2040, 1}}},
        {0, 600, 500, {}},   // at the threshold is not above it
        {0, 500, 600, {}},
        {0, 100, 100, {}},
        {1, 100, 200, {{500, 0.25, 2040, 1}}},
        {1, 200, 200, {{1, 0.25, 500, 1}}},
        {1, 300, 200, {{1, 0.25, 500, 1}}},
        {2, 100, 100, {{1, 0.25, 500, 1}, {1500, 0.25, 2040, 1}}},
        {7, 900, 100, {{1, 0.25, 500, 1}, {1500, 0.25, 2040, 1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("edcnt " + std::to_string(c.edcnt) + " mvstart " + std::to_string(c.mvstart) +
                     " mvend " + std::to_string(c.mvend));
        edcnt = c.edcnt;
        mvstart = c.mvstart;
        mvend = c.mvend;
        PlotVIDEOBarGraph();
        ExpectRects(Rects(VAL_RED), c.bars);
    }
}

TEST_F(Draw, GreenWindows) {
    // clang-format off
    struct C { uint16_t eMode, edcnt, L, R, tVal, tol, pixE, vp; std::vector<Rect> win; } cases[] = {
        {0, 2, 500, 1500, 1000, 20, 2040, 2048, {{980, 0, 1020, 0.35}}},
        {1, 0, 500, 1500, 1000, 20, 2040, 2048, {{980, 0, 1020, 0.35}}},   // drawn without an edge
        {0, 0, 500, 1500, 1000, 20, 2040, 2048, {{980, 0, 1020, 0.35}}},
        {0, 2, 500, 1500, 10, 30, 2040, 2048, {{1, 0, 40, 0.35}}},         // left end below 0
        {0, 2, 500, 1500, 30, 30, 2040, 2048, {{0, 0, 60, 0.35}}},         // exactly 0 stays
        {0, 2, 500, 1500, 2040, 20, 2040, 2048, {{2020, 0, 2048, 0.35}}},  // right end past the line
        {0, 2, 500, 1500, 2027, 20, 2040, 2048, {{2007, 0, 2047, 0.35}}},  // vp - 1 stays
        {4, 2, 500, 1500, 1000, 20, 2040, 2048, {{980, 0, 1020, 0.35}}},
        {2, 0, 500, 1501, 1001, 21, 2040, 2048, {}},
        // r = 1000, tVal/2 = 500, tol/2 = 10
        {2, 2, 500, 1501, 1001, 21, 2040, 2048, {{490, 0, 510, 0.35}, {1490, 0, 1510, 0.35}}},
        {2, 1, 500, 1501, 1001, 21, 2040, 2048, {{490, 0, 510, 0.35}, {1490, 0, 1510, 0.35}}},
        // first window clamped on the left
        {2, 2, 100, 100, 200, 40, 2040, 2048, {{1, 0, 20, 0.35}, {180, 0, 220, 0.35}}},
        // second window unclamped beyond the line
        {2, 2, 2000, 2000, 200, 40, 2047, 2048, {{1880, 0, 1920, 0.35}, {2080, 0, 2120, 0.35}}},
        // first window past the line's end: clamped; r clamped to pixE first
        {2, 2, 2045, 2045, 20, 100, 2040, 2048, {{1980, 0, 2048, 0.35}, {2000, 0, 2100, 0.35}}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE("eMode " + std::to_string(c.eMode) + " edcnt " + std::to_string(c.edcnt) +
                     " tVal " + std::to_string(c.tVal) + " tol " + std::to_string(c.tol));
        eMode = c.eMode;
        edcnt = c.edcnt;
        Ledge = c.L;
        Redge = c.R;
        tVal = c.tVal;
        tol = c.tol;
        pixB = 1;
        pixE = c.pixE;
        ccdvirtpixel = c.vp;
        PlotVIDEOBarGraph();
        ExpectRects(Rects(VAL_GREEN), c.win);
    }
}

TEST_F(Draw, PlotsReplacedEachCall) {
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, -1, 1);
    PlotRectangle(pHandle, PANEL_GRAPHBar, 3, 0, 4, 1, VAL_BLUE, VAL_BLUE);
    for (int i = 0; i < 3; ++i) PlotVIDEOBarGraph();
    auto plots = rt_GetPlots(pHandle, PANEL_GRAPHBar);
    EXPECT_EQ(plots.size(), 3u);   // two red bars, one window
    EXPECT_TRUE(Rects(VAL_BLUE).empty());
}

TEST_F(Draw, NumericDisplays) {
    struct C {
        uint16_t L, R, mv;
        uint32_t um;
        uint16_t tol, slope, ccdtype, sv, aMax, aMin;
        double mm, tolMm;
    } cases[] = {
        {500, 1500, 1000, 1234567, 100, 1024, 0, 250, 1800, 200, 1234.567, 0.1},
        // slope scale 512 below firmware 250 on type 104, 1024 from 250 on
        {1, 2, 3, 0, 100, 512, 104, 249, 0, 0, 0.0, 0.1},
        {1, 2, 3, 0, 100, 512, 104, 250, 0, 0, 0.0, 0.05},
        {1, 2, 3, 0, 100, 512, 103, 100, 0, 0, 0.0, 0.05},
        {1, 2, 3, 0, 1000, 65535, 0, 300, 0, 0, 0.0, 63.999},
        // top bit set: a large positive value, never negative
        {0, 0, 0, 0x80000000u, 0, 1024, 0, 250, 65535, 65535, 2147483.648, 0.0},
        {0, 0, 0, 0xFFFFFFFFu, 0, 1024, 0, 250, 65535, 65535, 4294967.295, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("umValue " + std::to_string(c.um) + " ccdtype " + std::to_string(c.ccdtype) +
                     " softversion " + std::to_string(c.sv));
        Ledge = c.L;
        Redge = c.R;
        Mvalue = c.mv;
        umValue = c.um;
        tol = c.tol;
        slope = c.slope;
        ccdtype = c.ccdtype;
        softversion = c.sv;
        anaMax = c.aMax;
        anaMin = c.aMin;
        PlotVIDEOBarGraph();
        EXPECT_EQ(Num(pHandle, PANEL_NUMLedge), c.L);
        EXPECT_EQ(Num(pHandle, PANEL_NUMRedge), c.R);
        EXPECT_EQ(Num(pHandle, PANEL_NUMMvalue), c.mv);
        EXPECT_EQ(Num(pHandle, PANEL_NUMAnaValue), c.mv);
        EXPECT_NEAR(Num(pHandle, PANEL_NUMMvalueMm), c.mm, 0.0005);
        EXPECT_NEAR(Num(pHandle, PANEL_NUMToleranceMm), c.tolMm, 0.0005);
        EXPECT_EQ(Num(pHandle, PANEL_NUMAnaMax), c.aMax);
        EXPECT_EQ(Num(pHandle, PANEL_NUMAnaMin), c.aMin);
    }
}

TEST_F(Draw, PopupLivePixelValue) {
    // clang-format off
    struct C { int s1, s2; bool into1, into2; } cases[] = {
        {0, 0, false, false}, {1, 0, true, false}, {0, 1, false, true}, {1, 1, true, true},
    };
    // clang-format on
    uint16_t mv = 300;
    for (auto c : cases) {
        SCOPED_TRACE("steps " + std::to_string(c.s1) + "/" + std::to_string(c.s2));
        SetCtrlVal(pPopup, POPUP_NUMPixelObject1, 7);
        SetCtrlVal(pPopup, POPUP_NUMPixelObject2, 8);
        SetCtrlVal(pPopup, POPUP_CheckStep1, c.s1);
        SetCtrlVal(pPopup, POPUP_CheckStep2, c.s2);
        Mvalue = ++mv;
        PlotVIDEOBarGraph();
        EXPECT_EQ(Num(pPopup, POPUP_NUMPixelObject1), c.into1 ? mv : 7);
        EXPECT_EQ(Num(pPopup, POPUP_NUMPixelObject2), c.into2 ? mv : 8);
    }
}

TEST_F(Draw, StripMaxMinLinesByAnalogMode) {
    // clang-format off
    struct C { uint16_t mode, mv, aMax, aMin; double maxL, minL; } cases[] = {
        {0, 1000, 1500, 200, 1000, 1000},
        {1, 1000, 1500, 200, 1000, 1000},
        {2, 1000, 1500, 200, 1500, 1000},
        {5, 1000, 1500, 200, 1500, 1000},
        {3, 1000, 1500, 200, 1000, 200},
        {6, 1000, 1500, 200, 1000, 200},
        {3, 1000, 1500, 2047, 1000, 1},   // no minimum found yet
        {6, 1000, 1500, 2047, 1000, 1},
        {3, 1000, 1500, 2046, 1000, 2046},
        {4, 1000, 1500, 200, 1500, 200},
        {7, 1000, 1500, 200, 1500, 200},
        {4, 1000, 700, 700, 1000, 1000},
        {7, 1000, 300, 900, 1000, 1000},
    };
    // clang-format on
    for (auto c : cases) {
        SCOPED_TRACE("anaMode " + std::to_string(c.mode));
        anaMode = c.mode;
        Mvalue = c.mv;
        anaMax = c.aMax;
        anaMin = c.aMin;
        PlotRAWGraphX8();
        auto n = Newest();
        EXPECT_EQ(n[3], c.mv);
        EXPECT_EQ(n[4], c.maxL);
        EXPECT_EQ(n[5], c.minL);
        RtStrip s = rt_GetStrip(pHandle, PANEL_STRIPRaw);
        ASSERT_EQ(s.points.size(), 6u);
        ASSERT_FALSE(s.points[4].empty());
        EXPECT_EQ(s.points[3].back(), c.mv);
        EXPECT_EQ(s.points[4].back(), c.maxL);
        EXPECT_EQ(s.points[5].back(), c.minL);
    }
}

TEST_F(Draw, StripToleranceLines) {
    // clang-format off
    struct C { uint16_t tVal, tol; double up, lo; } cases[] = {
        {1000, 20, 1020, 980},
        {10, 30, 40, 1},        // tol above tVal
        {20, 20, 40, 1},
        {21, 20, 41, 1},
        {2040, 20, 2047, 2020}, // stops one before the line's end
        {2027, 20, 2047, 2007},
    };
    // clang-format on
    for (auto c : cases) {
        SCOPED_TRACE("tVal " + std::to_string(c.tVal) + " tol " + std::to_string(c.tol));
        tVal = c.tVal;
        tol = c.tol;
        PlotRAWGraphX8();
        auto n = Newest();
        EXPECT_EQ(n[0], c.up);
        EXPECT_EQ(n[1], c.lo);
        EXPECT_EQ(n[2], c.tVal);
    }
}

TEST_F(Draw, StripZoomWindow) {
    struct C {
        int zoom;
        uint16_t tTol, tVal, tol, mv;
        double lo, hi;
    } cases[] = {
        {0, 5, 1000, 20, 1000, 0, 2048},
        {0, 50, 1000, 20, 1900, 0, 2048},
        {1, 19, 1000, 300, 1000, 960, 1040},
        {1, 19, 1000, 300, 1040, 960, 1040},
        {1, 19, 1000, 300, 1041, 960, 1091},
        {1, 19, 1000, 300, 960, 960, 1040},
        {1, 19, 1000, 300, 959, 909, 1040},
        {1, 20, 1000, 30, 1000, 940, 1060},
        {1, 20, 1000, 30, 1061, 940, 1161},
        {1, 20, 1000, 30, 939, 839, 1060},
        {1, 20, 20, 30, 20, 1, 80},   // low below 1
        {1, 5, 20, 0, 20, 1, 60},
        {1, 5, 2030, 0, 2030, 1990, 2047},   // high past the line
        {1, 500, 1000, 600, 1000, 1, 2047},
        {1, 20, 100, 10, 2040, 80, 2047},
    };
    for (auto c : cases) {
        SCOPED_TRACE("zoom " + std::to_string(c.zoom) + " tTol " + std::to_string(c.tTol) +
                     " Mvalue " + std::to_string(c.mv));
        SetCtrlVal(pHandle, PANEL_TOGGLEZoom, c.zoom);
        tTol = c.tTol;
        tVal = c.tVal;
        tol = c.tol;
        Mvalue = c.mv;
        PlotRAWGraphX8();
        double lo = -1, hi = -1;
        rt_GetAxisRange(pHandle, PANEL_STRIPRaw, VAL_LEFT_YAXIS, &lo, &hi);
        EXPECT_DOUBLE_EQ(lo, c.lo);
        EXPECT_DOUBLE_EQ(hi, c.hi);
    }
}

TEST_F(Draw, StripHistoryAgesNewestAtRight) {
    for (int k = 0; k < 100; ++k) {
        Mvalue = static_cast<uint16_t>(100 + k);
        tVal = static_cast<uint16_t>(1000 + k);
        PlotRAWGraphX8();
    }
    // 100 samples, six interleaved values each, oldest first
    for (int s = 0; s < 100; ++s) {
        ASSERT_EQ(arrayNORM[6 * s + 3], 100 + s) << s;
        ASSERT_EQ(arrayNORM[6 * s + 2], 1000 + s) << s;
    }
    Mvalue = 555;
    PlotRAWGraphX8();
    EXPECT_EQ(arrayNORM[3], 101);
    EXPECT_EQ(arrayNORM[6 * 98 + 3], 199);
    EXPECT_EQ(arrayNORM[6 * 99 + 3], 555);

    RtStrip s = rt_GetStrip(pHandle, PANEL_STRIPRaw);
    EXPECT_EQ(s.traces, 6);
    const int colors[6] = {0x008000, 0x008000, 0x000000, 0xFF0000, 0xFF0000, 0xFF0000};
    ASSERT_EQ(s.colors.size(), 6u);
    for (int t = 0; t < 6; ++t) EXPECT_EQ(s.colors[t], colors[t]) << "trace " << t + 1;
    ASSERT_EQ(s.points.size(), 6u);
    const auto &mv = s.points[3];
    ASSERT_GE(mv.size(), 100u);
    // the shown window ends with the newest sample and holds the last 100
    EXPECT_EQ(mv.back(), 555);
    EXPECT_EQ(mv[mv.size() - 2], 199);
    EXPECT_EQ(mv[mv.size() - 100], 101);
}

TEST_F(Draw, VideoCurveAndThresholdLine) {
    static const uint16_t zeros[256] = {0};
    for (int i = 0; i < 256; ++i) {
        xArray8[i] = i * 8.0;
        thdArray[i] = 400;
    }
    YMAXADC = 1023;
    // before the first video line, then a line that reaches above YMAXADC
    uint16_t line[256];
    for (int i = 0; i < 256; ++i) line[i] = static_cast<uint16_t>((i * 37) % 1100);
    for (const uint16_t *samples : {zeros, static_cast<const uint16_t *>(line)}) {
        PlotVIDEOCurve(samples, xArray8);
        auto plots = rt_GetPlots(pHandle, PANEL_GRAPHVideo);
        ASSERT_EQ(plots.size(), 2u);
        EXPECT_EQ(plots[0].kind, 2);
        EXPECT_EQ(plots[0].color, 0xFF0000);
        EXPECT_EQ(plots[1].kind, 2);
        EXPECT_EQ(plots[1].color, 0x008000);
        ASSERT_EQ(plots[0].x.size(), 256u);
        ASSERT_EQ(plots[0].y.size(), 256u);
        ASSERT_EQ(plots[1].y.size(), 256u);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(plots[0].x[i], i * 8.0);
            ASSERT_EQ(plots[0].y[i], samples[i]) << i;
            ASSERT_EQ(plots[1].x[i], i * 8.0);
            ASSERT_EQ(plots[1].y[i], 400);
        }
        double lo = -1, hi = -1;
        rt_GetAxisRange(pHandle, PANEL_GRAPHVideo, VAL_LEFT_YAXIS, &lo, &hi);
        EXPECT_EQ(lo, 0.0);
        EXPECT_EQ(hi, 1023.0);
    }
}

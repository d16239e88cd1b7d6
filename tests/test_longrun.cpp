// What only a run of days would reach, brought forward.
#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "tests/support/support.h"
#include "rt/rt_testing.h"
#include "app/app.h"
#include "rt/rt_ui_internal.h"

namespace {

// The bar graph draws a few plots per measurement: at the full frame rate of
// a fast line the plot handles pass INT_MAX within days. They must start
// again at 1 without overflowing and without reusing a handle still shown.
TEST(LongRun, PlotHandlesStartAgainInsteadOfOverflowing) {
    ASSERT_TRUE(StartRidarForTest());
    rtui::Ctrl *c = rtui::FindCtrl(pHandle, PANEL_GRAPHBar);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->graph);
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);
    c->graph->nextHandle = 1;
    const int a = PlotRectangle(pHandle, PANEL_GRAPHBar, 0, 0, 1, 1, VAL_RED, VAL_RED);
    c->graph->nextHandle = INT_MAX - 1;
    const int b = PlotRectangle(pHandle, PANEL_GRAPHBar, 0, 0, 2, 1, VAL_RED, VAL_RED);
    const int d = PlotRectangle(pHandle, PANEL_GRAPHBar, 0, 0, 3, 1, VAL_RED, VAL_RED);
    const int e = PlotRectangle(pHandle, PANEL_GRAPHBar, 0, 0, 4, 1, VAL_RED, VAL_RED);
    const int f = PlotRectangle(pHandle, PANEL_GRAPHBar, 0, 0, 5, 1, VAL_RED, VAL_RED);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, INT_MAX - 1);
    EXPECT_EQ(d, INT_MAX);
    EXPECT_EQ(e, 2);   // 1 is still shown
    EXPECT_EQ(f, 3);
    std::set<int> handles;
    for (const RtPlot &p : rt_GetPlots(pHandle, PANEL_GRAPHBar)) {
        EXPECT_GT(p.handle, 0);
        handles.insert(p.handle);
    }
    EXPECT_EQ(handles.size(), 5u);
    // each still deletes just itself
    EXPECT_EQ(DeleteGraphPlot(pHandle, PANEL_GRAPHBar, e, VAL_DELAYED_DRAW), 0);
    EXPECT_EQ(rt_GetPlots(pHandle, PANEL_GRAPHBar).size(), 4u);
    DeleteGraphPlot(pHandle, PANEL_GRAPHBar, VAL_DELETE_ALL, VAL_DELAYED_DRAW);
}

}   // namespace

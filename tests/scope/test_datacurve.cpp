// The data curve: acceptance by trigger mode, the block fetch with the
// receive callback out of the way, the guide lines and the plots.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "link/com232.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace qvar_test;

namespace {

class DataCurve : public ProgramTest {
protected:
    void Fetch(int source)
    {
        SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, source);
        CC_BTNData(panelHandle, PANEL_BTN_DATA, EVENT_COMMIT, nullptr, 0, 0);
    }
    // The curve's controller and this side must agree on the trigger mode.
    void TriggerMode(int mode)
    {
        trigmode = mode;
        qvar::sim::Block a = sim->ram(0), b = sim->ram(1);
        a[PB_TRIGMODE] = b[PB_TRIGMODE] = (uint16_t)mode;
        sim->set_ram(0, a);
        sim->set_ram(1, b);
    }
    struct Plot {
        std::vector<double> y;
        int colour;
    };
    std::vector<Plot> Plots()
    {
        std::vector<Plot> plots;
        int n = GetGraphPlotCount(panelHandle, PANEL_GRAPH_DATA);
        for (int i = 0; i < n; i++) {
            double x[256], y[256];
            int colour = -1;
            int m = GetGraphPlot(panelHandle, PANEL_GRAPH_DATA, i, x, y, 256, &colour);
            plots.push_back({std::vector<double>(y, y + (m > 0 ? m : 0)), colour});
        }
        return plots;
    }
    bool CallbackWorks()
    {
        // The receive callback takes answers again: a parameter read succeeds.
        sim->faults.mute.clear();
        PushGET(RAM, 0);
        return rx_flag == 1;
    }
};

TEST_F(DataCurve, ChannelACurveWithStepAtTheTriggerPosition)
{
    TriggerMode(1);
    pretriggerA = 20;
    average = 8;
    triglvlA = 0xC000 | 600;
    Fetch(0);

    auto expected = sim->curve(0);
    for (int i = 0; i < 128; i++)
        ASSERT_EQ(expected[i], yArrayA[i]) << i;
    for (int i = 0; i < 128; i++)
        ASSERT_EQ(i < 107 ? 0 : 1024, yArrayB[i]) << i;
    EXPECT_EQ(600, refArray[0]);

    std::vector<Plot> plots = Plots();
    ASSERT_EQ(5u, plots.size());
    const int colours[] = {0xFF0000, 0xFF0000, 0x0000FF, 0xFF0000, 0x0000FF};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(colours[i], plots[i].colour) << "plot " << i;
        EXPECT_EQ(128u, plots[i].y.size());
    }
    uint16_t mx = *std::max_element(expected.begin(), expected.end());
    uint16_t mn = *std::min_element(expected.begin(), expected.end());
    EXPECT_EQ(mx, plots[0].y[50]);
    EXPECT_EQ(mn, plots[1].y[50]);
    EXPECT_EQ(1024, plots[2].y[127]);
    EXPECT_EQ(600, plots[4].y[0]);
    // The crosshair and the legend call that line what it is, and the legend
    // tells it from the step beside it in the same blue.
    const auto *view = UiCtrlWidget(panelHandle, PANEL_GRAPH_DATA)->findChild<qvar::ui::ChartView *>();
    ASSERT_EQ(view->legend().size(), 5u);
    EXPECT_EQ(view->trace(4).name, "trigger level");
    EXPECT_EQ(view->legend()[4].name, "trigger level");
    EXPECT_NE(view->legend()[4].style, view->legend()[2].style);

    std::vector<std::string> log = StatusLog();
    EXPECT_EQ("Waiting for data package 8 ... received!", log.back());
    EXPECT_EQ(8u, sim->requests(ORDER_CURVE_BLOCK));
    EXPECT_FALSE(Dimmed(panelHandle, PANEL_BTN_DATA));
    EXPECT_TRUE(CallbackWorks());
}

TEST_F(DataCurve, ChannelBMaximumCurveIsGreyWithFlatStep)
{
    TriggerMode(3);
    refB = 480;
    Fetch(5);
    auto expected = sim->curve(5);
    for (int i = 0; i < 128; i++)
        ASSERT_EQ(expected[i], yArrayB[i]) << i;
    for (int i = 0; i < 128; i++)
        ASSERT_EQ(1024, yArrayA[i]);
    std::vector<Plot> plots = Plots();
    ASSERT_EQ(5u, plots.size());
    EXPECT_EQ(0x404040, plots[3].colour);
    EXPECT_EQ(480, plots[4].y[64]);
    // The line at the reference is the only one in the reference's colour.
    for (int i = 0; i < 4; i++)
        EXPECT_NE(plots[4].colour, plots[i].colour) << "plot " << i;
}

TEST_F(DataCurve, TriggerPositionEdges)
{
    TriggerMode(2);
    struct Case { int pretrigger, average, firstHigh; } cases[] = {
        {200, 8, 0},           // negative position: all high
        {20, 16, 108},         // averaging above 8: no correction
        {20, 0, 100},          // averaging 0 counts as 1
        {20, 1, 100},
    };
    for (const Case &c : cases) {
        pretriggerA = c.pretrigger;
        average = c.average;
        Fetch(0);
        int firstHigh = 0;
        while (firstHigh < 128 && yArrayB[firstHigh] == 0)
            firstHigh++;
        EXPECT_EQ(c.firstHigh, firstHigh) << "pretrigger " << c.pretrigger << " average " << c.average;
    }
}

TEST_F(DataCurve, RejectedSourcesFetchNothingAndGiveTheLineBack)
{
    struct Case { int source, mode; } cases[] = {{0, 0}, {1, 3}, {4, 1}, {7, 5}, {2, 1}, {3, 1}, {8, 3}, {9, 1}};
    for (const Case &c : cases) {
        TriggerMode(c.mode);
        sim->reset_counters();
        StartStatusLog();
        Fetch(c.source);
        EXPECT_EQ(0u, sim->requests(ORDER_CURVE_BLOCK)) << "source " << c.source;
        EXPECT_EQ("No valid DATA available for this source.", StatusLog().back());
    }
    EXPECT_TRUE(CallbackWorks());
}

TEST_F(DataCurve, BlockTimeoutClearsBothCurvesAndDrawsNothing)
{
    TriggerMode(1);
    Fetch(0);                                     // a first curve on the graph
    int plotsBefore = GetGraphPlotCount(panelHandle, PANEL_GRAPH_DATA);
    When([&] { return sim->requests(ORDER_CURVE_BLOCK) >= 12; },
         [&] { sim->faults.mute = {ORDER_CURVE_BLOCK}; });
    Fetch(0);                                     // blocks 1-4 come, block 5 does not
    EXPECT_EQ(13u, sim->requests(ORDER_CURVE_BLOCK));
    EXPECT_EQ("Timeout while reading data package!", StatusLog().back());
    for (int i = 0; i < 128; i++) {
        ASSERT_EQ(0, yArrayA[i]);
        ASSERT_EQ(0, yArrayB[i]);
    }
    EXPECT_EQ(plotsBefore, GetGraphPlotCount(panelHandle, PANEL_GRAPH_DATA));
    EXPECT_TRUE(CallbackWorks());
}

TEST_F(DataCurve, SecondPressDuringTheFetchIsIgnored)
{
    TriggerMode(1);
    bool pressed = false;
    When([&] { return sim->requests(ORDER_CURVE_BLOCK) >= 2; }, [&] {
        pressed = true;
        CC_BTNData(panelHandle, PANEL_BTN_DATA, EVENT_COMMIT, nullptr, 0, 0);
    });
    Fetch(0);
    EXPECT_TRUE(pressed);
    EXPECT_EQ(8u, sim->requests(ORDER_CURVE_BLOCK));
    EXPECT_EQ(1u, sim->requests(ORDER_LIVE_VALUES));
}

TEST_F(DataCurve, DataRightAfterStopFetchesTheControllersCurve)
{
    // At line timing the stopped scope's last answer is still on its way when
    // Data sends its own live-value request; the curve must not take either
    // answer for a block.
    TriggerMode(1);
    sim->set_paced(true);
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, SOURCE_NORM_A);
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 5; },
         [] { CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0);
    Fetch(SOURCE_NORM_A);

    EXPECT_EQ("Waiting for data package 8 ... received!", StatusLog().back());
    const auto expected = sim->curve(SOURCE_NORM_A);
    for (int i = 0; i < CURVE_POINTS; i++)
        ASSERT_EQ(expected[i], yArrayA[i]) << "point " << i;
}

} // namespace

// The scope loop against the simulated controller: ping-pong, the ways it
// ends, and what it leaves dimmed.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace qvar_test;

namespace {

class ScopeLoop : public ProgramTest {
protected:
    int Run() { return CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0); }
    void Stop() { CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); }
};

TEST_F(ScopeLoop, OneRequestPerAnswerUntilStop)
{
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    // Watch the line at every pump: more than one answer waiting would mean a
    // second request went out before the first answer was taken.
    size_t most = 0;
    int watch = EveryPump([&] { most = std::max(most, sim->host_available(Timer())); });
    bool dimmedWhileRunning = false;
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 200; },
         [&] {
             dimmedWhileRunning = Dimmed(panelHandle, PANEL_BTN_RUN) && Dimmed(panelHandle, PANEL_BTN_DATA) &&
                                  Dimmed(panelHandle, PANEL_GRAPHSOURCE);
             Stop();
         });
    EXPECT_EQ(0, Run());
    CancelEveryPump(watch);

    EXPECT_TRUE(dimmedWhileRunning);
    EXPECT_LE(most, 36u);
    EXPECT_GE(sim->requests(ORDER_LIVE_VALUES), 200u);
    EXPECT_EQ(sim->requests(ORDER_LIVE_VALUES), sim->requests_total());
    EXPECT_FALSE(Dimmed(panelHandle, PANEL_BTN_RUN));
    EXPECT_TRUE(Visible(panelHandle, PANEL_CHART_NORM));
    EXPECT_FALSE(Visible(panelHandle, PANEL_CHART_RAW));
    EXPECT_FALSE(Visible(panelHandle, PANEL_GRAPH_DATA));
    EXPECT_EQ("Line Ok!", StatusLog().front());
    // Stop refills the histories with the idle band.
    EXPECT_EQ(2560, arrayNORM[594]);
    EXPECT_EQ(1536, arrayNORM[595]);
    EXPECT_EQ(2048, arrayNORM[596]);
    EXPECT_EQ(0, arrayNORM[599]);
    EXPECT_EQ(0, arrayRAW[198]);
}

TEST_F(ScopeLoop, LiveDisplaysTellAssistiveTechnologyWhatTheyShow)
{
    // A screen reader, or a rig reading the window through AT-SPI, hears the
    // numbers and lamps on screen while the scope runs, not those of the start.
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    const int live[] = {PANEL_NORM_A, PANEL_RAW_A,    PANEL_AMAX,     PANEL_MAXVAL_A, PANEL_MINVAL_A,
                        PANEL_NORM_B, PANEL_RAW_B,    PANEL_BMAX,     PANEL_MAXVAL_B, PANEL_MINVAL_B,
                        PANEL_TOLVAL, PANEL_LED_IN1, PANEL_LED_IN2};
    std::vector<::testing::AssertionResult> heard;
    bool anyShown = false;
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 50; },
         [&] {
             for (int c : live) {
                 heard.push_back(HeardAsShown(panelHandle, c));
                 anyShown = anyShown || Value(panelHandle, c) != 0;
             }
             Stop();
         });
    Run();
    EXPECT_TRUE(anyShown);
    ASSERT_EQ(std::size(live), heard.size());
    for (const auto &h : heard)
        EXPECT_TRUE(h);
}

TEST_F(ScopeLoop, DrawsEveryAnswerBeforeTheNextRequest)
{
    // Each request carries channel A's block; had a request been built before
    // its predecessor's answer was unpacked, the chart would show parameter
    // words. The value trace must be the answers' word 0, in order.
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    std::vector<int> answers;
    int64_t seen = -1;
    int watch = EveryPump([&] {
        if (sim->sample() != seen) {
            seen = sim->sample();
            answers.push_back(sim->live_values()[0]);
        }
    });
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 150; }, [&] { Stop(); });
    Run();
    CancelEveryPump(watch);

    // The answer to the last request was taken by the stop, never drawn.
    ASSERT_GE(answers.size(), 100u);
    std::vector<int> drawn(answers.end() - 41, answers.end() - 1);
    double trace[100];
    ASSERT_EQ(100, GetStripChartTrace(panelHandle, PANEL_CHART_NORM, 6, trace, 100));
    for (int i = 0; i < 40; i++)
        EXPECT_EQ(drawn[i], trace[60 + i]) << "point " << 60 + i;
}

TEST_F(ScopeLoop, RunRightAfterStopStillKeepsOneRequestInFlight)
{
    // At line timing the answer to the stopped run's last request is still on
    // the line when Run is pressed again; were it taken as the new run's
    // answer, two requests would stay in flight and the rate would exceed
    // what the line can carry.
    sim->set_paced(true);
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 3; }, [&] { Stop(); });
    Run();
    sim->reset_counters();
    double t0 = 0;
    When([&] { return t0 > 0 && Timer() - t0 >= 1.0; }, [&] { Stop(); });
    After(0.0, [&] { t0 = Timer(); });
    Run();
    const double took = Timer() - t0;
    const double lineRate = 1920.0 / 72.0;
    EXPECT_LE(sim->requests(ORDER_LIVE_VALUES), lineRate * took + 2) << "in " << took << " s";
    EXPECT_GE(sim->requests(ORDER_LIVE_VALUES), 0.8 * lineRate * took);
}

TEST_F(ScopeLoop, RunStartsFromChannelAsBand)
{
    refA = 512;
    tolA = 100;
    sim->faults.silent = true;
    double upperAtStart = 0;
    After(0.05, [&] { upperAtStart = arrayNORM[0]; Stop(); });
    Run();
    EXPECT_EQ(612, upperAtStart);
}

TEST_F(ScopeLoop, SilentControllerTimesOutAndLeavesControlsDimmed)
{
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    sim->faults.silent = true;
    double t0 = Timer();
    EXPECT_EQ(1, Run());
    double took = Timer() - t0;
    EXPECT_GT(took, 1.95);
    EXPECT_LT(took, 3.0);
    EXPECT_EQ("Timeout RS232-Line!", StatusLog().back());
    EXPECT_EQ(1, stop_flag);
    const int dimmed[] = {PANEL_BTN_RUN, PANEL_BTN_DATA, PANEL_GRAPHSOURCE};
    for (int c : dimmed)
        EXPECT_TRUE(Dimmed(panelHandle, c)) << c;
    Stop();
    for (int c : dimmed)
        EXPECT_FALSE(Dimmed(panelHandle, c)) << c;
}

TEST_F(ScopeLoop, RawSourceShowsOnlyTheRawChart)
{
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 8);
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 120; }, [&] { Stop(); });
    Run();
    EXPECT_EQ(0, type);
    EXPECT_TRUE(Visible(panelHandle, PANEL_CHART_RAW));
    EXPECT_FALSE(Visible(panelHandle, PANEL_CHART_NORM));
    double y[100];
    ASSERT_EQ(100, GetStripChartTrace(panelHandle, PANEL_CHART_RAW, 1, y, 100));
    EXPECT_EQ(adcCHA, y[99]);
    EXPECT_GT(y[0], 0);                           // the whole width holds answers
}

TEST_F(ScopeLoop, SourceNineSendsOneRequestAndWaitsForStop)
{
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 9);
    sim->faults.silent = true;                   // no time-out applies either
    After(2.5, [&] { Stop(); });
    EXPECT_EQ(0, Run());
    EXPECT_EQ(1u, sim->requests(ORDER_LIVE_VALUES));
    EXPECT_EQ(2, type);
    EXPECT_FALSE(Visible(panelHandle, PANEL_CHART_RAW));
    EXPECT_FALSE(Visible(panelHandle, PANEL_CHART_NORM));
}

TEST_F(ScopeLoop, RecordersStopEndsTheScopeToo)
{
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 10; },
         [] { CC_BTNStopRecord(panelPopUp, POPUP_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0, rx_flag);
}

TEST_F(ScopeLoop, GraphSourceRingPicksTheChart)
{
    type = 1;
    // For "none" (9) the ring keeps the plot kind the raw source set.
    const struct { int source, type; bool raw, norm; } steps[] = {{8, 0, true, false}, {9, 0, false, false},
                                                                  {3, 1, false, true}};
    for (const auto &s : steps) {
        SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, s.source);
        CC_RNGGraphSource(panelHandle, PANEL_GRAPHSOURCE, EVENT_COMMIT, nullptr, 0, 0);
        EXPECT_EQ(s.type, type) << "source " << s.source;
        EXPECT_EQ(s.raw, Visible(panelHandle, PANEL_CHART_RAW)) << "source " << s.source;
        EXPECT_EQ(s.norm, Visible(panelHandle, PANEL_CHART_NORM)) << "source " << s.source;
    }
}

} // namespace

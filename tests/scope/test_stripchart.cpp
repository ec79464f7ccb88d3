// Strip-chart drawing: the histories, the band and its limits, and what the
// charts end up showing.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "link/protocol.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace qvar_test;

namespace {

TEST(Shift, MovesEitherWayInPlaceCopiesBitForBitAndRefusesWhatCannotBeDone)
{
    // In place, both directions: the copy order must not smear values.
    double b[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(0, Shift(b, 5, 2, b));
    EXPECT_EQ((std::vector<double>{0, 0, 1, 2, 3}), std::vector<double>(b, b + 5));
    EXPECT_EQ(0, Shift(b, 5, -3, b));
    EXPECT_EQ((std::vector<double>{2, 3, 0, 0, 0}), std::vector<double>(b, b + 5));

    double x[3] = {-0.0, 1e300, 3.5}, y[3] = {};
    EXPECT_EQ(0, Shift(x, 3, 0, y));
    EXPECT_TRUE(std::signbit(y[0]));
    EXPECT_EQ(1e300, y[1]);

    double keep[4] = {9, 9, 9, 9};
    EXPECT_EQ(-20102, Shift(b, 4, 4, keep));
    EXPECT_EQ(-20102, Shift(b, 4, -5, keep));
    EXPECT_EQ(-20003, Shift(b, 0, 0, keep));
    EXPECT_EQ(-20003, Copy1D(x, -1, keep));
    EXPECT_EQ((std::vector<double>{9, 9, 9, 9}), std::vector<double>(keep, keep + 4));
}

class Charts : public ProgramTest {
protected:
    void Source(int s) { SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, s); }
    void Answer(std::vector<uint16_t> words)
    {
        words.resize(16, 0);
        for (int i = 0; i < 16; i++)
            pp[i] = words[i];
    }
    std::vector<double> Trace(int chart, int trace)
    {
        std::vector<double> y(200, -1);
        int n = GetStripChartTrace(panelHandle, chart, trace, y.data(), (int)y.size());
        y.resize(n > 0 ? n : 0);
        return y;
    }
    static qvar::ui::ChartView *View(int chart)
    {
        return UiCtrlWidget(panelHandle, chart)->findChild<qvar::ui::ChartView *>();
    }
};

TEST_F(Charts, BandIsLimitedToTheNormalisedScale)
{
    Source(0);
    refA = 500;
    tolA = 600;
    Answer({700});
    PlotNORMValues(arrayNORM);
    EXPECT_EQ(1024, upTHR);
    EXPECT_EQ(1, loTHR);
    EXPECT_EQ(500, valREF);
    const double *newest = &arrayNORM[594];
    EXPECT_EQ(1024, newest[0]);
    EXPECT_EQ(1, newest[1]);
    EXPECT_EQ(500, newest[2]);
    EXPECT_EQ(700, newest[5]);
}

TEST_F(Charts, ToleranceUsesItsLowSixteenBits)
{
    Source(1);
    refB = 400;
    tolB = 65536 + 50;
    Answer({0, 300, 0, 0, 0, 0, 0, 650, 0, 150});
    PlotNORMValues(arrayNORM);
    EXPECT_EQ(450, upTHR);
    EXPECT_EQ(350, loTHR);
    EXPECT_EQ(300, valNORM);
    EXPECT_EQ(650, arrayNORM[597]);               // channel B maximum
    EXPECT_EQ(150, arrayNORM[598]);
}

TEST_F(Charts, SourceThreeDrawsTheOnTimeRatioWithoutBand)
{
    Source(3);
    Answer({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 777});
    PlotNORMValues(arrayNORM);
    const double *p = &arrayNORM[594];
    EXPECT_EQ((std::vector<double>{0, 1, 0, 0, 0, 777}), std::vector<double>(p, p + 6));
}

TEST_F(Charts, SourceFourShowsMaximumAsValueAndMaximum)
{
    Source(4);
    Answer({0, 0, 0, 0, 0, 0, 880, 0, 120});
    PlotNORMValues(arrayNORM);
    EXPECT_EQ(880, arrayNORM[597]);
    EXPECT_EQ(880, arrayNORM[599]);
    EXPECT_EQ(120, arrayNORM[598]);
}

TEST_F(Charts, ValueKeepsItsLastForSourcesWithoutOne)
{
    Source(0);
    Answer({345});
    PlotNORMValues(arrayNORM);
    Source(8);
    Answer({999});
    PlotNORMValues(arrayNORM);
    EXPECT_EQ(345, valNORM);
    EXPECT_EQ(999, valNORMA);                     // the record is updated all the same
}

TEST_F(Charts, EveryTraceShowsItsHundredPointsNewestAtTheRight)
{
    Source(0);
    refA = 512;
    tolA = 100;
    for (int k = 1; k <= 120; k++) {
        Answer({(uint16_t)k});
        PlotNORMValues(arrayNORM);
    }
    std::vector<double> value = Trace(PANEL_CHART_NORM, 6);
    ASSERT_EQ(100u, value.size());
    EXPECT_EQ(21, value.front());
    EXPECT_EQ(120, value.back());
    std::vector<double> upper = Trace(PANEL_CHART_NORM, 1);
    ASSERT_EQ(100u, upper.size());
    EXPECT_EQ(612, upper.back());
    EXPECT_EQ(120, valNORMA);
    EXPECT_EQ(120, Value(panelHandle, PANEL_NORM_A));
}

TEST_F(Charts, RawChartDrawsOnlyForSourceEight)
{
    Source(8);
    Answer({0, 0, 4000, 123});
    PlotRAWValues();
    Source(0);
    Answer({0, 0, 3000, 456});
    PlotRAWValues();
    EXPECT_EQ(3000, adcCHA);                      // record updated ...
    std::vector<double> a = Trace(PANEL_CHART_RAW, 1), b = Trace(PANEL_CHART_RAW, 2);
    ASSERT_EQ(2u, a.size());                      // (the start-up fill is not drawn)
    EXPECT_EQ(4000, a[0]);
    EXPECT_EQ(123, b[0]);
    EXPECT_EQ(0, a[1]);                           // ... but the point is 0, 0
    EXPECT_EQ(0, b[1]);
}

// What Run shows: the source in the title, a legend that tells the traces
// apart, and only the points answered since Run - not the history's fill,
// here channel A's band under a channel B source.
TEST_F(Charts, RunShowsItsSourceAndOnlyWhatWasAnswered)
{
    Source(SOURCE_NORM_B);
    refA = 300, tolA = 40;
    refB = 700, tolB = 90;
    sim->set_paced(true);   // a few answers, then Stop
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 4; },
         [] { CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0);

    qvar::ui::ChartView *view = View(PANEL_CHART_NORM);
    EXPECT_EQ(view->title(), "NORM-B");
    const std::vector<double> upper = Trace(PANEL_CHART_NORM, 1), value = Trace(PANEL_CHART_NORM, 6);
    EXPECT_GE(value.size(), 3u);
    EXPECT_LT(value.size(), 10u);
    EXPECT_EQ(upper.size(), value.size());
    for (double u : upper)
        EXPECT_EQ(u, 790);
    EXPECT_EQ(view->trace(5).points.back().x(), view->xRange().hi);   // newest at the right

    std::vector<std::string> names;
    for (const auto &e : view->legend())
        names.push_back(e.name.toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{"upper threshold", "lower threshold", "reference", "maximum",
                                               "minimum", "value"}));
    const auto &legend = view->legend();
    ASSERT_EQ(legend.size(), 6u);
    for (size_t i = 0; i < legend.size(); i++) {
        if (i != 2) {
            EXPECT_NE(legend[i].color, legend[2].color) << names[i] << " looks like the reference";
        }
        for (size_t j = std::max<size_t>(i + 1, 3); j < legend.size(); j++)
            EXPECT_FALSE(legend[i].color == legend[j].color && legend[i].style == legend[j].style)
                << names[i] << " and " << names[j] << " look alike";
    }
}

// A quantity has one colour: on the scope's charts, in the recording viewer
// and in a picture saved from a chart.
TEST_F(Charts, EachQuantityKeepsItsColourInViewerAndPicture)
{
    Answer({500, 600, 1000, 2000});
    Source(SOURCE_RAW);
    PlotRAWValues();
    const QColor rawA = View(PANEL_CHART_RAW)->trace(0).color, rawB = View(PANEL_CHART_RAW)->trace(1).color;
    Source(SOURCE_NORM_A);
    PlotNORMValues(arrayNORM);
    const QColor valueA = View(PANEL_CHART_NORM)->trace(5).color;
    Source(SOURCE_NORM_B);
    PlotNORMValues(arrayNORM);
    const QColor valueB = View(PANEL_CHART_NORM)->trace(5).color;

    const std::string dir = TempDir();
    WriteText(dir + "/run.dat", "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 1\n500\t600\t1000\t2000\n");
    qvar::ui::RecordingViewer viewer(QByteArray::fromStdString(dir + "/run.dat"));
    ASSERT_TRUE(PumpUntil([&] { return viewer.chart()->traceCount() == 4; }, 5.0));
    EXPECT_EQ(viewer.chart()->trace(0).color, valueA);   // valNORMA
    EXPECT_EQ(viewer.chart()->trace(1).color, valueB);   // valNORMB
    EXPECT_EQ(viewer.chart()->trace(2).color, rawA);     // adcCHA
    EXPECT_EQ(viewer.chart()->trace(3).color, rawB);     // adcCHB

    // The picture carries the legend: the value's colour above the plot.
    const std::string png = dir + "/norm.png";
    ASSERT_EQ(SaveChartPicture(panelHandle, PANEL_CHART_NORM, png.c_str(), 1), 0);
    const QImage image(QString::fromStdString(png));
    const int plotTop = int(View(PANEL_CHART_NORM)->plotArea().top());
    int shown = 0;
    for (int y = 0; y < plotTop; y++)
        for (int x = 0; x < image.width(); x++)
            shown += image.pixelColor(x, y) == valueB;
    EXPECT_GT(shown, 10);
}

} // namespace

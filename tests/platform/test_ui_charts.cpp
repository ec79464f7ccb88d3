// Strip charts, graphs and the LED: what they show, how often they are
// actually redrawn, and what a user's hand (the mouse, or ChartUserInput that
// sends the same events) does to a chart.
#include "platform/ui/chart_view.h"
#include "ui_testing.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>

#include <cmath>

using namespace uitest;
using qvar::ui::ChartView;
using qvar::ui::Range;

namespace {

ChartView *chartOf(QWidget *w) { return w->findChild<ChartView *>(); }

void mouse(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButton button,
           Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, mods);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget *w, QPointF from, QPointF to, Qt::MouseButton button, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    mouse(w, QEvent::MouseButtonPress, from, button, mods);
    mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, mods);
    mouse(w, QEvent::MouseMove, to, Qt::NoButton, mods);
    mouse(w, QEvent::MouseButtonRelease, to, button, mods);
}

std::vector<double> trace(int panel, int control, int t)
{
    std::vector<double> y(64);
    const int n = GetStripChartTrace(panel, control, t, y.data(), int(y.size()));
    y.resize(size_t(std::max(0, n)));
    return y;
}

// Ten points of two level traces at `a` and `b`, pushed to the screen.
void plotFlat(int panel, double a, double b)
{
    std::vector<double> h;
    for (int p = 0; p < 10; ++p)
        h.insert(h.end(), {a, b});
    PlotStripChart(panel, T_STRIP, h.data(), int(h.size()), 0, 0);
    trace(panel, T_STRIP, 1);
}

} // namespace

TEST_F(UiTest, StripChartShowsEachTraceNewestAtTheRight)
{
    // Five points of two interleaved traces, oldest first.
    const double h[] = {1, 10, 2, 20, 3, 30, 4, 40, 5, 50};
    ASSERT_EQ(PlotStripChart(main_, T_STRIP, h, 10, 0, 0), 0);
    EXPECT_EQ(trace(main_, T_STRIP, 1), (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(trace(main_, T_STRIP, 2), (std::vector<double>{10, 20, 30, 40, 50}));
    EXPECT_EQ(GetStripChartTrace(main_, T_STRIP, 3, nullptr, 0), UI_ERR_VALUE);

    ChartView *c = chartOf(W(T_STRIP));
    ASSERT_NE(c, nullptr);
    const auto &pts = c->trace(0).points;
    ASSERT_EQ(pts.size(), 5u);
    EXPECT_EQ(pts.back().x(), c->xRange().hi);   // 10 points per screen: x 0..9
    EXPECT_EQ(pts.back().x() - pts.front().x(), 4);

    // A longer history than the screen shows its newest part.
    std::vector<double> longer;
    for (int p = 0; p < 15; ++p)
        longer.insert(longer.end(), {double(p), double(100 + p)});
    PlotStripChart(main_, T_STRIP, longer.data(), int(longer.size()), 0, 0);
    const auto t2 = trace(main_, T_STRIP, 2);
    ASSERT_EQ(t2.size(), 10u);
    EXPECT_EQ(t2.front(), 105);
    EXPECT_EQ(t2.back(), 114);

    // start and skip pick every other value from an offset.
    const double spaced[] = {-1, -1, 7, 0, 8, 0, 9, 0};
    PlotStripChart(main_, T_STRIP, spaced, 2, 2, 1);
    EXPECT_EQ(trace(main_, T_STRIP, 1), (std::vector<double>{7}));
    EXPECT_EQ(trace(main_, T_STRIP, 2), (std::vector<double>{8}));
    EXPECT_EQ(PlotStripChart(main_, T_GRAPH, h, 10, 0, 0), UI_ERR_CONTROL);

    // Fewer values than traces, or none: an empty history.
    for (int n : {1, 0}) {
        PlotStripChart(main_, T_STRIP, spaced, 2, 2, 1);
        ASSERT_EQ(PlotStripChart(main_, T_STRIP, h, n, 0, 0), 0);
        EXPECT_TRUE(trace(main_, T_STRIP, 1).empty()) << n;
        EXPECT_TRUE(trace(main_, T_STRIP, 2).empty()) << n;
    }
}

TEST_F(UiTest, StripChartTraceCountColoursAndAxis)
{
    ASSERT_EQ(SetCtrlAttribute(main_, T_STRIP, ATTR_NUM_TRACES, 3), 0);
    const double h[] = {1, 2, 3, 4, 5, 6};
    PlotStripChart(main_, T_STRIP, h, 6, 0, 0);
    EXPECT_EQ(trace(main_, T_STRIP, 3), (std::vector<double>{3, 6}));

    ASSERT_EQ(SetTraceAttribute(main_, T_STRIP, 2, ATTR_TRACE_COLOR, 0x00FF00), 0);
    EXPECT_EQ(SetTraceAttribute(main_, T_STRIP, 4, ATTR_TRACE_COLOR, 0), UI_ERR_VALUE);
    ChartView *c = chartOf(W(T_STRIP));
    ASSERT_EQ(c->traceCount(), 3);
    EXPECT_EQ(c->trace(1).color, QColor(0, 255, 0));

    ASSERT_EQ(SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, 0.0, 4096.0), 0);
    EXPECT_EQ(c->yRange().hi, 4096.0);
    EXPECT_EQ(SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, 5.0, 5.0), UI_ERR_VALUE);
}

TEST_F(UiTest, PlottingFastRedrawsAtTheDisplayRate)
{
    DisplayPanel(main_);
    std::vector<double> h(20);
    const int before = GetChartRedrawCount(main_, T_STRIP);
    const double t0 = Timer();
    for (int i = 0; i < 1000; ++i) {
        for (int k = 0; k < 20; ++k)
            h[size_t(k)] = i + k;
        PlotStripChart(main_, T_STRIP, h.data(), 20, 0, 0);
        ProcessSystemEvents();
    }
    const double took = Timer() - t0;
    const int redraws = GetChartRedrawCount(main_, T_STRIP) - before;
    EXPECT_LE(redraws, int(took / 0.016) + 2) << took << " s";
    EXPECT_LT(redraws, 200);
    // ... yet what is shown is the last history handed over.
    EXPECT_EQ(trace(main_, T_STRIP, 2).back(), 999 + 19);

    // Plots that nobody pumps are not drawn; reading back draws once.
    const int idle = GetChartRedrawCount(main_, T_STRIP);
    for (int i = 0; i < 50; ++i)
        PlotStripChart(main_, T_STRIP, h.data(), 20, 0, 0);
    EXPECT_EQ(GetChartRedrawCount(main_, T_STRIP), idle);
    trace(main_, T_STRIP, 1);
    trace(main_, T_STRIP, 1);
    EXPECT_EQ(GetChartRedrawCount(main_, T_STRIP), idle + 1);

    // After a quiet frame a new plot is pushed by the next pump, not a frame
    // later: an answer at line timing shows at once.
    Delay(0.03);
    ProcessSystemEvents();
    const int quiet = GetChartRedrawCount(main_, T_STRIP);
    PlotStripChart(main_, T_STRIP, h.data(), 20, 0, 0);
    ProcessSystemEvents();
    EXPECT_EQ(GetChartRedrawCount(main_, T_STRIP), quiet + 1) << "quiet count " << quiet;
    HidePanel(main_);
}

TEST_F(UiTest, GraphPlotsDeleteAxesAndCaption)
{
    const unsigned short x[] = {0, 1, 2, 3};
    const unsigned short up[] = {900, 900, 900, 900};
    const unsigned short curve[] = {10, 500, 65535, 0};
    const int p1 = PlotXY(main_, T_GRAPH, x, up, 4, PLOT_THIN_LINE, POINT_NONE, LINE_SOLID, 0x000000);
    const int p2 = PlotXY(main_, T_GRAPH, x, curve, 4, PLOT_THICK_LINE, POINT_DOT, LINE_DASH, 0xFF0000);
    ASSERT_GT(p1, 0);
    ASSERT_GT(p2, p1);
    EXPECT_EQ(GetGraphPlotCount(main_, T_GRAPH), 2);

    double gx[8], gy[8];
    int color = -1;
    ASSERT_EQ(GetGraphPlot(main_, T_GRAPH, 1, gx, gy, 8, &color), 4);
    EXPECT_EQ(color, 0xFF0000);
    EXPECT_EQ(gy[2], 65535);   // unsigned, not wrapped
    EXPECT_EQ(gx[3], 3);
    ChartView *c = chartOf(W(T_GRAPH));
    EXPECT_EQ(c->trace(1).style, Qt::DashLine);
    EXPECT_GT(c->trace(1).width, c->trace(0).width);

    ASSERT_EQ(DeleteGraphPlot(main_, T_GRAPH, p1, REFRESH_IMMEDIATE), 0);
    ASSERT_EQ(GetGraphPlotCount(main_, T_GRAPH), 1);
    GetGraphPlot(main_, T_GRAPH, 0, nullptr, nullptr, 0, &color);
    EXPECT_EQ(color, 0xFF0000);
    EXPECT_EQ(DeleteGraphPlot(main_, T_GRAPH, p1, REFRESH_IMMEDIATE), UI_ERR_VALUE);
    PlotXY(main_, T_GRAPH, x, up, 4, PLOT_THIN_LINE, POINT_NONE, LINE_SOLID, 0);
    ASSERT_EQ(DeleteGraphPlot(main_, T_GRAPH, -1, REFRESH_DELAYED), 0);
    EXPECT_EQ(GetGraphPlotCount(main_, T_GRAPH), 0);
    EXPECT_EQ(c->traceCount(), 0);

    ASSERT_EQ(SetAxisScalingMode(main_, T_GRAPH, AXIS_X, AXIS_MANUAL, 1.0, 128.0), 0);
    SetAxisScalingMode(main_, T_GRAPH, AXIS_Y, AXIS_AUTO, 0, 0);
    PlotXY(main_, T_GRAPH, x, curve, 4, PLOT_THIN_LINE, POINT_NONE, LINE_SOLID, 0);
    EXPECT_EQ(c->xRange(), (Range{1.0, 128.0}));
    EXPECT_LE(c->yRange().lo, 0.0);
    EXPECT_GE(c->yRange().hi, 65535.0);

    ASSERT_EQ(SetCtrlAttribute(main_, T_GRAPH, ATTR_LABEL_TEXT, "NORM-A=1024*(A/Amax)"), 0);
    EXPECT_EQ(c->title(), "NORM-A=1024*(A/Amax)");
}

TEST(ChartTicks, RoundStepsAndRangesThatShowTheData)
{
    using qvar::ui::niceRange;
    using qvar::ui::tickStep;
    EXPECT_EQ(tickStep(Range{0, 100}), 10);
    EXPECT_EQ(tickStep(Range{0, 1100}), 200);
    EXPECT_EQ(tickStep(Range{1, 128}), 20);
    EXPECT_EQ(tickStep(Range{0, 1024}), 200);
    EXPECT_DOUBLE_EQ(tickStep(Range{0, 0.3}), 0.05);
    EXPECT_EQ(tickStep(Range{5, 5}), 0);
    EXPECT_EQ(niceRange(3, 65535), (Range{0, 70000}));
    EXPECT_EQ(niceRange(-7, 7), (Range{-8, 8}));
    EXPECT_EQ(niceRange(4, 4), (Range{3, 5}));
    const Range undefined = niceRange(std::nan(""), 1);
    EXPECT_LT(undefined.lo, undefined.hi);
}

// What the widget paints: each trace in its colour where its points map to,
// and a second frame only when something changed.
TEST_F(UiTest, ChartPaintsTracesWhereTheirPointsMap)
{
    DisplayPanel(main_);
    SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, 0.0, 100.0);
    SetTraceAttribute(main_, T_STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000);
    SetTraceAttribute(main_, T_STRIP, 2, ATTR_TRACE_COLOR, 0x0000FF);
    plotFlat(main_, 25, 75);
    ChartView *c = chartOf(W(T_STRIP));
    const QImage img = c->grab().toImage();
    const QPointF red = c->toPixel(QPointF(4.5, 25)), blue = c->toPixel(QPointF(4.5, 75));
    EXPECT_EQ(img.pixelColor(red.toPoint()), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(blue.toPoint()), QColor(0, 0, 255));
    EXPECT_EQ(img.pixelColor(c->toPixel(QPointF(4.5, 55)).toPoint()), QColor(Qt::white));
    const QRectF plot = c->plotArea();
    EXPECT_GT(plot.width(), c->width() * 0.7);
    EXPECT_GT(plot.height(), c->height() * 0.6);

    ASSERT_TRUE(PumpUntil([&] { return c->paints() > 0; }, 2.0));
    for (int i = 0; i < 10; ++i)
        ProcessSystemEvents();
    const int painted = c->paints();
    for (int i = 0; i < 10; ++i) {   // the same colours again, nothing new plotted
        SetTraceAttribute(main_, T_STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000);
        ProcessSystemEvents();
    }
    EXPECT_EQ(c->paints(), painted);
    HidePanel(main_);
}

// The user's tools change the view only: zoom, pan and reset act on the
// shown ranges, the design's stay, and a zoomed live chart keeps its zoom.
TEST_F(UiTest, ChartZoomPanAndResetActOnTheView)
{
    DisplayPanel(main_);
    SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, 0.0, 100.0);
    ChartView *c = chartOf(W(T_STRIP));
    const Range designX = c->xRange(), designY = c->yRange();
    const QRectF plot = c->plotArea();

    // The wheel inside the plot zooms both axes about the cursor's point.
    const QPointF at(plot.left() + plot.width() * 0.25, plot.top() + plot.height() * 0.5);
    const QPointF under = c->toData(at);
    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_WHEEL, 0.25, 0.5, 1), 0);
    EXPECT_NEAR(c->shownX().hi - c->shownX().lo, 0.8 * (designX.hi - designX.lo), 1e-9);
    EXPECT_NEAR(c->shownY().hi - c->shownY().lo, 80.0, 1e-9);
    EXPECT_NEAR(c->toData(at).x(), under.x(), 0.01);
    EXPECT_NEAR(c->toData(at).y(), under.y(), 0.1);
    EXPECT_EQ(c->xRange(), designX);
    // Below the plot, over the x labels, only x zooms (outwards here).
    const Range yBefore = c->shownY();
    ChartUserInput(main_, T_STRIP, CHART_WHEEL, 0.25, 1 + 8 / plot.height(), -1);
    EXPECT_EQ(c->shownY(), yBefore);
    EXPECT_NEAR(c->shownX().hi - c->shownX().lo, designX.hi - designX.lo, 1e-9);
    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_RESET, 0.5, 0.5, 0), 0);   // a double click
    EXPECT_EQ(c->shownX(), designX);
    EXPECT_EQ(c->shownY(), designY);

    // A left drag zooms into its rectangle.
    const QPointF a = c->toPixel(QPointF(2, 80)), b = c->toPixel(QPointF(6, 20));
    drag(c, a, b, Qt::LeftButton);
    EXPECT_NEAR(c->shownX().lo, 2, 0.01);
    EXPECT_NEAR(c->shownX().hi, 6, 0.01);
    EXPECT_NEAR(c->shownY().lo, 20, 0.2);
    EXPECT_NEAR(c->shownY().hi, 80, 0.2);

    // Points arriving keep the zoom.
    const double h[] = {1, 10, 2, 20, 3, 30};
    PlotStripChart(main_, T_STRIP, h, 6, 0, 0);
    trace(main_, T_STRIP, 1);
    EXPECT_NEAR(c->shownX().lo, 2, 0.01);

    // A middle drag, or Ctrl with the left button, pans by what it moved.
    const Range x0 = c->shownX(), y0 = c->shownY();
    const QRectF zoomed = c->plotArea();
    drag(c, zoomed.center(), zoomed.center() + QPointF(zoomed.width() / 4, 0), Qt::MiddleButton);
    EXPECT_NEAR(c->shownX().lo, x0.lo - (x0.hi - x0.lo) / 4, 1e-6);
    EXPECT_NEAR(c->shownY().lo, y0.lo, 1e-6);
    drag(c, zoomed.center(), zoomed.center() + QPointF(0, zoomed.height() / 2), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_NEAR(c->shownY().lo, y0.lo + (y0.hi - y0.lo) / 2, 1e-6);
    EXPECT_NEAR(c->shownX().hi - c->shownX().lo, x0.hi - x0.lo, 1e-6);   // a pan, not a zoom

    // A click without a drag changes nothing; a double click returns.
    const Range before = c->shownX();
    drag(c, zoomed.center(), zoomed.center() + QPointF(1, 1), Qt::LeftButton);
    EXPECT_EQ(c->shownX(), before);
    mouse(c, QEvent::MouseButtonDblClick, zoomed.center(), Qt::LeftButton);
    EXPECT_EQ(c->shownX(), designX);

    // The cursor over the plot draws the crosshair until it leaves; graphs
    // take a hand too, other controls and unknown acts do not.
    const int painted = c->paints();
    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_HOVER, 0.5, 0.5, 0), 0);
    EXPECT_TRUE(c->hovering());
    EXPECT_TRUE(PumpUntil([&] { return c->paints() > painted; }, 2.0));
    ChartUserInput(main_, T_STRIP, CHART_LEAVE, 0, 0, 0);
    EXPECT_FALSE(c->hovering());
    EXPECT_EQ(ChartUserInput(main_, T_GRAPH, CHART_PAUSE, 0, 0, 0), 0);
    EXPECT_EQ(ChartUserInput(main_, T_BTN, CHART_HOVER, 0.5, 0.5, 0), UI_ERR_ATTRIBUTE);
    EXPECT_EQ(ChartUserInput(main_, T_STRIP, 99, 0.5, 0.5, 0), UI_ERR_VALUE);
    HidePanel(main_);
}

// Pausing freezes the picture only: the history keeps moving underneath and
// is shown again on resume.
TEST_F(UiTest, PausedChartKeepsItsPictureWhileTheHistoryMovesOn)
{
    DisplayPanel(main_);
    SetAxisScalingMode(main_, T_STRIP, AXIS_Y, AXIS_MANUAL, 0.0, 100.0);
    SetTraceAttribute(main_, T_STRIP, 1, ATTR_TRACE_COLOR, 0xFF0000);
    ChartView *c = chartOf(W(T_STRIP));
    auto redAt = [&](double y) {
        const QImage img = c->grab().toImage();
        return img.pixelColor(c->toPixel(QPointF(4.5, y)).toPoint()) == QColor(255, 0, 0);
    };
    plotFlat(main_, 25, 75);
    ASSERT_TRUE(redAt(25));

    QTest::mouseClick(c->pauseToggle(), Qt::LeftButton);
    ASSERT_TRUE(c->paused());
    EXPECT_EQ(c->pauseToggle()->text(), "Resume");
    plotFlat(main_, 65, 75);
    EXPECT_EQ(trace(main_, T_STRIP, 1).back(), 65);   // the history moved on
    EXPECT_TRUE(redAt(25));
    EXPECT_FALSE(redAt(65));
    // The crosshair reads the values of what is shown, each trace's own.
    const auto shown = c->readingAt(c->toPixel(QPointF(4.2, 0)));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].index, 4);
    EXPECT_EQ(shown[0].y, 25);
    EXPECT_EQ(shown[1].y, 75);

    // Space, with the chart focused, resumes: the present is back.
    c->setFocus();
    QTest::keyClick(c, Qt::Key_Space);
    EXPECT_FALSE(c->paused());
    EXPECT_EQ(c->pauseToggle()->text(), "Pause");
    EXPECT_TRUE(redAt(65));
    EXPECT_FALSE(redAt(25));
    HidePanel(main_);
}

TEST_F(UiTest, LedLightsWithItsValue)
{
    DisplayPanel(main_);
    auto centre = [this] {
        const QImage img = W(T_LED)->grab().toImage();
        return img.pixelColor(img.width() / 2, img.height() / 2);
    };
    SetCtrlVal(main_, T_LED, 1);
    EXPECT_EQ(val(main_, T_LED), 1);
    const QColor on = centre();
    SetCtrlVal(main_, T_LED, 0);
    EXPECT_EQ(val(main_, T_LED), 0);
    const QColor off = centre();
    EXPECT_GT(on.green(), 150);
    EXPECT_LT(off.green(), on.green() / 2);
    HidePanel(main_);
}

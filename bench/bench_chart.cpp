// bench_chart.cpp - what one strip-chart frame costs: the program's chart
// widget with the NORM chart's six 100-point traces (value, band, reference,
// maximum and minimum, and its legend) against the floor program's bare
// QPainter chart of the same size, frame by frame in alternating blocks, at
// the chart's size and at twice its width and height. Then a paused chart
// holding the deepest history (six traces of 10,000 points) panned step by
// step, as the user scrolls back through it: a step must redraw within a
// display frame.
#include "bench/support/figures.h"
#include "bench/support/floor.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/ui.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

using namespace qvar_bench;
using qvar::ui::ChartView;
using qvar::ui::Range;

namespace {

constexpr int kWidth = 665, kHeight = 420;    // the NORM chart on the main panel
constexpr int kFrames = 150;                  // per block
constexpr int kBlocks = 7;

// Process CPU per frame, in milliseconds, of `frame` run kFrames times.
double Block(const std::function<void(int)> &frame)
{
    QApplication::processEvents();
    const double c0 = ProcessCpuSeconds();
    for (int i = 0; i < kFrames; ++i)
        frame(i);
    return 1000.0 * (ProcessCpuSeconds() - c0) / kFrames;
}

void FillNorm(ChartView &c, int phase)
{
    const double band[] = {612, 412, 512, 971, 111};
    for (int t = 0; t < 6; ++t) {
        auto &pts = c.trace(t).points;
        pts.resize(100);
        for (int i = 0; i < 100; ++i) {
            const double v = t < 5 ? band[t] : 120 + 750 * (std::sin((i + phase) * 0.15) > 0.3);
            pts[size_t(i)] = QPointF(i + 1, v + (t == 5 ? (i * 7 + phase) % 9 : 0));
        }
    }
}

std::unique_ptr<ChartView> NewToolChart(int w, int h)
{
    auto c = std::make_unique<ChartView>(nullptr);
    c->resize(w, h);
    c->setTitle(QStringLiteral("NORM-A"));
    c->setXRange(Range{0, 100});
    c->setYRange(Range{0, 1100});
    c->setTraceCount(6);
    // As the scope draws them: named in the legend, the reference, maximum
    // and minimum in line styles of their own.
    const QColor colours[] = {QColor(0, 128, 0), QColor(0, 128, 0), Qt::black, QColor(255, 0, 0),
                              QColor(255, 0, 0), QColor(255, 0, 0)};
    const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::SolidLine, Qt::DashDotLine, Qt::DashLine, Qt::DotLine,
                                   Qt::SolidLine};
    const char *const names[] = {"upper threshold", "lower threshold", "reference", "maximum", "minimum", "value"};
    for (int t = 0; t < 6; ++t) {
        c->trace(t).color = colours[t];
        c->trace(t).style = styles[t];
        c->trace(t).name = QString::fromLatin1(names[t]);
    }
    c->tracesChanged();
    FillNorm(*c, 0);
    if (!ShowExposed(c.get()))
        Fail("the tool's chart was never exposed");
    c->repaint();
    return c;
}

// Median per-frame cost of the tool's chart and of the floor's, measured in
// alternating blocks so that both see the same load.
void Compare(const char *what, int w, int h, int floorW, int floorH, double bound)
{
    std::unique_ptr<ChartView> tool = NewToolChart(w, h);
    std::unique_ptr<QWidget> floor(NewFloorChart(floorW, floorH, 6, 100));
    if (!ShowExposed(floor.get()))
        Fail("the floor's chart was never exposed");
    floor->repaint();
    std::vector<double> toolMs, floorMs;
    for (int b = 0; b < kBlocks; ++b) {
        toolMs.push_back(Block([&](int i) {
            FillNorm(*tool, i);
            tool->repaint(tool->plotArea().toAlignedRect().adjusted(-3, -3, 3, 3));
        }));
        floorMs.push_back(Block([&](int) {
            AdvanceFloorChart(floor.get());
            floor->repaint();
        }));
    }
    std::sort(toolMs.begin(), toolMs.end());
    std::sort(floorMs.begin(), floorMs.end());
    const double t = toolMs[toolMs.size() / 2], f = floorMs[floorMs.size() / 2];
    std::printf(" %s:\n", what);
    Info("tool: CPU per frame", t, "ms");
    Info("floor: CPU per frame", f, "ms");
    Figure("tool / floor", t / f, "x", Bound::AtMost, bound);
}

// The chart tools' share of a frame: zoomed in with the crosshair and its
// readout shown, against the plain chart, in alternating blocks.
void ZoomedWithCrosshair()
{
    std::unique_ptr<ChartView> c = NewToolChart(kWidth, kHeight);
    const QPointF at = c->plotArea().center() + QPointF(37.3, -21.6);
    std::vector<double> plain, tools;
    for (int b = 0; b < kBlocks; ++b) {
        for (bool zoomed : {false, true}) {
            if (zoomed) {
                c->setView(Range{30, 80}, Range{50, 1000});
                QMouseEvent move(QEvent::MouseMove, at, c->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                                 Qt::NoModifier);
                QApplication::sendEvent(c.get(), &move);
            } else {
                QEvent leave(QEvent::Leave);
                QApplication::sendEvent(c.get(), &leave);
                c->resetView();
            }
            (zoomed ? tools : plain).push_back(Block([&](int i) {
                FillNorm(*c, i);
                c->repaint(c->plotArea().toAlignedRect().adjusted(-3, -3, 3, 3));
            }));
        }
    }
    if (!c->hovering())
        Fail("the crosshair was not shown");
    std::sort(plain.begin(), plain.end());
    std::sort(tools.begin(), tools.end());
    std::printf(" zoomed with the crosshair shown, against the plain chart:\n");
    Info("plain: CPU per frame", plain[plain.size() / 2], "ms");
    Info("zoomed, crosshair: CPU per frame", tools[tools.size() / 2], "ms");
    Info("zoomed, crosshair / plain", tools[tools.size() / 2] / plain[plain.size() / 2], "x");
}

void PannedDeepHistory()
{
    constexpr int kDepth = 10000;
    std::unique_ptr<ChartView> c = NewToolChart(kWidth, kHeight);
    for (int t = 0; t < 6; ++t) {
        auto &pts = c->trace(t).points;
        pts.resize(kDepth);
        for (int i = 0; i < kDepth; ++i)   // newest at x 100, as a live chart has it
            pts[size_t(i)] = QPointF(101 - kDepth + i, 120 + 750 * (std::sin(i * 0.15) > 0.3) + t * 20);
    }
    c->setPaused(true);
    std::vector<double> ms;
    for (int b = 0; b < kBlocks; ++b)
        ms.push_back(Block([&](int i) {
            const double at = -double((b * kFrames + i) * 9 % (kDepth - 100));
            c->setView(Range{at, at + 100}, std::nullopt);
            c->repaint();
        }));
    std::sort(ms.begin(), ms.end());
    std::printf(" paused, 6 x %d points, one pan step per frame:\n", kDepth);
    Figure("CPU per pan step", ms[ms.size() / 2], "ms", Bound::AtMost, 16.0);
}

} // namespace

int main(int argc, char **argv)
{
    std::printf("bench_chart: one strip-chart frame, the program's widget against the floor's\n");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!InitUserInterface(argc, argv)) {
        Fail("no user interface");
        return Verdict("bench_chart");
    }
    std::printf(" platform: %s\n", qPrintable(QGuiApplication::platformName()));
    Compare("the chart's size, 665 x 420", kWidth, kHeight, kWidth, kHeight, 1.3);
    Compare("twice as wide and high, against the floor at the chart's size", 2 * kWidth, 2 * kHeight, kWidth,
            kHeight, 2.5);
    ZoomedWithCrosshair();
    PannedDeepHistory();
    return Verdict("bench_chart");
}

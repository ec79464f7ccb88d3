// ui_charts.cpp - strip charts and graphs on Qt Charts.
//
// The scope hands a strip chart its whole 100-point history up to thousands
// of times a second; redrawing a QChart costs milliseconds. So plotting only
// copies the numbers and marks the chart dirty, and the repaint timer of
// ui_loop.cpp pushes the newest copy into the series at the display's rate.
// Whoever reads a chart back gets what is on screen: reads push first.
#include "platform/ui/ui_internal.h"

#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qvar::ui {
namespace {

QColor rgb(int v) { return QColor((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); }
int rgbOf(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

const QColor kDefaultTrace[] = {
    QColor(0, 0, 255), QColor(0, 160, 0), QColor(0, 0, 0),
    QColor(200, 0, 0), QColor(200, 0, 200), QColor(64, 64, 64),
};

// Ticks on round numbers (1, 2, 5 times a power of ten), at most ten steps,
// anchored at zero, so 0..1100 reads 0, 200, ... and 1..128 reads 20, 40, ...
void setRange(QValueAxis *a, double lo, double hi)
{
    a->setRange(lo, hi);
    const double span = hi - lo;
    if (!(span > 0))
        return;
    double step = std::pow(10.0, std::floor(std::log10(span / 10)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (span / (step * m) <= 10) {
            step *= m;
            break;
        }
    a->setTickType(QValueAxis::TicksDynamic);
    a->setTickAnchor(0);
    a->setTickInterval(step);
}

QChartView *makeView(Ctrl &c, QChart *chart, const QString &title)
{
    chart->legend()->hide();
    chart->setTitle(title);
    chart->setMargins(QMargins(4, 4, 8, 4));
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    auto *view = new QChartView(chart, c.w);
    view->setRenderHint(QPainter::Antialiasing, false);
    view->setFrameShape(QFrame::StyledPanel);
    view->setGeometry(0, 0, c.w->width(), c.w->height());
    c.inner = view;
    return view;
}

QValueAxis *makeAxis(QChart *chart, Qt::Alignment where, double min, double max)
{
    auto *a = new QValueAxis;
    setRange(a, min, max);
    a->setLabelFormat(QStringLiteral("%g"));
    QFont f = a->labelsFont();
    f.setPointSize(8);
    a->setLabelsFont(f);
    chart->addAxis(a, where);
    return a;
}

double prop(const uir::Control &d, const char *name, double fallback)
{
    bool ok = false;
    const double v = d.props.value(QString::fromLatin1(name)).toDouble(&ok);
    return ok ? v : fallback;
}

void rebuildSeries(StripChart &s)
{
    for (QLineSeries *ls : s.series) {
        s.chart->removeSeries(ls);
        delete ls;
    }
    s.series.clear();
    s.colors.resize(size_t(s.traces));
    for (int t = 0; t < s.traces; ++t) {
        auto *ls = new QLineSeries;
        if (s.colors[t] == QColor())
            s.colors[t] = kDefaultTrace[t % std::size(kDefaultTrace)];
        ls->setPen(QPen(s.colors[t], 1));
        s.chart->addSeries(ls);
        ls->attachAxis(s.ax);
        ls->attachAxis(s.ay);
        s.series.push_back(ls);
    }
}

void setXRange(StripChart &s)
{
    setRange(s.ax, 0, std::max(1, s.pointsPerScreen - 1));
}

// Points per trace that fit on screen, and where the oldest shown one is.
void visibleSpan(const StripChart &s, int *first, int *count)
{
    const int n = s.traces > 0 ? int(s.data.size()) / s.traces : 0;
    *count = std::min(n, s.pointsPerScreen);
    *first = n - *count;
}

void autoRange(QValueAxis *a, double lo, double hi)
{
    if (!(lo <= hi))
        lo = 0, hi = 1;
    if (lo == hi)
        lo -= 1, hi += 1;
    a->setRange(lo, hi);
    a->applyNiceNumbers();
    setRange(a, a->min(), a->max());
}

void applyGraphAxes(Graph &g)
{
    double xlo = std::numeric_limits<double>::infinity(), xhi = -xlo, ylo = xlo, yhi = -xlo;
    for (const GraphPlot &p : g.plots) {
        for (double v : p.x) xlo = std::min(xlo, v), xhi = std::max(xhi, v);
        for (double v : p.y) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
    }
    if (g.xAxis.mode == AXIS_AUTO)
        autoRange(g.ax, xlo, xhi);
    else
        setRange(g.ax, g.xAxis.min, g.xAxis.max);
    if (g.yAxis.mode == AXIS_AUTO)
        autoRange(g.ay, ylo, yhi);
    else
        setRange(g.ay, g.yAxis.min, g.yAxis.max);
}

} // namespace

void setupStripChart(Ctrl &c, const uir::Control &d)
{
    c.strip = std::make_unique<StripChart>();
    StripChart &s = *c.strip;
    s.chart = new QChart;
    s.view = makeView(c, s.chart, d.props.value(QStringLiteral("title")).toString());
    s.traces = std::max(1, int(prop(d, "traces", 1)));
    s.pointsPerScreen = std::max(2, int(prop(d, "pointsPerScreen", 100)));
    s.yAxis = Axis{AXIS_MANUAL, prop(d, "yMin", 0), prop(d, "yMax", 100)};
    s.ax = makeAxis(s.chart, Qt::AlignBottom, 0, 1);
    s.ay = makeAxis(s.chart, Qt::AlignLeft, s.yAxis.min, s.yAxis.max);
    setXRange(s);
    rebuildSeries(s);
}

void setupGraph(Ctrl &c, const uir::Control &d)
{
    c.graph = std::make_unique<Graph>();
    Graph &g = *c.graph;
    g.chart = new QChart;
    g.view = makeView(c, g.chart, d.props.value(QStringLiteral("title")).toString());
    g.xAxis = Axis{AXIS_MANUAL, prop(d, "xMin", 0), prop(d, "xMax", 100)};
    g.yAxis = Axis{AXIS_MANUAL, prop(d, "yMin", 0), prop(d, "yMax", 100)};
    g.ax = makeAxis(g.chart, Qt::AlignBottom, g.xAxis.min, g.xAxis.max);
    g.ay = makeAxis(g.chart, Qt::AlignLeft, g.yAxis.min, g.yAxis.max);
}

void pushStripChart(Ctrl &c)
{
    StripChart &s = *c.strip;
    int first = 0, count = 0;
    visibleSpan(s, &first, &count);
    // Newest point at the right edge of the axis.
    const int x0 = s.pointsPerScreen - count;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int t = 0; t < s.traces && t < int(s.series.size()); ++t) {
        s.points.resize(count);
        QPointF *pt = s.points.data();
        for (int i = 0; i < count; ++i) {
            const double y = s.data[size_t(first + i) * size_t(s.traces) + size_t(t)];
            pt[i] = QPointF(x0 + i, y);
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
        s.series[size_t(t)]->replace(s.points);
    }
    if (s.yAxis.mode == AXIS_AUTO)
        autoRange(s.ay, lo, hi);
    ++c.redraws;
    c.dirty = false;
}

int chartAttribute(Ctrl &c, int attribute, int value, bool set, int *out)
{
    if (!c.strip)
        return UI_ERR_ATTRIBUTE;
    StripChart &s = *c.strip;
    if (!set) {
        const int v = attribute == ATTR_NUM_TRACES         ? s.traces
                      : attribute == ATTR_POINTS_PER_SCREEN ? s.pointsPerScreen
                                                            : s.scrollMode;
        if (out)
            *out = v;
        return 0;
    }
    switch (attribute) {
    case ATTR_NUM_TRACES:
        if (value < 1 || value > 64)
            return UI_ERR_VALUE;
        if (value != s.traces) {
            s.traces = value;
            s.data.clear();
            rebuildSeries(s);
        }
        return 0;
    case ATTR_POINTS_PER_SCREEN:
        if (value < 2)
            return UI_ERR_VALUE;
        if (value != s.pointsPerScreen) {
            s.pointsPerScreen = value;
            setXRange(s);
            c.dirty = true;
        }
        return 0;
    case ATTR_SCROLL_MODE:
        if (value != SCROLL_CONTINUOUS)
            return UI_ERR_VALUE;
        s.scrollMode = value;
        return 0;
    default:
        return UI_ERR_ATTRIBUTE;
    }
}

int chartLabel(Ctrl &c, const QString &text)
{
    if (c.graph)
        c.graph->chart->setTitle(text);
    else if (c.strip)
        c.strip->chart->setTitle(text);
    else
        return UI_ERR_ATTRIBUTE;
    return 0;
}

} // namespace qvar::ui

using namespace qvar::ui;

namespace {

Ctrl *stripOf(int panel, int control, int *err)
{
    Ctrl *c = findCtrl(panel, control, err);
    if (c && !c->strip) {
        *err = UI_ERR_CONTROL;
        return nullptr;
    }
    return c;
}

Ctrl *graphOf(int panel, int control, int *err)
{
    Ctrl *c = findCtrl(panel, control, err);
    if (c && !c->graph) {
        *err = UI_ERR_CONTROL;
        return nullptr;
    }
    return c;
}

} // namespace

int PlotStripChart(int panel, int control, const double *values, int count, int start, int skip)
{
    int err = 0;
    Ctrl *c = stripOf(panel, control, &err);
    if (!c)
        return err;
    if (!values || count < 0 || start < 0 || skip < 0)
        return UI_ERR_VALUE;
    StripChart &s = *c->strip;
    // Whole points only; a trailing partial point would shift the traces.
    const int usable = count - count % s.traces;
    s.data.resize(size_t(usable));
    if (skip == 0) {
        std::memcpy(s.data.data(), values + start, size_t(usable) * sizeof(double));
    } else {
        for (int i = 0; i < usable; ++i)
            s.data[size_t(i)] = values[start + size_t(i) * size_t(skip + 1)];
    }
    noteActivity();
    markDirty(panel, *c);
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value)
{
    int err = 0;
    Ctrl *c = stripOf(panel, control, &err);
    if (!c)
        return err;
    if (attribute != ATTR_TRACE_COLOR)
        return UI_ERR_ATTRIBUTE;
    StripChart &s = *c->strip;
    if (trace < 1 || trace > s.traces)
        return UI_ERR_VALUE;
    const QColor col = rgb(value);
    if (s.colors[size_t(trace - 1)] != col) {   // called on every drawing; pens are not free
        s.colors[size_t(trace - 1)] = col;
        s.series[size_t(trace - 1)]->setPen(QPen(col, 1));
    }
    return 0;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    if (!c->strip && !c->graph)
        return UI_ERR_CONTROL;
    if (axis != AXIS_X && axis != AXIS_Y)
        return UI_ERR_VALUE;
    if (mode != AXIS_MANUAL && mode != AXIS_AUTO)
        return UI_ERR_VALUE;
    if (mode == AXIS_MANUAL && !(min < max))
        return UI_ERR_VALUE;
    noteActivity();
    if (c->strip) {
        // A strip chart's X axis is its point count (ATTR_POINTS_PER_SCREEN).
        if (axis == AXIS_X)
            return UI_ERR_ATTRIBUTE;
        StripChart &s = *c->strip;
        s.yAxis = Axis{mode, min, max};
        if (mode == AXIS_MANUAL)
            setRange(s.ay, min, max);
        else
            markDirty(panel, *c);
        return 0;
    }
    Graph &g = *c->graph;
    (axis == AXIS_X ? g.xAxis : g.yAxis) = Axis{mode, min, max};
    applyGraphAxes(g);
    return 0;
}

int PlotXY(int panel, int control, const unsigned short *x, const unsigned short *y, int count,
           int plotStyle, int pointStyle, int lineStyle, int color)
{
    int err = 0;
    Ctrl *c = graphOf(panel, control, &err);
    if (!c)
        return err;
    if (!x || !y || count < 0)
        return UI_ERR_VALUE;
    Graph &g = *c->graph;
    GraphPlot p;
    p.handle = g.nextPlot++;
    p.color = color & 0xFFFFFF;
    p.x.assign(x, x + count);
    p.y.assign(y, y + count);
    QList<QPointF> pts;
    pts.reserve(count);
    for (int i = 0; i < count; ++i)
        pts.append(QPointF(x[i], y[i]));

    QPen pen(rgb(color), plotStyle == PLOT_THICK_LINE ? 2.5 : 1.0);
    pen.setStyle(lineStyle == LINE_DASH ? Qt::DashLine : lineStyle == LINE_DOT ? Qt::DotLine : Qt::SolidLine);
    p.series = new QLineSeries;
    p.series->setPen(pen);
    if (pointStyle == POINT_DOT) {
        p.series->setPointsVisible(true);
        p.series->setMarkerSize(3);
    }
    p.series->replace(pts);
    g.chart->addSeries(p.series);
    p.series->attachAxis(g.ax);
    p.series->attachAxis(g.ay);
    g.plots.push_back(std::move(p));
    applyGraphAxes(g);
    ++c->redraws;
    noteActivity();
    return g.plots.back().handle;
}

int DeleteGraphPlot(int panel, int control, int plot, int /*refresh*/)
{
    int err = 0;
    Ctrl *c = graphOf(panel, control, &err);
    if (!c)
        return err;
    Graph &g = *c->graph;
    bool found = false;
    for (auto it = g.plots.begin(); it != g.plots.end();) {
        if (plot == -1 || it->handle == plot) {
            g.chart->removeSeries(it->series);
            delete it->series;
            it = g.plots.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    if (!found && plot != -1)
        return UI_ERR_VALUE;
    ++c->redraws;
    noteActivity();
    return 0;
}

int GetStripChartTrace(int panel, int control, int trace, double *y, int max)
{
    int err = 0;
    Ctrl *c = stripOf(panel, control, &err);
    if (!c)
        return err;
    if (c->dirty)
        pushStripChart(*c);
    StripChart &s = *c->strip;
    if (trace < 1 || trace > s.traces)
        return UI_ERR_VALUE;
    // Read back from the series itself: that is what is drawn.
    const QList<QPointF> pts = s.series[size_t(trace - 1)]->points();
    const int n = std::min<int>(int(pts.size()), std::max(0, max));
    for (int i = 0; y && i < n; ++i)
        y[i] = pts[i].y();
    return n;
}

int GetGraphPlotCount(int panel, int control)
{
    int err = 0;
    Ctrl *c = graphOf(panel, control, &err);
    return c ? int(c->graph->plots.size()) : err;
}

int GetGraphPlot(int panel, int control, int index, double *x, double *y, int max, int *color)
{
    int err = 0;
    Ctrl *c = graphOf(panel, control, &err);
    if (!c)
        return err;
    Graph &g = *c->graph;
    if (index < 0 || index >= int(g.plots.size()))
        return UI_ERR_VALUE;
    const GraphPlot &p = g.plots[size_t(index)];
    const QList<QPointF> pts = p.series->points();
    const int n = std::min<int>(int(pts.size()), std::max(0, max));
    for (int i = 0; i < n; ++i) {
        if (x) x[i] = pts[i].x();
        if (y) y[i] = pts[i].y();
    }
    if (color)
        *color = rgbOf(p.series->pen().color());
    return n;
}

int GetChartRedrawCount(int panel, int control)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    if (!c->strip && !c->graph)
        return UI_ERR_CONTROL;
    return c->redraws;
}

// ui_charts.cpp - strip charts and graphs: the integer-handle operations over
// the chart widget of chart_view.cpp.
//
// The scope hands a strip chart its whole 100-point history up to thousands
// of times a second. So plotting only copies the numbers and marks the chart
// dirty, and the repaint timer of ui_loop.cpp pushes the newest copy into the
// widget at the display's rate. Whoever reads a chart back gets what is on
// screen: reads push first.
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace qvar::ui {
namespace {

const QColor kDefaultTrace[] = {
    QColor(0, 0, 255), QColor(0, 160, 0), QColor(0, 0, 0),
    QColor(200, 0, 0), QColor(200, 0, 200), QColor(64, 64, 64),
};

ChartView *makeView(Ctrl &c, const QString &title)
{
    auto *view = new ChartView(c.w);
    view->setTitle(title);
    view->setGeometry(0, 0, c.w->width(), c.w->height());
    c.inner = view;
    // Tab reaches the Pause toggle where the chart stands in the panel, not
    // after every control the file has.
    placeTabStops({view->pauseToggle()}, c.w);
    pressOnReturn(view->pauseToggle());
    adoptAccess(view);
    return view;
}

double prop(const uir::Control &d, const char *name, double fallback)
{
    bool ok = false;
    const double v = d.props.value(QString::fromLatin1(name)).toDouble(&ok);
    return ok ? v : fallback;
}

void setTraceCount(StripChart &s)
{
    const int had = s.view->traceCount();
    s.view->setTraceCount(s.traces);
    for (int t = had; t < s.traces; ++t)
        s.view->trace(t).color = kDefaultTrace[t % std::size(kDefaultTrace)];
}

void setXRange(StripChart &s)
{
    s.view->setXRange(Range{0, double(std::max(1, s.pointsPerScreen - 1))});
}

// Points per trace that fit on screen and were measured, and where the
// oldest shown one is.
void visibleSpan(const StripChart &s, int *first, int *count)
{
    const int n = s.traces > 0 ? int(s.data.size()) / s.traces : 0;
    *count = std::min(n, s.pointsPerScreen);
    *first = n - *count;
}

Qt::PenStyle penStyle(int lineStyle)
{
    switch (lineStyle) {
    case LINE_DASH: return Qt::DashLine;
    case LINE_DOT: return Qt::DotLine;
    case LINE_DASH_DOT: return Qt::DashDotLine;
    default: return Qt::SolidLine;
    }
}

void applyGraphAxes(Graph &g)
{
    double xlo = std::numeric_limits<double>::infinity(), xhi = -xlo, ylo = xlo, yhi = -xlo;
    for (const GraphPlot &p : g.plots) {
        for (double v : p.x) xlo = std::min(xlo, v), xhi = std::max(xhi, v);
        for (double v : p.y) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
    }
    g.view->setXRange(g.xAxis.mode == AXIS_AUTO ? niceRange(xlo, xhi) : Range{g.xAxis.min, g.xAxis.max});
    g.view->setYRange(g.yAxis.mode == AXIS_AUTO ? niceRange(ylo, yhi) : Range{g.yAxis.min, g.yAxis.max});
}

} // namespace

void setupStripChart(Ctrl &c, const uir::Control &d)
{
    c.strip = std::make_unique<StripChart>();
    StripChart &s = *c.strip;
    s.view = makeView(c, d.props.value(QStringLiteral("title")).toString());
    s.traces = std::max(1, int(prop(d, "traces", 1)));
    s.pointsPerScreen = std::max(2, int(prop(d, "pointsPerScreen", 100)));
    s.yAxis = Axis{AXIS_MANUAL, prop(d, "yMin", 0), prop(d, "yMax", 100)};
    s.view->setYRange(Range{s.yAxis.min, s.yAxis.max});
    setXRange(s);
    setTraceCount(s);
    installChartTools(c);
}

void setupGraph(Ctrl &c, const uir::Control &d)
{
    c.graph = std::make_unique<Graph>();
    Graph &g = *c.graph;
    g.view = makeView(c, d.props.value(QStringLiteral("title")).toString());
    g.xAxis = Axis{AXIS_MANUAL, prop(d, "xMin", 0), prop(d, "xMax", 100)};
    g.yAxis = Axis{AXIS_MANUAL, prop(d, "yMin", 0), prop(d, "yMax", 100)};
    applyGraphAxes(g);
    installChartTools(c);
}

void pushStripChart(Ctrl &c)
{
    StripChart &s = *c.strip;
    int first = 0, count = 0;
    visibleSpan(s, &first, &count);
    // Newest point at the right edge of the axis.
    const int x0 = s.pointsPerScreen - count;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int t = 0; t < s.traces && t < s.view->traceCount(); ++t) {
        std::vector<QPointF> &pts = s.view->trace(t).points;
        pts.resize(size_t(count));
        for (int i = 0; i < count; ++i) {
            const double y = s.data[size_t(first + i) * size_t(s.traces) + size_t(t)];
            pts[size_t(i)] = QPointF(x0 + i, y);
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
    }
    if (s.yAxis.mode == AXIS_AUTO)
        s.view->setYRange(niceRange(lo, hi));
    s.view->tracesChanged();
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
            clearKept(s);
            setTraceCount(s);
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
    ChartView *view = c.graph ? c.graph->view : c.strip ? c.strip->view : nullptr;
    if (!view)
        return UI_ERR_ATTRIBUTE;
    if (text != view->title()) {
        view->setTitle(text);
        noteRenamed(c.w);
        noteRenamed(view);
    }
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
    if (usable == 0) {
        // Fewer values than traces: an empty history, and nothing to copy
        // (an empty vector's storage may be no pointer at all).
    } else if (skip == 0) {
        std::memcpy(s.data.data(), values + start, size_t(usable) * sizeof(double));
    } else {
        for (int i = 0; i < usable; ++i)
            s.data[size_t(i)] = values[start + size_t(i) * size_t(skip + 1)];
    }
    keepNewest(s);
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
    if (attribute != ATTR_TRACE_COLOR && attribute != ATTR_TRACE_LINE_STYLE)
        return UI_ERR_ATTRIBUTE;
    StripChart &s = *c->strip;
    if (trace < 1 || trace > s.traces)
        return UI_ERR_VALUE;
    Trace &t = s.view->trace(trace - 1);
    // Called on every drawing: repaint only on a change.
    if (attribute == ATTR_TRACE_COLOR) {
        const QColor col = rgbColor(value);
        if (t.color != col) {
            t.color = col;
            s.view->tracesChanged();
        }
    } else {
        if (value < LINE_SOLID || value > LINE_DASH_DOT)
            return UI_ERR_VALUE;
        if (t.style != penStyle(value)) {
            t.style = penStyle(value);
            s.view->tracesChanged();
        }
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
            s.view->setYRange(Range{min, max});
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
    Trace t;
    t.color = rgbColor(color);
    t.width = plotStyle == PLOT_THICK_LINE ? 2.5 : 1.0;
    t.style = penStyle(lineStyle);
    t.dots = pointStyle == POINT_DOT;
    t.points.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        t.points.emplace_back(x[i], y[i]);
    g.plots.push_back(std::move(p));
    g.view->addTrace(std::move(t));
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
    for (size_t i = g.plots.size(); i-- > 0;) {
        if (plot == -1 || g.plots[i].handle == plot) {
            g.plots.erase(g.plots.begin() + long(i));
            g.view->removeTrace(int(i));
            found = true;
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
    // Read back from the widget's trace itself: that is what is drawn.
    const std::vector<QPointF> &pts = s.view->trace(trace - 1).points;
    const int n = std::min<int>(int(pts.size()), std::max(0, max));
    for (int i = 0; y && i < n; ++i)
        y[i] = pts[size_t(i)].y();
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
    const Trace &t = g.view->trace(index);
    const int n = std::min<int>(int(t.points.size()), std::max(0, max));
    for (int i = 0; i < n; ++i) {
        if (x) x[i] = t.points[size_t(i)].x();
        if (y) y[i] = t.points[size_t(i)].y();
    }
    if (color)
        *color = rgbValue(t.color);
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

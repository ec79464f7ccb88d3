// chart_history.cpp - a strip chart's own history, deeper than the program's.
//
// The program hands a strip chart its whole 100-point history on every plot,
// newest point last; the chart keeps those newest points in a ring of its
// depth, so a paused chart can be scrolled back and exported further than the
// program remembers. The first plot after a (re)start seeds the ring with the
// measured part of the history handed over. Memory is depth x traces doubles,
// allocated once per depth.
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>
#include <cstring>

namespace qvar::ui {
namespace {

const int kDepths[] = {100, 1000, 10000};

double *slot(StripChart &s, size_t i)
{
    return &s.kept[((s.keptFirst + i) % size_t(s.depth)) * size_t(s.traces)];
}

void keep(StripChart &s, const double *point)
{
    const size_t bytes = size_t(s.traces) * sizeof(double);
    if (s.keptCount < size_t(s.depth)) {
        std::memcpy(slot(s, s.keptCount++), point, bytes);
    } else {
        std::memcpy(slot(s, 0), point, bytes);   // over the oldest
        s.keptFirst = (s.keptFirst + 1) % size_t(s.depth);
    }
}

} // namespace

const double *keptPoint(const StripChart &s, size_t i)
{
    return &s.kept[((s.keptFirst + i) % size_t(s.depth)) * size_t(s.traces)];
}

void clearKept(StripChart &s)
{
    s.kept.clear();
    s.kept.shrink_to_fit();
    s.keptFirst = s.keptCount = 0;
}

void keepNewest(StripChart &s)
{
    const size_t points = s.data.size() / size_t(s.traces);
    if (points == 0)
        return;
    if (s.kept.size() != size_t(s.depth) * size_t(s.traces)) {
        s.kept.assign(size_t(s.depth) * size_t(s.traces), 0.0);
        s.keptFirst = s.keptCount = 0;
    }
    // The first plot seeds the ring, later ones add their newest point.
    size_t fresh = s.keptCount == 0 ? std::min(points, size_t(s.depth)) : 1;
    for (size_t p = points - fresh; p < points; ++p)
        keep(s, &s.data[p * size_t(s.traces)]);
}

// Keeps the newest points that fit the new depth.
int setDepth(StripChart &s, int depth)
{
    if (std::find(std::begin(kDepths), std::end(kDepths), depth) == std::end(kDepths))
        return UI_ERR_VALUE;
    if (depth == s.depth)
        return 0;
    const size_t keep = std::min(s.keptCount, size_t(depth));
    std::vector<double> newest;
    newest.reserve(keep * size_t(s.traces));
    for (size_t i = s.keptCount - keep; i < s.keptCount; ++i)
        newest.insert(newest.end(), keptPoint(s, i), keptPoint(s, i) + s.traces);
    s.depth = depth;
    s.kept.assign(size_t(depth) * size_t(s.traces), 0.0);
    std::copy(newest.begin(), newest.end(), s.kept.begin());
    s.keptFirst = 0;
    s.keptCount = keep;
    return 0;
}

// Every kept point into the view's traces, newest at the axis's right end
// as on the live chart, older ones to the left of the design's range.
void showKept(StripChart &s)
{
    const int n = int(s.keptCount);
    const int x0 = s.pointsPerScreen - n;
    for (int t = 0; t < s.traces && t < s.view->traceCount(); ++t) {
        std::vector<QPointF> &pts = s.view->trace(t).points;
        pts.resize(size_t(n));
        for (int i = 0; i < n; ++i)
            pts[size_t(i)] = QPointF(x0 + i, keptPoint(s, size_t(i))[t]);
    }
}

} // namespace qvar::ui

using namespace qvar::ui;

namespace {

StripChart *stripChart(int panel, int control, int *err)
{
    Ctrl *c = findCtrl(panel, control, err);
    if (c && !c->strip)
        *err = UI_ERR_CONTROL;
    return c && c->strip ? c->strip.get() : nullptr;
}

} // namespace

int SetChartHistoryDepth(int panel, int control, int points)
{
    int err = 0;
    StripChart *s = stripChart(panel, control, &err);
    return s ? setDepth(*s, points) : err;
}

int GetChartHistoryDepth(int panel, int control)
{
    int err = 0;
    StripChart *s = stripChart(panel, control, &err);
    return s ? s->depth : err;
}

int GetChartHistory(int panel, int control, int trace, double *y, int max)
{
    int err = 0;
    StripChart *s = stripChart(panel, control, &err);
    if (!s)
        return err;
    if (trace < 1 || trace > s->traces)
        return UI_ERR_VALUE;
    const int n = std::min(int(s->keptCount), std::max(0, max));
    for (int i = 0; y && i < n; ++i)
        y[i] = keptPoint(*s, size_t(i))[trace - 1];
    return n;
}

// chart_decimate.cpp - min/max per pixel column for traces of many points.
//
// A recording of a million lines is four million points; mapping and drawing
// them all costs far more than a frame. Each slice's index range comes from a
// binary search on x, so the inner loop only compares y values. Points and
// samples go through the same code, each behind an accessor the compiler
// sees through.
#include "platform/ui/chart_decimate.h"

#include <algorithm>
#include <cmath>

namespace qvar::ui {
namespace {

struct PointList {
    const std::vector<QPointF> &v;
    size_t size() const { return v.size(); }
    double x(size_t i) const { return v[i].x(); }
    double y(size_t i) const { return v[i].y(); }
    QPointF at(size_t i) const { return v[i]; }
};

struct SampleList {
    const Samples &s;
    size_t size() const { return s.size(); }
    double x(size_t i) const { return s.x(i); }
    double y(size_t i) const { return s.y(i); }
    QPointF at(size_t i) const { return QPointF(s.x(i), s.y(i)); }
};

// The first index in [from, to) whose x is not below `x`.
template <class List>
size_t lowerX(const List &pts, size_t from, size_t to, double x)
{
    while (from < to) {
        const size_t mid = from + (to - from) / 2;
        if (pts.x(mid) < x)
            from = mid + 1;
        else
            to = mid;
    }
    return from;
}

// The lowest and highest point of [first, last), in file order.
template <class List>
void appendExtremes(const List &pts, size_t first, size_t last, std::vector<QPointF> &out)
{
    size_t lo = first, hi = first;
    double loY = pts.y(first), hiY = loY;
    for (size_t i = first + 1; i < last; ++i) {
        const double y = pts.y(i);
        if (y < loY)
            lo = i, loY = y;
        else if (y > hiY)
            hi = i, hiY = y;
    }
    if (lo == hi) {
        out.push_back(pts.at(lo));
    } else {
        out.push_back(pts.at(std::min(lo, hi)));
        out.push_back(pts.at(std::max(lo, hi)));
    }
}

template <class List>
void decimate(const List &pts, Range x, int columns, std::vector<QPointF> &out)
{
    out.clear();
    const size_t end = pts.size();
    if (end == 0 || columns < 1 || !(x.hi > x.lo))
        return;
    const size_t first = lowerX(pts, 0, end, x.lo);
    size_t stop = lowerX(pts, first, end, x.hi);
    while (stop < end && pts.x(stop) <= x.hi)   // the range's right end belongs to it
        ++stop;
    if (first > 0)
        out.push_back(pts.at(first - 1));
    const double step = (x.hi - x.lo) / columns;
    size_t p = first;
    for (int c = 0; c < columns && p < stop; ++c) {
        const double edge = x.lo + step * (c + 1);
        const size_t next = c + 1 == columns ? stop : lowerX(pts, p, stop, edge);
        if (next > p)
            appendExtremes(pts, p, next, out);
        p = next;
    }
    if (stop < end)
        out.push_back(pts.at(stop));
}

template <class List>
size_t nearest(const List &pts, double x)
{
    const size_t end = pts.size();
    const size_t at = lowerX(pts, 0, end, x);
    if (at == 0)
        return 0;
    if (at == end || std::abs(pts.x(at - 1) - x) <= std::abs(pts.x(at) - x)) {
        // The first of a run of equal x, as a scan would take it.
        return lowerX(pts, 0, at, pts.x(at - 1));
    }
    return at;
}

} // namespace

void DecimateMinMax(const std::vector<QPointF> &points, Range x, int columns, std::vector<QPointF> &out)
{
    decimate(PointList{points}, x, columns, out);
}

void DecimateMinMax(const Samples &samples, Range x, int columns, std::vector<QPointF> &out)
{
    decimate(SampleList{samples}, x, columns, out);
}

size_t NearestInX(const std::vector<QPointF> &points, double x) { return nearest(PointList{points}, x); }

size_t NearestInX(const Samples &samples, double x) { return nearest(SampleList{samples}, x); }

} // namespace qvar::ui

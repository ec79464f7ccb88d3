// chart_decimate.cpp - min/max per pixel column for traces of many points.
//
// A recording of a million lines is four million points; mapping and drawing
// them all costs far more than a frame. Each slice's index range comes from a
// binary search on x, so the inner loop only compares y values.
#include "platform/ui/chart_decimate.h"

#include <algorithm>
#include <cmath>

namespace qvar::ui {
namespace {

bool lessX(const QPointF &p, double x) { return p.x() < x; }

// The lowest and highest point of [first, last), in file order.
void appendExtremes(const QPointF *first, const QPointF *last, std::vector<QPointF> &out)
{
    const QPointF *lo = first, *hi = first;
    for (const QPointF *p = first + 1; p < last; ++p) {
        if (p->y() < lo->y())
            lo = p;
        else if (p->y() > hi->y())
            hi = p;
    }
    if (lo == hi) {
        out.push_back(*lo);
    } else {
        out.push_back(*std::min(lo, hi));
        out.push_back(*std::max(lo, hi));
    }
}

} // namespace

void DecimateMinMax(const std::vector<QPointF> &points, Range x, int columns, std::vector<QPointF> &out)
{
    out.clear();
    if (points.empty() || columns < 1 || !(x.hi > x.lo))
        return;
    const QPointF *begin = points.data(), *end = begin + points.size();
    const QPointF *first = std::lower_bound(begin, end, x.lo, lessX);
    const QPointF *stop = std::lower_bound(first, end, x.hi, lessX);
    while (stop < end && stop->x() <= x.hi)   // the range's right end belongs to it
        ++stop;
    if (first > begin)
        out.push_back(first[-1]);
    const double step = (x.hi - x.lo) / columns;
    const QPointF *p = first;
    for (int c = 0; c < columns && p < stop; ++c) {
        const double edge = x.lo + step * (c + 1);
        const QPointF *next = c + 1 == columns ? stop : std::lower_bound(p, stop, edge, lessX);
        if (next > p)
            appendExtremes(p, next, out);
        p = next;
    }
    if (stop < end)
        out.push_back(*stop);
}

size_t NearestInX(const std::vector<QPointF> &points, double x)
{
    const auto at = std::lower_bound(points.begin(), points.end(), x, lessX);
    if (at == points.begin())
        return 0;
    if (at == points.end() || std::abs(at[-1].x() - x) <= std::abs(at->x() - x)) {
        // The first of a run of equal x, as a scan would take it.
        return size_t(std::lower_bound(points.begin(), at, at[-1].x(), lessX) - points.begin());
    }
    return size_t(at - points.begin());
}

} // namespace qvar::ui

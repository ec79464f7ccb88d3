// chart_decimate.h - thinning a dense trace to what a pixel column can show
// (platform-internal).
//
// Contract
// - DecimateMinMax takes points whose x never decreases and a range of x cut
//   into `columns` equal slices. For every slice that holds points it appends
//   the lowest and the highest of them (one point when they are the same), in
//   the order they come in `points`, with their own coordinates. The nearest
//   point on each side outside the range is appended as well, so a line drawn
//   through the result leaves the range where the full trace would.
// - `out` is cleared first; it never holds more than 2 * columns + 2 points.
//   A polyline through it covers, per slice, the same span of y as the full
//   trace, which is all a slice one pixel wide can show.
// - NearestInX finds the crosshair's point on such a trace without a scan.
// - Both take a trace's points or its samples alike.
#pragma once

#include "platform/ui/chart_view.h"

#include <vector>

namespace qvar::ui {

void DecimateMinMax(const std::vector<QPointF> &points, Range x, int columns, std::vector<QPointF> &out);
void DecimateMinMax(const Samples &samples, Range x, int columns, std::vector<QPointF> &out);

// For points whose x never decreases: the index of the first point nearest to
// x, as a scan from the front would find it, in logarithmic time. 0 when empty.
size_t NearestInX(const std::vector<QPointF> &points, double x);
size_t NearestInX(const Samples &samples, double x);

} // namespace qvar::ui

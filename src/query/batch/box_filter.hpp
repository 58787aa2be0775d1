#pragma once
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// Positions i, ascending, of the points with min_x <= x <= max_x and min_y <= y <= max_y, the
// box taken as given: every comparison is ordered, so a NaN coordinate or bound fails it and an
// inverted box selects nothing. The same positions for every pool size.
Buffer<u64> par_bbox_filter(const PointSpans& points, const Box& box);

}  // namespace vardelin

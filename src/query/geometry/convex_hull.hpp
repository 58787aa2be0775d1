#pragma once
#include <span>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// Area of the convex hull of the points (xs[k], ys[k]), k below the shorter length: the exact
// hull (monotone chain on exact orientation, so points on a hull edge, repeated points and
// collinear sets add no vertex), measured by the shifted shoelace. Fewer than 3 points (finite
// or not), all points equal or all on one line give 0.0. Otherwise a non-finite coordinate
// gives NaN, decided before any ordering: sorting NaN would be undefined. The caller's arrays
// are not touched.
double convex_hull_area(std::span<const double> xs, std::span<const double> ys);

// convex_hull_area of each group g, the points offsets[g] .. offsets[g+1] - 1, computed on the
// worker pool, one result per group in group order. The caller has validated the offsets
// (start at 0, non-decreasing, end at the coordinate count); offsets that are not so are a
// broken invariant (InternalError), never a read outside the arrays.
Buffer<double> group_convex_hull_areas(std::span<const double> xs, std::span<const double> ys,
                                       std::span<const i64> offsets);

}  // namespace vardelin

#pragma once
#include <cstddef>

#include "core/polygon_layout.hpp"

namespace vardelin {

// Area of the region parts i and j have in common, each part filled by even-odd parity over
// all its rings together (exterior and holes, whatever their orientation, a region enclosed by
// an odd number of its rings being inside), in squared coordinate units.
//
// The overlay runs in Clipper on an integer grid fitted to the pair's bounding box (all rings
// of both parts): the box's longer side D maps onto [-R, R] with R = 2^30 - 1, Clipper's range
// for its fast 64-bit arithmetic, so one grid unit is u = D / (2^31 - 2), about 4.66e-10 D.
// Snapping moves every input vertex by at most u / sqrt(2), and Clipper rounds the vertices it
// computes to the same grid; to first order the result differs from the exact area by at most
// sqrt(2) * u * (P_i + P_j), P being the perimeters of the two parts' rings, that is a relative
// error of about 6.6e-10 * (P_i + P_j) / D against the box's scale D^2. The areas of Clipper's
// output paths are summed exactly in integers, so regions that only share edges or vertices
// give exactly 0.
//
// Exact 0.0 without the overlay when the two parts' boxes are disjoint, when the pair's box has
// no width or no height, or when a part has no rings. NaN when any coordinate of either part is
// not finite, decided before any scaling (the grid cannot hold it). Pure and reentrant: the
// overlay's buffers are per thread.
double polygon_intersection_area(const PolygonLayout& layout, std::size_t i, std::size_t j);

}  // namespace vardelin

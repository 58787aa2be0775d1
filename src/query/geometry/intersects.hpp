#pragma once
#include <cstddef>

#include "core/polygon_layout.hpp"
#include "query/geometry/part_contains_point.hpp"

namespace vardelin {

// Whether parts i and j share at least one point, boundaries included:
//  1. exterior boxes apart (strictly, on some axis): false;
//  2. the first exterior coordinate of i on the boundary of j's exterior or of one of its
//     holes, or inside the exterior and outside every hole: true; likewise
//  3. the first exterior coordinate of j in i;
//  4. some closed segment of i's exterior meets one of j's exterior, or
//  5. j's exterior meets a hole of i, or 6. i's exterior meets a hole of j: true;
//  7. otherwise false; holes are never tested against holes.
// Rings are read closed whether stored open or closed; a one-coordinate ring has no segment.
// Points are placed by the nonzero winding number with the boundary counted (a point collinear
// with an edge and between its ends is on it). All tests are exact. A part with no rings or
// with an empty exterior (holes or not) has no region and intersects nothing; nor does a part
// with a non-finite coordinate in any ring, whose region is undefined, as NaN never matches.
// Pure; the segment buffers are per thread. `plain`, where given, is the call's record of which
// parts of `layout` are plain: those are read without looking at each coordinate's range.
bool polygons_intersect(const PolygonLayout& layout, std::size_t i, std::size_t j, const PlainParts* plain = nullptr);

}  // namespace vardelin

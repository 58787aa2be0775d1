#pragma once
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"
#include "index/spatial_index.hpp"

namespace vardelin {

// The points of a point dataset within a distance of one query polygon of any number of parts,
// each part an exterior ring and its holes, in the flat layout of the dataset's own polygons.
// The offsets of the query polygon have been checked (never negative, never decreasing, within
// their arrays) before anything here reads them.

// The one box every candidate lies in: the box of the rings of the query polygon's parts grown
// by d and a rounding margin, so that no point whose computed distance passes lies outside it.
// A part with a non-finite vertex widens nothing, as it keeps no point. NaN (matching nothing)
// when no other part has a coordinate.
Box polygon_reach_box(const PolygonLayout& polygon, double d) noexcept;

// The ids of the candidates within d of some part (computed distance <= d), in candidate
// order. A NaN or negative d keeps nothing; so does a polygon without parts, and a part with a
// non-finite vertex in any ring is within no distance of any point. Large candidate sets are
// filtered on the worker pool.
std::vector<u64> points_near_polygon(const std::vector<PointHit>& candidates, const PolygonLayout& polygon, double d);

}  // namespace vardelin

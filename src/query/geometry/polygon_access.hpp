#pragma once
#include <cstddef>

#include "core/polygon_layout.hpp"

namespace vardelin::query::geometry {

// Planar distance from (x, y) to part `part`: 0.0 when pip_raw says inside, otherwise the
// distance to the nearest edge of any of its rings (exterior and holes, closing edge included,
// rings of fewer than 2 coordinates contributing none). Edges touching a NaN coordinate give a
// NaN distance that the minimum ignores; a part with no edges, a part with no rings and a NaN
// query point are at +inf. Allocates nothing; one square root per call.
double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

}  // namespace vardelin::query::geometry

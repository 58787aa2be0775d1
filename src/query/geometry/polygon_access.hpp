#pragma once
#include <cstddef>

#include "core/polygon_layout.hpp"

namespace vardelin::query::geometry {

// Whether (x, y) lies inside part `part`: inside its exterior ring and inside none of its holes,
// each ring tested on its own by the even-odd crossing rule with the closing edge always
// included, so rings may be stored open or closed. An exterior of fewer than 3 coordinates
// contains nothing and holes of fewer than 3 coordinates are skipped. A part with no rings
// contains nothing: its first ring would be the next part's exterior. A NaN coordinate of the
// point is outside. Reads only through the layout, so broken offsets read as empty rings.
bool part_contains(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

// Planar distance from (x, y) to part `part`: 0.0 when part_contains says inside, otherwise the
// distance to the nearest edge of any of its rings (exterior and holes, closing edge included,
// rings of fewer than 2 coordinates contributing none). Edges touching a NaN coordinate give a
// NaN distance that the minimum ignores; a part with no edges, a part with no rings and a NaN
// query point are at +inf. Allocates nothing; one square root per call.
double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

}  // namespace vardelin::query::geometry

#pragma once
#include <cstddef>

#include "core/polygon_layout.hpp"

namespace vardelin::query::geometry {

// Squared distance from (x, y) to the segment from a to b, as every point-to-part distance
// computes it: the projection clamped to the segment, a zero-length segment its point a; a NaN
// length still projects, so that the NaN reaches the result (and a minimum ignores it) rather
// than pinning the nearest point to a.
inline double segment_distance2(double x, double y, double ax, double ay, double bx, double by) noexcept {
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = 0.0;
    if (len2 > 0.0 || len2 != len2) {
        t = ((x - ax) * dx + (y - ay) * dy) / len2;
        if (t < 0.0) {
            t = 0.0;
        } else if (t > 1.0) {
            t = 1.0;
        }
    }
    const double cx = ax + dx * t, cy = ay + dy * t;
    return (x - cx) * (x - cx) + (y - cy) * (y - cy);
}

// Planar distance from (x, y) to part `part`: 0.0 when pip_raw says inside, otherwise the
// distance to the nearest edge of any of its rings (exterior and holes, closing edge included,
// rings of fewer than 2 coordinates contributing none). Edges touching a NaN coordinate give a
// NaN distance that the minimum ignores; a part with no edges, a part with no rings and a NaN
// query point are at +inf. Allocates nothing; one square root per call.
double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept;

}  // namespace vardelin::query::geometry

#include "query/geometry/polygon_access.hpp"

#include <cmath>
#include <limits>

namespace vardelin::query::geometry {

namespace {

// The crossing rule of every point-in-polygon test in the system, written out in the same
// order of operations so that all of them agree to the last bit: an edge (j, i) counts when
// exactly one endpoint lies strictly above the point, and the crossing abscissa, evaluated
// product, quotient, sum, lies strictly right of it.
bool ring_contains(const double* xs, const double* ys, IndexRange ring, double x, double y) noexcept {
    bool inside = false;
    u64 j = ring.end - 1;
    for (u64 i = ring.begin; i < ring.end; j = i++) {
        const double xi = xs[i], yi = ys[i], xj = xs[j], yj = ys[j];
        if ((y < yi) == (y < yj)) continue;
        if (((y - yi) * (xj - xi)) / (yj - yi) + xi > x) inside = !inside;
    }
    return inside;
}

}  // namespace

bool part_contains(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    const IndexRange rings = layout.part_rings(part);
    if (rings.empty()) return false;
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    const IndexRange exterior = layout.ring(rings.begin);
    if (exterior.size() < 3 || !ring_contains(xs, ys, exterior, x, y)) return false;
    for (u64 r = rings.begin + 1; r < rings.end; ++r) {
        const IndexRange hole = layout.ring(r);
        if (hole.size() >= 3 && ring_contains(xs, ys, hole, x, y)) return false;
    }
    return true;
}

double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    if (part_contains(layout, part, x, y)) return 0.0;
    const IndexRange rings = layout.part_rings(part);
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    // Squared distances until the end: one square root per call, and a NaN d2 never wins.
    double best = std::numeric_limits<double>::infinity();
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring.size() < 2) continue;
        double ax = xs[ring.end - 1], ay = ys[ring.end - 1];
        for (u64 k = ring.begin; k < ring.end; ++k) {
            const double bx = xs[k], by = ys[k];
            const double d2 = segment_distance2(x, y, ax, ay, bx, by);
            if (d2 < best) best = d2;
            ax = bx;
            ay = by;
        }
    }
    return std::sqrt(best);
}

}  // namespace vardelin::query::geometry

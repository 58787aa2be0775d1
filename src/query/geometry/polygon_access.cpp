#include "query/geometry/polygon_access.hpp"

#include <cmath>
#include <limits>

#include "query/range.hpp"

namespace vardelin::query::geometry {

double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    if (pip_raw(layout, part, x, y)) return 0.0;
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

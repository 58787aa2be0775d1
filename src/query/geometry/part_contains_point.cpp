#include "query/geometry/part_contains_point.hpp"

#include "query/geometry/orientation.hpp"

namespace vardelin {

bool edge_flips_beyond(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(xi) || !std::isfinite(yi) || !std::isfinite(xj) ||
        !std::isfinite(yj)) {
        return ((y - yi) * (xj - xi)) / (yj - yi) + xi > x;
    }
    // The upper end is the one strictly above y.
    if (y < yi) return orientation(xj, yj, xi, yi, x, y) > 0;
    return orientation(xi, yi, xj, yj, x, y) > 0;
}

bool part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept {
    const IndexRange rings = layout.part_rings(part);
    if (rings.empty()) return false;
    const double *xs = layout.xs.data(), *ys = layout.ys.data();
    const IndexRange exterior = layout.ring(rings.begin);
    if (exterior.size() < 3) return false;
    if (!ring_contains(xs, ys, exterior.begin, exterior.end, x, y)) return false;
    for (u64 r = rings.begin + 1; r < rings.end; ++r) {
        const IndexRange hole = layout.ring(r);
        if (hole.size() < 3) continue;
        if (ring_contains(xs, ys, hole.begin, hole.end, x, y)) return false;
    }
    return true;
}

}  // namespace vardelin

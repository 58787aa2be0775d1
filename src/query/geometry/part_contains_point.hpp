#pragma once
#include <cmath>
#include <cstddef>

#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"

namespace vardelin {

// Whether a point lies inside a polygon part: the even-odd crossing rule of the containment
// joins and the single queries, and its edge test, which the prepared polygons' bands share.

// The crossing test of an edge whose product or quotient leaves the normal doubles (the edge
// and the point 1e200 or 1e-170 across): the crossing lies right of the point exactly when the
// point lies left of the edge taken upward, which exact orientation decides. Non-finite
// coordinates keep the formula's answer.
bool edge_flips_beyond(double x, double y, double xi, double yi, double xj, double yj) noexcept;

// One edge of the even-odd crossing rule, shared by every containment test so that all of
// them agree to the last bit. The edge counts when exactly one endpoint lies strictly above the
// point: its lower endpoint belongs to it, its upper one does not, horizontal edges never count,
// and a NaN y counts nothing. The crossing abscissa is evaluated product, quotient, sum, in that
// order; only a crossing strictly right of the point flips, which puts left and bottom
// boundaries inside and right and top boundaries outside. A product or quotient that overflowed
// or underflowed would move the crossing anywhere: such an edge is decided exactly instead.
inline bool edge_flips(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    if ((y < yi) == (y < yj)) return false;
    const double a = y - yi, b = xj - xi;
    const double p = a * b;
    const double q = p / (yj - yi);
    const bool exact_zero = (a == 0.0 || b == 0.0) && std::isfinite(a) && std::isfinite(b);
    if ((std::isnormal(p) && std::isnormal(q)) || exact_zero) [[likely]] return q + xi > x;
    return edge_flips_beyond(x, y, xi, yi, xj, yj);
}

// Parity of the crossings of (x, y) with the ring at positions [s, t), closed implicitly by
// the edge from its last vertex back to its first.
inline bool ring_contains(const double* xs, const double* ys, u64 s, u64 t, double x, double y) noexcept {
    if (t <= s) return false;
    bool inside = false;
    u64 j = t - 1;
    for (u64 i = s; i < t; j = i++) {
        if (edge_flips(x, y, xs[i], ys[i], xs[j], ys[j])) inside = !inside;
    }
    return inside;
}

// True when (x, y) lies inside the exterior ring of `part` and inside none of its holes, each
// ring tested on its own by the crossing rule. An exterior of fewer than 3 coordinates contains
// nothing; holes of fewer than 3 coordinates are ignored. A part number past the layout, or
// broken offsets, read as a part without rings, which contains nothing. A part with a
// non-finite vertex never gets here: its index box is NaN, which no search meets.
bool part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept;

}  // namespace vardelin

#pragma once
#include <cstddef>

#include "core/numeric.hpp"

namespace vardelin {

// One edge of the even-odd crossing rule, shared by every containment test so that all of
// them agree to the last bit. The edge counts when exactly one endpoint lies strictly above the
// point: its lower endpoint belongs to it, its upper one does not, horizontal edges never count,
// and a NaN y counts nothing. The crossing abscissa is evaluated product, quotient, sum, in that
// order; only a crossing strictly right of the point flips, which puts left and bottom
// boundaries inside and right and top boundaries outside.
inline bool edge_flips(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    if ((y < yi) == (y < yj)) return false;
    return ((y - yi) * (xj - xi)) / (yj - yi) + xi > x;
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

}  // namespace vardelin

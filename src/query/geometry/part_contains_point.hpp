#pragma once
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"

namespace vardelin {

// Whether a point lies inside a polygon part: the even-odd crossing rule of the containment
// joins and the single queries, and its edge test, which the prepared polygons' bands share.

// The crossing test of an edge whose product or quotient is not a normal double: an exact
// zero (the point level with the lower end, or a vertical edge) keeps the formula, and a product
// or quotient that overflowed or underflowed (the edge and the point 1e200 or 1e-170 across) is
// decided exactly: the crossing lies right of the point exactly when the point lies left of the
// edge taken upward. Non-finite coordinates keep the formula's answer. Out of line, so that the
// loops over edges carry only the test that sends an edge here.
bool edge_flips_off_normal(double x, double y, double xi, double yi, double xj, double yj) noexcept;

// Whether both values are normal doubles, NaN and infinity excluded: one bound on the smaller
// magnitude and one on the larger. A NaN in either makes `smaller` NaN, which fails.
inline bool both_normal(double p, double q) noexcept {
    const double ap = std::fabs(p), aq = std::fabs(q);
    const double smaller = ap < aq ? ap : aq;
    const double larger = ap > aq ? ap : aq;
    return smaller >= std::numeric_limits<double>::min() && larger <= std::numeric_limits<double>::max();
}

// One edge of the even-odd crossing rule, shared by every containment test so that all of
// them agree to the last bit. The edge counts when exactly one endpoint lies strictly above the
// point: its lower endpoint belongs to it, its upper one does not, horizontal edges never count,
// and a NaN y counts nothing. The crossing abscissa is evaluated product, quotient, sum, in that
// order; only a crossing strictly right of the point flips, which puts left and bottom
// boundaries inside and right and top boundaries outside. A product or quotient that overflowed
// or underflowed would move the crossing anywhere: such an edge is decided exactly instead.
inline bool edge_flips(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    if ((y < yi) == (y < yj)) return false;
    const double p = (y - yi) * (xj - xi);
    const double q = p / (yj - yi);
    if (both_normal(p, q)) [[likely]] return q + xi > x;
    return edge_flips_off_normal(x, y, xi, yi, xj, yj);
}

// The same edge test for coordinates all in the plain window (see in_plain_window): there
// every product and quotient is a normal double or an exact zero, so the formula alone decides.
inline bool edge_flips_plain(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    if ((y < yi) == (y < yj)) return false;
    return ((y - yi) * (xj - xi)) / (yj - yi) + xi > x;
}

// Parity of the crossings of (x, y) with the ring at positions [s, t), closed implicitly by
// the edge from its last vertex back to its first; Plain when the ring and the point are known
// to lie in the plain window.
template <bool Plain = false>
inline bool ring_contains(const double* xs, const double* ys, u64 s, u64 t, double x, double y) noexcept {
    if (t <= s) return false;
    bool inside = false;
    u64 j = t - 1;
    for (u64 i = s; i < t; j = i++) {
        const bool flips = Plain ? edge_flips_plain(x, y, xs[i], ys[i], xs[j], ys[j])
                                 : edge_flips(x, y, xs[i], ys[i], xs[j], ys[j]);
        if (flips) inside = !inside;
    }
    return inside;
}

// True when (x, y) lies inside the exterior ring of `part` and inside none of its holes, each
// ring tested on its own by the crossing rule. An exterior of fewer than 3 coordinates contains
// nothing; holes of fewer than 3 coordinates are ignored. A part number past the layout, or
// broken offsets, read as a part without rings, which contains nothing. A part with a
// non-finite vertex never gets here: its index box is NaN, which no search meets.
bool part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept;

// The same answer for a part that part_is_plain accepts and a point that plain_point accepts,
// without the per-edge range tests.
bool plain_part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept;

// The coordinates for which the crossing test and the squared-form distances can skip their
// per-edge range tests: zero or a magnitude in [2^-200, 2^200]. Such coordinates are multiples
// of 2^-252, so their nonzero differences lie in [2^-252, 2^201]: every crossing product and
// quotient lies in [2^-705, 2^654] or is exactly zero, and every squared edge length is zero or
// in [2^-504, 2^403], and no squared point-to-edge distance exceeds 2^405: all far inside the
// squared form's range. Data in metres or degrees always lies there; what is left to test
// per edge is a point-to-edge distance that could fall below the range (the projection is no
// multiple of 2^-252), and per call a distance below 2^-470.
inline bool in_plain_window(double v) noexcept {
    const double a = std::fabs(v);
    return a <= 0x1p200 && (a >= 0x1p-200 || a == 0.0);
}

inline bool plain_point(double x, double y) noexcept { return in_plain_window(x) && in_plain_window(y); }

// Whether every vertex of the part's rings lies in the plain window; one pass over them.
bool part_is_plain(const PolygonLayout& layout, u64 part) noexcept;

// part_is_plain of each part of one layout, found on first use and kept: 0 not yet looked at,
// 1 plain, 2 not. Threads that look at one part at the same time find the same answer, so
// relaxed stores suffice.
class PlainParts {
public:
    explicit PlainParts(std::size_t part_count)
        : count_(part_count), state_(std::make_unique<std::atomic<std::uint8_t>[]>(part_count)) {}

    // For the part_count parts of `layout`, the same layout on every call; any other number is
    // not plain, so that its tests take the checked path.
    bool operator()(const PolygonLayout& layout, u64 part) const noexcept {
        if (part >= count_) return false;
        std::atomic<std::uint8_t>& cell = state_[part];
        std::uint8_t v = cell.load(std::memory_order_relaxed);
        if (v == 0) [[unlikely]] {
            v = part_is_plain(layout, part) ? 1 : 2;
            cell.store(v, std::memory_order_relaxed);
        }
        return v == 1;
    }

private:
    std::size_t count_;
    std::unique_ptr<std::atomic<std::uint8_t>[]> state_;
};

}  // namespace vardelin

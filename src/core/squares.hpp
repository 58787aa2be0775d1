#pragma once
#include <bit>
#include <climits>
#include <cmath>

#include "core/box.hpp"
#include "core/numeric.hpp"

namespace vardelin {

// Sums of two squares (planar distances, disc tests, nearest-neighbour keys) are computed in
// the plain squared form wherever that form lost nothing to the exponent range, and redone on
// operands scaled by a power of two where it did. Scaling by a power of two changes no mantissa
// bit, so the slow form rounds as the squared form would with an unbounded exponent: both forms
// agree to the last bit wherever both can be computed, and every finite coordinate gets an
// exact answer.
//
// When fl(dx * dx + dy * dy) lies in [2^-960, 2^960], no square overflowed, the larger square
// is a normal number, and whatever the smaller one lost to underflow (below 2^-1074) is far
// beneath the sum's last bit. Outside that range, and for NaN or infinity, the sum may be
// wrong by any factor: 1e200 apart squares to +inf, 1e-170 apart to 0.
inline constexpr double kSquaredLow = 0x1p-960;
inline constexpr double kSquaredHigh = 0x1p960;

// d2 in [kSquaredLow, kSquaredHigh], as one unsigned comparison of bit patterns: those of
// non-negative doubles order as their values do, and a negative value or a NaN has a pattern
// outside the range's. Loops over every distance pay one comparison for it instead of two.
inline bool squared_form_holds(double d2) noexcept {
    constexpr u64 low = std::bit_cast<u64>(kSquaredLow), span = std::bit_cast<u64>(kSquaredHigh) - low;
    return std::bit_cast<u64>(d2) - low <= span;
}

// The power of two that brings the larger of |a|, |b| into [1, 2): the exponent e with
// ldexp(a, -e), ldexp(b, -e) safe to square. Both finite and not both zero.
inline int common_exponent(double a, double b) noexcept { return std::ilogb(std::fmax(std::fabs(a), std::fabs(b))); }

// sqrt(dx^2 + dy^2) for any dx, dy: a NaN gives NaN, an infinity +inf (after NaN), the rest
// exact whatever their magnitude.
double planar_length_scaled(double dx, double dy) noexcept;

inline double planar_length(double dx, double dy) noexcept {
    const double d2 = dx * dx + dy * dy;
    if (squared_form_holds(d2)) [[likely]] return std::sqrt(d2);
    return planar_length_scaled(dx, dy);
}

// The distance between two points; a point with an infinite coordinate (and no NaN) lies at
// +inf from every point, a NaN coordinate gives NaN. Coordinates so far apart that their
// difference overflows still get their (finite or +inf) distance.
double planar_distance_scaled(double px, double py, double qx, double qy) noexcept;

inline double planar_distance(double px, double py, double qx, double qy) noexcept {
    const double dx = px - qx, dy = py - qy;
    const double d2 = dx * dx + dy * dy;
    if (squared_form_holds(d2)) [[likely]] return std::sqrt(d2);
    return planar_distance_scaled(px, py, qx, qy);
}

// The half side of a search box that holds every point a disc of radius r holds, whatever the
// rounding of the box's bounds and of the disc's squares: a box of half side r itself could
// miss a point whose rounded squared distance ties r^2, and the two sides of a join would then
// disagree on it. A NaN radius stays NaN, a negative one negative.
inline double disc_reach(double r) noexcept { return r + r * 0x1p-40; }

// The closed disc of radius r around (cx, cy), its test written out once so that every index,
// filter and join keeps the same points to the last bit. A point or centre with a non-finite
// coordinate is within no distance, not even +inf; a NaN or negative radius holds nothing.
struct Disc {
    double cx = 0, cy = 0;
    double r = -1.0;
    double r2 = -1.0;  // r * r as the fast path compares it; -1 for a radius that holds nothing

    static Disc around(double cx, double cy, double r) noexcept {
        return {cx, cy, r, r >= 0.0 ? r * r : -1.0};
    }

    // Whether the disc can hold any point at all.
    bool holds_some() const noexcept { return r >= 0.0 && std::isfinite(cx) && std::isfinite(cy); }

    bool holds(double px, double py) const noexcept {
        const double dx = px - cx, dy = py - cy;
        const double d2 = dx * dx + dy * dy;
        if (squared_form_holds(d2)) [[likely]] return d2 <= r2;
        return holds_scaled(px, py);
    }

    // The squared form is out of range (or met NaN or infinity): decided exactly.
    bool holds_scaled(double px, double py) const noexcept;

    // Whether `holds` is the plain comparison d2 <= r2 for every point of box q, so that a
    // search tests the range once per box instead of once per point: no point of q lies far
    // enough from the centre for its square to pass the fast path's upper end, and r^2 lies so
    // far above the lower end that a point whose squares underflow is held by both forms.
    bool plain_over(const Box& q) const noexcept {
        if (has_nan(q)) return false;
        // The farthest a point of q can be on each axis, its difference rounded as the point's
        // own would be: rounding is monotone, so no point of q computes a larger square.
        const double ax = std::fabs(q.min_x - cx), bx = std::fabs(q.max_x - cx);
        const double ay = std::fabs(q.min_y - cy), by = std::fabs(q.max_y - cy);
        const double gx = ax > bx ? ax : bx, gy = ay > by ? ay : by;
        return r2 >= kPlainLow && gx * gx + gy * gy <= kSquaredHigh;
    }

    // Whether plain_over holds for every box of half side disc_reach(r) around any centre, the
    // search box of every disc of radius r: each bound of such a box is the float nearest to
    // the centre plus or minus the reach, and the centre is a float the reach away, so a point
    // inside differs from the centre by at most twice the reach on each axis and its square
    // stays below 8 reach^2. A join of many discs of one radius checks it once per call.
    static bool plain_in_reach(double r) noexcept {
        const double r2 = r * r;
        return r2 >= kPlainLow && r2 <= kSquaredHigh / 16.0;
    }

    // The plain comparison alone: `holds` for the points of a box plain_over allows.
    bool holds_plainly(double px, double py) const noexcept {
        const double dx = px - cx, dy = py - cy;
        return dx * dx + dy * dy <= r2;
    }

    // body(test), with test(px, py) the same answer as `holds` for every point of box q (points
    // outside q are the caller's to drop): the plain comparison where plain_over(q) allows it.
    template <class Body>
    void over(const Box& q, Body&& body) const {
        if (plain_over(q)) body([this](double px, double py) { return holds_plainly(px, py); });
        else body([this](double px, double py) { return holds(px, py); });
    }

private:
    // A squared radius at least four times the fast path's lower end: a point whose squared
    // distance falls below that end lies nearer than r by a factor of two in the squares, far
    // beyond any rounding, so the scaled form holds it as the plain comparison does.
    static constexpr double kPlainLow = 4.0 * kSquaredLow;
};

// A sum of two squares as a nearest-neighbour search ranks it: the value the squared form
// gives where it holds (scale 0), else the sum the squared form would give with an unbounded
// exponent, as value * 4^scale with value in [1, 4). Keys compare as those sums do, so a
// ranking by keys is the squared form's ranking carried past the ends of the exponent range:
// 3e200, 1e200 and 2e200 away, or 1e-170 and 2e-170, come in the order of their distances.
// A sum that is exactly zero has the lowest scale, +inf and NaN the highest (NaN last).
struct SquareKey {
    int scale = 0;
    double value = 0.0;

    static constexpr int kZero = INT_MIN;
    static constexpr int kBeyond = INT_MAX;

    friend bool operator<(const SquareKey& a, const SquareKey& b) noexcept {
        if (a.scale != b.scale) return a.scale < b.scale;
        return nan_last_less(a.value, b.value);
    }
    friend bool operator==(const SquareKey& a, const SquareKey& b) noexcept {
        return a.scale == b.scale && a.value == b.value;
    }
};

// The key of gx^2 + gy^2 where the squared form does not hold it. `halved` says that gx, gy
// are halves of the true gaps (taken where the gaps themselves overflow); NaN stays NaN and
// an infinite gap is +inf.
SquareKey square_key_scaled(double gx, double gy, bool halved) noexcept;

inline SquareKey square_key(double gx, double gy) noexcept {
    const double d2 = gx * gx + gy * gy;
    if (squared_form_holds(d2)) [[likely]] return {0, d2};
    return square_key_scaled(gx, gy, false);
}

// The key of the squared distance from (x, y) to (px, py); a NaN coordinate gives NaN, an
// infinite one +inf, as the squared form does (inf - inf included, NaN).
SquareKey square_key_between_scaled(double px, double py, double x, double y) noexcept;

inline SquareKey square_key_between(double px, double py, double x, double y) noexcept {
    const double dx = px - x, dy = py - y;
    const double d2 = dx * dx + dy * dy;
    if (squared_form_holds(d2)) [[likely]] return {0, d2};
    return square_key_between_scaled(px, py, x, y);
}

// The key of a distance d itself (d >= 0 or NaN): the key of d^2, comparable with the others.
inline SquareKey square_key_of_length(double d) noexcept { return square_key(d, 0.0); }

}  // namespace vardelin

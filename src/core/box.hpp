#pragma once
#include <cmath>
#include <limits>

#include "core/numeric.hpp"

namespace vardelin {

// A closed axis-aligned box. Normalised boxes have min <= max on each axis; the searches take
// boxes exactly as given, so an inverted box meets nothing.
struct Box {
    double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
};

// The box of something that has no coordinates: a part with no rings, an empty exterior ring.
// It is a real box at the origin, not an inverted one, so a search over it stays defined.
inline constexpr Box kEmptyBox{0.0, 0.0, 0.0, 0.0};

// The box of something that is nowhere, a polygon part with a non-finite vertex: every
// comparison with it fails, so no search box meets it (an infinite one included), folds skip
// it, and its distance from any point is +inf.
inline constexpr Box kNowhereBox{std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};

// The start of every fold: folding no value leaves it, and every real value replaces it.
inline constexpr Box kFoldStart{kInfinity, kInfinity, -kInfinity, -kInfinity};

// Merges two folds per axis with fmin/fmax, which skip a NaN operand: the result does not
// depend on how the values were split between the two.
inline Box fold_boxes(const Box& a, const Box& b) noexcept {
    return {std::fmin(a.min_x, b.min_x), std::fmin(a.min_y, b.min_y), std::fmax(a.max_x, b.max_x),
            std::fmax(a.max_y, b.max_y)};
}

// Widens the fold by one point, skipping a NaN coordinate on its own axis only.
inline void fold_point(Box& b, double x, double y) noexcept {
    b.min_x = std::fmin(b.min_x, x);
    b.max_x = std::fmax(b.max_x, x);
    b.min_y = std::fmin(b.min_y, y);
    b.max_y = std::fmax(b.max_y, y);
}

inline bool has_nan(const Box& b) noexcept {
    return std::isnan(b.min_x) || std::isnan(b.min_y) || std::isnan(b.max_x) || std::isnan(b.max_y);
}

// Closed-box test written as ordered comparisons, so a NaN on either side means no match.
inline bool point_in_box(double x, double y, const Box& q) noexcept {
    return x >= q.min_x && q.max_x >= x && y >= q.min_y && q.max_y >= y;
}

// Per axis the smaller and the larger bound, as the planner and the histogram need them. The
// comparisons are written so that a NaN on an axis swaps its bounds.
inline Box normalised_box(const Box& raw) noexcept {
    return {raw.min_x < raw.max_x ? raw.min_x : raw.max_x, raw.min_y < raw.max_y ? raw.min_y : raw.max_y,
            raw.max_x > raw.min_x ? raw.max_x : raw.min_x, raw.max_y > raw.min_y ? raw.max_y : raw.min_y};
}

}  // namespace vardelin

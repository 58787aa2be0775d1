#pragma once
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include <boost/geometry/geometries/point_xy.hpp>
#include <boost/geometry/strategy/cartesian/side_robust.hpp>

namespace vardelin {

// The adaptive predicate decides exactly only while none of its products overflows or
// underflows. That holds when every nonzero coordinate has a magnitude in [2^-400, 2^480]: its
// differences then stay below 2^481, its products and their expansions below 2^964, and every
// one of them is a multiple of 2^-904, far above the smallest normal number, so no error term
// is lost. Beyond that window two triangles 2^512 across or 2^-550 across would be judged by
// infinities or by zeros.
inline bool in_orientation_window(double v) noexcept {
    const double a = std::fabs(v);
    return a <= 0x1p480 && (a >= 0x1p-400 || a == 0.0);
}

inline bool in_orientation_window(double ax, double ay, double bx, double by, double cx, double cy) noexcept {
    return in_orientation_window(ax) && in_orientation_window(ay) && in_orientation_window(bx) &&
           in_orientation_window(by) && in_orientation_window(cx) && in_orientation_window(cy);
}

// The same test over a whole set of coordinates, folded in a few integer operations per
// coordinate for loops that read every point anyway. Magnitudes compare as bit patterns, which
// order like the values with NaN above infinity, so the largest must not pass the window's top;
// one less than a pattern turns zero into the largest pattern, so the smallest of those must not
// fall below the window's bottom. A set passes exactly when each coordinate would pass alone.
class OrientationWindowFold {
public:
    void look_at(double x, double y) noexcept {
        const std::uint64_t ax = magnitude_bits(x), ay = magnitude_bits(y);
        largest_ = std::max(largest_, std::max(ax, ay));
        smallest_less_one_ = std::min(smallest_less_one_, std::min(ax - 1, ay - 1));
    }
    bool in_window() const noexcept {
        return largest_ <= std::bit_cast<std::uint64_t>(0x1p480) &&
               smallest_less_one_ >= std::bit_cast<std::uint64_t>(0x1p-400) - 1;
    }

private:
    static std::uint64_t magnitude_bits(double v) noexcept {
        return std::bit_cast<std::uint64_t>(v) & ~(std::uint64_t{1} << 63);
    }
    std::uint64_t largest_ = 0;
    std::uint64_t smallest_less_one_ = ~std::uint64_t{0};
};

// Orientation of c relative to the directed line a -> b (+1 left, -1 right, 0 collinear) for
// coordinates the caller has found in the window. The predicate's default policy calls a
// determinant within a relative epsilon of zero collinear, which would make nearly collinear
// points touch; comparing with zero exactly (fp_equals_policy) keeps it exact.
inline int orientation_in_window(double ax, double ay, double bx, double by, double cx, double cy) noexcept {
    using Point = boost::geometry::model::d2::point_xy<double>;
    using Side = boost::geometry::strategy::side::side_robust<double, boost::geometry::strategy::side::fp_equals_policy>;
    return Side::apply(Point(ax, ay), Point(bx, by), Point(cx, cy));
}

// The same for finite coordinates outside the window: all six scaled by one power of two into
// it where their exponents span less than the window (exact, and the sign does not change),
// else the determinant evaluated on exact integers (every double is an integer times 2^-1074).
int orientation_beyond_window(double ax, double ay, double bx, double by, double cx, double cy) noexcept;

// Exact orientation of c relative to the directed line a -> b for any finite coordinates.
inline int orientation(double ax, double ay, double bx, double by, double cx, double cy) noexcept {
    if (in_orientation_window(ax, ay, bx, by, cx, cy)) [[likely]] return orientation_in_window(ax, ay, bx, by, cx, cy);
    return orientation_beyond_window(ax, ay, bx, by, cx, cy);
}

// The orientations of one set of coordinates checked once: callers that test many triples of
// points from one polygon or point set look at each coordinate once, not at every triple.
struct Orienter {
    bool in_window = true;

    void look_at(double x, double y) noexcept {
        in_window = in_window && in_orientation_window(x) && in_orientation_window(y);
    }
    int operator()(double ax, double ay, double bx, double by, double cx, double cy) const noexcept {
        return in_window ? orientation_in_window(ax, ay, bx, by, cx, cy) : orientation(ax, ay, bx, by, cx, cy);
    }
};

}  // namespace vardelin

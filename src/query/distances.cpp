#include "query/distances.hpp"

#include <bit>
#include <cmath>
#include <initializer_list>

#include "core/error.hpp"
#include "core/squares.hpp"
#include "core/parallel.hpp"
#include "query/geodesy.hpp"

namespace vardelin {

namespace {

void require_equal_spans(std::initializer_list<std::size_t> sizes) {
    for (std::size_t s : sizes) {
        if (s != *sizes.begin()) throw InternalError("distance inputs of unequal length");
    }
}

// Finite points get their exact distance, however far apart or close (the squared form where
// it holds, a scaled form beyond: 1e200 apart is 1e200, not +inf). Where a coordinate is not
// finite the plain formula's answer stands, inf - inf giving NaN.
inline double planar(double x1, double y1, double x2, double y2) noexcept {
    const double d = planar_distance(x1, y1, x2, y2);
    if (d != kInfinity) [[likely]] return d;
    const double dx = x1 - x2, dy = y1 - y2;
    return std::sqrt(dx * dx + dy * dy);
}

// Ordinary data never leaves the plain formulas' range, so each block of the pool's work runs
// the plain formula over all its elements in a loop without a branch, and only a block where
// some answer may differ from the exact one is redone element by element with the exact
// function, whose answer equals the plain one wherever that is in range.

// Planar: an answer differs only where the squared sum left [kSquaredLow, kSquaredHigh] (or a
// coordinate was not finite, where the exact function gives the plain answer anyway). The
// range test folds into the bits of one word: a NaN sum, or one below or above the range,
// makes one of the two differences of its bit pattern wrap past the top bit. An integer fold
// keeps the loop's only carried dependency a single cycle long.
template <class X2, class Y2>
Buffer<double> planar_map(std::span<const double> xs1, std::span<const double> ys1, const X2& x2, const Y2& y2) {
    constexpr u64 low = std::bit_cast<u64>(kSquaredLow), high = std::bit_cast<u64>(kSquaredHigh);
    Buffer<double> out;
    out.resize(xs1.size());
    double* dst = out.data();
    parallel_blocks(xs1.size(), 1, [&](std::size_t b, std::size_t e) {
        u64 off = 0;
        for (std::size_t i = b; i != e; ++i) {
            const double dx = xs1[i] - x2(i), dy = ys1[i] - y2(i);
            const double d2 = dx * dx + dy * dy;
            const u64 bits = std::bit_cast<u64>(d2);
            off |= (bits - low) | (high - bits);
            dst[i] = std::sqrt(d2);
        }
        if (!(off >> 63)) [[likely]] return;
        for (std::size_t i = b; i != e; ++i) dst[i] = planar(xs1[i], ys1[i], x2(i), y2(i));
    });
    return out;
}

// Haversine: an answer differs only where the sum of the terms underflowed while a sine did
// not vanish (points less than about 1e-138 m apart), which `metres` redoes scaled.
template <class Terms>
Buffer<double> haversine_map(std::size_t n, const Terms& terms) {
    Buffer<double> out;
    out.resize(n);
    double* dst = out.data();
    parallel_blocks(n, 1, [&](std::size_t b, std::size_t e) {
        bool scaled = false;
        for (std::size_t i = b; i != e; ++i) {
            const HaversineTerms t = terms(i);
            dst[i] = t.metres_plain();
            scaled |= t.a < kSquaredLow && (t.s_lon != 0.0 || t.s_lat != 0.0);
        }
        if (!scaled) [[likely]] return;
        for (std::size_t i = b; i != e; ++i) dst[i] = terms(i).metres();
    });
    return out;
}

}  // namespace

Buffer<double> euclidean_distance(std::span<const double> xs1, std::span<const double> ys1,
                                  std::span<const double> xs2, std::span<const double> ys2) {
    require_equal_spans({xs1.size(), ys1.size(), xs2.size(), ys2.size()});
    return planar_map(xs1, ys1, [&](std::size_t i) { return xs2[i]; }, [&](std::size_t i) { return ys2[i]; });
}

Buffer<double> haversine_distance(std::span<const double> lons1, std::span<const double> lats1,
                                  std::span<const double> lons2, std::span<const double> lats2) {
    require_equal_spans({lons1.size(), lats1.size(), lons2.size(), lats2.size()});
    return haversine_map(lons1.size(), [&](std::size_t i) {
        return HaversineTerms(lons1[i], lats1[i], std::cos(lats1[i] * kDegToRad), lons2[i], lats2[i]);
    });
}

Buffer<double> euclidean_distance_to(std::span<const double> xs, std::span<const double> ys, double cx, double cy) {
    require_equal_spans({xs.size(), ys.size()});
    return planar_map(xs, ys, [cx](std::size_t) { return cx; }, [cy](std::size_t) { return cy; });
}

Buffer<double> haversine_distance_to(std::span<const double> lons, std::span<const double> lats, double cx,
                                     double cy) {
    require_equal_spans({lons.size(), lats.size()});
    const double cos_cy = std::cos(cy * kDegToRad);
    return haversine_map(lons.size(), [&](std::size_t i) { return HaversineTerms(cx, cy, cos_cy, lons[i], lats[i]); });
}

}  // namespace vardelin

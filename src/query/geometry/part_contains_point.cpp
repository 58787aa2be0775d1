#include "query/geometry/part_contains_point.hpp"

#include <bit>
#include <cstdint>

#include "query/geometry/orientation.hpp"

namespace vardelin {

bool edge_flips_off_normal(double x, double y, double xi, double yi, double xj, double yj) noexcept {
    const double a = y - yi, b = xj - xi;
    const bool exact_zero = (a == 0.0 || b == 0.0) && std::isfinite(a) && std::isfinite(b);
    const bool finite = std::isfinite(x) && std::isfinite(y) && std::isfinite(xi) && std::isfinite(yi) &&
                        std::isfinite(xj) && std::isfinite(yj);
    if (exact_zero || !finite) return (a * b) / (yj - yi) + xi > x;
    // The upper end is the one strictly above y.
    if (y < yi) return orientation(xj, yj, xi, yi, x, y) > 0;
    return orientation(xi, yi, xj, yj, x, y) > 0;
}

namespace {

template <bool Plain>
bool contains_by_rings(const PolygonLayout& layout, u64 part, double x, double y) noexcept {
    const IndexRange rings = layout.part_rings(part);
    if (rings.empty()) return false;
    const double *xs = layout.xs.data(), *ys = layout.ys.data();
    const IndexRange exterior = layout.ring(rings.begin);
    if (exterior.size() < 3) return false;
    if (!ring_contains<Plain>(xs, ys, exterior.begin, exterior.end, x, y)) return false;
    for (u64 r = rings.begin + 1; r < rings.end; ++r) {
        const IndexRange hole = layout.ring(r);
        if (hole.size() < 3) continue;
        if (ring_contains<Plain>(xs, ys, hole.begin, hole.end, x, y)) return false;
    }
    return true;
}

}  // namespace

bool part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept {
    return contains_by_rings<false>(layout, part, x, y);
}

bool plain_part_contains_point(const PolygonLayout& layout, u64 part, double x, double y) noexcept {
    return contains_by_rings<true>(layout, part, x, y);
}

namespace {

// in_plain_window on the bits of the magnitude, which order as the magnitudes do: no branch, so
// that a whole ring is read in one straight run.
constexpr std::uint64_t kMagnitudeBits = 0x7fffffffffffffffULL;
constexpr std::uint64_t kPlainLowBits = std::bit_cast<std::uint64_t>(0x1p-200);
constexpr std::uint64_t kPlainHighBits = std::bit_cast<std::uint64_t>(0x1p200);

std::uint64_t outside_plain_window(double v) noexcept {
    const std::uint64_t m = std::bit_cast<std::uint64_t>(v) & kMagnitudeBits;
    // Below the window the difference wraps around above it; zero is let through on its own,
    // NaN and infinity lie above the window.
    return static_cast<std::uint64_t>(m - kPlainLowBits > kPlainHighBits - kPlainLowBits) &
           static_cast<std::uint64_t>(m != 0);
}

}  // namespace

bool part_is_plain(const PolygonLayout& layout, u64 part) noexcept {
    const IndexRange rings = layout.part_rings(part);
    const double *xs = layout.xs.data(), *ys = layout.ys.data();
    std::uint64_t outside = 0;
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        for (u64 k = ring.begin; k < ring.end; ++k) {
            outside |= outside_plain_window(xs[k]) | outside_plain_window(ys[k]);
        }
    }
    return outside == 0;
}

}  // namespace vardelin

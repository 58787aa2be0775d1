#include "query/geometry/polygon_area.hpp"

#include <cmath>
#include <limits>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "core/parallel_map.hpp"
#include "query/geometry/shoelace.hpp"

namespace vardelin {

namespace {

// Signed shoelace area of one ring, NaN when any of its coordinates is not finite. The area
// would otherwise depend on where the ring starts: a NaN first coordinate never equals the copy
// that closes the ring, and an infinite one gives NaN or an infinity by the signs of its
// neighbours.
double ring_area(const double* xs, const double* ys, IndexRange ring) noexcept {
    const double* x = xs + ring.begin;
    const double* y = ys + ring.begin;
    const std::size_t n = ring.size();
    // One coordinate encloses nothing, but a corrupt one corrupts its part like any other: the
    // part is nowhere for every other method, and its area says so.
    if (n < 2) {
        const bool corrupt = n == 1 && !(std::isfinite(x[0]) && std::isfinite(y[0]));
        return corrupt ? std::numeric_limits<double>::quiet_NaN() : 0.0;
    }
    const double twice = shifted_shoelace_twice(n, [x](std::size_t k) { return x[k]; },
                                                [y](std::size_t k) { return y[k]; });
    // On a ring of 3 or more coordinates every coordinate enters a product, so a non-finite one
    // always makes the sum non-finite and finite sums need no scan. A non-finite sum may also
    // be an honest overflow of huge finite coordinates, which keeps its value.
    if (n >= 3 && std::isfinite(twice)) return 0.5 * twice;
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(x[k]) || !std::isfinite(y[k])) return std::numeric_limits<double>::quiet_NaN();
    }
    return 0.5 * twice;
}

}  // namespace

double part_area(const PolygonLayout& layout, std::size_t part) noexcept {
    const IndexRange rings = layout.part_rings(part);
    if (rings.empty()) return 0.0;
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    double area = std::fabs(ring_area(xs, ys, layout.ring(rings.begin)));
    for (u64 r = rings.begin + 1; r < rings.end; ++r) area -= std::fabs(ring_area(xs, ys, layout.ring(r)));
    return std::fabs(area);
}

namespace {

// Whether the map lists every polygon's parts side by side in ascending polygon order, the
// order every constructor writes, and names no polygon beyond the count.
bool grouped_in_order(std::span<const u32> map, u64 logical_count) {
    if (map.empty()) return true;
    if (map.back() >= logical_count) return false;
    return parallel_fold(
        map.size(), 1 << 16, true,
        [&](std::size_t b, std::size_t e, bool ok) {
            bool ascending = true;
            for (std::size_t p = b == 0 ? 1 : b; p < e; ++p) ascending &= map[p - 1] <= map[p];
            return ok && ascending;
        },
        [](bool a, bool b) { return a && b; });
}

// The sums for such a map, each polygon's on the worker that meets its first part: its parts
// are measured and added there in part order, the same additions from 0 as the general path's,
// so no part area is stored and no serial pass over the parts follows. The worker also writes
// the 0 of every polygon without parts just before it; those after the last part come last.
Buffer<double> grouped_areas(const PolygonLayout& layout, std::span<const u32> map, u64 logical_count) {
    Buffer<double> sums;
    sums.resize(logical_count);
    const std::size_t parts = map.size();
    const u32* m = map.data();
    double* out = sums.data();
    parallel_blocks(parts, 1 << 10, [&](std::size_t b, std::size_t e) {
        std::size_t p = b;
        while (p > 0 && p < e && m[p - 1] == m[p]) ++p;  // the rest of a polygon begun before b
        while (p < e) {
            const u32 g = m[p];
            for (u64 empty = p == 0 ? 0 : u64{m[p - 1]} + 1; empty < g; ++empty) out[empty] = 0.0;
            double area = 0.0;
            do {
                area += part_area(layout, p);
                ++p;
            } while (p < parts && m[p] == g);
            out[g] = area;
        }
    });
    for (u64 empty = parts == 0 ? 0 : u64{m[parts - 1]} + 1; empty < logical_count; ++empty) out[empty] = 0.0;
    return sums;
}

}  // namespace

Buffer<double> polygon_areas(const PolygonLayout& layout, std::optional<std::span<const u32>> part_poly,
                             u64 logical_count) {
    const std::size_t parts = layout.part_count();
    if (part_poly && part_poly->size() != parts) throw InternalError("part_poly length differs from the part count");
    if (part_poly && grouped_in_order(*part_poly, logical_count)) {
        return grouped_areas(layout, *part_poly, logical_count);
    }
    Buffer<double> areas = parallel_map<double>(parts, [&](std::size_t p) { return part_area(layout, p); });
    if (!part_poly) return areas;
    Buffer<double> sums;
    sums.assign(logical_count, 0.0);
    for (std::size_t p = 0; p < parts; ++p) {
        const u32 g = (*part_poly)[p];
        if (g >= logical_count) throw InternalError("part_poly entry beyond the logical polygon count");
        sums[g] += areas[p];
    }
    return sums;
}

}  // namespace vardelin

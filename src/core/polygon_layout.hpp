#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>

#include "core/numeric.hpp"

namespace vardelin {

// Half-open range [begin, end) of positions: coordinates of a ring, or rings of a part.
struct IndexRange {
    u64 begin = 0;
    u64 end = 0;
    u64 size() const noexcept { return end - begin; }
    bool empty() const noexcept { return end == begin; }
};

// The flat polygon layout every polygon kernel reads: ring r holds the coordinates
// ring_offsets[r] .. ring_offsets[r+1] - 1, part p the rings poly_offsets[p] ..
// poly_offsets[p+1] - 1, exterior ring first, holes after it. Rings may be stored open or
// closed; readers treat them as closed.
//
// Datasets refuse broken offsets when they are built, so a layout reaching a kernel is sound;
// the accessors still never read outside the arrays: an offset that steps back or points past
// its array reads as an empty range. Offsets are stored signed and read unsigned, so a
// negative one lands past every array.
struct PolygonLayout {
    std::span<const double> xs;
    std::span<const double> ys;
    std::span<const i64> ring_offsets;
    std::span<const i64> poly_offsets;

    PolygonLayout() = default;
    // xs and ys of unequal length are cut to the shorter, so that every position a ring
    // range hands out is valid in both.
    PolygonLayout(std::span<const double> x, std::span<const double> y, std::span<const i64> rings,
                  std::span<const i64> parts) noexcept
        : xs(x.first(std::min(x.size(), y.size()))), ys(y.first(std::min(x.size(), y.size()))),
          ring_offsets(rings), poly_offsets(parts) {}

    std::size_t part_count() const noexcept { return poly_offsets.size() < 2 ? 0 : poly_offsets.size() - 1; }
    std::size_t ring_count() const noexcept { return ring_offsets.size() < 2 ? 0 : ring_offsets.size() - 1; }
    std::size_t coordinate_count() const noexcept { return xs.size(); }

    // Rings of part p (p < part_count()).
    IndexRange part_rings(std::size_t p) const noexcept {
        if (p >= part_count()) return {};
        const u64 first = static_cast<u64>(poly_offsets[p]);
        const u64 last = static_cast<u64>(poly_offsets[p + 1]);
        if (last <= first || last > ring_count()) return {};
        return {first, last};
    }

    // Coordinates of ring r (r < ring_count()).
    IndexRange ring(u64 r) const noexcept {
        if (r >= ring_count()) return {};
        const u64 begin = static_cast<u64>(ring_offsets[r]);
        const u64 end = static_cast<u64>(ring_offsets[r + 1]);
        if (end <= begin || end > coordinate_count()) return {};
        return {begin, end};
    }

    // The exterior ring of part p; empty for a part with no rings (which then has no exterior:
    // ring poly_offsets[p] would be the next part's).
    IndexRange exterior(std::size_t p) const noexcept {
        const IndexRange rings = part_rings(p);
        return rings.empty() ? IndexRange{} : ring(rings.begin);
    }

    // Whether every coordinate of every ring of part p (exterior and holes, rings too short to
    // enclose anything included) is finite. A part with a NaN or infinite vertex has no region
    // anyone could compute: it contains, meets and lies within nothing, and has no area.
    bool part_is_finite(std::size_t p) const noexcept {
        const IndexRange rings = part_rings(p);
        return rings_are_finite(rings.begin, rings.end);
    }

    // The same for rings first .. end - 1, for a reader that has already scanned a part's
    // exterior in a pass of its own and needs only the holes.
    bool rings_are_finite(u64 first, u64 end) const noexcept {
        for (u64 r = first; r < end; ++r) {
            const IndexRange c = ring(r);
            for (u64 k = c.begin; k < c.end; ++k) {
                if (!std::isfinite(xs[k]) || !std::isfinite(ys[k])) return false;
            }
        }
        return true;
    }
};

}  // namespace vardelin

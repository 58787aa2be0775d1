#pragma once
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"
#include "index/brute.hpp"
#include "index/rtree.hpp"
#include "index/spatial_index.hpp"
#include "query/batch/grouped_agg.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/point_polygon_distance.hpp"
#include "query/multipoly.hpp"

namespace vardelin {

// The within-distance joins from query points to the parts of a polygon dataset, searched from
// the query side: per query point one index search over the part boxes, then the exact
// point-to-part distance of every candidate.
//
// One rule decides a match on every path (query side, polygon side, any index): the computed
// distance is at most d. A NaN distance, a negative one, a query point with a NaN or an
// infinite coordinate (which would otherwise lie within d = +inf) and a part with a non-finite
// vertex (boxed with NaN, so that no search offers it) match nothing, whatever the index would
// offer. The boxes only narrow the candidates, and are
// grown by a rounding margin (see `reach`) so that no part whose computed distance passes is
// left out by a box comparison that rounded the other way: which parts a search offers then
// never changes the answer, and the direct and the flipped runs agree to the last pair.

// Whether a join distance can match anything at all.
inline bool distance_matches_some(double d) noexcept { return d >= 0.0; }

// d plus a margin well above the rounding of a distance computed among coordinates of
// magnitude up to `magnitude` (relative 2^-30, a million times the few ulps the projection can
// lose), and above the squares that underflow to 0 for gaps below about 1e-162.
inline double reach(double d, double magnitude) noexcept {
    constexpr double kRelative = 9.313225746154785e-10;  // 2^-30
    constexpr double kAbsolute = 1e-150;
    return d + (magnitude + d) * kRelative + kAbsolute;
}

// The candidate box of a query point for distance d.
inline Box reach_box(double x, double y, double d) noexcept {
    const double h = reach(d, std::fabs(x) + std::fabs(y));
    return {x - h, y - h, x + h, y + h};
}

// A part's box grown to hold every point whose computed distance from the part can pass d.
inline Box reach_box(const Box& b, double d) noexcept {
    const double m = std::fmax(std::fabs(b.min_x), std::fabs(b.max_x)) + std::fmax(std::fabs(b.min_y), std::fabs(b.max_y));
    const double h = reach(d, m);
    return {b.min_x - h, b.min_y - h, b.max_x + h, b.max_y + h};
}

// Whether query point (x, y), finite, lies within d >= 0 of part p: whether
// point_to_polygon_distance(p, x, y) <= d, found with less work. That distance is 0 inside the
// part and otherwise the smallest edge distance, so the first edge within d settles it, and a
// point beyond d of every edge is kept only when the part contains it; the containment test,
// which scans every ring, then runs only for points that no edge keeps.
//
// Plain when the part is plain (part_is_plain), the point plain_point and d a plain_distance:
// the edges and the containment test then skip their range tests.
template <bool Plain = false>
inline bool part_within(const PolygonLayout& layout, std::size_t p, double x, double y, double d) noexcept {
    // Every part lies within +inf, even one without edges (at +inf itself).
    if (d == kInfinity) return true;
    const IndexRange rings = layout.part_rings(p);
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring.size() < 2) continue;
        u64 prev = ring.end - 1;
        for (u64 k = ring.begin; k < ring.end; prev = k++) {
            const bool near = Plain ? segment_within_plain(x, y, xs[prev], ys[prev], xs[k], ys[k], d)
                                    : segment_within(x, y, xs[prev], ys[prev], xs[k], ys[k], d);
            if (near) return true;
        }
    }
    return Plain ? plain_part_contains_point(layout, p, x, y) : part_contains_point(layout, p, x, y);
}

inline bool part_within(const PolygonLayout& layout, std::size_t p, double x, double y, double d,
                        bool plain) noexcept {
    return plain ? part_within<true>(layout, p, x, y, d) : part_within<false>(layout, p, x, y, d);
}

// Pairs [q0, g0, q1, g1, ...] of every query row and logical polygon within d, query-major,
// each row's polygons once, in the index's candidate order of their first matching part. The
// same for any thread count.
Buffer<u32> within_distance_pairs(const BruteForce& index, const PolygonLayout& layout, PartMap parts,
                                  const PointSpans& queries, double d);
Buffer<u32> within_distance_pairs(const PackedRTree& index, const PolygonLayout& layout, PartMap parts,
                                  const PointSpans& queries, double d);

// The same matches folded into the counts and column sums of `groups` logical polygons, in row
// order (aggregate_listed), without pairs; the matches listed at once stay within a budget.
GroupedAgg within_distance_aggregate(const BruteForce& index, const PolygonLayout& layout,
                                     PartMap parts, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns);
GroupedAgg within_distance_aggregate(const PackedRTree& index, const PolygonLayout& layout,
                                     PartMap parts, u64 groups, const PointSpans& queries, double d,
                                     const AggColumns& columns);

}  // namespace vardelin

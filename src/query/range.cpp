#include "query/range.hpp"

#include <algorithm>
#include <cmath>

#include "core/error.hpp"
#include "query/crossing.hpp"

namespace vardelin {

PartRings part_rings(std::span<const i64> ring_offsets, std::span<const i64> poly_offsets, u64 part) {
    if (poly_offsets.size() < 2 || part > poly_offsets.size() - 2) throw InternalError("polygon part out of range");
    const u64 first = static_cast<u64>(poly_offsets[part]);
    const u64 last = static_cast<u64>(poly_offsets[part + 1]);
    // Every ring r of the part reads ring_offsets[r + 1].
    if (first > last || (first < last && last >= ring_offsets.size())) {
        throw InternalError("polygon ring offsets out of range");
    }
    return {first, last};
}

RingSpan ring_span(std::span<const i64> ring_offsets, u64 ring, u64 coordinate_count) {
    if (ring_offsets.size() < 2 || ring > ring_offsets.size() - 2) throw InternalError("polygon ring out of range");
    const u64 begin = static_cast<u64>(ring_offsets[ring]);
    const u64 end = static_cast<u64>(ring_offsets[ring + 1]);
    if (begin > end || end > coordinate_count) throw InternalError("polygon coordinate offsets out of range");
    return {begin, end};
}

bool pip_raw(std::span<const double> xs, std::span<const double> ys, std::span<const i64> ring_offsets,
             std::span<const i64> poly_offsets, u64 part, double x, double y) {
    const PartRings rings = part_rings(ring_offsets, poly_offsets, part);
    if (rings.first == rings.last) return false;
    const u64 count = std::min(xs.size(), ys.size());
    const RingSpan exterior = ring_span(ring_offsets, rings.first, count);
    if (exterior.size() < 3) return false;
    if (!ring_contains(xs.data(), ys.data(), exterior.begin, exterior.end, x, y)) return false;
    for (u64 r = rings.first + 1; r < rings.last; ++r) {
        const RingSpan hole = ring_span(ring_offsets, r, count);
        if (hole.size() < 3) continue;
        if (ring_contains(xs.data(), ys.data(), hole.begin, hole.end, x, y)) return false;
    }
    return true;
}

namespace {

constexpr double kParallelGuard = 2.220446049250313e-16;

struct Vec2 {
    double x, y;
};

// Closed parameter ranges on both segments: touching at an endpoint counts as meeting.
bool segments_meet(Vec2 p, Vec2 e, Vec2 a, Vec2 d) noexcept {
    const double denominator = d.y * e.x - d.x * e.y;
    if (std::fabs(denominator) < kParallelGuard) return false;
    const double t = (d.y * (a.x - p.x) - d.x * (a.y - p.y)) / denominator;
    if (!(t >= 0.0 && t <= 1.0)) return false;
    const double u = ((a.x - p.x) * e.y - (a.y - p.y) * e.x) / denominator;
    return u >= 0.0 && u <= 1.0;
}

}  // namespace

bool polygon_intersects_bbox_raw(std::span<const double> xs, std::span<const double> ys,
                                 std::span<const i64> ring_offsets, std::span<const i64> poly_offsets, u64 part,
                                 double min_x, double min_y, double max_x, double max_y) {
    const PartRings rings = part_rings(ring_offsets, poly_offsets, part);
    if (rings.first == rings.last) return false;
    const RingSpan ring = ring_span(ring_offsets, rings.first, std::min(xs.size(), ys.size()));
    if (ring.size() == 0) return false;
    const double* px = xs.data();
    const double* py = ys.data();

    for (u64 i = ring.begin; i < ring.end; ++i) {
        if (min_x <= px[i] && px[i] <= max_x && min_y <= py[i] && py[i] <= max_y) return true;
    }
    if (ring.size() >= 3) {
        const Vec2 corners[4] = {{min_x, min_y}, {max_x, min_y}, {max_x, max_y}, {min_x, max_y}};
        for (const Vec2& c : corners) {
            if (ring_contains(px, py, ring.begin, ring.end, c.x, c.y)) return true;
        }
    }
    // The zero components are written as a value minus itself on purpose: with an infinite
    // bound they are NaN, not 0, and the test must see that.
    const Vec2 box_edges[4][2] = {
        {{min_x, min_y}, {max_x - min_x, min_y - min_y}},
        {{max_x, min_y}, {max_x - max_x, max_y - min_y}},
        {{max_x, max_y}, {min_x - max_x, max_y - max_y}},
        {{min_x, max_y}, {min_x - min_x, min_y - max_y}},
    };
    u64 j = ring.end - 1;
    for (u64 i = ring.begin; i < ring.end; j = i++) {
        const Vec2 p{px[j], py[j]};
        const Vec2 e{px[i] - px[j], py[i] - py[j]};
        for (const auto& edge : box_edges) {
            if (segments_meet(p, e, edge[0], edge[1])) return true;
        }
    }
    return false;
}

}  // namespace vardelin

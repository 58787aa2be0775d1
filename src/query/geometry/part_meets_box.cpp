#include "query/geometry/part_meets_box.hpp"

#include <cmath>

#include "query/geometry/part_contains_point.hpp"

namespace vardelin {

namespace {

struct Vec2 {
    double x, y;
};

// Closed parameter ranges on both segments: touching at an endpoint counts as meeting.
bool segments_meet(Vec2 p, Vec2 e, Vec2 a, Vec2 d) noexcept {
    const double denominator = d.y * e.x - d.x * e.y;
    if (std::fabs(denominator) < kEpsilon) return false;
    const double t = (d.y * (a.x - p.x) - d.x * (a.y - p.y)) / denominator;
    if (!(t >= 0.0 && t <= 1.0)) return false;
    const double u = ((a.x - p.x) * e.y - (a.y - p.y) * e.x) / denominator;
    return u >= 0.0 && u <= 1.0;
}

}  // namespace

bool part_meets_box(const PolygonLayout& layout, u64 part, const Box& box) noexcept {
    const IndexRange ring = layout.exterior(part);
    if (ring.empty()) return false;
    const double *px = layout.xs.data(), *py = layout.ys.data();
    const double min_x = box.min_x, min_y = box.min_y, max_x = box.max_x, max_y = box.max_y;

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

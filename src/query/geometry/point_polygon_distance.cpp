#include "query/geometry/point_polygon_distance.hpp"

#include <cmath>

#include "query/geometry/part_contains_point.hpp"

namespace vardelin {

double segment_distance_scaled(double x, double y, double ax, double ay, double bx, double by) noexcept {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) ||
        !std::isfinite(by)) {
        return std::sqrt(edge_squares(x, y, ax, ay, bx, by).d2);
    }
    // The point and the far end relative to a; halved where a difference of finite
    // coordinates overflows, which changes no bit that matters at such magnitudes.
    double px = x - ax, py = y - ay, ux = bx - ax, uy = by - ay;
    int unit = 0;
    if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(ux) || !std::isfinite(uy)) {
        px = x * 0.5 - ax * 0.5, py = y * 0.5 - ay * 0.5, ux = bx * 0.5 - ax * 0.5, uy = by * 0.5 - ay * 0.5;
        unit = 1;
    }
    if (px == 0.0 && py == 0.0) return 0.0;
    if (ux == 0.0 && uy == 0.0) return std::ldexp(planar_length(px, py), unit);
    // p = 2^ep p' and u = 2^eu u' with p', u' below 2: t = (p.u) / (u.u) = t' 2^(ep - eu),
    // and the projection u t, measured in units of 2^ep, is u' t'.
    const int ep = common_exponent(px, py), eu = common_exponent(ux, uy);
    const double spx = std::ldexp(px, -ep), spy = std::ldexp(py, -ep);
    const double sux = std::ldexp(ux, -eu), suy = std::ldexp(uy, -eu);
    const double t = (spx * sux + spy * suy) / (sux * sux + suy * suy);
    // Clamped as the squared form clamps: before a, or past b (t 2^(ep - eu) > 1).
    if (!(t > 0.0)) return std::ldexp(planar_length(px, py), unit);
    if (std::ldexp(t, ep - eu) > 1.0) return planar_distance(x, y, bx, by);
    return std::ldexp(planar_length(spx - sux * t, spy - suy * t), ep + unit);
}

bool segment_within_measured(double x, double y, double ax, double ay, double bx, double by, double d) noexcept {
    return segment_within(x, y, ax, ay, bx, by, d);
}

namespace {

// f(ax, ay, bx, by) for every edge of the part's rings of two or more coordinates, each ring's
// closing edge first.
template <class F>
void for_each_edge(const PolygonLayout& layout, std::size_t part, F&& f) noexcept {
    const IndexRange rings = layout.part_rings(part);
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        if (ring.size() < 2) continue;
        double ax = xs[ring.end - 1], ay = ys[ring.end - 1];
        for (u64 k = ring.begin; k < ring.end; ++k) {
            const double bx = xs[k], by = ys[k];
            f(ax, ay, bx, by);
            ax = bx;
            ay = by;
        }
    }
}

// The nearest edge of a part by the squared form alone, its minimum taken as the squares come:
// +inf for a part without edges.
double nearest_square(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    double best2 = kInfinity;
    for_each_edge(layout, part, [&](double ax, double ay, double bx, double by) {
        const double d2 = edge_squares(x, y, ax, ay, bx, by).d2;
        best2 = d2 < best2 ? d2 : best2;
    });
    return best2;
}

double nearest_edge(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    NearestEdge nearest;
    for_each_edge(layout, part, [&](double ax, double ay, double bx, double by) { nearest.add(x, y, ax, ay, bx, by); });
    return nearest.distance();
}

}  // namespace

double point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    if (part_contains_point(layout, part, x, y)) return 0.0;
    return nearest_edge(layout, part, x, y);
}

double plain_point_to_polygon_distance(const PolygonLayout& layout, std::size_t part, double x, double y) noexcept {
    if (plain_part_contains_point(layout, part, x, y)) return 0.0;
    // In the plain window no squared length or distance overflows and no nonzero length
    // underflows: when the smallest square is in range, every square is, each edge held as
    // NearestEdge would hold it, and the answer is its root. Only a distance below the range
    // sends the part through NearestEdge.
    const double best2 = nearest_square(layout, part, x, y);
    if (best2 >= kSquaredLow) [[likely]] return std::sqrt(best2);
    return nearest_edge(layout, part, x, y);
}

}  // namespace vardelin

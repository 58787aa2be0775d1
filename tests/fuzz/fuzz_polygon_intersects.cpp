// The exact intersection test of two parts against a plain reading of its rule: every segment
// of one ring against every segment of the other, and point positions by an explicit boundary
// scan plus a winding count. Coordinates are small multiples of 1/4, so the oracle's cross
// products are exact in plain floating point, and a small grid makes touching, collinear and
// repeated vertices common. The parts are large enough to take the sweep as well as the
// direct test; offsets are sometimes broken, which both sides must read as empty. The same pairs go
// through the intersection area, whose integer overlay must take any degenerate input: never
// negative, and NaN exactly when a coordinate of the pair is not finite. The point and box tests
// and the prepared bands take the same layouts at every vertex: nothing may read out of bounds,
// and a part past the layout may only raise InternalError.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "core/error.hpp"
#include "core/polygon_layout.hpp"
#include "query/geometry/intersection_area.hpp"
#include "query/geometry/intersects.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/part_meets_box.hpp"
#include "query/geometry/prepared_polygons.hpp"

using namespace vardelin;

namespace {

struct Pt {
    double x, y;
};
using Line = std::pair<Pt, Pt>;

double cross(Pt a, Pt b, Pt c) { return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x); }

bool within_box(Pt p, Pt a, Pt b) {
    return std::fmin(a.x, b.x) <= p.x && p.x <= std::fmax(a.x, b.x) && std::fmin(a.y, b.y) <= p.y &&
           p.y <= std::fmax(a.y, b.y);
}

bool on_segment(Pt p, Pt a, Pt b) { return cross(a, b, p) == 0 && within_box(p, a, b); }

int sign(double v) { return (v > 0) - (v < 0); }

bool lines_meet(const Line& p, const Line& q) {
    const int d1 = sign(cross(q.first, q.second, p.first)), d2 = sign(cross(q.first, q.second, p.second));
    const int d3 = sign(cross(p.first, p.second, q.first)), d4 = sign(cross(p.first, p.second, q.second));
    if (d1 * d2 < 0 && d3 * d4 < 0) return true;
    return on_segment(p.first, q.first, q.second) || on_segment(p.second, q.first, q.second) ||
           on_segment(q.first, p.first, p.second) || on_segment(q.second, p.first, p.second);
}

std::vector<Pt> ring_points(const PolygonLayout& l, IndexRange r) {
    std::vector<Pt> v;
    for (u64 k = r.begin; k < r.end; ++k) v.push_back({l.xs[k], l.ys[k]});
    return v;
}

// The ring closed by appending its first point when the last differs, then consecutive pairs.
std::vector<Line> ring_lines(std::vector<Pt> v) {
    if (!v.empty() && (v.front().x != v.back().x || v.front().y != v.back().y)) v.push_back(v.front());
    std::vector<Line> out;
    for (std::size_t k = 0; k + 1 < v.size(); ++k) out.push_back({v[k], v[k + 1]});
    return out;
}

enum Position { outside, boundary, inside };

Position position(Pt p, const std::vector<Pt>& ring) {
    if (ring.empty()) return outside;
    const std::size_t n = ring.size();
    for (std::size_t k = 0; k < n; ++k) {
        if (on_segment(p, ring[k], ring[(k + 1) % n])) return boundary;
    }
    int winding = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const Pt a = ring[k], b = ring[(k + 1) % n];
        if (a.y <= p.y && b.y > p.y && cross(a, b, p) > 0) ++winding;
        if (b.y <= p.y && a.y > p.y && cross(a, b, p) < 0) --winding;
    }
    return winding != 0 ? inside : outside;
}

struct OraclePart {
    bool usable = false;
    std::vector<Pt> exterior;
    std::vector<std::vector<Pt>> holes;
};

OraclePart oracle_part(const PolygonLayout& l, std::size_t p) {
    OraclePart o;
    const IndexRange rings = l.part_rings(p);
    if (rings.empty()) return o;
    o.exterior = ring_points(l, l.ring(rings.begin));
    for (u64 r = rings.begin + 1; r < rings.end; ++r) o.holes.push_back(ring_points(l, l.ring(r)));
    bool finite = !o.exterior.empty();
    for (const Pt& q : o.exterior) finite = finite && std::isfinite(q.x) && std::isfinite(q.y);
    for (const auto& h : o.holes) {
        for (const Pt& q : h) finite = finite && std::isfinite(q.x) && std::isfinite(q.y);
    }
    o.usable = finite;
    return o;
}

bool first_point_in(const OraclePart& a, const OraclePart& b) {
    const Pt c = a.exterior.front();
    const Position outer = position(c, b.exterior);
    if (outer != inside) return outer == boundary;
    for (const auto& h : b.holes) {
        const Position ph = position(c, h);
        if (ph == boundary) return true;
        if (ph == inside) return false;
    }
    return true;
}

bool any_lines_meet(const std::vector<Pt>& r1, const std::vector<Pt>& r2) {
    for (const Line& p : ring_lines(r1)) {
        for (const Line& q : ring_lines(r2)) {
            if (lines_meet(p, q)) return true;
        }
    }
    return false;
}

bool oracle(const PolygonLayout& l, std::size_t i, std::size_t j) {
    const OraclePart a = oracle_part(l, i), b = oracle_part(l, j);
    if (!a.usable || !b.usable) return false;
    const auto box = [](const std::vector<Pt>& r) {
        double b4[4] = {r[0].x, r[0].y, r[0].x, r[0].y};
        for (const Pt& p : r) {
            b4[0] = std::fmin(b4[0], p.x), b4[1] = std::fmin(b4[1], p.y);
            b4[2] = std::fmax(b4[2], p.x), b4[3] = std::fmax(b4[3], p.y);
        }
        return std::vector<double>(b4, b4 + 4);
    };
    const auto ba = box(a.exterior), bb = box(b.exterior);
    if (ba[2] < bb[0] || ba[3] < bb[1] || bb[2] < ba[0] || bb[3] < ba[1]) return false;
    if (first_point_in(a, b) || first_point_in(b, a)) return true;
    if (any_lines_meet(a.exterior, b.exterior)) return true;
    for (const auto& h : a.holes) {
        if (any_lines_meet(b.exterior, h)) return true;
    }
    for (const auto& h : b.holes) {
        if (any_lines_meet(a.exterior, h)) return true;
    }
    return false;
}

bool has_non_finite(const PolygonLayout& l, std::size_t p) {
    const IndexRange rings = l.part_rings(p);
    for (u64 r = rings.begin; r < rings.end; ++r) {
        for (const Pt& q : ring_points(l, l.ring(r))) {
            if (!std::isfinite(q.x) || !std::isfinite(q.y)) return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int reach = in.ConsumeIntegralInRange<int>(1, 64);
    const auto coordinate = [&]() {
        switch (in.ConsumeIntegralInRange<int>(0, 199)) {
            case 0:
                return std::numeric_limits<double>::quiet_NaN();
            case 1:
                return std::numeric_limits<double>::infinity();
            default:
                return in.ConsumeIntegralInRange<int>(-reach, reach) / 4.0;
        }
    };
    std::vector<double> xs, ys;
    std::vector<i64> ring_offsets{0}, poly_offsets{0};
    const int parts = in.ConsumeIntegralInRange<int>(1, 3);
    for (int p = 0; p < parts; ++p) {
        const int rings = in.ConsumeIntegralInRange<int>(0, 3);
        for (int r = 0; r < rings; ++r) {
            const int n = in.ConsumeIntegralInRange<int>(0, in.ConsumeBool() ? 6 : 90);
            for (int k = 0; k < n; ++k) {
                xs.push_back(coordinate());
                ys.push_back(coordinate());
            }
            ring_offsets.push_back(static_cast<i64>(xs.size()));
        }
        poly_offsets.push_back(static_cast<i64>(ring_offsets.size() - 1));
    }
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
        auto& v = in.ConsumeBool() ? ring_offsets : poly_offsets;
        v[in.ConsumeIntegralInRange<std::size_t>(0, v.size() - 1)] = in.ConsumeIntegralInRange<i64>(-2, 200);
    }
    const PolygonLayout layout(xs, ys, ring_offsets, poly_offsets);
    for (std::size_t i = 0; i <= layout.part_count(); ++i) {
        for (std::size_t j = 0; j <= layout.part_count(); ++j) {
            const bool got = polygons_intersect(layout, i, j);
            if (got != oracle(layout, i, j)) {
                std::fprintf(stderr, "parts %zu, %zu: kernel says %d\n", i, j, static_cast<int>(got));
                std::abort();
            }
            const double area = polygon_intersection_area(layout, i, j);
            if (std::isnan(area) != (has_non_finite(layout, i) || has_non_finite(layout, j)) || area < 0) {
                std::fprintf(stderr, "parts %zu, %zu: intersection area %g\n", i, j, area);
                std::abort();
            }
        }
    }
    const PreparedPolygons prepared(std::vector<std::uint8_t>(layout.part_count(), 1));
    for (std::size_t p = 0; p <= layout.part_count(); ++p) {
        for (std::size_t k = 0; k < xs.size(); ++k) {
            try {
                (void)part_contains_point(layout, p, xs[k], ys[k]);
                (void)part_meets_box(layout, p, Box{xs[k], ys[k], xs[k] + 1.0, ys[k] + 1.0});
                (void)prepared.contains(p, layout, xs[k], ys[k]);
            } catch (const InternalError&) {
            }
        }
    }
    return 0;
}

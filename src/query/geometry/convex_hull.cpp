#include "query/geometry/convex_hull.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/error.hpp"
#include "core/parallel_map.hpp"
#include "query/geometry/orientation.hpp"
#include "query/geometry/shoelace.hpp"

namespace vardelin {

namespace {

struct Point {
    double x, y;
};

int orientation(const Orienter& orient, const Point& a, const Point& b, const Point& c) noexcept {
    return orient(a.x, a.y, b.x, b.y, c.x, c.y);
}

// Below this many points the interior filter costs more than the sort it saves.
constexpr std::size_t kFilterMinPoints = 64;
// Scratch larger than this is released after the call rather than kept by the thread.
constexpr std::size_t kKeptScratch = std::size_t{1} << 16;

// Per-thread buffers, so that the many small hulls of a grouped call allocate nothing.
struct HullScratch {
    std::vector<Point> points;
    std::vector<Point> hull;

    void release_if_large() {
        if (points.capacity() > kKeptScratch) std::vector<Point>().swap(points);
        if (hull.capacity() > kKeptScratch) std::vector<Point>().swap(hull);
    }
};

HullScratch& scratch() {
    thread_local HullScratch s;
    return s;
}

// Akl-Toussaint: the extreme points in the eight directions at 45 degree steps, taken
// counter-clockwise, span a convex polygon inside the hull; a point strictly left of each of its
// edges lies strictly inside the hull and can be no hull vertex. The test is exact, so no hull
// vertex is ever dropped, whichever extremes a tie or an overflowing x + y picks.
void copy_outside_interior(const double* xs, const double* ys, std::size_t n, const Orienter& orient,
                           std::vector<Point>& out) {
    std::array<std::size_t, 8> ext{};
    // Extremes by weights (wx, wy) in counter-clockwise order of direction, starting at -x.
    constexpr std::array<std::array<double, 2>, 8> directions{
        {{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}}};
    std::array<double, 8> best{};
    best.fill(-std::numeric_limits<double>::infinity());
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t d = 0; d < 8; ++d) {
            const double v = directions[d][0] * xs[k] + directions[d][1] * ys[k];
            if (v > best[d]) {
                best[d] = v;
                ext[d] = k;
            }
        }
    }
    std::array<Point, 8> q{};
    std::size_t m = 0;
    for (std::size_t d = 0; d < 8; ++d) {
        const Point p{xs[ext[d]], ys[ext[d]]};
        if (m == 0 || p.x != q[m - 1].x || p.y != q[m - 1].y) q[m++] = p;
    }
    while (m > 1 && q[m - 1].x == q[0].x && q[m - 1].y == q[0].y) --m;
    out.clear();
    if (m < 3) {
        for (std::size_t k = 0; k < n; ++k) out.push_back({xs[k], ys[k]});
        return;
    }
    for (std::size_t k = 0; k < n; ++k) {
        const Point p{xs[k], ys[k]};
        bool interior = true;
        for (std::size_t e = 0; e < m && interior; ++e) {
            interior = orientation(orient, q[e], q[e + 1 == m ? 0 : e + 1], p) > 0;
        }
        if (!interior) out.push_back(p);
    }
}

// Andrew's monotone chain over points sorted by (x, y); a turn that is not strictly
// counter-clockwise is popped, which drops repeated and collinear points. The hull comes back
// counter-clockwise and open.
void monotone_chain(const std::vector<Point>& pts, const Orienter& orient, std::vector<Point>& hull) {
    const std::size_t n = pts.size();
    hull.resize(2 * n);
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (k >= 2 && orientation(orient, hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    for (std::size_t i = n - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && orientation(orient, hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    hull.resize(k - 1);
}

}  // namespace

double convex_hull_area(std::span<const double> xs, std::span<const double> ys) {
    const std::size_t n = std::min(xs.size(), ys.size());
    // Fewer than 3 points span no area wherever they lie, non-finite ones included.
    if (n < 3) return 0.0;
    Orienter orient;
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(xs[k]) || !std::isfinite(ys[k])) return std::numeric_limits<double>::quiet_NaN();
        orient.look_at(xs[k], ys[k]);
    }
    HullScratch& s = scratch();
    if (n >= kFilterMinPoints) {
        copy_outside_interior(xs.data(), ys.data(), n, orient, s.points);
    } else {
        s.points.clear();
        for (std::size_t k = 0; k < n; ++k) s.points.push_back({xs[k], ys[k]});
    }
    std::sort(s.points.begin(), s.points.end(),
              [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    monotone_chain(s.points, orient, s.hull);
    const Point* h = s.hull.data();
    const double twice = shifted_shoelace_twice(s.hull.size(), [h](std::size_t k) { return h[k].x; },
                                                [h](std::size_t k) { return h[k].y; });
    s.release_if_large();
    return std::fabs(0.5 * twice);
}

Buffer<double> group_convex_hull_areas(std::span<const double> xs, std::span<const double> ys,
                                       std::span<const i64> offsets) {
    const std::size_t groups = offsets.empty() ? 0 : offsets.size() - 1;
    const u64 n = std::min(xs.size(), ys.size());
    for (std::size_t g = 0; g < groups; ++g) {
        if (offsets[g] < 0 || offsets[g] > offsets[g + 1] || static_cast<u64>(offsets[g + 1]) > n) {
            throw InternalError("group offsets out of range");
        }
    }
    return parallel_map<double>(groups, [&](std::size_t g) {
        const std::size_t b = static_cast<std::size_t>(offsets[g]);
        const std::size_t e = static_cast<std::size_t>(offsets[g + 1]);
        return convex_hull_area(xs.subspan(b, e - b), ys.subspan(b, e - b));
    });
}

}  // namespace vardelin

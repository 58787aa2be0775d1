#include "query/geometry/convex_hull.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "core/error.hpp"
#include "core/parallel.hpp"
#include "query/geometry/orientation.hpp"
#include "query/geometry/shoelace.hpp"

namespace vardelin {

namespace {

struct Point {
    double x, y;
};

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

// Out of line: inlined, the compiler recomputes the thread-local address (a call in a shared
// library) at every use of the scratch instead of keeping it in a register.
[[gnu::noinline]] HullScratch& scratch() {
    thread_local HullScratch s;
    return s;
}

bool all_finite(const double* xs, const double* ys, std::size_t n) noexcept {
    for (std::size_t k = 0; k < n; ++k) {
        if (!std::isfinite(xs[k]) || !std::isfinite(ys[k])) return false;
    }
    return true;
}

// Extremes by weights (wx, wy) in counter-clockwise order of direction, starting at -x.
constexpr std::array<std::array<double, 2>, 8> kDirections{
    {{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}}};

// The index of the extreme point in each of the eight directions at 45 degree steps, found in
// the one pass that also looks at every coordinate for the orientation window. With a
// non-finite coordinate the extremes mean nothing, and the caller answers NaN instead.
void find_extremes(const double* xs, const double* ys, std::size_t n, std::array<std::size_t, 8>& ext,
                   OrientationWindowFold& window) noexcept {
    std::array<double, 8> best{};
    best.fill(-std::numeric_limits<double>::infinity());
    ext.fill(0);
    for (std::size_t k = 0; k < n; ++k) {
        window.look_at(xs[k], ys[k]);
        for (std::size_t d = 0; d < 8; ++d) {
            const double v = kDirections[d][0] * xs[k] + kDirections[d][1] * ys[k];
            if (v > best[d]) {
                best[d] = v;
                ext[d] = k;
            }
        }
    }
}

// Akl-Toussaint: the extreme points, taken counter-clockwise, span a convex polygon inside the
// hull; a point strictly left of each of its edges lies strictly inside the hull and can be no
// hull vertex. The test is exact, so no hull vertex is ever dropped, whichever extremes a tie or
// an overflowing x + y picks. Out of line, so that its stack frame does not keep the small
// hulls' orientations from being inlined.
template <class Orient>
[[gnu::noinline]] void copy_outside_interior(const double* xs, const double* ys, std::size_t n,
                                             const std::array<std::size_t, 8>& ext, const Orient& orient,
                                             std::vector<Point>& out) {
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
    const auto strictly_inside = [&](const Point& p) {
        for (std::size_t e = 0; e < m; ++e) {
            const Point& a = q[e];
            const Point& b = q[e + 1 == m ? 0 : e + 1];
            if (!(orient(a.x, a.y, b.x, b.y, p.x, p.y) > 0)) return false;
        }
        return true;
    };
    // Most points lie deep inside, in the box spanned by the diagonal extremes, drawn in by a
    // little so that no corner is an extreme itself. Where each of its corners is strictly
    // inside the polygon, so is the whole closed box (the strict interior of a convex polygon is
    // convex), and a point in it is interior by four comparisons instead of the edge tests,
    // which would find it interior too: the copy is the same. The corners are computed, so they
    // are tested only where they are in the orientation window, as the points are.
    double x0 = std::max(xs[ext[1]], xs[ext[7]]), x1 = std::min(xs[ext[3]], xs[ext[5]]);
    double y0 = std::max(ys[ext[1]], ys[ext[3]]), y1 = std::min(ys[ext[5]], ys[ext[7]]);
    const double dx = (x1 - x0) * 0x1p-8, dy = (y1 - y0) * 0x1p-8;
    x0 += dx;
    x1 -= dx;
    y0 += dy;
    y1 -= dy;
    OrientationWindowFold corners;
    corners.look_at(x0, y0);
    corners.look_at(x1, y1);
    const bool box_inside = x0 <= x1 && y0 <= y1 && corners.in_window() && strictly_inside({x0, y0}) &&
                            strictly_inside({x1, y0}) && strictly_inside({x1, y1}) && strictly_inside({x0, y1});
    for (std::size_t k = 0; k < n; ++k) {
        const Point p{xs[k], ys[k]};
        if (box_inside && p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1) continue;
        bool interior = true;
        for (std::size_t e = 0; e < m && interior; ++e) {
            const Point& a = q[e];
            const Point& b = q[e + 1 == m ? 0 : e + 1];
            interior = orient(a.x, a.y, b.x, b.y, p.x, p.y) > 0;
        }
        if (!interior) out.push_back(p);
    }
}

// Andrew's monotone chain over the points sorted by (x, y); a turn that is not strictly
// counter-clockwise is popped, which drops repeated and collinear points. Returns twice the
// signed area of the hull, which comes out counter-clockwise and open.
template <class Orient>
double chain_twice_area(std::vector<Point>& pts, const Orient& orient, std::vector<Point>& hull) {
    std::sort(pts.begin(), pts.end(),
              [](const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    const auto turns_left = [&](const Point& a, const Point& b, const Point& c) {
        return orient(a.x, a.y, b.x, b.y, c.x, c.y) > 0;
    };
    const std::size_t n = pts.size();
    hull.resize(2 * n);
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (k >= 2 && !turns_left(hull[k - 2], hull[k - 1], pts[i])) --k;
        hull[k++] = pts[i];
    }
    for (std::size_t i = n - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && !turns_left(hull[k - 2], hull[k - 1], pts[i])) --k;
        hull[k++] = pts[i];
    }
    hull.resize(k - 1);
    const Point* h = hull.data();
    return shifted_shoelace_twice(hull.size(), [h](std::size_t j) { return h[j].x; },
                                  [h](std::size_t j) { return h[j].y; });
}

// The hull of the points the caller has gathered (all of them, or the extremes to filter by),
// its orientations of one kind throughout: those without the range check where every point is
// in the window, else the exact ones that check each triple.
template <class Orient>
double hull_twice_area(const double* xs, const double* ys, std::size_t n, const std::array<std::size_t, 8>* ext,
                       const Orient& orient, HullScratch& s) {
    if (ext != nullptr) copy_outside_interior(xs, ys, n, *ext, orient, s.points);
    return chain_twice_area(s.points, orient, s.hull);
}

// Kept out of line: point sets beyond the window are rare, and a second copy of the loops in
// the caller would push the first one's orientations out of line for the many small hulls.
[[gnu::noinline]] double hull_twice_area_beyond_window(const double* xs, const double* ys, std::size_t n,
                                                       const std::array<std::size_t, 8>* ext, HullScratch& s) {
    const auto exact = [](double ax, double ay, double bx, double by, double cx, double cy) {
        return orientation(ax, ay, bx, by, cx, cy);
    };
    return hull_twice_area(xs, ys, n, ext, exact, s);
}

// The hull area on the thread's scratch, which a grouped call looks up once per block of groups:
// the thread-local lookup costs as much as a fifth of a ten-point hull.
double hull_area(std::span<const double> xs, std::span<const double> ys, HullScratch& s) {
    const std::size_t n = std::min(xs.size(), ys.size());
    // Fewer than 3 points span no area wherever they lie, non-finite ones included.
    if (n < 3) return 0.0;
    std::array<std::size_t, 8> ext{};
    const bool filter = n >= kFilterMinPoints;
    // The window holds finite values only: a set inside it needs no finiteness scan, and one
    // outside is scanned again to tell a non-finite coordinate from a merely huge or tiny one.
    OrientationWindowFold fold;
    if (filter) {
        find_extremes(xs.data(), ys.data(), n, ext, fold);
    } else {
        s.points.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            s.points[k] = {xs[k], ys[k]};
            fold.look_at(xs[k], ys[k]);
        }
    }
    const bool window = fold.in_window();
    // Decided before any ordering: sorting NaN would be undefined.
    if (!window && !all_finite(xs.data(), ys.data(), n)) return std::numeric_limits<double>::quiet_NaN();
    const std::array<std::size_t, 8>* extremes = filter ? &ext : nullptr;
    const auto unchecked = [](double ax, double ay, double bx, double by, double cx, double cy) {
        return orientation_in_window(ax, ay, bx, by, cx, cy);
    };
    const double twice = window ? hull_twice_area(xs.data(), ys.data(), n, extremes, unchecked, s)
                                : hull_twice_area_beyond_window(xs.data(), ys.data(), n, extremes, s);
    s.release_if_large();
    return std::fabs(0.5 * twice);
}

}  // namespace

double convex_hull_area(std::span<const double> xs, std::span<const double> ys) {
    return hull_area(xs, ys, scratch());
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
    Buffer<double> out;
    out.resize(groups);
    double* dst = out.data();
    parallel_blocks(groups, 1, [&](std::size_t first, std::size_t last) {
        HullScratch& s = scratch();
        for (std::size_t g = first; g != last; ++g) {
            const std::size_t b = static_cast<std::size_t>(offsets[g]);
            const std::size_t e = static_cast<std::size_t>(offsets[g + 1]);
            dst[g] = hull_area(xs.subspan(b, e - b), ys.subspan(b, e - b), s);
        }
    });
    return out;
}

}  // namespace vardelin

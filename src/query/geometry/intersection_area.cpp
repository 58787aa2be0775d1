#include "query/geometry/intersection_area.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <clipper.hpp>

#include "core/error.hpp"

namespace vardelin {

namespace {

__extension__ typedef __int128 i128;

// Clipper switches to 128-bit arithmetic when any coordinate exceeds this bound.
constexpr double kGridHalfWidth = static_cast<double>(ClipperLib::loRange);

// The box of all rings of a part and whether every coordinate in them is finite.
struct PartExtent {
    bool has_rings = false;
    bool finite = true;
    double min_x = std::numeric_limits<double>::infinity();
    double min_y = std::numeric_limits<double>::infinity();
    double max_x = -std::numeric_limits<double>::infinity();
    double max_y = -std::numeric_limits<double>::infinity();
};

PartExtent scan_part(const PolygonLayout& layout, std::size_t part) noexcept {
    PartExtent e;
    const IndexRange rings = layout.part_rings(part);
    e.has_rings = !rings.empty();
    for (u64 r = rings.begin; r < rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        for (u64 k = ring.begin; k < ring.end; ++k) {
            const double x = layout.xs[k], y = layout.ys[k];
            if (!std::isfinite(x) || !std::isfinite(y)) {
                e.finite = false;
                return e;
            }
            e.min_x = std::min(e.min_x, x);
            e.max_x = std::max(e.max_x, x);
            e.min_y = std::min(e.min_y, y);
            e.max_y = std::max(e.max_y, y);
        }
    }
    return e;
}

// Maps coordinates onto the grid: the centre of the pair's box to 0 and its longer half side to
// kGridHalfWidth.
struct Grid {
    double cx, cy, half;

    ClipperLib::cInt snap(double v, double centre) const noexcept {
        // |v - centre| <= half, so the quotient lies in [-1, 1]; the clamp only guards the cast.
        // The grid's edge is a whole number, so clamping before rounding changes nothing.
        const double q = std::clamp((v - centre) / half * kGridHalfWidth, -kGridHalfWidth, kGridHalfWidth);
        // Rounded half away from zero, as std::round does, without a library call per
        // coordinate: below 2^30 the truncation is exact and so is the fraction it leaves. The
        // step is added without a branch, which would be a coin toss on every coordinate.
        const auto truncated = static_cast<ClipperLib::cInt>(q);
        const double fraction = q - static_cast<double>(truncated);
        const ClipperLib::cInt up = fraction >= 0.5, down = fraction <= -0.5;
        return truncated + up - down;
    }
};

void append_rings(const PolygonLayout& layout, std::size_t part, const Grid& grid, ClipperLib::Paths& out) {
    const IndexRange rings = layout.part_rings(part);
    out.resize(rings.size());
    for (u64 r = rings.begin; r < rings.end; ++r) {
        ClipperLib::Path& path = out[r - rings.begin];
        path.clear();
        const IndexRange ring = layout.ring(r);
        path.reserve(ring.size());
        for (u64 k = ring.begin; k < ring.end; ++k) {
            path.emplace_back(grid.snap(layout.xs[k], grid.cx), grid.snap(layout.ys[k], grid.cy));
        }
    }
}

// Twice the signed area of a closed integer path, exact: coordinates below 2^30 keep every
// product below 2^60, and 128 bits hold any sum of them.
i128 twice_area(const ClipperLib::Path& path) noexcept {
    i128 sum = 0;
    const std::size_t n = path.size();
    for (std::size_t k = 0, prev = n - 1; k < n; prev = k++) {
        sum += static_cast<i128>(path[prev].X) * path[k].Y - static_cast<i128>(path[k].X) * path[prev].Y;
    }
    return sum;
}

// The overlay engine and its paths per thread: their buffers are reused across the many pairs
// one worker measures.
struct OverlayScratch {
    ClipperLib::Clipper clipper;
    ClipperLib::Paths subject, clip, solution;
};

OverlayScratch& overlay_scratch() {
    thread_local OverlayScratch s;
    return s;
}

}  // namespace

double polygon_intersection_area(const PolygonLayout& layout, std::size_t i, std::size_t j) {
    const PartExtent a = scan_part(layout, i);
    const PartExtent b = scan_part(layout, j);
    if (!a.finite || !b.finite) return std::numeric_limits<double>::quiet_NaN();
    if (!a.has_rings || !b.has_rings) return 0.0;
    // Also true when a part's rings hold no coordinate: its box is inverted.
    if (a.max_x < b.min_x || b.max_x < a.min_x || a.max_y < b.min_y || b.max_y < a.min_y) return 0.0;
    const double min_x = std::min(a.min_x, b.min_x), max_x = std::max(a.max_x, b.max_x);
    const double min_y = std::min(a.min_y, b.min_y), max_y = std::max(a.max_y, b.max_y);
    // Everything lies on one line: nothing is enclosed.
    if (!(max_x > min_x) || !(max_y > min_y)) return 0.0;
    // Halves are taken before adding so that a box spanning most of the double range does not
    // overflow. The centre is rounded, so the half side is measured from it with the same
    // subtraction the snapping does: then no coordinate maps beyond the grid's edge, where the
    // clamp would move it.
    const double cx = min_x * 0.5 + max_x * 0.5, cy = min_y * 0.5 + max_y * 0.5;
    const double half = std::max(std::max(max_x - cx, cx - min_x), std::max(max_y - cy, cy - min_y));
    if (!(half > 0.0)) return 0.0;
    const Grid grid{cx, cy, half};

    OverlayScratch& s = overlay_scratch();
    append_rings(layout, i, grid, s.subject);
    append_rings(layout, j, grid, s.clip);
    s.clipper.Clear();
    // Clipper refuses paths that enclose nothing once snapped (fewer than 3 distinct points, or
    // all on one line); a side left with none encloses nothing either.
    const bool subject_encloses = s.clipper.AddPaths(s.subject, ClipperLib::ptSubject, true);
    const bool clip_encloses = s.clipper.AddPaths(s.clip, ClipperLib::ptClip, true);
    if (!subject_encloses || !clip_encloses) {
        s.clipper.Clear();
        return 0.0;
    }
    s.solution.clear();
    // With edges on both sides, Clipper reports its internal failures (an allocation among
    // them) only by returning false; an area of 0 in their place would be a failure passed off
    // as a result.
    const bool done =
        s.clipper.Execute(ClipperLib::ctIntersection, s.solution, ClipperLib::pftEvenOdd, ClipperLib::pftEvenOdd);
    s.clipper.Clear();
    if (!done) throw InternalError("polygon overlay failed");

    // Outer paths come back with positive area and holes with negative, so their plain sum is
    // the area of the region.
    i128 twice = 0;
    for (const ClipperLib::Path& path : s.solution) twice += twice_area(path);
    if (twice < 0) twice = -twice;
    const double unit = half / kGridHalfWidth;
    return static_cast<double>(twice) * 0.5 * unit * unit;
}

}  // namespace vardelin

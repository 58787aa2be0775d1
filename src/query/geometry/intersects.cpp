#include "query/geometry/intersects.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "query/geometry/segment_search.hpp"

namespace vardelin {

namespace {

struct Extent {
    double min_x = std::numeric_limits<double>::infinity();
    double min_y = std::numeric_limits<double>::infinity();
    double max_x = -std::numeric_limits<double>::infinity();
    double max_y = -std::numeric_limits<double>::infinity();

    void add(double x, double y) noexcept {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    bool apart_from(const Extent& o) const noexcept {
        return max_x < o.min_x || max_y < o.min_y || o.max_x < min_x || o.max_y < min_y;
    }
};

// What the predicate needs of one part, from one pass over its coordinates.
struct PartView {
    IndexRange rings;
    IndexRange exterior;
    Extent exterior_box;
    Extent box;  // of all rings: no segment of the part leaves it
    Orienter orient;  // has looked at every coordinate
    bool usable = false;
};

// A plain part (part_is_plain) is finite and inside the orientation window: its coordinates are
// only folded into the boxes.
PartView view_part(const PolygonLayout& layout, std::size_t part, bool plain) noexcept {
    PartView v;
    v.rings = layout.part_rings(part);
    if (v.rings.empty()) return v;
    v.exterior = layout.ring(v.rings.begin);
    if (v.exterior.empty()) return v;
    if (plain) {
        for (u64 r = v.rings.begin; r < v.rings.end; ++r) {
            const IndexRange ring = layout.ring(r);
            for (u64 k = ring.begin; k < ring.end; ++k) {
                v.box.add(layout.xs[k], layout.ys[k]);
                if (r == v.rings.begin) v.exterior_box.add(layout.xs[k], layout.ys[k]);
            }
        }
        v.usable = true;
        return v;
    }
    for (u64 r = v.rings.begin; r < v.rings.end; ++r) {
        const IndexRange ring = layout.ring(r);
        for (u64 k = ring.begin; k < ring.end; ++k) {
            const double x = layout.xs[k], y = layout.ys[k];
            if (!std::isfinite(x) || !std::isfinite(y)) return v;
            v.orient.look_at(x, y);
            v.box.add(x, y);
            if (r == v.rings.begin) v.exterior_box.add(x, y);
        }
    }
    v.usable = true;
    return v;
}

enum class RingPosition { outside, boundary, inside };

// Nonzero winding number of the ring around (x, y), closed back to its first coordinate; an
// empty ring puts every point outside, a one-coordinate ring only that coordinate on its
// boundary.
template <class Orient>
RingPosition ring_position(const PolygonLayout& layout, IndexRange ring, double x, double y,
                           const Orient& orient) noexcept {
    if (ring.empty()) return RingPosition::outside;
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    // An upward edge counts with its lower end and without its upper one, a downward edge the
    // other way round, so a crossing at a vertex counts once; horizontal edges never count.
    long winding = 0;
    u64 j = ring.end - 1;
    for (u64 i = ring.begin; i < ring.end; j = i++) {
        const double ax = xs[j], ay = ys[j], bx = xs[i], by = ys[i];
        if (ay <= y) {
            if (by < y) continue;
            const int side = orient(ax, ay, bx, by, x, y);
            if (side > 0 && by != y) {
                ++winding;
            } else if (side == 0 && std::min(ax, bx) <= x && x <= std::max(ax, bx)) {
                return RingPosition::boundary;
            }
        } else if (by <= y) {
            const int side = orient(ax, ay, bx, by, x, y);
            if (side < 0) {
                --winding;
            } else if (side == 0 && std::min(ax, bx) <= x && x <= std::max(ax, bx)) {
                return RingPosition::boundary;
            }
        }
    }
    return winding != 0 ? RingPosition::inside : RingPosition::outside;
}

// Whether the first exterior coordinate of `a` lies in `b`, its boundary included.
template <class Orient>
bool first_vertex_in(const PolygonLayout& layout, const PartView& a, const PartView& b, const Orient& orient) noexcept {
    const double x = layout.xs[a.exterior.begin], y = layout.ys[a.exterior.begin];
    const RingPosition outer = ring_position(layout, b.exterior, x, y, orient);
    if (outer == RingPosition::boundary) return true;
    if (outer == RingPosition::outside) return false;
    for (u64 r = b.rings.begin + 1; r < b.rings.end; ++r) {
        const RingPosition hole = ring_position(layout, layout.ring(r), x, y, orient);
        if (hole == RingPosition::boundary) return true;
        if (hole == RingPosition::inside) return false;
    }
    return true;
}

// The segments of a ring read closed; the closing edge is left out where it has zero length or
// repeats the only other edge, since it adds no point to the ring.
void add_ring_segments(const PolygonLayout& layout, IndexRange ring, bool hole, const Extent& reach,
                       std::vector<Segment>& out) {
    if (ring.size() < 2) return;
    const double* xs = layout.xs.data();
    const double* ys = layout.ys.data();
    const auto add = [&](u64 p, u64 q) {
        const Segment s = make_segment(xs[p], ys[p], xs[q], ys[q], hole);
        if (s.min_x <= reach.max_x && reach.min_x <= s.max_x && s.min_y <= reach.max_y && reach.min_y <= s.max_y) {
            out.push_back(s);
        }
    };
    for (u64 k = ring.begin; k + 1 < ring.end; ++k) add(k, k + 1);
    const u64 last = ring.end - 1;
    if (ring.size() > 2 && (xs[last] != xs[ring.begin] || ys[last] != ys[ring.begin])) add(last, ring.begin);
}

// The segments of a part that can meet the other part, whose rings all lie in `reach`.
void part_segments(const PolygonLayout& layout, const PartView& part, const Extent& reach, std::vector<Segment>& out) {
    out.clear();
    for (u64 r = part.rings.begin; r < part.rings.end; ++r) {
        add_ring_segments(layout, layout.ring(r), r != part.rings.begin, reach, out);
    }
}

}  // namespace

bool polygons_intersect(const PolygonLayout& layout, std::size_t i, std::size_t j, const PlainParts* plain) {
    const PartView a = view_part(layout, i, plain && (*plain)(layout, i));
    const PartView b = view_part(layout, j, plain && (*plain)(layout, j));
    if (!a.usable || !b.usable) return false;
    if (a.exterior_box.apart_from(b.exterior_box)) return false;
    const Orienter orient{a.orient.in_window && b.orient.in_window};
    const bool vertex_in = orient.in_window
                               ? first_vertex_in(layout, a, b, WindowOrientation{}) ||
                                     first_vertex_in(layout, b, a, WindowOrientation{})
                               : first_vertex_in(layout, a, b, orient) || first_vertex_in(layout, b, a, orient);
    if (vertex_in) return true;
    thread_local std::vector<Segment> segments_a, segments_b;
    part_segments(layout, a, b.box, segments_a);
    part_segments(layout, b, a.box, segments_b);
    return any_segments_meet(segments_a, segments_b, orient);
}

}  // namespace vardelin

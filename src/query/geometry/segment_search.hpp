#pragma once
#include <vector>

#include "query/geometry/orientation.hpp"

namespace vardelin {

// A closed segment of a ring with its box, and whether the ring is a hole.
struct Segment {
    double ax, ay, bx, by;
    double min_x, max_x, min_y, max_y;
    bool hole;
};

inline Segment make_segment(double ax, double ay, double bx, double by, bool hole) noexcept {
    return {ax,
            ay,
            bx,
            by,
            ax < bx ? ax : bx,
            ax < bx ? bx : ax,
            ay < by ? ay : by,
            ay < by ? by : ay,
            hole};
}

// The orientation of coordinates all known to lie in the window (in_orientation_window): the
// predicate alone, for the loops that test many segments of parts an Orienter found there.
struct WindowOrientation {
    int operator()(double ax, double ay, double bx, double by, double cx, double cy) const noexcept {
        return orientation_in_window(ax, ay, bx, by, cx, cy);
    }
};

// Whether two closed segments share a point, on exact orientation: a shared endpoint, an
// endpoint on the other segment and a collinear overlap all count, and a segment of zero length
// is its point. Coordinates must be finite; `orient` (an Orienter that has looked at all of
// them, or WindowOrientation) decides each orientation.
template <class Orient>
bool segments_meet(const Segment& p, const Segment& q, const Orient& orient) noexcept {
    const int o1 = orient(p.ax, p.ay, p.bx, p.by, q.ax, q.ay);
    const int o2 = orient(p.ax, p.ay, p.bx, p.by, q.bx, q.by);
    if (o1 != 0 && o1 == o2) return false;
    const int o3 = orient(q.ax, q.ay, q.bx, q.by, p.ax, p.ay);
    const int o4 = orient(q.ax, q.ay, q.bx, q.by, p.bx, p.by);
    if (o3 != 0 && o3 == o4) return false;
    // Either the segments cross or touch, or all four points are collinear; on one line, closed
    // segments share a point exactly when their boxes do.
    return p.min_x <= q.max_x && q.min_x <= p.max_x && p.min_y <= q.max_y && q.min_y <= p.max_y;
}

// Whether some segment of `a` meets some segment of `b`, pairs of two hole segments excepted.
// Few pairs are tested directly; many are swept in order of their x intervals, which tests only
// the pairs whose x intervals overlap and gives the same answer. Reorders both vectors. Where
// `orient` found every coordinate in the window, the tests call the window's predicate alone.
bool any_segments_meet(std::vector<Segment>& a, std::vector<Segment>& b, const Orienter& orient);

}  // namespace vardelin

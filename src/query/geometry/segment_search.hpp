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

// Whether two closed segments share a point, on exact orientation: a shared endpoint, an
// endpoint on the other segment and a collinear overlap all count, and a segment of zero length
// is its point. Coordinates must be finite; `orient` has looked at all of them.
bool segments_meet(const Segment& p, const Segment& q, const Orienter& orient) noexcept;

// Whether some segment of `a` meets some segment of `b`, pairs of two hole segments excepted.
// Few pairs are tested directly; many are swept in order of their x intervals, which tests only
// the pairs whose x intervals overlap and gives the same answer. Reorders both vectors.
bool any_segments_meet(std::vector<Segment>& a, std::vector<Segment>& b, const Orienter& orient);

}  // namespace vardelin

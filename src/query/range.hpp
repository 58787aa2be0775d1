#pragma once
#include <span>

#include "core/numeric.hpp"

namespace vardelin {

// Coordinate range [begin, end) of one ring of a polygon layout, after checking that the
// offsets name real rings and coordinates. Offsets are stored signed and read unsigned, so a
// negative one is out of range. A violation is a broken internal invariant (InternalError).
struct RingSpan {
    u64 begin;
    u64 end;
    u64 size() const noexcept { return end - begin; }
};

// Rings [first, last) of `part`, checked against the offset arrays.
struct PartRings {
    u64 first;
    u64 last;
};

PartRings part_rings(std::span<const i64> ring_offsets, std::span<const i64> poly_offsets, u64 part);
RingSpan ring_span(std::span<const i64> ring_offsets, u64 ring, u64 coordinate_count);

// True when (x, y) lies inside the exterior ring of `part` and inside none of its holes, each
// ring tested on its own by the crossing rule. An exterior of fewer than 3 coordinates contains
// nothing; holes of fewer than 3 coordinates are ignored.
bool pip_raw(std::span<const double> xs, std::span<const double> ys, std::span<const i64> ring_offsets,
             std::span<const i64> poly_offsets, u64 part, double x, double y);

// True when the exterior ring of `part` meets the closed box, used exactly as passed. Holes
// are ignored: a box inside a hole still meets the part. Vertices first, then box corners,
// then edge crossings; edges closer to parallel than an absolute 2^-52 never cross.
bool polygon_intersects_bbox_raw(std::span<const double> xs, std::span<const double> ys,
                                 std::span<const i64> ring_offsets, std::span<const i64> poly_offsets, u64 part,
                                 double min_x, double min_y, double max_x, double max_y);

}  // namespace vardelin

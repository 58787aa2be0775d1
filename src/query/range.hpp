#pragma once
#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"

namespace vardelin {

// The exact part tests of the single queries and the containment joins. A part number past the
// layout, or broken offsets, read as a part without rings: it contains and meets nothing. A
// part with a non-finite vertex never gets here: its index box is NaN, which no search meets.

// True when (x, y) lies inside the exterior ring of `part` and inside none of its holes, each
// ring tested on its own by the crossing rule. An exterior of fewer than 3 coordinates contains
// nothing; holes of fewer than 3 coordinates are ignored.
bool pip_raw(const PolygonLayout& layout, u64 part, double x, double y) noexcept;

// True when the exterior ring of `part` meets the closed box, used exactly as passed. Holes
// are ignored: a box inside a hole still meets the part. Vertices first, then box corners,
// then edge crossings; edges closer to parallel than an absolute kEpsilon never cross.
bool polygon_intersects_bbox_raw(const PolygonLayout& layout, u64 part, const Box& box) noexcept;

}  // namespace vardelin

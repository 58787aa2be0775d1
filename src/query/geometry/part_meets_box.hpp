#pragma once
#include "core/box.hpp"
#include "core/numeric.hpp"
#include "core/polygon_layout.hpp"

namespace vardelin {

// The exact test of a range query over polygon parts. A part number past the layout, or broken
// offsets, read as a part without rings, which meets nothing; a part with a non-finite vertex
// never gets here, its NaN index box meeting no search.

// True when the exterior ring of `part` meets the closed box, used exactly as passed. Holes
// are ignored: a box inside a hole still meets the part. Vertices first, then box corners,
// then edge crossings; edges closer to parallel than an absolute kEpsilon never cross.
bool part_meets_box(const PolygonLayout& layout, u64 part, const Box& box) noexcept;

}  // namespace vardelin

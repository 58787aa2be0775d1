#pragma once
#include <vector>

#include "core/box.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// The item box of part p: the box of its exterior ring only (holes never widen it), folded
// with NaN-ignoring minima and maxima. A part without rings, or whose exterior ring is empty,
// gets the empty box. A part with a non-finite vertex in any ring gets kNowhereBox instead,
// decided here once for every search over the box: no range search meets it and it ranks at
// +inf, so the exact tests behind the searches never see it.
Box part_box(const PolygonLayout& layout, std::size_t p) noexcept;

// Whether part p has no exterior coordinates (the parts given the empty box above). Such a
// part is nowhere: it lies at distance +inf from every point, although its box is the origin.
bool part_is_empty(const PolygonLayout& layout, std::size_t p) noexcept;

// The empty parts, ascending.
std::vector<u32> empty_parts(const PolygonLayout& layout);

// The boxes of every part, in part order, on the worker pool.
Buffer<Box> part_boxes_parallel(const PolygonLayout& layout);

}  // namespace vardelin

#pragma once
#include <vector>

#include "core/box.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// The item box of part p: the box of its exterior ring only (holes never widen it), folded
// with NaN-ignoring minima and maxima. A part without rings, or whose exterior ring is empty,
// gets the empty box.
Box exterior_ring_box(const PolygonLayout& layout, std::size_t p) noexcept;

// Whether part p has no exterior coordinates (the parts given the empty box above). Such a
// part is nowhere: it lies at distance +inf from every point, although its box is the origin.
bool part_is_empty(const PolygonLayout& layout, std::size_t p) noexcept;

// The empty parts, ascending.
std::vector<u32> empty_parts(const PolygonLayout& layout);

// The boxes of every part, in part order, on the worker pool.
Buffer<Box> part_boxes_parallel(const PolygonLayout& layout);

}  // namespace vardelin

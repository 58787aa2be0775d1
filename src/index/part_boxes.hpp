#pragma once
#include "core/box.hpp"
#include "core/polygon_layout.hpp"
#include "core/shared_array.hpp"

namespace vardelin {

// The item box of part p: the box of its exterior ring only (holes never widen it), folded
// with NaN-ignoring minima and maxima. A part without rings, or whose exterior ring is empty,
// gets the empty box.
Box exterior_ring_box(const PolygonLayout& layout, std::size_t p) noexcept;

// The boxes of every part, in part order, on the worker pool.
Buffer<Box> part_boxes_parallel(const PolygonLayout& layout);

}  // namespace vardelin

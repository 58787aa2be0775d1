#pragma once
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "stats/types.hpp"

namespace vardelin {

// The polygon layout as the indexes read it: ring r is xs/ys[ring_offsets[r] .. ring_offsets[r+1]),
// part p is rings poly_offsets[p] .. poly_offsets[p+1], exterior ring first.
struct PartLayout {
    std::span<const double> xs;
    std::span<const double> ys;
    std::span<const i64> ring_offsets;
    std::span<const i64> poly_offsets;

    std::size_t part_count() const noexcept { return poly_offsets.size() < 2 ? 0 : poly_offsets.size() - 1; }
};

// The item box of part p: the box of its exterior ring only (holes never widen it), folded
// with NaN-ignoring minima and maxima from (+inf, +inf, -inf, -inf). A part without rings, or
// whose exterior ring is empty, gets (0, 0, 0, 0); offsets outside the arrays count as empty
// rather than being read.
Box exterior_ring_box(const PartLayout& layout, std::size_t p) noexcept;

// Whether part p has no exterior coordinates (the parts given the box (0, 0, 0, 0) above). Such
// a part is nowhere: it lies at distance +inf from every point, although its box is the origin.
bool part_is_empty(const PartLayout& layout, std::size_t p) noexcept;

// The empty parts, ascending.
std::vector<u32> empty_parts(const PartLayout& layout);

// The boxes of every part, in part order, on the worker pool.
Buffer<Box> part_boxes_parallel(const PartLayout& layout);

}  // namespace vardelin

#include "index/part_boxes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

namespace vardelin {

namespace {

struct Span {
    u64 begin, end;
};

// Coordinate positions of part p's exterior ring; end <= begin when there are none.
Span exterior_ring_span(const PartLayout& layout, std::size_t p) noexcept {
    // Offsets are read as unsigned positions; a negative one becomes huge and fails the checks.
    const u64 ring = static_cast<u64>(layout.poly_offsets[p]);
    const u64 ring_end = static_cast<u64>(layout.poly_offsets[p + 1]);
    // A part without rings has no exterior ring: taking ring poly_offsets[p] anyway would read
    // the next part's exterior ring.
    // (ring_end <= ring also catches ring = 2^64 - 1, so ring + 1 below cannot wrap.)
    if (ring_end <= ring || ring + 1 >= layout.ring_offsets.size()) return {0, 0};
    const u64 begin = static_cast<u64>(layout.ring_offsets[ring]);
    const u64 end = std::min<u64>(static_cast<u64>(layout.ring_offsets[ring + 1]),
                                  std::min(layout.xs.size(), layout.ys.size()));
    return {begin, end};
}

}  // namespace

bool part_is_empty(const PartLayout& layout, std::size_t p) noexcept {
    const Span s = exterior_ring_span(layout, p);
    return s.end <= s.begin;
}

std::vector<u32> empty_parts(const PartLayout& layout) {
    std::vector<u32> out;
    for (std::size_t p = 0; p < layout.part_count(); ++p) {
        if (part_is_empty(layout, p)) out.push_back(static_cast<u32>(p));
    }
    return out;
}

Box exterior_ring_box(const PartLayout& layout, std::size_t p) noexcept {
    const auto [begin, end] = exterior_ring_span(layout, p);
    if (end <= begin) return Box{0.0, 0.0, 0.0, 0.0};
    constexpr double inf = std::numeric_limits<double>::infinity();
    Box b{inf, inf, -inf, -inf};
    for (u64 i = begin; i < end; ++i) {
        b.min_x = std::fmin(b.min_x, layout.xs[i]);
        b.max_x = std::fmax(b.max_x, layout.xs[i]);
        b.min_y = std::fmin(b.min_y, layout.ys[i]);
        b.max_y = std::fmax(b.max_y, layout.ys[i]);
    }
    return b;
}

Buffer<Box> part_boxes_parallel(const PartLayout& layout) {
    Buffer<Box> boxes;
    boxes.resize(layout.part_count());
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, boxes.size()), [&](const tbb::blocked_range<std::size_t>& r) {
        for (std::size_t p = r.begin(); p != r.end(); ++p) boxes[p] = exterior_ring_box(layout, p);
    });
    return boxes;
}

}  // namespace vardelin

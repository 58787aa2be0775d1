#include "index/part_boxes.hpp"

#include "core/parallel_map.hpp"

namespace vardelin {

bool part_is_empty(const PolygonLayout& layout, std::size_t p) noexcept { return layout.exterior(p).empty(); }

std::vector<u32> empty_parts(const PolygonLayout& layout) {
    std::vector<u32> out;
    for (std::size_t p = 0; p < layout.part_count(); ++p) {
        if (part_is_empty(layout, p)) out.push_back(static_cast<u32>(p));
    }
    return out;
}

Box part_box(const PolygonLayout& layout, std::size_t p) noexcept {
    const IndexRange rings = layout.part_rings(p);
    if (rings.empty()) return kEmptyBox;
    const IndexRange ring = layout.ring(rings.begin);
    // The exterior's box and its finiteness in one pass: x - x is NaN exactly when x is not
    // finite, and a NaN stays in the sum. The box of a part found finite keeps only finite
    // values, where the plain comparisons are what fold_point's fmin and fmax compute (x86-64's
    // minsd and maxsd, signed zeros alike), without a library call per coordinate; a part found
    // otherwise gets kNowhereBox whatever they folded.
    Box b = kFoldStart;
    double non_finite = 0.0;
    for (u64 i = ring.begin; i < ring.end; ++i) {
        const double x = layout.xs[i], y = layout.ys[i];
        b.min_x = b.min_x < x ? b.min_x : x;
        b.max_x = b.max_x > x ? b.max_x : x;
        b.min_y = b.min_y < y ? b.min_y : y;
        b.max_y = b.max_y > y ? b.max_y : y;
        non_finite += (x - x) + (y - y);
    }
    if (non_finite != 0.0 || !layout.rings_are_finite(rings.begin + 1, rings.end)) return kNowhereBox;
    if (ring.empty()) return kEmptyBox;
    return b;
}

Buffer<Box> part_boxes_parallel(const PolygonLayout& layout) {
    return parallel_map<Box>(layout.part_count(), [&](std::size_t p) { return part_box(layout, p); });
}

}  // namespace vardelin

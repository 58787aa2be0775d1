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
    if (!layout.part_is_finite(p)) return kNowhereBox;
    const IndexRange ring = layout.exterior(p);
    if (ring.empty()) return kEmptyBox;
    Box b = kFoldStart;
    for (u64 i = ring.begin; i < ring.end; ++i) fold_point(b, layout.xs[i], layout.ys[i]);
    return b;
}

Buffer<Box> part_boxes_parallel(const PolygonLayout& layout) {
    return parallel_map<Box>(layout.part_count(), [&](std::size_t p) { return part_box(layout, p); });
}

}  // namespace vardelin

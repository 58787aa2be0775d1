#include "engine/candidates.hpp"
#include "engine/contains_query.hpp"
#include "engine/intersect_ranges.hpp"
#include "engine/range_query.hpp"
#include "query/hits.hpp"
#include "query/mask.hpp"

namespace vardelin {

// The bound is read only after the queries: one of them may have merged the delta buffer.

Buffer<std::uint8_t> range_mask(Engine& engine, double min_x, double min_y, double max_x, double max_y,
                                std::span<const u32> candidates) {
    const HitList hits = range_query(engine, min_x, min_y, max_x, max_y);
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

Buffer<std::uint8_t> contains_mask(Engine& engine, double x, double y, std::span<const u32> candidates) {
    const HitList hits = contains_query(engine, x, y);
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

Buffer<std::uint8_t> fused_mask(Engine& engine, std::span<const std::array<double, 4>> boxes,
                                std::span<const std::array<double, 2>> points, std::span<const u32> candidates) {
    std::vector<HitList> lists;
    lists.reserve(points.size() + 1);
    if (!boxes.empty()) lists.push_back(intersect_ranges(engine, boxes));
    for (const auto& p : points) lists.push_back(contains_query(engine, p[0], p[1]));
    const HitList hits = intersect_hits(std::move(lists));
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

}  // namespace vardelin

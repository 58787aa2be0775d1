#include "engine/candidates.hpp"

#include "core/radix_sort.hpp"
#include "engine/single_queries.hpp"
#include "query/candidate_knn.hpp"
#include "query/mask.hpp"

namespace vardelin {

namespace {

HitList sorted_hits(Engine& engine, const std::array<double, 4>& box) {
    HitList hits = settle(range_query(engine, box[0], box[1], box[2], box[3]));
    sort_ids(hits);
    return hits;
}

}  // namespace

HitList intersect_ranges(Engine& engine, std::span<const std::array<double, 4>> boxes) {
    if (boxes.empty()) return {};
    // A query that merges the delta buffer keeps every id: merged point j lands at position
    // main length + j, the id it was reported under before, so earlier hits stay comparable.
    HitList running = sorted_hits(engine, boxes[0]);
    for (std::size_t i = 1; i < boxes.size(); ++i) {
        if (running.empty()) break;
        running = sorted_intersect(std::move(running), sorted_hits(engine, boxes[i]));
    }
    return running;
}

// The bound is read only after the queries: one of them may have merged the delta buffer.

Buffer<std::uint8_t> range_mask(Engine& engine, double min_x, double min_y, double max_x, double max_y,
                                std::span<const u32> candidates) {
    const HitList hits = settle(range_query(engine, min_x, min_y, max_x, max_y));
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

Buffer<std::uint8_t> contains_mask(Engine& engine, double x, double y, std::span<const u32> candidates) {
    const HitList hits = settle(contains_query(engine, x, y));
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

Buffer<std::uint8_t> fused_mask(Engine& engine, std::span<const std::array<double, 4>> boxes,
                                std::span<const std::array<double, 2>> points, std::span<const u32> candidates) {
    std::vector<HitList> lists;
    lists.reserve(points.size() + 1);
    if (!boxes.empty()) lists.push_back(intersect_ranges(engine, boxes));
    for (const auto& p : points) lists.push_back(settle(contains_query(engine, p[0], p[1])));
    const HitList hits = intersect_hits(std::move(lists));
    return hits_to_mask(mask_bound(engine), hits, candidates);
}

std::vector<u64> knn_from_candidates(const Engine& engine, double x, double y, u64 k,
                                     std::span<const u32> candidates) {
    return knn_indices_from_candidates(engine.points(), k, candidates, x, y);
}

Buffer<std::uint8_t> knn_mask_from_candidates(const Engine& engine, double x, double y, u64 k,
                                              std::span<const u32> candidates) {
    const auto rows = knn_indices_from_candidates(engine.points(), k, candidates, x, y);
    return hits_to_mask(mask_bound(engine), rows, candidates);
}

}  // namespace vardelin

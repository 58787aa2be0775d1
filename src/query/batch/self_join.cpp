#include "query/batch/self_join.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/radix_sort.hpp"
#include "index/part_boxes.hpp"

namespace vardelin::query::batch {

Box self_join_search_box(const PolygonLayout& layout, std::size_t part) noexcept {
    return part_is_empty(layout, part) ? kFoldStart : exterior_ring_box(layout, part);
}

std::vector<u32> logical_pairs(std::vector<u32>&& part_pairs, std::span<const u32> part_poly) {
    // One word per pair, the first id high, so that ascending words are pairs ordered by
    // (first, second).
    std::vector<u64> keys;
    keys.reserve(part_pairs.size() / 2);
    for (std::size_t k = 0; k + 1 < part_pairs.size(); k += 2) {
        const u32 i = part_pairs[k], j = part_pairs[k + 1];
        if (i >= part_poly.size() || j >= part_poly.size()) throw InternalError("part pair outside the part map");
        const u32 a = part_poly[i], b = part_poly[j];
        if (a == b) continue;
        keys.push_back(a < b ? (u64{a} << 32) | b : (u64{b} << 32) | a);
    }
    sort_ids(keys);
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::vector<u32> out = std::move(part_pairs);
    out.resize(2 * keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        out[2 * k] = static_cast<u32>(keys[k] >> 32);
        out[2 * k + 1] = static_cast<u32>(keys[k]);
    }
    return out;
}

}  // namespace vardelin::query::batch

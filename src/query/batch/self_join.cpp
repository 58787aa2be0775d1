#include "query/batch/self_join.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/memory.hpp"
#include "core/radix_sort.hpp"
#include "index/part_boxes.hpp"

namespace vardelin {

Box self_join_search_box(const PolygonLayout& layout, std::size_t part) noexcept {
    return part_is_empty(layout, part) ? kFoldStart : part_box(layout, part);
}

void prefetch_parts(const PolygonLayout& layout, std::span<const u32> pairs) noexcept {
    // Three rounds, one per level of the offsets that lead to a part's coordinates; each round
    // reads what the previous one asked for, likely arrived by then.
    for (std::size_t k = 1; k < pairs.size(); k += 2) {
        if (pairs[k] < layout.poly_offsets.size()) request_line(&layout.poly_offsets[pairs[k]]);
    }
    for (std::size_t k = 1; k < pairs.size(); k += 2) {
        if (pairs[k] >= layout.part_count()) continue;
        const u64 r = static_cast<u64>(layout.poly_offsets[pairs[k]]);
        if (r < layout.ring_offsets.size()) request_line(&layout.ring_offsets[r]);
    }
    for (std::size_t k = 1; k < pairs.size(); k += 2) {
        const IndexRange ring = layout.exterior(pairs[k]);
        for (u64 c = ring.begin; c < ring.end; c += 8) {
            request_line(&layout.xs[c]);
            request_line(&layout.ys[c]);
        }
    }
}

Buffer<u32> logical_pairs(Buffer<u32>&& part_pairs, std::span<const u32> part_poly) {
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
    Buffer<u32> out = std::move(part_pairs);
    out.resize(2 * keys.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
        out[2 * k] = static_cast<u32>(keys[k] >> 32);
        out[2 * k + 1] = static_cast<u32>(keys[k]);
    }
    return out;
}

}  // namespace vardelin

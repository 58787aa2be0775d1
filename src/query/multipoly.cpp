#include "query/multipoly.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/radix_sort.hpp"

namespace vardelin {

std::vector<std::size_t> dedup_indices(std::vector<std::size_t> hits, std::span<const u32> part_poly) {
    std::vector<std::size_t> out;
    if (hits.empty()) return out;
    for (std::size_t& h : hits) {
        if (h >= part_poly.size()) throw InternalError("part hit beyond the part map");
        h = part_poly[h];
    }
    out.reserve(hits.size());
    // A short list is searched in place; a long one (a whole-extent box over many polygons)
    // would make that quadratic, so its first occurrences are found by sorting (polygon,
    // position) keys instead, and then read back in position order.
    constexpr std::size_t kShortList = 32;
    if (hits.size() <= kShortList || hits.size() > kU32Max) {
        for (const std::size_t g : hits) {
            if (std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
        }
        return out;
    }
    std::vector<u64> keys(hits.size());
    for (std::size_t i = 0; i < hits.size(); ++i) keys[i] = (u64{hits[i]} << 32) | i;
    sort_ids(keys);
    std::vector<std::uint8_t> first(hits.size(), 0);
    for (std::size_t j = 0; j < keys.size(); ++j) {
        if (j == 0 || (keys[j] >> 32) != (keys[j - 1] >> 32)) first[keys[j] & kU32Max] = 1;
    }
    for (std::size_t i = 0; i < hits.size(); ++i) {
        if (first[i]) out.push_back(hits[i]);
    }
    return out;
}

PartsCsr polygon_parts_csr(std::span<const u32> part_poly, std::size_t n_logical) {
    // Counts are 32-bit: the row limit keeps parts and polygons below 2^32.
    if (part_poly.size() > kU32Max || n_logical > kU32Max) throw InternalError("part map beyond the row limit");
    PartsCsr csr;
    csr.offsets.assign(n_logical + 1, 0);
    for (const u32 g : part_poly) {
        if (g >= n_logical) throw InternalError("part map entry beyond the logical polygon count");
        ++csr.offsets[g + 1];
    }
    for (std::size_t g = 0; g < n_logical; ++g) csr.offsets[g + 1] += csr.offsets[g];
    std::vector<u32> cursor = csr.offsets;
    csr.parts.assign(part_poly.size(), 0);
    for (std::size_t j = 0; j < part_poly.size(); ++j) {
        csr.parts[cursor[part_poly[j]]++] = static_cast<u32>(j);
    }
    return csr;
}

}  // namespace vardelin

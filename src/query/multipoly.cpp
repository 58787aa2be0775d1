#include "query/multipoly.hpp"

#include <algorithm>

#include "core/error.hpp"

namespace vardelin::query::multipoly {

std::vector<std::size_t> dedup_indices(std::vector<std::size_t> hits, std::span<const u32> part_poly) {
    std::vector<std::size_t> out;
    if (hits.empty()) return out;
    out.reserve(hits.size());
    for (const std::size_t h : hits) {
        if (h >= part_poly.size()) throw InternalError("part hit beyond the part map");
        const std::size_t g = part_poly[h];
        if (std::find(out.begin(), out.end(), g) == out.end()) out.push_back(g);
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

}  // namespace vardelin::query::multipoly

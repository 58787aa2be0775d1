#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// Maps part hits to logical polygons, each once, in first-seen order (never sorted). Every
// hit must be below part_poly's length. Linear in a short list, n log n in a long one.
std::vector<std::size_t> dedup_indices(std::vector<std::size_t> hits, std::span<const u32> part_poly);

// The parts of every logical polygon, as compressed rows: polygon g owns
// parts[offsets[g]] up to parts[offsets[g + 1]], in ascending part order.
struct PartsCsr {
    std::vector<u32> offsets;  // n_logical + 1 entries
    std::vector<u32> parts;    // one entry per part
};

// Every entry of part_poly must be below n_logical (callers pass the dataset's logical_count).
PartsCsr polygon_parts_csr(std::span<const u32> part_poly, std::size_t n_logical);

}  // namespace vardelin

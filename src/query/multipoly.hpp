#pragma once
#include <cstddef>
#include <span>
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// The logical polygon of every part: entry p of the dataset's part map, or p itself where there
// is no map (every part its own polygon). Results that name polygons name them through this.
struct PartMap {
    std::span<const u32> part_poly;  // empty: the identity

    PartMap() = default;
    // A span is a map: the dataset's array, or none.
    PartMap(std::span<const u32> map) noexcept : part_poly(map) {}

    bool grouped() const noexcept { return !part_poly.empty(); }
    // `part` must be below the map's length when there is a map (checked once per call, see covers).
    u32 polygon_of(u64 part) const noexcept { return grouped() ? part_poly[part] : static_cast<u32>(part); }
    // Whether every part of a layout of `parts` parts has an entry: the identity covers any number.
    bool covers(std::size_t parts) const noexcept { return !grouped() || part_poly.size() == parts; }
};

// Maps part hits to logical polygons, each once, in first-seen order (never sorted). Every
// hit must be below part_poly's length. Linear in a short list, n log n in a long one.
std::vector<std::size_t> dedup_indices(std::vector<std::size_t> hits, std::span<const u32> part_poly);

// The parts of every logical polygon, as compressed rows: polygon g owns
// parts[offsets[g]] up to parts[offsets[g + 1]], in ascending part order.
struct PartsCsr {
    std::vector<u32> offsets;  // n_logical + 1 entries
    std::vector<u32> parts;    // one entry per part

    // The parts of polygon g (g < n_logical).
    std::span<const u32> parts_of(std::size_t g) const noexcept {
        return std::span<const u32>(parts).subspan(offsets[g], offsets[g + 1] - offsets[g]);
    }
};

// Every entry of part_poly must be below n_logical (callers pass the dataset's logical_count).
PartsCsr polygon_parts_csr(std::span<const u32> part_poly, std::size_t n_logical);

}  // namespace vardelin

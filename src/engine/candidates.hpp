#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// The bound of every candidate mask, read after the call's own queries (a merge they trigger
// raises it). Candidates and hits on a polygon dataset are logical polygons, so the part
// count would cut off polygons numbered past it.
inline u64 mask_bound(const Engine& engine) noexcept {
    return engine.is_polygons() ? engine.logical_count : engine.stats.n;
}

// Exact ranking of the candidate rows of the main coordinate arrays, nearest first; reads
// neither the delta buffer nor the coordinate system and records nothing.
std::vector<u64> knn_from_candidates(const Engine& engine, double x, double y, u64 k,
                                     std::span<const u32> candidates);

// The same rows as a mask over the candidates: every occurrence of a chosen row is marked.
Buffer<std::uint8_t> knn_mask_from_candidates(const Engine& engine, double x, double y, u64 k,
                                              std::span<const u32> candidates);

}  // namespace vardelin

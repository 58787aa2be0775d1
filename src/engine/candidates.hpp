#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"
#include "query/hits.hpp"

namespace vardelin {

// The bound of every candidate mask, read after the call's own queries (a merge they trigger
// raises it). Candidates and hits on a polygon dataset are logical polygons, so the part
// count would cut off polygons numbered past it.
inline u64 mask_bound(const Engine& engine) noexcept {
    return engine.is_polygons() ? engine.logical_count : engine.stats.n;
}

// The ids that every box (min_x, min_y, max_x, max_y) holds, ascending, as the multiset
// intersection of one full range query per box in the given order. Stops querying at the
// first box after which the running intersection is empty: later boxes run no query and
// record nothing. Empty for no boxes.
HitList intersect_ranges(Engine& engine, std::span<const std::array<double, 4>> boxes);

// Masks of the hits of one full single query (metrics, delta scan, delta work and merge as
// when Python calls it) over the whole dataset.
Buffer<std::uint8_t> range_mask(Engine& engine, double min_x, double min_y, double max_x, double max_y,
                                std::span<const u32> candidates);
Buffer<std::uint8_t> contains_mask(Engine& engine, double x, double y, std::span<const u32> candidates);

// The conjunction of every box and every containment point: the boxes through
// intersect_ranges (which may stop early), then one containment query per point, always all
// of them. With neither boxes nor points nothing runs and the mask is all false.
Buffer<std::uint8_t> fused_mask(Engine& engine, std::span<const std::array<double, 4>> boxes,
                                std::span<const std::array<double, 2>> points, std::span<const u32> candidates);

// Exact ranking of the candidate rows of the main coordinate arrays, nearest first; reads
// neither the delta buffer nor the coordinate system and records nothing.
std::vector<u64> knn_from_candidates(const Engine& engine, double x, double y, u64 k,
                                     std::span<const u32> candidates);

// The same rows as a mask over the candidates: every occurrence of a chosen row is marked.
Buffer<std::uint8_t> knn_mask_from_candidates(const Engine& engine, double x, double y, u64 k,
                                              std::span<const u32> candidates);

}  // namespace vardelin

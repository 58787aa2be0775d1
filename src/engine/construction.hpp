#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/parsed_polygons.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// Building a dataset: from point arrays, from polygon ring arrays, from WKB columns and from
// a decoded batch. Every constructor checks what it is handed before it copies anything.

// A point dataset over arrays the caller has already checked (equal lengths, row limit);
// gathers and times the statistics.
Engine new_points(SharedArray<double> xs, SharedArray<double> ys);

// Copies the caller's coordinates once into shared arrays, then builds the point dataset.
Engine engine_from_points(const PointSpans& points);

// The single constructor of polygon datasets. Stores the arrays without copying, gathers and
// times the polygon statistics; the callers have checked the row limits and vouch for the
// layout (offsets within bounds and never decreasing, part map entries below logical_count).
Engine new_polygons(SharedArray<double> xs, SharedArray<double> ys, SharedArray<i64> ring_offsets,
                    SharedArray<i64> poly_offsets, SharedArray<u32> part_poly, u64 logical_count);

// Row limits on parts and logical polygons, one copy of each array into its shared form, then
// new_polygons; records the decode time the caller measured.
Engine from_parsed_polygons(ParsedPolygons&& batch, u64 wkb_decode_ns);

// Checks the ring arrays (the caller has checked contiguity of the four arrays and the equal
// coordinate lengths), copies each once and builds the dataset.
Engine engine_from_polygon_rings(std::span<const double> xs, std::span<const double> ys,
                                 std::span<const i64> ring_offsets, std::span<const i64> poly_offsets,
                                 const DeferredArray<i64>* part_poly);

// Decode a WKB column read in place (its time becomes wkb_decode_ns) and build the dataset;
// one logical polygon per geometry.
Engine engine_from_wkb_polygons(std::span<const std::uint8_t> data, std::span<const i64> offsets);
Engine engine_from_wkb_polygon_views(std::span<const std::uint8_t> views,
                                     std::span<const std::span<const std::uint8_t>> buffers);

// What an offset array indexes, for its messages: "ring_offsets ... at ring {i} ... coordinate
// count", "poly_offsets ... at polygon {p} ... ring count".
struct OffsetsRole {
    const char* array;
    const char* item;
    const char* bound;
};

inline constexpr OffsetsRole kRingOffsets{"ring_offsets", "ring", "coordinate count"};
inline constexpr OffsetsRole kPolyOffsets{"poly_offsets", "polygon", "ring count"};

// Every end (entries 1 onwards, read as unsigned, so a negative entry is beyond any bound)
// must not exceed `bound`.
void check_offset_ends(std::span<const i64> offsets, u64 bound, const OffsetsRole& role);

// Offsets that pass check_offset_ends can still start below 0 or step back, and every reader
// of the layout walks from one entry to the next: refuse both. Call after check_offset_ends.
void check_offset_order(std::span<const i64> offsets, const OffsetsRole& role);

// A builder batch is numbered from 0 and covers its whole array, so that shifting it past
// what the builder holds keeps the merged offsets in step with the merged arrays.
void check_batch_offsets(std::span<const i64> offsets, u64 bound, const OffsetsRole& role);

// Checks a part map of a builder batch (every entry in 0 ... 4294967295) and converts it.
std::vector<u32> part_poly_to_u32(std::span<const i64> part_poly);

}  // namespace vardelin

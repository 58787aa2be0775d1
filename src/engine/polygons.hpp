#pragma once
#include <span>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/shared_array.hpp"
#include "engine/engine.hpp"
#include "engine/parsed_polygons.hpp"

namespace vardelin {

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

}  // namespace vardelin

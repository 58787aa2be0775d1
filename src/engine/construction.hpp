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

// Building a dataset: from point arrays, from polygon ring arrays, from WKB columns, from a
// decoded batch, and as a subset of another. Every constructor checks what it is handed before
// it copies anything.

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

// A new compact polygon dataset holding the chosen logical polygons of `source` in the given
// order (new logical polygon k is source polygon indices[k], repeats copied again), with its
// own copies of their geometry, fresh indexes and metrics, and the source's index mode, cost
// factors and coordinate system. Checks, in order: the row limit on the entries, a polygon
// source, every entry below its logical count, then the row limit on the selected parts.
Engine subset(const Engine& source, std::span<const u32> indices);

}  // namespace vardelin

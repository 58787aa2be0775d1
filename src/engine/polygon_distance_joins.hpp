#pragma once
#include <optional>
#include <vector>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// The within-distance joins between points and polygons, planar, in coordinate units: query
// points against a polygon dataset (as pairs, or folded per polygon), and a point dataset
// against one query polygon. A match is a computed point-to-part distance of at most d, on
// every path and index: a NaN or negative d, or a query point with a NaN coordinate, matches
// nothing. Each entry runs the join frame after the binding's argument checks: its own checks,
// the timer, the index choice and build with the interpreter lock held (builds left out of the
// recorded time), the kernel through `unlocked`, one metrics cell.

// Pairs [q0, g0, q1, g1, ...] of query rows and the logical polygons within d of them. The
// R-tree when the mode is "eager", an explicit kind other than brute force (kd_tree and grid
// are answered by the R-tree, counted in their own column) or "auto" when its cost wins (for
// total_q_count queries when given), else the brute-force scan; query-major in the index's
// candidate order. In "auto" the planner may run it from the polygon side instead (a grid over
// the query points, column "grid"): polygon-major, rows ascending. The same pairs either way.
Metered<Buffer<u32>> batch_within_distance_to_polygons(Engine& engine, const PointSpans& queries, double distance,
                                                            std::optional<u64> total_q_count, RunUnlocked unlocked);

// The same matches as per-polygon counts and column sums (the columns checked by the caller),
// the polygons kept ascending as in batch_contains_aggregate; the rows are the kept polygons.
// Refuses a state beyond the machine (std::bad_alloc) before anything is built.
Metered<CompactAgg> batch_within_distance_to_polygons_aggregate(Engine& engine, const PointSpans& queries, double distance,
                                                       const AggColumns& columns, RunUnlocked unlocked);

// The caller's query polygon: coordinates, ring offsets into them, part offsets into the rings.
// Contiguity is judged when the checks reach each array.
struct QueryPolygonArrays {
    DeferredArray<double> xs;
    DeferredArray<double> ys;
    DeferredArray<i64> ring_offsets;
    DeferredArray<i64> poly_offsets;
};

// Ids of the main points (the delta buffer is neither searched nor merged) within d of some
// part of the query polygon: one search of the planned index over the polygon's box grown by
// d, then the exact distances on the worker pool; candidate order. Checks, in order: a point
// dataset, the contiguity of the four arrays, equal coordinate lengths, then the offsets
// (never negative or decreasing, within their arrays; poly_offsets with fewer than 2 entries
// names no part and is not read).
Metered<std::vector<u64>> points_within_distance_of_polygon(Engine& engine, const QueryPolygonArrays& polygon,
                                                            double distance, RunUnlocked unlocked);

}  // namespace vardelin

#pragma once
#include <optional>
#include <vector>

#include "core/deferred_array.hpp"
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// The joins that meet polygons: query points against the parts of a polygon dataset (contained
// in, within a distance of, nearest to), the parts against each other, and a point dataset
// against one query polygon. Each runs the join frame after the binding's checks: its own
// checks, among them the dataset kind, where its order puts them (each entry says); the timer;
// the index choice and builds with the interpreter lock held, their time left out of the
// recorded time; the kernel through `unlocked`; one metrics cell, recorded by whoever hands the
// result over. The searches over parts run on the brute-force boxes or the R-tree: a mode that
// names the k-d tree or the grid has the R-tree answer, the metrics column staying the named
// kind. A query point with a NaN coordinate matches nothing.

// (query row, logical polygon) pairs, flat, by query row; within a row the polygons in the
// order their first containing part was found. The index is the R-tree or a scan by the
// planner's cost rule with the R-tree as candidate, for `total_q_count` queries when given;
// prepared polygons are built if missing, their time left out too. The dataset kind is checked
// after the query arrays and the row limit.
Metered<Buffer<u32>> batch_contains(Engine& engine, const PointSpans& queries, std::optional<u64> total_q_count,
                                    RunUnlocked unlocked);

// The same join folded per logical polygon: the polygons holding at least one query point,
// ascending, with their counts and, per value column, the sums and counts of the valid values
// (column-major). The rows are the kept polygons. The state is sized logical polygons x
// (16 x columns + 8) bytes; one that cannot be had with its result is std::bad_alloc, before
// anything is built or counted.
Metered<CompactAgg> batch_contains_aggregate(Engine& engine, const PointSpans& queries, const AggColumns& columns,
                                             RunUnlocked unlocked);

// The within-distance joins to polygons are planar, in coordinate units. A match is a computed
// point-to-part distance of at most d, on every path and index: a NaN or negative d, or a query
// point with a NaN coordinate, matches nothing.

// Pairs [q0, g0, q1, g1, ...] of query rows and the logical polygons within d of them. The
// R-tree when the mode is "eager", an explicit kind other than brute force or "auto" when its
// cost wins (for total_q_count queries when given), else the brute-force scan; query-major in
// the index's candidate order. In "auto" the planner may run it from the polygon side instead
// (a grid over the query points, column "grid"): polygon-major, rows ascending. The same pairs
// either way.
Metered<Buffer<u32>> batch_within_distance_to_polygons(Engine& engine, const PointSpans& queries, double distance,
                                                       std::optional<u64> total_q_count, RunUnlocked unlocked);

// The same matches as per-polygon counts and column sums (the columns checked by the caller),
// the polygons kept ascending as in batch_contains_aggregate; the rows are the kept polygons.
// Refuses a state beyond the machine (std::bad_alloc) before anything is built.
Metered<CompactAgg> batch_within_distance_to_polygons_aggregate(Engine& engine, const PointSpans& queries,
                                                                double distance, const AggColumns& columns,
                                                                RunUnlocked unlocked);

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

// The exact point-to-polygon kNN joins. Both refuse a point dataset and result sets too large
// to hold (std::bad_alloc) before the timer starts. The index is the R-tree or a scan by the
// planner's cost rule for kNN queries with the R-tree as candidate; built indexes are not
// weighed. k = 0 gives empty results and is counted.

// Per query point, in query order, a block of k logical polygon ids and their exact distances,
// nearest first, padded with (4294967295, +inf) when fewer than k polygons exist. Output rows:
// nq * min(k, logical polygons), saturating. `total_q_count` only changes the index choice.
struct PolygonKnnBlocks {
    Buffer<u32> ids;
    Buffer<double> distances;
};
Metered<PolygonKnnBlocks> batch_knn_to_polygons(Engine& engine, const PointSpans& queries, u64 k,
                                                std::optional<u64> total_q_count, RunUnlocked unlocked);

// The same results without padding, as one list sorted by distance, then polygon id. Output
// rows: the number of results.
struct PolygonKnnSorted {
    Buffer<u32> queries;
    Buffer<u32> targets;
    Buffer<double> distances;
};
Metered<PolygonKnnSorted> batch_knn_to_polygons_sorted(Engine& engine, const PointSpans& queries, u64 k,
                                                       RunUnlocked unlocked);

// Every unordered pair of intersecting polygons of a polygon dataset, flat [a0, b0, a1, b1,
// ...] with a < b in each pair. Part pairs as the parts' searches find them (ascending first
// id) when every part is its own polygon; with a part map, logical pairs sorted by (a, b),
// each once, pairs within one polygon dropped. A part with no exterior coordinates intersects
// nothing. The index is the R-tree or the scan, by the planner's rule for n part searches over
// the n parts with the R-tree as candidate ("eager" the R-tree at any size). A point dataset is
// refused before the timer starts. The logical-pair step runs after the searches, still timed.
Metered<Buffer<u32>> polygon_intersects_self_join(Engine& engine, RunUnlocked unlocked);

}  // namespace vardelin

#pragma once
#include <optional>

#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"

namespace vardelin {

// The exact point-to-polygon kNN joins. Both refuse a point dataset ("<method> requires a
// polygon dataset") and result sets too large to hold (std::bad_alloc) before the timer starts,
// choose their index by a rule of their own (brute force or the R-tree; an explicit k-d tree or
// grid is served by the R-tree), and run from the part boxes through the results without the
// interpreter lock. A NaN query point finds nothing; k = 0 gives empty results and is counted.

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

}  // namespace vardelin

#pragma once
#include <optional>

#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "core/shared_array.hpp"
#include "engine/call_frame.hpp"
#include "engine/engine.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// The point-in-polygon joins of a polygon dataset. Both refuse a point dataset before the
// timer starts; the binding has checked the query arrays and the row limit (and the value
// columns) before. The index is the R-tree or a scan by the planner's cost rule with the
// R-tree as candidate; any other kind a mode names is answered by the R-tree, its metrics
// column staying the named kind. Index and prepared polygons are built if missing, their
// time left out of the call's. A query point with a NaN coordinate matches nothing.

// (query row, logical polygon) pairs, flat, by query row; within a row the polygons in the
// order their first containing part was found. `total_q_count` replaces the query count in
// the index choice only.
Metered<Buffer<u32>> batch_contains(Engine& engine, const PointSpans& queries,
                                         std::optional<u64> total_q_count, RunUnlocked unlocked);

// The same join folded per logical polygon: the polygons holding at least one query point,
// ascending, with their counts and, per value column, the sums and counts of the valid values
// (column-major). The rows are the kept polygons. The state is sized logical polygons x
// (16 x columns + 8) bytes; one that cannot be had with its result is std::bad_alloc, before
// anything is built or counted.
Metered<CompactAgg> batch_contains_aggregate(Engine& engine, const PointSpans& queries, const AggColumns& columns,
                                             RunUnlocked unlocked);

}  // namespace vardelin

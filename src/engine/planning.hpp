#pragma once
#include "core/numeric.hpp"
#include "engine/engine.hpp"
#include "index/kind.hpp"
#include "planner/query_shape.hpp"
#include "planner/selector.hpp"

namespace vardelin {

BuiltKinds built_kinds(const Engine& engine) noexcept;

// The Engine's planner entry: the index kind for q queries of this shape under the Engine's
// statistics, mode, cost factors and built indexes. Only chooses; the kind it returns is the
// metrics column of the call.
IndexKind plan_index(const Engine& engine, const QueryShape& shape, u64 q) noexcept;

// The kind whose index answers a planned kind. On a polygon dataset a k-d tree or grid would
// index vertices, not parts, so the R-tree over the parts answers instead.
IndexKind serving_kind(const Engine& engine, IndexKind planned) noexcept;

struct IndexUse {
    IndexKind planned;  // the planner's choice: the metrics column
    IndexKind served;   // the slot that answers, filled on return
    u64 build_ns;       // time of a build this call triggered, to leave out of its own time
};

// Builds what a planned kind needs (see serving_kind) and reports it. Joins that choose their
// kind through plan_access_with_kind start here.
IndexUse use_index(Engine& engine, IndexKind planned);

// The single queries' and the point kNN join's entry: plan_index, then use_index.
IndexUse plan_and_build_index(Engine& engine, const QueryShape& shape, u64 q);

// True when a within-distance join of q query points to this polygon dataset should run
// flipped; `kind` is the index the normal orientation would use. Pure: builds nothing.
bool point_polygon_orientation(const Engine& engine, const QueryShape& shape, u64 q, IndexKind kind,
                               double distance) noexcept;

}  // namespace vardelin

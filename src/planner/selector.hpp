#pragma once
#include <array>

#include "index/kind.hpp"
#include "planner/cost_factors.hpp"
#include "planner/index_mode.hpp"
#include "planner/query_shape.hpp"
#include "stats/types.hpp"

namespace vardelin {

// Datasets below this size are scanned unless an index already exists.
inline constexpr u64 kMinIndexedItems = 500;

// The index a query would naturally use, without weighing costs: a scan for small datasets
// and unselective queries, else the kind that suits the shape and the data.
IndexKind natural_candidate(const DatasetStats& stats, const QueryShape& shape) noexcept;

// Applies a mode to the caller's candidate; "auto" keeps the candidate only when it beats the
// scan strictly, build included. Knows nothing of built indexes and never builds.
IndexKind plan_access_with_kind(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                                const CostFactors& cost_factors, IndexKind candidate) noexcept;

// The planner decision of an Engine given what is built: in "auto" the scan, the built
// indexes (query cost only) and the natural candidate (build plus query) compete, the earlier
// one winning ties; in the other modes as plan_access_with_kind on the natural candidate.
IndexKind plan_with_built(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                          const CostFactors& cost_factors, const BuiltKinds& built) noexcept;

// Whether a point-to-polygon distance join should run flipped (a grid over the query points
// probed once per part) rather than one index search per query point. Flips only in "auto";
// `kind_built` says whether the index of the normal orientation exists already.
bool flip_point_polygon_join(const DatasetStats& stats, const QueryShape& shape, u64 q, IndexMode mode,
                             const CostFactors& cost_factors, IndexKind kind, bool kind_built,
                             double distance) noexcept;

}  // namespace vardelin

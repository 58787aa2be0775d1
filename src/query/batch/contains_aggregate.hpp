#pragma once
#include "core/numeric.hpp"
#include "core/point_spans.hpp"
#include "query/batch/contains.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// The point-in-polygon join folded per logical polygon instead of listed: for every polygon
// (n_groups of them, the dataset's logical count) the number of query points inside it and,
// per value column, the sum and the count of the valid values of those points. A point inside
// two parts of one polygon counts once for it. Rows are searched in parallel and folded in
// row order, so every sum equals the serial row-order sum bit for bit, whatever the thread
// count. The state is refused as an allocation (std::bad_alloc) when n_groups x (16 x
// columns + 8) bytes overflow or exceed the machine's memory, before anything is filled.
GroupedAgg contains_aggregate(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries,
                              const AggColumns& columns, u64 n_groups);
GroupedAgg contains_aggregate(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries,
                              const AggColumns& columns, u64 n_groups);

}  // namespace vardelin

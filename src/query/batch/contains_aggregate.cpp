#include "query/batch/contains_aggregate.hpp"

#include "query/batch/fold_listed.hpp"

namespace vardelin {

namespace {

template <class Index>
GroupedAgg aggregate_over(const Index& index, const ContainmentSide& side, const PointSpans& queries,
                          const AggColumns& columns, u64 n_groups) {
    GroupedAgg state(n_groups, columns.size());
    // The points are searched along the curve, listed by row, then folded in row order.
    aggregate_listed(state, queries.size(), columns,
                     [&](u64 begin, u64 end) { return find_row_matches(index, side, queries, begin, end); });
    return state;
}

}  // namespace

GroupedAgg contains_aggregate(const BruteForce& index, const ContainmentSide& side, const PointSpans& queries,
                              const AggColumns& columns, u64 n_groups) {
    return aggregate_over(index, side, queries, columns, n_groups);
}

GroupedAgg contains_aggregate(const PackedRTree& index, const ContainmentSide& side, const PointSpans& queries,
                              const AggColumns& columns, u64 n_groups) {
    return aggregate_over(index, side, queries, columns, n_groups);
}

}  // namespace vardelin

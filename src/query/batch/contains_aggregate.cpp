#include "query/batch/contains_aggregate.hpp"

#include "query/batch/aggregate_chunks.hpp"

namespace vardelin {

namespace {

template <PartIndex Index>
GroupedAgg aggregate_over(const Index& index, const ContainmentSide& side, const PointSpans& queries,
                          const AggColumns& columns, u64 n_groups) {
    side.require_parts(index.size());
    // The sink counts a polygon once per row, however many of its parts hold the point.
    return aggregate_chunks(queries.size(), n_groups, columns, [&](u32 row, GroupSink& sink) {
        side.for_each_containing_part(index, queries.x(row), queries.y(row),
                                      [&](u32 part) { sink.emit(side.polygon_of(part)); });
    });
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

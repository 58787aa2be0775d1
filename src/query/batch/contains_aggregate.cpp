#include "query/batch/contains_aggregate.hpp"

#include <algorithm>

#include "query/batch/aggregate_chunks.hpp"

namespace vardelin {

namespace {

// The rows are searched in blocks whose listed matches stay near the fold's own budget: the
// first block holds 2^20 rows, each next one is fitted to the matches per row seen so far and
// at most twice as long. None of it depends on the thread count.
constexpr u64 kFirstBlockRows = u64{1} << 20;
constexpr u64 kMinBlockRows = u64{1} << 16;

u64 next_block_rows(const RowMatches& m, u64 rows) {
    const u64 bytes = sat_add(sat_mul(m.rows(), sizeof(u64)), sat_mul(m.polygons.size(), sizeof(u32)));
    const double fit = static_cast<double>(kAggregateMatchBudget) * static_cast<double>(m.rows()) /
                       static_cast<double>(std::max<u64>(bytes, 1));
    return std::clamp<u64>(saturating_cast<u64>(fit), kMinBlockRows, sat_mul(rows, 2));
}

template <PartIndex Index>
GroupedAgg aggregate_over(const Index& index, const ContainmentSide& side, const PointSpans& queries,
                          const AggColumns& columns, u64 n_groups) {
    GroupedAgg state(n_groups, columns.size());
    const u64 nq = queries.size();
    u64 rows = kFirstBlockRows;
    for (u64 begin = 0; begin < nq;) {
        const u64 end = begin + std::min(rows, nq - begin);
        // The points are searched along the curve first, then folded in row order.
        const RowMatches m = find_row_matches(index, side, queries, begin, end);
        aggregate_rows(state, begin, end, columns, [&](u32 row, GroupSink& sink) {
            for (const u32 polygon : m.of(row - begin)) sink.emit(polygon);
        });
        rows = next_block_rows(m, rows);
        begin = end;
    }
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

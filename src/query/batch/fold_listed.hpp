#pragma once
#include <algorithm>
#include <cstddef>
#include <span>

#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/parallel.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// Bytes of listed matches (8 per row, 4 per match) a listing block aims at: the one bound on
// the memory an aggregate join holds besides its state.
inline constexpr std::size_t kListedMatchBudget = std::size_t{64} << 20;

// Folds the matches of one block of rows, listed by row, into `state` after whatever it holds:
// row first_row + i matched the groups groups[starts[i] .. starts[i + 1]), each once. The
// groups are cut into ranges, one task per range, and every task walks the whole listing in
// row order keeping only its own groups: each sum is then added in row order, bit for bit the
// serial fold's, while the tasks share no entry of the state. Walking the listing is a
// sequential read, cheap beside the scattered additions, so there is one range per worker;
// the result does not depend on their number.
void fold_listed(GroupedAgg& state, u64 first_row, std::span<const u64> starts, std::span<const u32> groups,
                 const AggColumns& columns);

// Rows for the next listing block, fitted to the matches per row the last one listed so that a
// block holds about kListedMatchBudget bytes; at most twice the last block, at least 2^16.
u64 next_listing_rows(u64 rows_listed, u64 matches_listed, u64 last_rows);

// The aggregate join over query rows 0 .. nq - 1 into `state`: `list(begin, end)` lists the
// groups of rows begin .. end - 1 as an object with `starts` (end - begin + 1 offsets) and
// `polygons`, each row's groups once; the blocks are folded one after the other in row order.
template <class List>
void aggregate_listed(GroupedAgg& state, u64 nq, const AggColumns& columns, const List& list) {
    if (nq > kU32Max || state.n_groups > kU32Max + 1) throw InternalError("aggregate join: rows or groups beyond 32 bits");
    if (state.n_groups != 0 && state.columns() != columns.size()) {
        throw InternalError("aggregate join: state of another column count");
    }
    columns.require_rows(nq);
    u64 rows = u64{1} << 20;
    for (u64 begin = 0; begin < nq;) {
        const u64 end = begin + std::min(rows, nq - begin);
        const auto m = list(begin, end);
        const std::span<const u64> starts(m.starts.data(), m.starts.size());
        fold_listed(state, begin, starts, std::span<const u32>(m.polygons.data(), m.polygons.size()), columns);
        rows = next_listing_rows(end - begin, m.polygons.size(), end - begin);
        begin = end;
    }
}

}  // namespace vardelin

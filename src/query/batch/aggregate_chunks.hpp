#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "core/error.hpp"
#include "core/numeric.hpp"
#include "query/batch/grouped_agg.hpp"

namespace vardelin {

// Bytes of found matches held at once between finding them and folding them into the state.
inline constexpr std::size_t kAggregateMatchBudget = std::size_t{64} << 20;

namespace agg_detail {

// A match as held between finding and folding: the group and the slot of the sink's copy of
// the row's values.
struct SlotGroup {
    u32 slot;
    u32 group;
};

// Consecutive ranges of group ids. Each range is folded by one task that walks the matches in
// row order, so every sum is added in row order whatever the number of threads.
struct GroupRanges {
    u64 width = 1;
    std::size_t count = 1;

    explicit GroupRanges(u64 n_groups) noexcept;
    std::size_t of(u32 group) const noexcept { return static_cast<std::size_t>(group / width); }
};

class MatchWaves;

}  // namespace agg_detail

// What a match finder reports into for one query row: emit(g) for every group the row matches.
// A group emitted twice for one row (two parts of one polygon) counts once, as every aggregate
// join requires, so a finder needs no seen list of its own.
class GroupSink {
public:
    void emit(u64 group) {
        if (group >= n_groups_) throw InternalError("aggregate join: group id beyond the group count");
        row_.push_back(static_cast<u32>(group));
    }

private:
    friend class agg_detail::MatchWaves;

    GroupSink(u64 n_groups, std::size_t ranges) : n_groups_(n_groups), buckets_(ranges) {}
    void reset() noexcept;
    void end_row(u32 row, const agg_detail::GroupRanges& ranges, const AggColumns& columns);

    u64 n_groups_;
    std::vector<u32> row_;
    // Matches by group range, rows ascending. The values of each matched row are copied here
    // while the search has them at hand: the fold then reads one short record per match
    // instead of fetching a line of every column far from the rows it just read.
    std::vector<std::vector<agg_detail::SlotGroup>> buckets_;
    std::vector<double> values_;        // slot * columns + j; 0 where invalid, never read
    std::vector<std::uint8_t> valid_;   // slot * columns + j
    u32 slots_ = 0;
    std::size_t bytes_ = 0;  // held for the matches and their rows
    u64 end_ = 0;            // first row of the slice not searched
};

namespace agg_detail {

// Finding matches is the costly, parallel part; folding them must follow row order for the
// sums to equal a serial fold. The rows are therefore searched in waves of slices whose
// matches are kept, then folded in parallel by group range. The matches held stay within the
// budget: a slice stops after the row that fills its share, and the wave folds only up to the
// first stopped slice (later slices are searched again in the next wave). The wave size
// adapts to the matches per row seen so far; none of this depends on the thread count, and
// the folded result does not depend on it either.
class MatchWaves {
public:
    MatchWaves(u64 rows, u64 n_groups, const AggColumns& columns, std::size_t budget_bytes);

    // Cuts the next wave, from row `next`, into slices; returns their number.
    std::size_t plan(u64 next);

    template <class FindMatches>
    void search(std::size_t slice, const FindMatches& find) {
        GroupSink& sink = sinks_[slice];
        sink.reset();
        const auto [begin, end] = slices_[slice];
        u64 q = begin;
        while (q < end) {
            const u32 row = static_cast<u32>(q);
            find(row, sink);
            sink.end_row(row, ranges_, columns_);
            ++q;
            if (sink.bytes_ >= slice_cap_) break;
        }
        sink.end_ = q;
    }

    // Folds the wave's searched prefix into `state`; returns the first row not folded.
    u64 fold(GroupedAgg& state);

private:
    struct Slice {
        u64 begin, end;
    };
    u64 rows_;
    GroupRanges ranges_;
    const AggColumns& columns_;
    std::size_t budget_;
    std::size_t slice_cap_ = 0;
    u64 wave_begin_ = 0;
    u64 wave_rows_;
    std::vector<Slice> slices_;
    std::vector<GroupSink> sinks_;
};

}  // namespace agg_detail

// Folds the matches of query rows begin .. end - 1 into `state`, after whatever it holds:
// `find(row, sink)` reports the groups query row `row` (u32) matches by sink.emit(group), in
// any order; it is called concurrently for different rows and must only read shared data.
// Rows are searched in parallel and their matches folded in row order, so folding
// consecutive ranges one after the other gives, bit for bit, the state of a serial loop over
// all their rows, for any number of worker threads.
template <class FindMatches>
void aggregate_rows(GroupedAgg& state, u64 begin, u64 end, const AggColumns& columns, const FindMatches& find,
                    std::size_t match_budget_bytes = kAggregateMatchBudget) {
    // Rows and groups travel as 32-bit ids, as everywhere in the joins.
    if (end > kU32Max || state.n_groups > kU32Max + 1) {
        throw InternalError("aggregate join: rows or groups beyond 32 bits");
    }
    if (state.n_groups != 0 && state.columns() != columns.size()) {
        throw InternalError("aggregate join: state of another column count");
    }
    columns.require_rows(end);
    if (begin >= end) return;
    agg_detail::MatchWaves waves(end, state.n_groups, columns, match_budget_bytes);
    u64 next = begin;
    while (next < end) {
        const std::size_t slices = waves.plan(next);
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, slices, 1),
                          [&](const tbb::blocked_range<std::size_t>& r) {
                              for (std::size_t s = r.begin(); s != r.end(); ++s) waves.search(s, find);
                          });
        next = waves.fold(state);
    }
}

// An aggregate join over the query rows 0 .. nq - 1 into one new state of n_groups groups and
// columns.size() columns, as aggregate_rows folds them. The one state is the only memory of
// the size of the groups; its size is checked before it is filled (std::bad_alloc when it
// cannot be had).
template <class FindMatches>
GroupedAgg aggregate_chunks(u64 nq, u64 n_groups, const AggColumns& columns, const FindMatches& find,
                            std::size_t match_budget_bytes = kAggregateMatchBudget) {
    if (nq > kU32Max || n_groups > kU32Max + 1) throw InternalError("aggregate join: rows or groups beyond 32 bits");
    columns.require_rows(nq);
    GroupedAgg state(n_groups, columns.size());
    aggregate_rows(state, 0, nq, columns, find, match_budget_bytes);
    return state;
}

}  // namespace vardelin

#include "query/batch/fold_listed.hpp"

#include <array>

namespace vardelin {

namespace {

constexpr u64 kMinListingRows = u64{1} << 16;
constexpr std::size_t kFetchAhead = 32;
// A range's figures are copied out while it is folded: the ranges are cut small enough that the
// copies held at once stay near workers x this, whatever the size of the state.
constexpr u64 kRangeCopyBytes = u64{4} << 20;

}  // namespace

void fold_listed(GroupedAgg& state, u64 first_row, std::span<const u64> starts, std::span<const u32> groups,
                 const AggColumns& columns) {
    if (starts.empty()) return;
    const std::size_t rows = starts.size() - 1;
    if (starts.front() != 0 || starts.back() != groups.size()) throw InternalError("aggregate join: broken listing");
    for (std::size_t i = 0; i < rows; ++i) {
        if (starts[i] > starts[i + 1]) throw InternalError("aggregate join: broken listing");
    }
    if (groups.empty()) return;
    if (state.n_groups == 0) throw InternalError("aggregate join: group id beyond the group count");
    if (state.columns() != columns.size()) throw InternalError("aggregate join: state of another column count");
    columns.require_rows(first_row + rows);
    const u64 n_groups = state.n_groups;
    const std::size_t c = columns.size();
    const std::size_t first = static_cast<std::size_t>(first_row);
    const u64 copies = (GroupedAgg::state_bytes(n_groups, c) + kRangeCopyBytes - 1) / kRangeCopyBytes;
    const u64 ranges = std::clamp<u64>(std::max<u64>(worker_threads(), copies), 1, n_groups);
    const u64 width = (n_groups + ranges - 1) / ranges;
    parallel_blocks(static_cast<std::size_t>(ranges), 1, [&](std::size_t begin, std::size_t end) {
        for (u64 range = begin; range != end; ++range) {
            const u64 lo = range * width;
            const u64 hi = std::min(lo + width, n_groups);
            if (lo >= hi) continue;
            // The range's figures are folded group by group side by side (count, sums, valid
            // counts) and written back after: a match then touches one or two lines in cache
            // instead of one line per figure in the column-major state.
            const std::size_t w = static_cast<std::size_t>(hi - lo);
            std::vector<double> sums(w * c);
            std::vector<u64> counts(w * (1 + c));
            for (std::size_t j = 0; j < c; ++j) {
                for (std::size_t g = 0; g < w; ++g) {
                    sums[g * c + j] = state.sums[j * n_groups + lo + g];
                    counts[g * (1 + c) + 1 + j] = state.valid_counts[j * n_groups + lo + g];
                }
            }
            for (std::size_t g = 0; g < w; ++g) counts[g * (1 + c)] = state.counts[lo + g];
            // The range's matches are sparse among the rows: their values are fetched ahead in
            // batches, so that the waits for them overlap instead of adding up. A batch is folded
            // in the order it was filled, which keeps every sum in row order.
            struct Pending {
                std::size_t row;
                std::size_t at;
            };
            std::array<Pending, kFetchAhead> pending;
            std::size_t held = 0;
            const auto fold_pending = [&] {
                for (std::size_t p = 0; p < held; ++p) {
                    const std::size_t row = first + pending[p].row;
                    double* sum = sums.data() + pending[p].at * c;
                    u64* tally = counts.data() + pending[p].at * (1 + c);
                    ++tally[0];
                    for (std::size_t j = 0; j < c; ++j) {
                        if (columns.validity[j][row] == 0) continue;
                        sum[j] += columns.values[j][row];
                        ++tally[1 + j];
                    }
                }
                held = 0;
            };
            for (std::size_t i = 0; i < rows; ++i) {
                for (u64 k = starts[i]; k < starts[i + 1]; ++k) {
                    const u64 g = groups[k];
                    if (g >= n_groups) throw InternalError("aggregate join: group id beyond the group count");
                    // Unsigned wrap makes "lo <= g < hi" one comparison.
                    const u64 at = g - lo;
                    if (at >= w) continue;
                    for (std::size_t j = 0; j < c; ++j) {
                        __builtin_prefetch(columns.validity[j].data() + first + i);
                        __builtin_prefetch(columns.values[j].data() + first + i);
                    }
                    __builtin_prefetch(sums.data() + at * c, 1);
                    pending[held++] = {i, static_cast<std::size_t>(at)};
                    if (held == kFetchAhead) fold_pending();
                }
            }
            fold_pending();
            for (std::size_t g = 0; g < w; ++g) state.counts[lo + g] = counts[g * (1 + c)];
            for (std::size_t j = 0; j < c; ++j) {
                for (std::size_t g = 0; g < w; ++g) {
                    state.sums[j * n_groups + lo + g] = sums[g * c + j];
                    state.valid_counts[j * n_groups + lo + g] = counts[g * (1 + c) + 1 + j];
                }
            }
        }
    });
}

u64 next_listing_rows(u64 rows_listed, u64 matches_listed, u64 last_rows) {
    const u64 bytes = sat_add(sat_mul(rows_listed, sizeof(u64)), sat_mul(matches_listed, sizeof(u32)));
    const double fit = static_cast<double>(kListedMatchBudget) * static_cast<double>(rows_listed) /
                       static_cast<double>(std::max<u64>(bytes, 1));
    return std::clamp<u64>(saturating_cast<u64>(fit), kMinListingRows, std::max(sat_mul(last_rows, 2), kMinListingRows));
}

}  // namespace vardelin

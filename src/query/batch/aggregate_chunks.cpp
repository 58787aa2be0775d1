#include "query/batch/aggregate_chunks.hpp"

#include <algorithm>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>


namespace vardelin {

namespace {

// Enough slices per wave to keep every worker of a large machine busy; a fixed count keeps
// the waves, and with them the work done, the same for every pool size.
constexpr std::size_t kSlicesPerWave = 64;
constexpr std::size_t kGroupRanges = 64;
constexpr u64 kFirstWaveRows = u64{1} << 16;

}  // namespace

void GroupSink::reset() noexcept {
    row_.clear();
    for (auto& b : buckets_) b.clear();
    values_.clear();
    valid_.clear();
    slots_ = 0;
    bytes_ = 0;
    end_ = 0;
}

void GroupSink::end_row(u32 row, const agg_detail::GroupRanges& ranges, const AggColumns& columns) {
    if (row_.empty()) return;
    if (row_.size() > 1) {
        std::sort(row_.begin(), row_.end());
        row_.erase(std::unique(row_.begin(), row_.end()), row_.end());
    }
    const std::size_t c = columns.size();
    for (std::size_t j = 0; j < c; ++j) {
        const bool valid = columns.validity[j][row] != 0;
        values_.push_back(valid ? columns.values[j][row] : 0.0);
        valid_.push_back(valid);
    }
    const u32 slot = slots_++;
    for (const u32 g : row_) buckets_[ranges.of(g)].push_back({slot, g});
    bytes_ += row_.size() * sizeof(agg_detail::SlotGroup) + c * (sizeof(double) + 1);
    row_.clear();
}

namespace agg_detail {

GroupRanges::GroupRanges(u64 n_groups) noexcept {
    count = static_cast<std::size_t>(std::clamp<u64>(n_groups, 1, kGroupRanges));
    width = std::max<u64>((n_groups + count - 1) / count, 1);
}

MatchWaves::MatchWaves(u64 rows, u64 n_groups, const AggColumns& columns, std::size_t budget_bytes)
    : rows_(rows), ranges_(n_groups), columns_(columns), budget_(std::max<std::size_t>(budget_bytes, 1)),
      wave_rows_(kFirstWaveRows) {
    sinks_.reserve(kSlicesPerWave);
    for (std::size_t s = 0; s < kSlicesPerWave; ++s) sinks_.push_back(GroupSink(n_groups, ranges_.count));
}

std::size_t MatchWaves::plan(u64 next) {
    wave_begin_ = next;
    const u64 rows = std::min(wave_rows_, rows_ - next);
    const std::size_t n = static_cast<std::size_t>(std::min<u64>(kSlicesPerWave, rows));
    const u64 len = (rows + n - 1) / n;
    slices_.clear();
    for (u64 b = next; b < next + rows; b += len) slices_.push_back({b, std::min(b + len, next + rows)});
    slice_cap_ = std::max<std::size_t>(budget_ / slices_.size(), 1);
    return slices_.size();
}

u64 MatchWaves::fold(GroupedAgg& state) {
    // A slice that stopped early leaves rows unsearched before the next slice's rows: only
    // the slices up to it can be folded without breaking row order.
    std::size_t used = 0;
    std::size_t bytes = 0;
    while (used < slices_.size()) {
        const GroupSink& sink = sinks_[used];
        bytes += sink.bytes_;
        ++used;
        if (sink.end_ < slices_[used - 1].end) break;
    }
    const std::size_t c = columns_.size();
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, ranges_.count, 1),
                      [&](const tbb::blocked_range<std::size_t>& r) {
                          for (std::size_t range = r.begin(); range != r.end(); ++range) {
                              for (std::size_t s = 0; s < used; ++s) {
                                  const GroupSink& sink = sinks_[s];
                                  for (const SlotGroup& m : sink.buckets_[range]) {
                                      const std::size_t at = std::size_t{m.slot} * c;
                                      state.add(m.group, std::span(sink.values_).subspan(at, c),
                                                std::span(sink.valid_).subspan(at, c));
                                  }
                              }
                          }
                      });
    const u64 next = sinks_[used - 1].end_;
    // Aim the next wave at half the budget at the density seen, growing at most twofold so
    // that a stretch of rows without matches does not make one wave of everything.
    const u64 rows = next - wave_begin_;
    const double fit = 0.5 * static_cast<double>(budget_) * static_cast<double>(rows) /
                       static_cast<double>(std::max<std::size_t>(bytes, 1));
    wave_rows_ = std::clamp<u64>(saturating_cast<u64>(fit), 1, sat_mul(wave_rows_, 2));
    return next;
}

}  // namespace agg_detail

}  // namespace vardelin

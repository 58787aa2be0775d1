#include "query/batch/box_filter.hpp"

#include <algorithm>

#include "core/parallel.hpp"

namespace vardelin {

namespace {

// Stretches small enough that a stretch's positions stay in cache until they are placed.
constexpr std::size_t kStretch = 1 << 15;

// Writes every position and advances by its test, so no branch waits on a comparison that is
// true for a random half of the points.
std::size_t select_stretch(const PointSpans& points, const Box& q, std::size_t first, std::size_t last, u64* out) {
    const double* xs = points.xs().data();
    const double* ys = points.ys().data();
    std::size_t kept = 0;
    for (std::size_t i = first; i != last; ++i) {
        out[kept] = i;
        kept += std::size_t{xs[i] >= q.min_x} & std::size_t{q.max_x >= xs[i]} & std::size_t{ys[i] >= q.min_y} &
                std::size_t{q.max_y >= ys[i]};
    }
    return kept;
}

}  // namespace

Buffer<u64> par_bbox_filter(const PointSpans& points, const Box& box) {
    const std::size_t n = points.size();
    const std::size_t stretches = chunk_count(n, kStretch);
    // Each stretch selects into its thread's scratch and keeps an exact copy; the copies are
    // then placed at their prefix offsets in parallel, so the result is allocated once and never
    // copied on one thread. A fresh buffer of a whole stretch per stretch would be fresh pages,
    // faulted in one by one.
    std::vector<Buffer<u64>> picked(stretches);
    parallel_blocks(stretches, 1, [&](std::size_t first, std::size_t last) {
        thread_local Buffer<u64> scratch;
        if (scratch.size() < kStretch) scratch.resize(kStretch);
        for (std::size_t s = first; s != last; ++s) {
            const std::size_t b = s * kStretch, e = std::min(n, b + kStretch);
            const std::size_t kept = select_stretch(points, box, b, e, scratch.data());
            picked[s].assign(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(kept));
        }
    });
    std::vector<std::size_t> offset(stretches + 1, 0);
    for (std::size_t s = 0; s < stretches; ++s) offset[s + 1] = offset[s] + picked[s].size();
    Buffer<u64> out;
    out.resize(offset[stretches]);
    parallel_blocks(stretches, 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t s = first; s != last; ++s) std::copy(picked[s].begin(), picked[s].end(), out.begin() + offset[s]);
    });
    return out;
}

}  // namespace vardelin

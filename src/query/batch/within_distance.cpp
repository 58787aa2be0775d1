#include "query/batch/within_distance.hpp"

#include "core/error.hpp"

namespace vardelin {

Buffer<u32> pairs_by_row(const RowRuns& runs, bool row_first) {
    // Each row's place in the output, by ascending row.
    Buffer<u64> start;
    start.resize(runs.counts.size());
    u64 total = 0;
    for (std::size_t row = 0; row < runs.counts.size(); ++row) {
        start[row] = total;
        total += runs.counts[row];
    }
    Buffer<u32> out;
    out.resize(static_cast<std::size_t>(checked_mul(total, 2)));
    u32* dst = out.data();
    parallel_blocks(runs.ids.size(), 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t c = first; c != last; ++c) {
            const std::vector<u32>& ids = runs.ids[c];
            const std::size_t b = c * runs.chunk, e = std::min(runs.walk.size(), b + runs.chunk);
            std::size_t next = 0;
            for (std::size_t i = b; i < e; ++i) {
                const u32 row = runs.walk[i];
                u32* pair = dst + 2 * start[row];
                const u32 count = runs.counts[row];
                if (next + count > ids.size()) throw InternalError("within-distance runs overrun their chunk");
                for (u32 j = 0; j < count; ++j, pair += 2) {
                    pair[row_first ? 0 : 1] = row;
                    pair[row_first ? 1 : 0] = ids[next + j];
                }
                next += count;
            }
        }
    });
    return out;
}

Buffer<u32> single_query_pairs(const std::vector<PointHit>& hits, const RadiusTest& test, const Box& search) {
    const std::vector<u64> kept = par_radius(hits, test, search);
    Buffer<u32> out;
    out.resize(2 * kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        out[2 * i] = 0;
        out[2 * i + 1] = static_cast<u32>(kept[i]);
    }
    return out;
}

}  // namespace vardelin

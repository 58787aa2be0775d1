#include "query/batch/knn_triple.hpp"

#include <algorithm>
#include <utility>

#include "core/memory.hpp"
#include "query/batch/radix_sort_records.hpp"

namespace vardelin {

void sort_knn_run(std::vector<KnnTriple>& run) { radix_sort_records<kKnnKeyLevels>(run, knn_key_byte); }

namespace {

using Key = std::pair<u64, u32>;

Key key_of(const KnnTriple& t) noexcept { return {distance_bits(t.distance), t.target}; }

// Below this many records a stretch is not worth a task.
constexpr std::size_t kMinStretch = std::size_t{1} << 15;
// Samples per stretch: enough that stretches come out within a few per cent of one another.
constexpr std::size_t kSamplesPerStretch = 32;

}  // namespace

MergeStretches merge_stretches(const std::vector<std::vector<KnnTriple>>& runs) {
    u64 total = 0;
    for (const auto& r : runs) total = checked_add(total, r.size());
    const std::size_t stretches = std::clamp<std::size_t>(total / kMinStretch, 1, 8 * worker_threads());
    // Cut keys: evenly spaced samples of every run, sorted, every kSamplesPerStretch-th kept.
    std::vector<Key> cuts;
    if (stretches > 1) {
        const std::size_t stride = std::max<std::size_t>(total / (stretches * kSamplesPerStretch), 1);
        std::vector<Key> samples;
        for (const auto& r : runs) {
            for (std::size_t i = stride / 2; i < r.size(); i += stride) samples.push_back(key_of(r[i]));
        }
        std::sort(samples.begin(), samples.end());
        for (std::size_t j = 1; j < stretches; ++j) cuts.push_back(samples[j * samples.size() / stretches]);
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    }
    MergeStretches out;
    out.starts.assign(cuts.size() + 2, std::vector<std::size_t>(runs.size(), 0));
    out.offset.assign(cuts.size() + 2, 0);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        for (std::size_t j = 0; j < cuts.size(); ++j) {
            const auto at = std::lower_bound(runs[r].begin(), runs[r].end(), cuts[j],
                                             [](const KnnTriple& t, const Key& k) { return key_of(t) < k; });
            out.starts[j + 1][r] = static_cast<std::size_t>(at - runs[r].begin());
        }
        out.starts.back()[r] = runs[r].size();
    }
    for (std::size_t j = 1; j < out.starts.size(); ++j) {
        for (std::size_t r = 0; r < runs.size(); ++r) out.offset[j] += out.starts[j][r];
    }
    return out;
}

std::vector<KnnTriple> kway_merge(std::vector<std::vector<KnnTriple>>&& runs) {
    u64 total = 0;
    for (const auto& r : runs) total = checked_add(total, r.size());
    ensure_allocatable(checked_mul(total, sizeof(KnnTriple)));
    std::vector<KnnTriple> out(total);
    kway_merge_each(runs, [&](std::size_t i, const KnnTriple& t) { out[i] = t; });
    runs.clear();
    return out;
}

}  // namespace vardelin

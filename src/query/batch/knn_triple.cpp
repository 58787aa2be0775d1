#include "query/batch/knn_triple.hpp"

#include <algorithm>
#include <functional>
#include <queue>
#include <tuple>

#include "core/memory.hpp"
#include "query/batch/radix_sort_records.hpp"

namespace vardelin {

void sort_knn_run(std::vector<KnnTriple>& run) { radix_sort_records<kKnnKeyLevels>(run, knn_key_byte); }

std::vector<KnnTriple> kway_merge(std::vector<std::vector<KnnTriple>>&& runs) {
    u64 total = 0;
    for (const auto& r : runs) total = checked_add(total, r.size());
    ensure_allocatable(checked_mul(total, sizeof(KnnTriple)));
    std::vector<KnnTriple> out;
    out.reserve(total);
    // (distance bits, target, run, position): the run and position break ties of the key.
    using Head = std::tuple<u64, u32, std::size_t, std::size_t>;
    std::priority_queue<Head, std::vector<Head>, std::greater<>> heap;
    const auto head = [&](std::size_t run, std::size_t pos) {
        const KnnTriple& t = runs[run][pos];
        return Head{distance_bits(t.distance), t.target, run, pos};
    };
    for (std::size_t r = 0; r < runs.size(); ++r) {
        if (!runs[r].empty()) heap.push(head(r, 0));
    }
    while (!heap.empty()) {
        const auto [bits, target, run, pos] = heap.top();
        heap.pop();
        out.push_back(runs[run][pos]);
        if (pos + 1 < runs[run].size()) {
            heap.push(head(run, pos + 1));
        } else {
            std::vector<KnnTriple>().swap(runs[run]);
        }
    }
    runs.clear();
    return out;
}

}  // namespace vardelin

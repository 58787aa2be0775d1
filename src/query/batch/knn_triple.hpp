#pragma once
#include <algorithm>
#include <bit>
#include <cstddef>
#include <functional>
#include <tuple>
#include <vector>

#include "core/numeric.hpp"
#include "core/parallel.hpp"

namespace vardelin {

// One result of the sorted kNN join to polygons: a query point, a logical polygon and their
// exact distance.
struct KnnTriple {
    double distance;
    u32 target;
    u32 query;
};

// Results are ordered by the 12-byte key (distance bit pattern, target), both ascending;
// `query` is not part of it. For the distances that occur (+0 up to +inf) the bit pattern
// orders as the number does; comparing bit patterns keeps the order total whatever arrives.
inline u64 distance_bits(double d) noexcept { return std::bit_cast<u64>(d); }

inline constexpr std::size_t kKnnKeyLevels = 12;

// Byte `level` of the key, level 11 the most significant.
inline unsigned knn_key_byte(const KnnTriple& t, std::size_t level) noexcept {
    const u64 word = level < 4 ? u64{t.target} : distance_bits(t.distance);
    const std::size_t shift = 8 * (level < 4 ? level : level - 4);
    return static_cast<unsigned>((word >> shift) & 0xFF);
}

// Sorts one run by the key, stably: records of equal key keep the order they were produced in.
void sort_knn_run(std::vector<KnnTriple>& run);

// The merged sequence of runs sorted by the key, cut into stretches that merge independently: a
// cut is a key and falls in every run before the first record not below it, so records of
// equal key never straddle a cut and each stretch is a whole stretch of the merged order.
struct MergeStretches {
    std::vector<std::vector<std::size_t>> starts;  // [stretch][run]; one entry more: the run ends
    std::vector<std::size_t> offset;               // stretch starts in the output; one more: the total
    std::size_t count() const noexcept { return offset.empty() ? 0 : offset.size() - 1; }
};
MergeStretches merge_stretches(const std::vector<std::vector<KnnTriple>>& runs);

// Joins runs each sorted by the key into one sequence sorted by it: emit(position, record) for
// every record, records of equal key in run order and within a run in its order. The stretches
// merge on the worker pool, each emitting its own positions; the output does not depend on
// how many stretches there are.
template <class Emit>
void kway_merge_each(const std::vector<std::vector<KnnTriple>>& runs, const Emit& emit) {
    const MergeStretches stretches = merge_stretches(runs);
    parallel_blocks(stretches.count(), 1, [&](std::size_t first, std::size_t last) {
        // (distance bits, target, run, position): the run and position break ties of the key.
        using Head = std::tuple<u64, u32, std::size_t, std::size_t>;
        std::vector<Head> heap;
        const std::greater<> after;
        for (std::size_t j = first; j < last; ++j) {
            heap.clear();
            for (std::size_t r = 0; r < runs.size(); ++r) {
                const std::size_t pos = stretches.starts[j][r];
                if (pos < stretches.starts[j + 1][r]) {
                    heap.emplace_back(distance_bits(runs[r][pos].distance), runs[r][pos].target, r, pos);
                }
            }
            std::make_heap(heap.begin(), heap.end(), after);
            std::size_t out = stretches.offset[j];
            while (!heap.empty()) {
                std::pop_heap(heap.begin(), heap.end(), after);
                const auto [bits, target, r, pos] = heap.back();
                heap.pop_back();
                emit(out++, runs[r][pos]);
                if (pos + 1 < stretches.starts[j + 1][r]) {
                    const KnnTriple& next = runs[r][pos + 1];
                    heap.emplace_back(distance_bits(next.distance), next.target, r, pos + 1);
                    std::push_heap(heap.begin(), heap.end(), after);
                }
            }
        }
    });
}

// The same into one array. Takes the runs and frees them.
std::vector<KnnTriple> kway_merge(std::vector<std::vector<KnnTriple>>&& runs);

}  // namespace vardelin

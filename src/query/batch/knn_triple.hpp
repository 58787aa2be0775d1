#pragma once
#include <bit>
#include <cstddef>
#include <vector>

#include "core/numeric.hpp"

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

// Joins runs each sorted by the key into one sequence sorted by it; records of equal key come
// in run order, and within a run in its order. Takes the runs and frees each once drained.
std::vector<KnnTriple> kway_merge(std::vector<std::vector<KnnTriple>>&& runs);

}  // namespace vardelin

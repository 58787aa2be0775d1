#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "core/numeric.hpp"

namespace vardelin {

// Sorts unsigned ids ascending (unstable; equal ids cannot be told apart). Hit lists run to
// hundreds of thousands of ids that use few of their 64 bits: a least-significant-digit radix
// sort over only the digits the largest id reaches is several times faster than a comparison
// sort there, which still wins on short lists.
inline void sort_ids(std::vector<u64>& ids) {
    constexpr std::size_t kShortList = 1024;
    constexpr unsigned kDigitBits = 11;
    constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;
    if (ids.size() < kShortList) {
        std::sort(ids.begin(), ids.end());
        return;
    }
    u64 reach = 0;
    for (const u64 v : ids) reach |= v;
    std::vector<u64> scratch(ids.size());
    for (unsigned shift = 0; shift < 64 && (reach >> shift) != 0; shift += kDigitBits) {
        std::array<std::size_t, kBuckets> start{};
        for (const u64 v : ids) ++start[(v >> shift) & (kBuckets - 1)];
        std::size_t sum = 0;
        for (std::size_t& s : start) {
            const std::size_t count = s;
            s = sum;
            sum += count;
        }
        for (const u64 v : ids) scratch[start[(v >> shift) & (kBuckets - 1)]++] = v;
        ids.swap(scratch);
    }
}

}  // namespace vardelin

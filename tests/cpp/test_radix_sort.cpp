#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/radix_sort.hpp"

using namespace vardelin;

TEST(SortIds, MatchesComparisonSortAtEveryWidth) {
    std::mt19937_64 gen(42);
    // Widths that end mid-digit, on a digit boundary and at the full 64 bits; sizes on both
    // sides of the short-list cut-over.
    for (const unsigned bits : {1u, 11u, 22u, 23u, 33u, 63u, 64u}) {
        for (const std::size_t n : {0u, 5u, 1023u, 1024u, 70000u}) {
            std::vector<u64> ids(n);
            for (u64& v : ids) v = bits == 64 ? gen() : gen() & ((u64{1} << bits) - 1);
            std::vector<u64> expected = ids;
            std::sort(expected.begin(), expected.end());
            sort_ids(ids);
            EXPECT_EQ(ids, expected) << bits << " bits, " << n << " ids";
        }
    }
}

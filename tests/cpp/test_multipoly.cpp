#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "query/multipoly.hpp"

using namespace vardelin;

TEST(DedupIndices, FirstSeenOrderAndHitsBeyondTheMap) {
    const std::vector<u32> part_poly{0, 0, 1, 1};
    EXPECT_EQ(dedup_indices({3, 1, 2, 1}, part_poly), (std::vector<std::size_t>{1, 0}));
    EXPECT_TRUE(dedup_indices({}, part_poly).empty());
    // Not sorted: the later polygon hit first stays first.
    EXPECT_EQ(dedup_indices({0, 3, 2, 1}, std::vector<u32>{5, 0, 7, 9}), (std::vector<std::size_t>{5, 9, 7, 0}));
    EXPECT_THROW(dedup_indices({4}, part_poly), InternalError);
}

TEST(DedupIndices, LongListsKeepFirstSeenOrderLikeTheLinearScan) {
    std::vector<u32> part_poly;
    for (u32 j = 0; j < 5000; ++j) part_poly.push_back((j * 7919u) % 1231u);
    std::vector<std::size_t> hits;
    for (std::size_t j = 0; j < 20000; ++j) hits.push_back((j * 104729u + 17u) % part_poly.size());
    std::vector<std::size_t> expected;
    for (const std::size_t h : hits) {
        if (std::find(expected.begin(), expected.end(), part_poly[h]) == expected.end()) expected.push_back(part_poly[h]);
    }
    EXPECT_EQ(dedup_indices(hits, part_poly), expected);
    hits.push_back(part_poly.size());
    EXPECT_THROW(dedup_indices(hits, part_poly), InternalError);
}

TEST(PolygonPartsCsr, EveryPartListedOnceUnderItsPolygonInPartOrder) {
    const auto csr = polygon_parts_csr(std::vector<u32>{2, 0, 2}, 3);
    EXPECT_EQ(csr.offsets, (std::vector<u32>{0, 1, 1, 3}));
    EXPECT_EQ(csr.parts, (std::vector<u32>{1, 0, 2}));
    EXPECT_EQ(polygon_parts_csr(std::vector<u32>{}, 0).offsets, (std::vector<u32>{0}));
    EXPECT_EQ(polygon_parts_csr(std::vector<u32>{}, 2).offsets, (std::vector<u32>{0, 0, 0}));
    EXPECT_THROW(polygon_parts_csr(std::vector<u32>{0, 3}, 3), InternalError);

    std::vector<u32> part_poly;
    for (u32 j = 0; j < 1000; ++j) part_poly.push_back((j * 7919u) % 37u);
    const auto big = polygon_parts_csr(part_poly, 40);
    ASSERT_EQ(big.offsets.size(), 41u);
    EXPECT_EQ(big.offsets.back(), 1000u);
    for (u32 g = 0; g < 40; ++g) {
        for (u32 k = big.offsets[g]; k < big.offsets[g + 1]; ++k) {
            EXPECT_EQ(part_poly[big.parts[k]], g);
            if (k > big.offsets[g]) {
                EXPECT_LT(big.parts[k - 1], big.parts[k]);
            }
        }
    }
}

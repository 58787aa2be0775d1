#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "query/multipoly.hpp"

using namespace vardelin;
using namespace vardelin::query::multipoly;

TEST(DedupIndices, FirstSeenOrderAndEmpty) {
    const std::vector<u32> part_poly{0, 0, 1, 1};
    EXPECT_EQ(dedup_indices({3, 1, 2, 1}, part_poly), (std::vector<std::size_t>{1, 0}));
    EXPECT_TRUE(dedup_indices({}, part_poly).empty());
    EXPECT_EQ(dedup_indices({2}, part_poly), (std::vector<std::size_t>{1}));
    // Not sorted: the later polygon hit first stays first.
    EXPECT_EQ(dedup_indices({0, 3, 2, 1}, std::vector<u32>{5, 0, 7, 9}), (std::vector<std::size_t>{5, 9, 7, 0}));
}

TEST(DedupIndices, HitBeyondTheMapIsAnInternalError) {
    EXPECT_THROW(dedup_indices({4}, std::vector<u32>{0, 0, 1, 1}), InternalError);
}

TEST(PolygonPartsCsr, CountingSortKeepsPartOrder) {
    const auto csr = polygon_parts_csr(std::vector<u32>{2, 0, 2}, 3);
    EXPECT_EQ(csr.offsets, (std::vector<u32>{0, 1, 1, 3}));
    EXPECT_EQ(csr.parts, (std::vector<u32>{1, 0, 2}));

    const auto none = polygon_parts_csr(std::vector<u32>{}, 0);
    EXPECT_EQ(none.offsets, (std::vector<u32>{0}));
    EXPECT_TRUE(none.parts.empty());
    EXPECT_EQ(polygon_parts_csr(std::vector<u32>{}, 2).offsets, (std::vector<u32>{0, 0, 0}));
}

TEST(PolygonPartsCsr, EveryPartListedOnceUnderItsPolygon) {
    std::vector<u32> part_poly;
    for (u32 j = 0; j < 1000; ++j) part_poly.push_back((j * 7919u) % 37u);
    const auto csr = polygon_parts_csr(part_poly, 40);
    ASSERT_EQ(csr.offsets.size(), 41u);
    EXPECT_EQ(csr.offsets.back(), 1000u);
    for (u32 g = 0; g < 40; ++g) {
        for (u32 k = csr.offsets[g]; k < csr.offsets[g + 1]; ++k) {
            EXPECT_EQ(part_poly[csr.parts[k]], g);
            if (k > csr.offsets[g]) {
                EXPECT_LT(csr.parts[k - 1], csr.parts[k]);
            }
        }
    }
}

TEST(PolygonPartsCsr, EntryBeyondTheLogicalCountIsAnInternalError) {
    EXPECT_THROW(polygon_parts_csr(std::vector<u32>{0, 3}, 3), InternalError);
}

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "index/brute.hpp"
#include "index_oracle.hpp"
#include "polygon_fixture.hpp"

using namespace vardelin;
using vardelin::testing::Layout;

namespace {

// Bit for bit: the NaN bounds of a part that is nowhere match only themselves.
bool same_box(const Box& a, const Box& b) { return std::memcmp(&a, &b, sizeof(Box)) == 0; }

TEST(PartBox, HolesEmptyPartsNonFiniteVerticesAndBrokenOffsets) {
    Layout l;
    l.add({{{0, 0}, {10, 0}, {10, 5}, {0, 5}}, {{-50, -50}, {50, 50}, {-50, 50}}});  // a hole never widens
    l.add({});    // no rings: must not borrow the next part's exterior ring
    l.add({{}});  // an empty exterior ring
    // A non-finite vertex anywhere, a one-coordinate hole of an empty exterior included, is nowhere.
    l.add({{{oracle::kNaN, 1}, {2, oracle::kNaN}, {3, 4}}});
    l.add({{{0, 0}, {1, 0}, {0, 1}}, {{-oracle::kInf, 0.5}, {0.2, 0.2}, {0.1, 0.3}}});
    l.add({{}, {{oracle::kInf, 0}}});
    const auto layout = l.part_layout();
    const Box want[] = {{0, 0, 10, 5}, {0, 0, 0, 0}, {0, 0, 0, 0}, kNowhereBox, kNowhereBox, kNowhereBox};
    const auto par = part_boxes_parallel(layout);
    ASSERT_EQ(layout.part_count(), 6u);
    for (std::size_t p = 0; p < 6; ++p) {
        EXPECT_TRUE(same_box(part_box(layout, p), want[p])) << p;
        EXPECT_TRUE(same_box(par[p], want[p])) << p;
    }

    // Ring 1 starts at the end of xs, ring 2 has a negative end, ring 3 no end entry: all empty.
    const std::vector<double> xs{1, 2, 3};
    const std::vector<i64> rings{0, 3, 99, -1}, parts{0, 1, 2, 3, 7};
    const PolygonLayout broken{xs, xs, rings, parts};
    EXPECT_TRUE(same_box(part_box(broken, 0), {1, 1, 3, 3}));
    for (std::size_t p = 1; p < 4; ++p) EXPECT_TRUE(same_box(part_box(broken, p), {0, 0, 0, 0})) << p;
    EXPECT_EQ((PolygonLayout{xs, xs, rings, std::vector<i64>{0}}.part_count()), 0u);
}

}  // namespace

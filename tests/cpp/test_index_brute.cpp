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

TEST(BruteForce, PointsShareTheCoordinates) {
    const auto pts = oracle::make_points("uniform", 50, 1);
    const auto b = BruteForce::over_points(pts.xs, pts.ys);
    EXPECT_EQ(b.bytes(), 0u);
    EXPECT_EQ(pts.xs.use_count(), 3);  // min_x and max_x both refer to xs: nothing copied
    EXPECT_TRUE(b.range({60, 0, 40, 100}).empty());
}

TEST(BruteForce, PolygonPartBoxes) {
    const auto b = BruteForce::over_parts(vardelin::testing::square_parts(10).part_layout());
    EXPECT_EQ(b.size(), 10u);
    EXPECT_EQ(b.bytes(), 320u);
    // The rings-less part 4 and the empty-ring part 7 sit at the origin with part 0.
    EXPECT_EQ(b.range({-1, -1, 0.5, 0.5}), (std::vector<u64>{0, 4, 7}));
    // On boxes, an inverted query range still meets a box spanning both values.
    EXPECT_EQ(b.range({1.5, 0, 0.5, 1}), (std::vector<u64>{0}));
    // A box inside the hole of part 2 reports it: the box is the exterior ring's.
    EXPECT_EQ(b.range({9, 1, 9, 1}), (std::vector<u64>{2}));
    // Inside a part's box the distance is 0; the empty parts, boxed at the origin, lie at +inf.
    std::vector<Neighbor> found;
    b.nearest(1, 1, 3, found);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].id, 0u);
    EXPECT_EQ(found[0].dist2, 0.0);
    EXPECT_EQ(found[1].dist2, 9.0);
    EXPECT_EQ(found[2].dist2, 49.0);
    EXPECT_EQ(b.nearest(0, 0, 10), (std::vector<u64>{0, 1, 2, 3, 5, 6, 8, 9, 4, 7}));
    EXPECT_EQ(BruteForce::over_parts(Layout{}.part_layout()).size(), 0u);
}

}  // namespace

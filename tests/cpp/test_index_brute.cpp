#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "index/brute.hpp"
#include "index_oracle.hpp"
#include "polygon_layout.hpp"

using namespace vardelin;

namespace {

bool same_box(const Box& a, const Box& b) {
    return a.min_x == b.min_x && a.min_y == b.min_y && a.max_x == b.max_x && a.max_y == b.max_y;
}

TEST(ExteriorRingBox, HolesEmptyPartsAndNaN) {
    TestPolygons t;
    t.ring({{0, 0}, {10, 0}, {10, 5}, {0, 5}});
    t.ring({{-50, -50}, {50, 50}, {-50, 50}});  // a hole larger than its shell never widens the box
    t.end_part();
    t.end_part();  // no rings: must not borrow the next part's exterior ring
    t.ring({});
    t.end_part();  // an empty exterior ring
    t.ring({{oracle::kNaN, 1}, {2, oracle::kNaN}, {3, 4}});
    t.end_part();
    t.ring({{oracle::kNaN, oracle::kNaN}});
    t.end_part();
    const auto layout = t.layout();
    ASSERT_EQ(layout.part_count(), 5u);
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 0), {0, 0, 10, 5}));
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 1), {0, 0, 0, 0}));
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 2), {0, 0, 0, 0}));
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 3), {2, 1, 3, 4}));
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 4), {oracle::kInf, oracle::kInf, -oracle::kInf, -oracle::kInf}));

    const auto par = part_boxes_parallel(layout);
    for (std::size_t p = 0; p < 5; ++p) EXPECT_TRUE(same_box(par[p], exterior_ring_box(layout, p)));
}

TEST(ExteriorRingBox, OffsetsOutsideTheArraysReadNothing) {
    const std::vector<double> xs{1, 2, 3}, ys{1, 2, 3};
    const std::vector<i64> rings{0, 3, 99, -1}, parts{0, 1, 2, 3, 7};
    const PartLayout layout{xs, ys, rings, parts};
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 0), {1, 1, 3, 3}));
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 1), {0, 0, 0, 0}));  // starts at the end of xs
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 2), {0, 0, 0, 0}));  // a negative end
    EXPECT_TRUE(same_box(exterior_ring_box(layout, 3), {0, 0, 0, 0}));  // ring 3 has no end entry
    const std::vector<i64> one{0};
    EXPECT_EQ((PartLayout{xs, ys, rings, one}.part_count()), 0u);
}

TEST(BruteForce, PointsShareTheCoordinateArrays) {
    const auto pts = oracle::make_points("uniform", 50, 1);
    const auto b = BruteForce::over_points(pts.xs, pts.ys);
    EXPECT_EQ(b.bytes(), 0u);
    EXPECT_EQ(pts.xs.use_count(), 3);  // min_x and max_x both refer to xs
    const auto all = b.range({0, 0, 100, 100});
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_EQ(all.size(), 50u);
    // A point box with min_x > max_x matches no point.
    EXPECT_TRUE(b.range({60, 0, 40, 100}).empty());
}

TEST(BruteForce, PolygonPartBoxes) {
    const auto t = square_parts(10);
    const auto b = BruteForce::over_parts(t.layout());
    EXPECT_EQ(b.size(), 10u);
    EXPECT_EQ(b.bytes(), 320u);
    // The rings-less part 4 and the empty-ring part 7 sit at the origin with part 0.
    EXPECT_EQ(b.range({-1, -1, 0.5, 0.5}), (std::vector<u64>{0, 4, 7}));
    // On boxes, an inverted query range still meets a box spanning both values.
    EXPECT_EQ(b.range({1.5, 0, 0.5, 1}), (std::vector<u64>{0}));
    // A box inside the hole of part 2 reports it: the box is the exterior ring's.
    EXPECT_EQ(b.range({9, 1, 9, 1}), (std::vector<u64>{2}));
    // Inside a part's box the distance is 0; the empty parts rank by their distance to the origin.
    std::vector<Neighbor> found;
    b.nearest(1, 1, 3, found);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].id, 0u);
    EXPECT_EQ(found[0].dist2, 0.0);
    EXPECT_EQ(found[1].dist2, 2.0);
    EXPECT_EQ(found[2].dist2, 2.0);
    EXPECT_EQ(BruteForce::over_parts(TestPolygons{}.layout()).size(), 0u);
}

TEST(BruteForce, NaNQueryCoordinateRanksByTheOtherAxis) {
    Buffer<double> xs{0, 100, 50}, ys{10, 1, 5};
    const auto b = BruteForce::over_points(make_shared_array(std::move(xs)), make_shared_array(std::move(ys)));
    EXPECT_EQ(b.nearest(oracle::kNaN, 0, 3), (std::vector<u64>{1, 2, 0}));
}

}  // namespace

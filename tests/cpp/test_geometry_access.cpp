#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/point_polygon_distance.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(PointToPolygonDistance, OpenAndClosedRingsAgree) {
    Layout g;
    const Ring tri{{0, 0}, {4, 1}, {1, 3}};
    const auto open = g.add({tri, {{1.5, 1.2}, {2, 1.2}, {1.8, 1.6}}});
    const auto shut = g.add({closed(tri), closed({{1.5, 1.2}, {2, 1.2}, {1.8, 1.6}})});
    const PolygonLayout l = g.part_layout();
    for (double x = -1; x <= 5; x += 0.37) {
        for (double y = -1; y <= 4; y += 0.29) {
            EXPECT_EQ(point_to_polygon_distance(l, open, x, y), point_to_polygon_distance(l, shut, x, y));
            EXPECT_EQ(part_contains_point(l, open, x, y), part_contains_point(l, shut, x, y));
        }
    }
}

TEST(PointToPolygonDistance, DegenerateRingsAndEmptyParts) {
    Layout g;
    const auto segment = g.add({{{0, 0}, {4, 0}}});
    const auto point = g.add({{{1, 1}}});
    const auto no_rings = g.add({});
    const auto after = g.add({square(0, 0, 100)});
    const auto empty_exterior = g.add({{}, square(0, 0, 1)});
    const PolygonLayout l = g.part_layout();
    // A 2-vertex exterior is a segment that contains nothing.
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, segment, 2, 3), 3.0);
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, segment, 6, 0), 2.0);
    EXPECT_FALSE(part_contains_point(l, segment, 2, 0));
    EXPECT_EQ(point_to_polygon_distance(l, point, 1, 1), kInf);
    // A part with no rings never borrows the next part's exterior, which holds the point.
    EXPECT_TRUE(part_contains_point(l, after, 5, 5));
    EXPECT_FALSE(part_contains_point(l, no_rings, 5, 5));
    EXPECT_EQ(point_to_polygon_distance(l, no_rings, 5, 5), kInf);
    // No exterior contains nothing, but the holes' edges still measure.
    EXPECT_FALSE(part_contains_point(l, empty_exterior, 0.5, 0.5));
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, empty_exterior, 0.5, 0.25), 0.25);
    // A part beyond the layout reads as empty.
    EXPECT_EQ(point_to_polygon_distance(l, 99, 0, 0), kInf);
}

TEST(PointToPolygonDistance, NaNRules) {
    Layout g;
    const auto p = g.add({{{0, 0}, {10, 0}, {10, 10}, {kNaN, 5}, {0, 10}}});
    const PolygonLayout l = g.part_layout();
    EXPECT_EQ(point_to_polygon_distance(l, p, kNaN, 1), kInf);
    EXPECT_EQ(point_to_polygon_distance(l, p, 1, kNaN), kInf);
    // Edges touching the NaN vertex are ignored; the others still measure.
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, p, 5, -3), 3.0);
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, p, 12, 2), 2.0);
    // Inside by the crossing rule (the NaN edges never flip): 0 despite the NaN edges.
    EXPECT_EQ(point_to_polygon_distance(l, p, 5, 1), 0.0);
}

TEST(PointToPolygonDistance, BrokenOffsetsReadAsEmpty) {
    const std::vector<double> xs{0, 1, 1, 0};
    const std::vector<double> ys{0, 0, 1, 1};
    const std::vector<i64> rings{0, 4, 2, -1, 99};
    const std::vector<i64> parts{0, 1, 3, 2, 5};
    const PolygonLayout l(xs, ys, rings, parts);
    EXPECT_DOUBLE_EQ(point_to_polygon_distance(l, 0, 2, 0), 1.0);
    for (std::size_t p = 1; p < 5; ++p) {
        EXPECT_EQ(point_to_polygon_distance(l, p, 0.5, 0.5), kInf) << p;
        EXPECT_FALSE(part_contains_point(l, p, 0.5, 0.5));
    }
}

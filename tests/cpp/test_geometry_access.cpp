#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/geometry/polygon_access.hpp"
#include "query/range.hpp"

using namespace vardelin;
using namespace vardelin::query::geometry;
using namespace vardelin::testing;

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
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
            EXPECT_EQ(pip_raw(l, open, x, y), pip_raw(l, shut, x, y));
        }
    }
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
        EXPECT_FALSE(pip_raw(l, p, 0.5, 0.5));
    }
}

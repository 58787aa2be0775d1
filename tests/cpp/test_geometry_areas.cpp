#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/convex_hull.hpp"
#include "query/geometry/polygon_area.hpp"

using namespace vardelin;
using namespace vardelin::testing;

// The measures themselves are checked against shapely and Qhull through the public methods;
// here only the broken inputs that the bindings refuse before the kernels could see them.

TEST(PolygonAreas, BrokenPartMapsAndPartsBeyondTheLayoutAreRefusedOrEmpty) {
    Layout g;
    g.add({square(0, 0, 1)});
    g.add({rect(0, 0, 2, 1)});
    g.add({square(0, 0, 2)});
    const PolygonLayout l = g.part_layout();
    EXPECT_EQ(part_area(l, 42), 0.0);
    const std::vector<u32> beyond{0, 1, 2};
    EXPECT_THROW(polygon_areas(l, std::span<const u32>(beyond), 2), InternalError);
    const std::vector<u32> short_map{0, 1};
    EXPECT_THROW(polygon_areas(l, std::span<const u32>(short_map), 2), InternalError);
}

TEST(GroupConvexHullAreas, BrokenOffsetsAreAnInternalError) {
    const std::vector<double> xs{0, 1, 0, 5, 5, 6, 9, 0, 2, 2, 0};
    const std::vector<double> ys{0, 0, 1, 5, 6, 5, 9, 0, 0, 2, 2};
    EXPECT_TRUE(group_convex_hull_areas({}, {}, std::vector<i64>{}).empty());
    for (const std::vector<i64>& bad :
         {std::vector<i64>{0, 12}, std::vector<i64>{0, 5, 3, 11}, std::vector<i64>{-1, 11}}) {
        EXPECT_THROW(group_convex_hull_areas(xs, ys, bad), InternalError);
    }
}

#include <cmath>

#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/geometry/intersection_area.hpp"

using namespace vardelin;
using namespace vardelin::testing;

// Known answers, contact, holes, empty and non-finite parts and every scale are checked against
// shapely through the public method; self-crossing rings, which shapely calls invalid, only here.

namespace {

double area(const Layout& g, std::size_t i, std::size_t j) { return polygon_intersection_area(g.part_layout(), i, j); }

// The documented bound: sqrt(2) grid units times the two perimeters, a unit being the pair
// box's longer side over 2^31 - 2.
double bound(double box_side, double perimeters) { return std::sqrt(2.0) * box_side / 2147483646.0 * perimeters; }

}  // namespace

TEST(PolygonIntersectionArea, EvenOddFillOverAllRings) {
    Layout g;
    const auto unit = g.add({square(0, 0, 1)});
    // A bow tie: each loop counts once.
    const auto bow = g.add({{{0, 0}, {2, 2}, {2, 0}, {0, 2}}});
    const auto whole = g.add({square(-1, -1, 6)});
    // Two overlapping holes: their common part is enclosed by three rings, so inside.
    const auto two_holes = g.add({square(0, 0, 4), square(1, 1, 2), square(2, 1, 2)});
    // No exterior to speak of, yet the hole encloses its square by parity.
    const auto hole_only = g.add({{{0, 0}, {9, 9}}, square(0, 0, 1)});
    const auto point = g.add({{{0.5, 0.5}}});
    EXPECT_NEAR(area(g, bow, whole), 2.0, bound(6, 40));
    // 16 less the two parts of the holes that lie in one hole only.
    EXPECT_NEAR(area(g, two_holes, whole), 12.0, bound(6, 56));
    EXPECT_NEAR(area(g, hole_only, unit), 1.0, bound(9, 30));
    EXPECT_EQ(area(g, point, unit), 0.0);
    EXPECT_EQ(area(g, unit, 77), 0.0);  // beyond the layout
}


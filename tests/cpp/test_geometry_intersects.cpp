#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/geometry/intersects.hpp"

using namespace vardelin;
using namespace vardelin::query::geometry;
using namespace vardelin::testing;

namespace {

// Both orders, since the predicate must be symmetric.
::testing::AssertionResult meet(const Layout& g, std::size_t i, std::size_t j, bool expected) {
    const PolygonLayout l = g.part_layout();
    const bool ij = polygons_intersect(l, i, j), ji = polygons_intersect(l, j, i);
    if (ij == expected && ji == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "parts " << i << ", " << j << ": " << ij << " / " << ji;
}

}  // namespace

TEST(PolygonsIntersect, HolesAreNeverTestedAgainstHoles) {
    // Islands in holes, and parts whose own hole holds the other: contact with shapes in the
    // hole, empty, degenerate and non-finite parts and the sweep over many edges are covered
    // through the public self join against shapely, and by the intersection fuzzer; these
    // nestings only here.
    Layout g;
    const auto holed = g.add({square(0, 0, 10), square(2, 2, 6)});
    const auto in_hole = g.add({square(3, 3, 2)});
    const auto nested_shell = g.add({square(4, 4, 2)});
    EXPECT_TRUE(meet(g, holed, nested_shell, false));
    EXPECT_TRUE(meet(g, in_hole, nested_shell, true));
    // A part in a hole of a part whose own hole holds it: holes are never tested against holes.
    Layout h;
    const auto outer = h.add({square(0, 0, 10), square(1, 1, 8)});
    const auto ring_in_hole = h.add({square(2, 2, 6), square(3, 3, 4)});
    EXPECT_TRUE(meet(h, outer, ring_in_hole, false));
    // Holes stored outside their exteriors (invalid) that cross each other: still no contact,
    // as the two exteriors and each exterior against the other's hole are apart.
    Layout x;
    const auto corner = x.add({{{0, 0}, {1, 0}, {0, 1}}, square(20, 20, 10)});
    const auto beyond = x.add({{{0.9, 0.9}, {3, 0.9}, {0.9, 3}}, square(25, 25, 10)});
    EXPECT_TRUE(meet(x, corner, beyond, false));
}

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "polygon_fixture.hpp"
#include "query/geometry/intersects.hpp"

using namespace vardelin;
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
    // hole is covered through the public self join; these nestings only here.
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

TEST(PolygonsIntersect, EmptyDegenerateAndNonFiniteParts) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    Layout g;
    const auto big = g.add({square(-10, -10, 20)});
    const auto no_rings = g.add({});
    const auto empty_exterior = g.add({{}, square(-1, -1, 2)});
    const auto point_inside = g.add({{{1, 1}}});
    const auto point_on_edge = g.add({{{10, 3}}});
    const auto point_outside = g.add({{{11, 3}}});
    const auto nan_vertex = g.add({{{0, 0}, {1, 0}, {nan, 1}}});
    const auto inf_hole = g.add({square(0, 0, 1), {{0.2, 0.2}, {std::numeric_limits<double>::infinity(), 0.3}, {0.3, 0.3}}});
    const auto segment = g.add({{{-20, 0}, {20, 0}}});
    EXPECT_TRUE(meet(g, big, no_rings, false));
    EXPECT_TRUE(meet(g, big, empty_exterior, false));
    EXPECT_TRUE(meet(g, big, point_inside, true));
    EXPECT_TRUE(meet(g, big, point_on_edge, true));
    EXPECT_TRUE(meet(g, big, point_outside, false));
    EXPECT_TRUE(meet(g, point_inside, point_inside, true));
    EXPECT_TRUE(meet(g, big, nan_vertex, false));
    EXPECT_TRUE(meet(g, big, inf_hole, false));
    EXPECT_TRUE(meet(g, big, segment, true));  // a 2-vertex exterior crossing the square
    EXPECT_TRUE(meet(g, big, 99, false));
}

TEST(PolygonsIntersect, ManyVertexPartsAgreeWithTheirFewVertexForm) {
    // Dense circles take the sweep; the same shapes as squares and diamonds take the direct
    // test. Densifying an edge adds vertices without moving the boundary, so both must agree.
    const auto densify = [](const Ring& r, int per_edge) {
        Ring out;
        for (std::size_t k = 0; k < r.size(); ++k) {
            const auto [ax, ay] = r[k];
            const auto [bx, by] = r[(k + 1) % r.size()];
            for (int s = 0; s < per_edge; ++s) {
                out.emplace_back(ax + (bx - ax) * s / per_edge, ay + (by - ay) * s / per_edge);
            }
        }
        return out;
    };
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> coord(-6, 6), side(1, 5);
    for (int trial = 0; trial < 300; ++trial) {
        Layout coarse, fine;
        for (int k = 0; k < 2; ++k) {
            const double x = coord(rng), y = coord(rng), s = side(rng);
            Rings p{square(x, y, s)};
            if (s > 2 && trial % 2 == 0) p.push_back(square(x + 1, y + 1, s - 2));
            coarse.add(p);
            Rings d;
            for (const Ring& r : p) d.push_back(densify(r, 16));
            fine.add(d);
        }
        const bool expected = polygons_intersect(coarse.part_layout(), 0, 1);
        EXPECT_TRUE(meet(fine, 0, 1, expected)) << "trial " << trial;
    }
}

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "geometry_layout.hpp"
#include "query/geometry/intersection_area.hpp"

using namespace vardelin;
using namespace vardelin::query::geometry;
using namespace vardelin::testing::geometry;

namespace {

double area(const Rings& g, std::size_t i, std::size_t j) { return polygon_intersection_area(g.layout(), i, j); }

// The documented bound: sqrt(2) grid units times the two perimeters, a unit being the pair
// box's longer side over 2^31 - 2.
double bound(double box_side, double perimeters) { return std::sqrt(2.0) * box_side / 2147483646.0 * perimeters; }

}  // namespace

TEST(PolygonIntersectionArea, KnownAnswers) {
    Rings g;
    const auto a = g.add({square(0, 0, 2)});
    const auto b = g.add({square(1, 1, 2)});
    const auto holed = g.add({square(0, 0, 4), reversed(square(1, 1, 2))});
    const auto inner = g.add({square(0.25, 0.25, 0.5)});
    const auto in_hole = g.add({square(1.25, 1.25, 0.5)});
    const auto fills_hole = g.add({square(1, 1, 2)});
    EXPECT_NEAR(area(g, a, b), 1.0, bound(3, 16));
    EXPECT_EQ(area(g, a, b), area(g, b, a));
    EXPECT_NEAR(area(g, holed, holed), 12.0, bound(4, 48));
    EXPECT_NEAR(area(g, a, inner), 0.25, bound(2, 10));
    EXPECT_EQ(area(g, holed, in_hole), 0.0);
    EXPECT_EQ(area(g, holed, fills_hole), 0.0);
    // The square of side 2 at (1, 1) overlaps the holed square only around the hole's corner.
    EXPECT_NEAR(area(g, holed, b), 0.0, bound(4, 24));
}

TEST(PolygonIntersectionArea, ContactWithoutOverlapIsExactlyZero) {
    Rings g;
    const auto a = g.add({square(0.1, 0.3, 1.7)});
    const auto edge = g.add({square(1.8, 0.3, 1.7)});
    const auto corner = g.add({square(1.8, 2.0, 1.7)});
    const auto apart = g.add({square(5, 5, 1)});
    const auto diagonal_a = g.add({{{0, 0}, {3, 1}, {0, 1}}});
    const auto diagonal_b = g.add({{{0, 0}, {3, 0}, {3, 1}}});
    EXPECT_EQ(area(g, a, edge), 0.0);
    EXPECT_EQ(area(g, a, corner), 0.0);
    EXPECT_EQ(area(g, a, apart), 0.0);
    EXPECT_EQ(area(g, diagonal_a, diagonal_b), 0.0);
}

TEST(PolygonIntersectionArea, EvenOddFillOverAllRings) {
    Rings g;
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
}

TEST(PolygonIntersectionArea, EmptyBrokenAndNonFiniteParts) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    Rings g;
    const auto a = g.add({square(0, 0, 2)});
    const auto no_rings = g.add({});
    const auto next = g.add({square(0, 0, 2)});
    const auto flat = g.add({{{0, 1}, {2, 1}, {1, 1}}});
    const auto far_nan = g.add({{{100, 100}, {101, 100}, {nan, 101}}});
    const auto inf_hole = g.add({square(0, 0, 1), {{0, 0}, {std::numeric_limits<double>::infinity(), 0}, {0, 1}}});
    EXPECT_EQ(area(g, a, no_rings), 0.0);  // never the next part's ring
    EXPECT_NEAR(area(g, a, next), 4.0, bound(2, 16));
    EXPECT_EQ(area(g, a, flat), 0.0);
    EXPECT_EQ(area(g, flat, flat), 0.0);  // the pair's box has no height
    // Two crossing segments stored as rings: a pair box with area, and nothing for the overlay.
    const auto rising = g.add({{{0, 0}, {1, 1}, {2, 2}}});
    const auto falling = g.add({{{0, 2}, {1, 1}, {2, 0}}, {{0, 0}, {2, 2}}});
    EXPECT_EQ(area(g, rising, falling), 0.0);
    EXPECT_TRUE(std::isnan(area(g, a, far_nan)));  // NaN even with the boxes apart
    EXPECT_TRUE(std::isnan(area(g, inf_hole, a)));
    EXPECT_EQ(area(g, a, 77), 0.0);
}

TEST(PolygonIntersectionArea, OpenAndClosedRingsAgree) {
    Rings g;
    const Ring tri{{0, 0}, {4, 1}, {1, 3}};
    const auto open = g.add({tri});
    const auto shut = g.add({closed(tri)});
    const auto other = g.add({square(1, 0.5, 2), square(1.5, 1, 0.5)});
    EXPECT_EQ(area(g, open, other), area(g, shut, other));
    EXPECT_EQ(area(g, other, open), area(g, other, shut));
}

TEST(PolygonIntersectionArea, RectanglesWithinTheGridBoundAtEveryScale) {
    // Rectangle pairs have exact answers (the product of the interval overlaps); the error must
    // stay within the documented bound at huge, tiny and far-off coordinates alike.
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0, 1);
    for (const double scale : {1e-12, 1e-3, 1.0, 1e6, 1e15}) {
        for (const double offset : {0.0, 1e15}) {
            for (int trial = 0; trial < 50; ++trial) {
                const double ax0 = u(rng) * scale, ax1 = ax0 + (0.1 + u(rng)) * scale;
                const double ay0 = u(rng) * scale, ay1 = ay0 + (0.1 + u(rng)) * scale;
                const double bx0 = u(rng) * scale, bx1 = bx0 + (0.1 + u(rng)) * scale;
                const double by0 = u(rng) * scale, by1 = by0 + (0.1 + u(rng)) * scale;
                Rings g;
                g.add({rect(offset + ax0, offset + ay0, offset + ax1, offset + ay1)});
                g.add({rect(offset + bx0, offset + by0, offset + bx1, offset + by1)});
                // The exact answer of the rectangles as stored (the offset rounds them).
                const double w = std::min(g.xs[1], g.xs[5]) - std::max(g.xs[0], g.xs[4]);
                const double h = std::min(g.ys[2], g.ys[6]) - std::max(g.ys[0], g.ys[4]);
                const double exact = w > 0 && h > 0 ? w * h : 0.0;
                const double side = std::max(std::max(g.xs[1], g.xs[5]) - std::min(g.xs[0], g.xs[4]),
                                             std::max(g.ys[2], g.ys[6]) - std::min(g.ys[0], g.ys[4]));
                const double perimeters = 2 * (g.xs[1] - g.xs[0] + g.ys[2] - g.ys[0] + g.xs[5] - g.xs[4] + g.ys[6] - g.ys[4]);
                const double got = area(g, 0, 1);
                ASSERT_NEAR(got, exact, bound(side, perimeters) + exact * 1e-15)
                    << "scale " << scale << " offset " << offset << " trial " << trial;
                if (exact == 0.0) {
                    ASSERT_EQ(got, 0.0);
                }
            }
        }
    }
}

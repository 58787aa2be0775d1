#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "query/geometry/convex_hull.hpp"

using namespace vardelin;
using namespace vardelin::query::geometry;

namespace {

double hull(const std::vector<double>& xs, const std::vector<double>& ys) { return convex_hull_area(xs, ys); }

// The corners of a convex polygon plus points strictly inside it (convex combinations of its
// corners), shuffled: the hull is the polygon, and enough points take the interior filter.
struct Cloud {
    std::vector<double> xs, ys;
    double area = 0;
};

Cloud polygon_with_inside_points(int corners, double radius, double cx, double cy, int inside, unsigned seed) {
    Cloud c;
    std::vector<double> px, py;
    for (int k = 0; k < corners; ++k) {
        const double a = 2 * std::numbers::pi * k / corners;
        px.push_back(cx + std::round(radius * std::cos(a)));
        py.push_back(cy + std::round(radius * std::sin(a)));
    }
    for (int k = 0; k < corners; ++k) {
        const int n = (k + 1) % corners;
        c.area += ((px[k] - cx) * (py[n] - cy) - (px[n] - cx) * (py[k] - cy)) / 2;
    }
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.05, 1.0);
    c.xs = px;
    c.ys = py;
    for (int k = 0; k < inside; ++k) {
        // Weights on three consecutive corners and the centre, all positive: strictly inside.
        const int a = static_cast<int>(rng() % corners);
        const double w0 = u(rng), w1 = u(rng), w2 = u(rng), wc = u(rng), s = w0 + w1 + w2 + wc;
        const int b = (a + 1) % corners, d = (a + 2) % corners;
        c.xs.push_back((w0 * px[a] + w1 * px[b] + w2 * px[d] + wc * cx) / s);
        c.ys.push_back((w0 * py[a] + w1 * py[b] + w2 * py[d] + wc * cy) / s);
    }
    std::vector<std::size_t> order(c.xs.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<double> sx, sy;
    for (auto k : order) {
        sx.push_back(c.xs[k]);
        sy.push_back(c.ys[k]);
    }
    c.xs = sx;
    c.ys = sy;
    return c;
}

}  // namespace

TEST(ConvexHullArea, KnownAnswers) {
    EXPECT_EQ(hull({0, 1, 0}, {0, 0, 1}), 0.5);
    EXPECT_EQ(hull({0, 1, 1, 0, 0.5, 0.25, 1, 0.5}, {0, 0, 1, 1, 0.5, 0.75, 0.5, 0}), 1.0);
    // Clockwise input and repeated points change nothing.
    EXPECT_EQ(hull({0, 0, 1, 1, 0, 0}, {0, 1, 1, 0, 0, 1}), 1.0);
}

TEST(ConvexHullArea, DegenerateSetsAreZero) {
    EXPECT_EQ(hull({}, {}), 0.0);
    EXPECT_EQ(hull({1}, {2}), 0.0);
    EXPECT_EQ(hull({1, 3}, {2, 5}), 0.0);
    EXPECT_EQ(hull({0, 1, 2}, {0, 1, 2}), 0.0);
    EXPECT_EQ(hull({2, 2, 2, 2}, {3, 3, 3, 3}), 0.0);
    // Many exactly collinear points far from the origin, enough to take the interior filter.
    std::vector<double> exact_x, exact_y;
    for (int k = 0; k < 200; ++k) {
        exact_x.push_back(3.0 * k);
        exact_y.push_back(-7.0 * k + 1e9);
    }
    EXPECT_EQ(hull(exact_x, exact_y), 0.0);
}

TEST(ConvexHullArea, NonFiniteGivesNaN) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(std::isnan(hull({0, 1, nan}, {0, 0, 1})));
    EXPECT_TRUE(std::isnan(hull({0, 1, 0}, {0, inf, 1})));
    // Too few points to span an area, whatever they hold.
    EXPECT_EQ(hull({nan, 1}, {0, 0}), 0.0);
    Cloud c = polygon_with_inside_points(12, 100, 0, 0, 500, 3);
    c.ys[250] = -inf;
    EXPECT_TRUE(std::isnan(hull(c.xs, c.ys)));
}

TEST(ConvexHullArea, InteriorPointsNeverChangeTheHull) {
    for (unsigned seed = 0; seed < 20; ++seed) {
        const int corners = 3 + static_cast<int>(seed) * 3;
        const Cloud c = polygon_with_inside_points(corners, 1000, 50, -20, 2000, seed);
        EXPECT_NEAR(hull(c.xs, c.ys), c.area, c.area * 1e-14) << seed;
        // Few points take the plain chain; the answer is the same polygon.
        const Cloud small = polygon_with_inside_points(corners, 1000, 50, -20, 5, seed);
        EXPECT_NEAR(hull(small.xs, small.ys), small.area, small.area * 1e-14) << seed;
    }
}

TEST(ConvexHullArea, HugeAndTinyCoordinates) {
    EXPECT_EQ(hull({1e15, 1e15 + 4, 1e15, 1e15 + 1}, {1e15, 1e15, 1e15 + 2, 1e15 + 0.5}), 4.0);
    const double t = 1e-12;
    EXPECT_NEAR(hull({0, 4 * t, 0, t}, {0, 0, 2 * t, 0.5 * t}), 4 * t * t, 4 * t * t * 1e-14);
}

TEST(GroupConvexHullAreas, OneAreaPerGroupInGroupOrder) {
    const std::vector<double> xs{0, 1, 0, 5, 5, 6, 9, 0, 2, 2, 0};
    const std::vector<double> ys{0, 0, 1, 5, 6, 5, 9, 0, 0, 2, 2};
    const std::vector<i64> offsets{0, 0, 3, 6, 7, 11};
    EXPECT_EQ(group_convex_hull_areas(xs, ys, offsets), (Buffer<double>{0.0, 0.5, 0.5, 0.0, 4.0}));
    EXPECT_TRUE(group_convex_hull_areas({}, {}, std::vector<i64>{0}).empty());
    EXPECT_TRUE(group_convex_hull_areas({}, {}, std::vector<i64>{}).empty());
    for (const std::vector<i64>& bad :
         {std::vector<i64>{0, 12}, std::vector<i64>{0, 5, 3, 11}, std::vector<i64>{-1, 11}}) {
        EXPECT_THROW(group_convex_hull_areas(xs, ys, bad), InternalError);
    }
}

TEST(GroupConvexHullAreas, ManyGroupsMatchSingleCalls) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-50, 50);
    std::vector<double> xs, ys;
    std::vector<i64> offsets{0};
    for (int g = 0; g < 3000; ++g) {
        const int n = static_cast<int>(rng() % 100);
        for (int k = 0; k < n; ++k) {
            xs.push_back(u(rng));
            ys.push_back(g % 7 == 0 ? 1.0 : u(rng));
        }
        offsets.push_back(static_cast<i64>(xs.size()));
    }
    const Buffer<double> areas = group_convex_hull_areas(xs, ys, offsets);
    ASSERT_EQ(areas.size(), 3000u);
    for (std::size_t g = 0; g < areas.size(); ++g) {
        const std::size_t b = static_cast<std::size_t>(offsets[g]), e = static_cast<std::size_t>(offsets[g + 1]);
        ASSERT_EQ(areas[g], convex_hull_area(std::span<const double>(xs).subspan(b, e - b),
                                             std::span<const double>(ys).subspan(b, e - b)));
        if (g % 7 == 0) {
            ASSERT_EQ(areas[g], 0.0);
        }
    }
}

// The polygon kernels' own rules, below what Python reaches: their answers are checked against
// shapely, Qhull and NumPy through the public methods in every index mode. Here open rings
// against closed ones, the inputs no constructor accepts: broken offsets read as a part without
// rings (the layout's one rule), never past the arrays; broken part maps are refused; and the
// edge distance's answers for NaN and infinity, which Python sees only as +inf or no match.
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/convex_hull.hpp"
#include "query/geometry/orientation.hpp"
#include "query/geometry/part_contains_point.hpp"
#include "query/geometry/part_meets_box.hpp"
#include "query/geometry/point_polygon_distance.hpp"
#include "query/geometry/polygon_area.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool pip(const Layout& l, u64 part, double x, double y) { return part_contains_point(l.part_layout(), part, x, y); }

bool meets(const Layout& l, u64 part, double min_x, double min_y, double max_x, double max_y) {
    return part_meets_box(l.part_layout(), part, Box{min_x, min_y, max_x, max_y});
}

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

// Edges the squared form cannot hold go to the scaled distance, which keeps the squared form's
// answer wherever a coordinate is not finite: NaN for a NaN anywhere, +inf for an infinite point
// off a finite edge, NaN where the projection meets inf * 0 or inf / inf (any edge with an
// infinite end). Neither NaN nor +inf may win a nearest-edge minimum or pass a finite distance.
TEST(SegmentDistance, NaNAndInfinityTable) {
    struct Row {
        double x, y, ax, ay, bx, by, want;
    };
    const Row rows[] = {
        // A NaN in each place, beside an infinity, on a point-like edge, among huge coordinates.
        {kNaN, 0, 0, 0, 1, 1, kNaN},
        {0, kNaN, 0, 0, 1, 1, kNaN},
        {0, 0, kNaN, 0, 1, 1, kNaN},
        {0, 0, 0, kNaN, 1, 1, kNaN},
        {0, 0, 0, 0, kNaN, 1, kNaN},
        {0, 0, 0, 0, 1, kNaN, kNaN},
        {kNaN, 0, kInf, 0, 1, 1, kNaN},
        {kInf, 0, 0, 0, 1, kNaN, kNaN},
        {kNaN, 5, 1, 1, 1, 1, kNaN},
        {1e300, kNaN, -1e300, 0, 1e300, 1e-300, kNaN},
        // An infinite point off a finite edge, a point-like one included.
        {kInf, 0, 0, 0, 1, 1, kInf},
        {-kInf, 3, 0, 0, 1, 0, kInf},
        {kInf, kInf, 0, 0, 1, 1, kInf},
        {kInf, 2, 1, 1, 1, 1, kInf},
        {3, -kInf, 1e-300, 0, 1e-300, 0, kInf},
        // The projection meets inf * 0 (an edge across the infinite axis) or inf - inf.
        {kInf, 0.5, 0, 0, 0, 1, kNaN},
        {kInf, -kInf, 0, 0, 1, 1, kNaN},
        // An infinite end, first or second, alone or both, the point on the finite end.
        {1, 1, kInf, 0, 0, 0, kNaN},
        {1, 1, 0, 0, kInf, 0, kNaN},
        {0, 0, 0, 0, 0, -kInf, kNaN},
        {0, 0, 0, -kInf, 0, 0, kNaN},
        {5, 5, kInf, 0, kInf, 0, kNaN},
        {kInf, 0, kInf, 0, 0, 0, kNaN},
    };
    for (const Row& r : rows) {
        const double got = segment_distance_scaled(r.x, r.y, r.ax, r.ay, r.bx, r.by);
        // Beside an edge 2 away the minimum is 2; a point that is not finite is nowhere.
        const bool finite_point = std::isfinite(r.x) && std::isfinite(r.y);
        NearestEdge nearest;
        nearest.add(r.x, r.y, r.ax, r.ay, r.bx, r.by);
        if (finite_point) nearest.add(r.x, r.y, r.x + 2, r.y, r.x + 2, r.y + 1);
        SCOPED_TRACE(::testing::Message() << "(" << r.x << ", " << r.y << ") to (" << r.ax << ", " << r.ay
                                          << ")-(" << r.bx << ", " << r.by << ")");
        if (std::isnan(r.want)) {
            EXPECT_TRUE(std::isnan(got)) << got;
        } else {
            EXPECT_EQ(got, r.want);
        }
        EXPECT_EQ(segment_distance2(r.x, r.y, r.ax, r.ay, r.bx, r.by), kUnheldSquare);
        EXPECT_EQ(nearest.distance(), finite_point ? 2.0 : kInf);
        EXPECT_FALSE(segment_within(r.x, r.y, r.ax, r.ay, r.bx, r.by, 1e300));
    }
}

TEST(PointToPolygonDistance, NaNRules) {
    Layout g;
    const auto p = g.add({{{0, 0}, {10, 0}, {10, 10}, {kNaN, 5}, {0, 10}}});
    const PolygonLayout l = g.part_layout();
    EXPECT_EQ(point_to_polygon_distance(l, p, kNaN, 1), kInf);
    EXPECT_EQ(point_to_polygon_distance(l, p, 1, kNaN), kInf);
    EXPECT_EQ(point_to_polygon_distance(l, p, kInf, 1), kInf);
    EXPECT_EQ(point_to_polygon_distance(l, p, 5, -kInf), kInf);
    // Edges touching the NaN vertex are passed over; the others still measure.
    EXPECT_EQ(point_to_polygon_distance(l, p, 5, -3), 3.0);
    EXPECT_EQ(point_to_polygon_distance(l, p, 12, 2), 2.0);
    // Inside by the crossing rule (the NaN edges never flip): 0 despite the NaN edges.
    EXPECT_EQ(point_to_polygon_distance(l, p, 5, 1), 0.0);
}

TEST(PipRaw, BrokenOffsetsContainAndMeetNothing) {
    Layout l;
    l.add({square(0, 0, 1)});
    EXPECT_TRUE(pip(l, 0, 0.5, 0.5));
    EXPECT_FALSE(pip(l, 1, 0.5, 0.5));
    EXPECT_FALSE(pip(l, ~u64{0}, 0.5, 0.5));
    Layout past_coords = l;
    past_coords.ring_offsets.back() = 99;
    Layout past_rings = l;
    past_rings.poly_offsets.back() = 5;
    Layout negative = l;
    negative.ring_offsets.front() = -1;
    Layout decreasing = l;
    decreasing.poly_offsets = {1, 0};
    for (const Layout* broken : {&past_coords, &past_rings, &negative, &decreasing}) {
        EXPECT_FALSE(pip(*broken, 0, 0.5, 0.5));
        EXPECT_FALSE(meets(*broken, 0, 0, 0, 1, 1));
    }
}

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

// The folded window test decides for a whole set which orientations run unchecked: it must pass
// a set exactly when every coordinate passes the single test, at each edge of the window.
TEST(OrientationWindowFold, PassesASetExactlyWhenEveryCoordinatePasses) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double denormal = std::numeric_limits<double>::denorm_min();
    const std::vector<double> edges{0.0,
                                    -0.0,
                                    1.0,
                                    0x1p480,
                                    std::nextafter(0x1p480, kInf),
                                    -0x1p480,
                                    0x1p-400,
                                    std::nextafter(0x1p-400, 0.0),
                                    -0x1p-400,
                                    denormal,
                                    std::numeric_limits<double>::max(),
                                    kInf,
                                    -kInf,
                                    nan,
                                    -nan};
    for (const double a : edges) {
        for (const double b : edges) {
            OrientationWindowFold fold;
            fold.look_at(1.0, -3.5);
            fold.look_at(a, 2.0);
            fold.look_at(0.0, b);
            const bool expected = in_orientation_window(a) && in_orientation_window(b);
            EXPECT_EQ(fold.in_window(), expected) << a << " " << b;
        }
    }
    EXPECT_TRUE(OrientationWindowFold{}.in_window());
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<int> exponent(-1074, 1023);
    for (int round = 0; round < 2000; ++round) {
        OrientationWindowFold fold;
        bool expected = true;
        for (int k = 0; k < 4; ++k) {
            const double x = std::ldexp(1.5, exponent(rng)), y = k % 2 == 0 ? 0.0 : -std::ldexp(1.25, exponent(rng));
            fold.look_at(x, y);
            expected = expected && in_orientation_window(x) && in_orientation_window(y);
        }
        EXPECT_EQ(fold.in_window(), expected);
    }
}

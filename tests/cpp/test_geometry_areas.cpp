#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "geometry_layout.hpp"
#include "query/geometry/polygon_area.hpp"

using namespace vardelin;
using namespace vardelin::query::geometry;
using namespace vardelin::testing::geometry;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(PartArea, HolesSubtractWhateverTheOrientationAndStorage) {
    Rings g;
    const Ring outer = square(0, 0, 2), hole = square(0.5, 0.5, 1);
    const auto ccw_cw = g.add({outer, reversed(hole)});
    const auto cw_ccw = g.add({reversed(outer), hole});
    const auto closed_rings = g.add({closed(reversed(outer)), closed(hole)});
    const auto too_much_hole = g.add({square(0, 0, 1), square(0, 0, std::sqrt(3.0))});
    const PolygonLayout l = g.layout();
    EXPECT_EQ(part_area(l, ccw_cw), 3.0);
    EXPECT_EQ(part_area(l, cw_ccw), 3.0);
    EXPECT_EQ(part_area(l, closed_rings), 3.0);
    EXPECT_NEAR(part_area(l, too_much_hole), 2.0, 1e-15);
}

TEST(PartArea, DegenerateRingsAndEmptyParts) {
    Rings g;
    const auto few = g.add({{{0, 0}, {1, 1}}, {{5, 5}}});
    const auto two_equal = g.add({{{3, 3}, {3, 3}}});
    const auto no_rings = g.add({});
    const auto next = g.add({square(0, 0, 7)});
    const auto empty_exterior = g.add({{}, square(0, 0, 2), square(5, 5, 1)});
    const auto collinear = g.add({{{0, 0}, {1, 1}, {2, 2}, {0, 0}}});
    const PolygonLayout l = g.layout();
    EXPECT_EQ(part_area(l, few), 0.0);
    EXPECT_EQ(part_area(l, two_equal), 0.0);
    // Never the next part's exterior.
    EXPECT_EQ(part_area(l, no_rings), 0.0);
    EXPECT_EQ(part_area(l, next), 49.0);
    EXPECT_EQ(part_area(l, empty_exterior), 5.0);
    EXPECT_EQ(part_area(l, collinear), 0.0);
    EXPECT_EQ(part_area(l, 42), 0.0);
}

TEST(PartArea, NonFiniteCoordinatesGiveNaN) {
    Rings g;
    const auto first = g.add({{{kNaN, 0}, {1, 0}, {1, 1}}});
    const auto middle = g.add({{{0, 0}, {1, kNaN}, {1, 1}}});
    const auto infinite = g.add({{{0, 0}, {kInf, 0}, {1, 1}}});
    const auto in_segment_hole = g.add({square(0, 0, 1), {{kNaN, 0}, {1, 1}}});
    const auto point_hole = g.add({square(0, 0, 1), {{kNaN, kNaN}}});
    const auto ok = g.add({square(0, 0, 1)});
    const PolygonLayout l = g.layout();
    for (auto p : {first, middle, infinite, in_segment_hole}) EXPECT_TRUE(std::isnan(part_area(l, p))) << p;
    // A single coordinate encloses nothing, whatever it holds.
    EXPECT_EQ(part_area(l, point_hole), 1.0);
    EXPECT_EQ(part_area(l, ok), 1.0);
    // An honest overflow stays infinite rather than being called corrupt.
    Rings h;
    const auto huge = h.add({square(-1e300, -1e300, 1e300)});
    EXPECT_EQ(part_area(h.layout(), huge), kInf);
}

TEST(PartArea, FarFromTheOriginAndTiny) {
    // The shift by the first coordinate keeps the area exact where unshifted products of 1e15
    // would cancel to nothing.
    Rings g;
    const auto far = g.add({rect(1e15, 1e15, 1e15 + 3, 1e15 + 2), square(1e15 + 1, 1e15 + 1, 0.5)});
    const auto tiny = g.add({rect(1e-12, 1e-12, 4e-12, 3e-12)});
    const PolygonLayout l = g.layout();
    EXPECT_EQ(part_area(l, far), 5.75);
    EXPECT_NEAR(part_area(l, tiny), 6e-24, 6e-24 * 1e-14);
}

TEST(PolygonAreas, PerPartOrSummedPerLogicalPolygonInPartOrder) {
    Rings g;
    g.add({square(0, 0, 1)});
    g.add({rect(0, 0, 2, 1)});
    g.add({square(0, 0, 2)});
    const PolygonLayout l = g.layout();
    EXPECT_EQ(polygon_areas(l, std::nullopt, 3), (Buffer<double>{1.0, 2.0, 4.0}));
    const std::vector<u32> map{0, 0, 1};
    EXPECT_EQ(polygon_areas(l, std::span<const u32>(map), 2), (Buffer<double>{3.0, 4.0}));
    const std::vector<u32> sparse{2, 2, 0};
    EXPECT_EQ(polygon_areas(l, std::span<const u32>(sparse), 4), (Buffer<double>{4.0, 0.0, 3.0, 0.0}));
    const std::vector<u32> beyond{0, 1, 2};
    EXPECT_THROW(polygon_areas(l, std::span<const u32>(beyond), 2), InternalError);
    const std::vector<u32> short_map{0, 1};
    EXPECT_THROW(polygon_areas(l, std::span<const u32>(short_map), 2), InternalError);
    Rings none;
    EXPECT_TRUE(polygon_areas(none.layout(), std::nullopt, 0).empty());
}

TEST(PolygonAreas, ManyPartsMatchTheSequentialLoop) {
    Rings g;
    for (int k = 0; k < 5000; ++k) {
        const double s = 1.0 + (k % 17) * 0.25;
        if (k % 11 == 0) {
            g.add({});
        } else {
            g.add({square(k * 0.1, k * 0.3, s), square(k * 0.1 + 0.1, k * 0.3 + 0.1, s / 4)});
        }
    }
    const PolygonLayout l = g.layout();
    const Buffer<double> areas = polygon_areas(l, std::nullopt, 5000);
    ASSERT_EQ(areas.size(), 5000u);
    for (std::size_t p = 0; p < areas.size(); ++p) ASSERT_EQ(areas[p], part_area(l, p)) << p;
}

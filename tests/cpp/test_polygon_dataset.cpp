// Polygon statistics (the centroid histogram is not visible from Python) and the layouts that
// batches and parsed columns turn into.
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "engine/construction.hpp"
#include "polygon_fixture.hpp"
#include "stats/collector.hpp"
#include "engine/builders.hpp"

using namespace vardelin;
using vardelin::testing::shared;

namespace {

Engine polygons(std::vector<double> xs, std::vector<double> ys, std::vector<i64> rings, std::vector<i64> parts) {
    const u64 n = parts.size() - 1;
    return new_polygons(shared(xs), shared(ys), shared(rings), shared(parts), nullptr, n);
}

u32 total(const std::array<u32, kHistogramCells>& counts, std::size_t from = 0, std::size_t to = kHistogramCells) {
    u32 t = 0;
    for (std::size_t i = from; i < to; ++i) t += counts[i];
    return t;
}

ParsedPolygons batch(std::vector<double> xs, std::vector<u64> rings, std::vector<u64> parts, u64 logical_count) {
    ParsedPolygons b;
    b.xs = Buffer<double>(xs.begin(), xs.end());
    b.ys = b.xs;
    b.ring_offsets = std::move(rings);
    b.poly_offsets = std::move(parts);
    b.logical_count = logical_count;
    return b;
}

}  // namespace

TEST(PolygonStatistics, CentroidIsThePlainVertexAverage) {
    // A closed square counts its first vertex twice: (0.8, 0.8), not (1, 1). A second part far
    // away spreads the extent over (0, 0) - (32, 32), so cells are 1 x 1.
    Engine e = polygons({0, 2, 2, 0, 0, 32, 32, 31}, {0, 0, 2, 2, 0, 32, 31, 32}, {0, 5, 8}, {0, 1, 2});
    ASSERT_TRUE(e.stats.histogram);
    EXPECT_EQ(e.stats.distribution, Distribution::Unknown);
    EXPECT_DOUBLE_EQ(e.stats.density, 2.0 / (32.0 * 32.0));
    EXPECT_EQ(e.stats.histogram->counts[0], 1u);  // (0.8, 0.8) is cell (0, 0); (1, 1) would be (1, 1)
    EXPECT_EQ(e.stats.histogram->counts[31 * 32 + 31], 1u);
    EXPECT_EQ(total(e.stats.histogram->counts), 2u);

    // The first part has no rings, part 1 an empty exterior, part 2 a triangle: one count.
    Engine holes = polygons({0, 4, 4}, {0, 0, 4}, {0, 0, 3}, {0, 0, 1, 2});
    ASSERT_TRUE(holes.stats.histogram);
    EXPECT_EQ(total(holes.stats.histogram->counts), 1u);
}

TEST(PolygonStatistics, NaNAndCollinearDatasets) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Engine all_nan = polygons({nan, nan, nan}, {0, 1, 2}, {0, 3}, {0, 1});
    EXPECT_FALSE(all_nan.stats.histogram);
    EXPECT_EQ(all_nan.stats.density, 0.0);

    Engine flat = polygons({0, 1, 2, 5, 6, 7}, {3, 3, 3, 3, 3, 3}, {0, 3, 6}, {0, 1, 2});
    ASSERT_TRUE(flat.stats.histogram);
    EXPECT_EQ(flat.stats.density, 0.0);
    EXPECT_EQ(flat.stats.histogram->cell_h, kEpsilon / 32.0);
    EXPECT_EQ(total(flat.stats.histogram->counts, 0, 32), 2u);
}

TEST(PolygonStatistics, BrokenLayoutNeverReadsOutOfBounds) {
    const std::vector<double> xs{0, 1, 2};
    const std::vector<i64> rings{0, 2, 99, -1};
    const std::vector<i64> parts{0, 1, 2, 7, 3};
    EXPECT_EQ(total(build_polygon_centroid_histogram(PolygonLayout(xs, xs, rings, parts), 0, 0, 1, 1)), 1u);
}

TEST(FromParsedPolygons, RowLimitsAndTrailingEmptyPolygons) {
    ParsedPolygons over = batch({0, 1, 1}, {0, 3}, {0, 1}, 4294967296ull);
    over.part_poly = std::vector<u32>{4294967295u};
    try {
        from_parsed_polygons(std::move(over), 0);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "logical polygon dataset has 4294967296 rows; Vardelin's single-node join indices support at "
                     "most 4294967295");
    }
    ParsedPolygons trailing = batch({0, 1, 1}, {0, 3}, {0, 1}, 2);  // the second geometry has no parts
    trailing.part_poly = std::vector<u32>{0};
    Engine e = from_parsed_polygons(std::move(trailing), 77);
    EXPECT_EQ(e.logical_count, 2u);
    EXPECT_EQ(e.metrics.wkb_decode_ns, 77u);
    EXPECT_EQ(e.stats.n, 1u);
}

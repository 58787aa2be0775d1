#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/error.hpp"
#include "engine/polygons.hpp"
#include "stats/collector.hpp"
#include "wkb/polygon_builder.hpp"

using namespace vardelin;

namespace {

template <class T>
SharedArray<T> shared(std::vector<T> v) {
    return make_shared_array(Buffer<T>(v.begin(), v.end()));
}

Engine polygons(std::vector<double> xs, std::vector<double> ys, std::vector<i64> rings, std::vector<i64> parts) {
    const u64 n = parts.size() - 1;
    return new_polygons(shared(std::move(xs)), shared(std::move(ys)), shared(std::move(rings)),
                        shared(std::move(parts)), nullptr, n);
}

u32 total(const SpatialHistogram& h) {
    u32 t = 0;
    for (u32 c : h.counts) t += c;
    return t;
}

}  // namespace

TEST(PolygonStatistics, CentroidIsThePlainVertexAverage) {
    // A closed square counts its first vertex twice: (0.8, 0.8), not (1, 1). A second part far
    // away spreads the extent over (0, 0) - (32, 32), so cells are 1 x 1.
    Engine e = polygons({0, 2, 2, 0, 0, 32, 32, 31}, {0, 0, 2, 2, 0, 32, 31, 32}, {0, 5, 8}, {0, 1, 2});
    ASSERT_TRUE(e.stats.histogram);
    EXPECT_EQ(e.stats.kind, GeometryKind::Polygon);
    EXPECT_EQ(e.stats.distribution, Distribution::Unknown);
    EXPECT_EQ(e.stats.n, 2u);
    EXPECT_DOUBLE_EQ(e.stats.density, 2.0 / (32.0 * 32.0));
    EXPECT_EQ(e.stats.histogram->counts[0], 1u);  // (0.8, 0.8) is cell (0, 0); (1, 1) would be (1, 1)
    EXPECT_EQ(e.stats.histogram->counts[31 * 32 + 31], 1u);
    EXPECT_EQ(total(*e.stats.histogram), 2u);
}

TEST(PolygonStatistics, PartsWithoutRingsOrVerticesAddNothing) {
    // Part 0 has no rings, part 1 an empty exterior, part 2 a triangle.
    Engine e = polygons({0, 4, 4}, {0, 0, 4}, {0, 0, 3}, {0, 0, 1, 2});
    ASSERT_TRUE(e.stats.histogram);
    EXPECT_EQ(e.stats.n, 3u);
    EXPECT_EQ(total(*e.stats.histogram), 1u);
}

TEST(PolygonStatistics, EmptyNaNAndCollinearDatasets) {
    Engine empty = polygons({}, {}, {0}, {0});
    EXPECT_EQ(empty.stats.kind, GeometryKind::Empty);
    EXPECT_FALSE(empty.stats.extent);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    Engine all_nan = polygons({nan, nan, nan}, {0, 1, 2}, {0, 3}, {0, 1});
    EXPECT_EQ(all_nan.stats.kind, GeometryKind::Polygon);
    EXPECT_FALSE(all_nan.stats.extent);
    EXPECT_FALSE(all_nan.stats.histogram);
    EXPECT_EQ(all_nan.stats.density, 0.0);

    Engine flat = polygons({0, 1, 2, 5, 6, 7}, {3, 3, 3, 3, 3, 3}, {0, 3, 6}, {0, 1, 2});
    ASSERT_TRUE(flat.stats.histogram);
    EXPECT_EQ(flat.stats.density, 0.0);
    EXPECT_EQ(flat.stats.histogram->cell_h, kEpsilon / 32.0);
    u32 row0 = 0;
    for (int c = 0; c < 32; ++c) row0 += flat.stats.histogram->counts[static_cast<std::size_t>(c)];
    EXPECT_EQ(row0, 2u);
}

TEST(PolygonStatistics, BrokenLayoutNeverReadsOutOfBounds) {
    const std::vector<double> xs{0, 1, 2};
    const std::vector<i64> rings{0, 2, 99, -1};
    const std::vector<i64> parts{0, 1, 2, 7, 3};
    const auto h = build_polygon_centroid_histogram(xs, xs, rings, parts, 10, 0, 0, 1, 1);
    u32 t = 0;
    for (u32 c : h) t += c;
    EXPECT_EQ(t, 1u);
}

TEST(FromParsedPolygons, RowLimitsAndLogicalCount) {
    ParsedPolygons batch;
    batch.xs = {0, 1, 1};
    batch.ys = {0, 0, 1};
    batch.ring_offsets = {0, 3};
    batch.poly_offsets = {0, 1};
    batch.part_poly = std::vector<u32>{4294967295u};
    batch.logical_count = 4294967296ull;
    try {
        from_parsed_polygons(std::move(batch), 0);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(),
                     "logical polygon dataset has 4294967296 rows; Vardelin's single-node join indices support at "
                     "most 4294967295");
    }

    ParsedPolygons trailing;  // two geometries, the second without parts
    trailing.xs = {0, 1, 1};
    trailing.ys = {0, 0, 1};
    trailing.ring_offsets = {0, 3};
    trailing.poly_offsets = {0, 1};
    trailing.part_poly = std::vector<u32>{0};
    trailing.logical_count = 2;
    Engine e = from_parsed_polygons(std::move(trailing), 77);
    EXPECT_EQ(e.logical_count, 2u);
    EXPECT_EQ(e.metrics.wkb_decode_ns, 77u);
    EXPECT_EQ(e.stats.n, 1u);
}

TEST(PolygonBuilder, ShiftsOffsetsAndPolygonNumbers) {
    PolygonBuilder b;
    ParsedPolygons first;
    first.xs = {0, 1, 2};
    first.ys = {0, 1, 2};
    first.ring_offsets = {0, 3};
    first.poly_offsets = {0, 1, 1};
    first.part_poly = std::vector<u32>{0, 0};
    first.logical_count = 1;
    b.append(std::move(first));
    ParsedPolygons second;  // no map: parts are polygons 1 and 2
    second.xs = {5, 6, 7, 8};
    second.ys = {5, 6, 7, 8};
    second.ring_offsets = {0, 2, 4};
    second.poly_offsets = {0, 1, 2};
    second.logical_count = 2;
    b.append(std::move(second));
    const ParsedPolygons out = std::move(b).take();
    EXPECT_EQ(out.ring_offsets, (std::vector<u64>{0, 3, 5, 7}));
    EXPECT_EQ(out.poly_offsets, (std::vector<u64>{0, 1, 1, 2, 3}));
    ASSERT_TRUE(out.part_poly);
    EXPECT_EQ(*out.part_poly, (std::vector<u32>{0, 0, 1, 2}));
    EXPECT_EQ(out.logical_count, 3u);
    EXPECT_EQ(std::vector<double>(out.xs.begin(), out.xs.end()), (std::vector<double>{0, 1, 2, 5, 6, 7, 8}));
}

TEST(PolygonBuilder, WithoutMapsTheIdentityIsDropped) {
    PolygonBuilder b;
    for (int k = 0; k < 3; ++k) {
        ParsedPolygons batch;
        batch.xs = {1, 2, 3};
        batch.ys = {1, 2, 3};
        batch.ring_offsets = {0, 3};
        batch.poly_offsets = {0, 1};
        batch.logical_count = 1;
        b.append(std::move(batch));
    }
    const ParsedPolygons out = std::move(b).take();
    EXPECT_FALSE(out.part_poly);
    EXPECT_EQ(out.logical_count, 3u);
    EXPECT_EQ(out.poly_offsets, (std::vector<u64>{0, 1, 2, 3}));
}

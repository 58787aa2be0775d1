#include <gtest/gtest.h>

#include "core/error.hpp"
#include "core/quote.hpp"
#include "engine/calibration_build.hpp"
#include "engine/index_build.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"
#include "index_oracle.hpp"
#include "polygon_layout.hpp"

using namespace vardelin;

namespace {

Engine points_engine(std::size_t n, unsigned seed = 1) {
    const auto pts = oracle::make_points("uniform", n, seed);
    return engine_from_points(view(pts.xs), view(pts.ys));
}

Engine polygon_engine(const TestPolygons& t) {
    Engine e;
    e.xs = make_shared_array(Buffer<double>(t.xs.begin(), t.xs.end()));
    e.ys = make_shared_array(Buffer<double>(t.ys.begin(), t.ys.end()));
    e.ring_offsets = make_shared_array(Buffer<i64>(t.ring_offsets.begin(), t.ring_offsets.end()));
    e.poly_offsets = make_shared_array(Buffer<i64>(t.poly_offsets.begin(), t.poly_offsets.end()));
    e.stats.n = t.poly_offsets.size() - 1;
    e.stats.kind = GeometryKind::Polygon;
    return e;
}

TEST(BuildIndexIfNeeded, FillsEachSlotOnceAndCountsOneBuild) {
    Engine e = points_engine(1000);
    for (IndexKind kind : {IndexKind::BruteForce, IndexKind::RTree, IndexKind::KdTree, IndexKind::Grid}) {
        build_index_if_needed(e, kind);
        EXPECT_EQ(e.metrics.build_of(kind).build_count, 1u) << name_of(kind);
    }
    const auto* kd = e.kd_tree.get();
    const u64 spent = e.metrics.build_of(IndexKind::KdTree).elapsed_compute_ns;
    EXPECT_GT(spent, 0u);
    EXPECT_EQ(build_index_if_needed(e, IndexKind::KdTree), 0u);
    EXPECT_EQ(e.kd_tree.get(), kd);
    EXPECT_EQ(e.metrics.build_of(IndexKind::KdTree).build_count, 1u);
    EXPECT_EQ(e.metrics.build_of(IndexKind::KdTree).elapsed_compute_ns, spent);

    // Dropping the indexes (as a merge does) lets the next need build again.
    e.kd_tree.reset();
    build_index_if_needed(e, IndexKind::KdTree);
    EXPECT_EQ(e.metrics.build_of(IndexKind::KdTree).build_count, 2u);
}

TEST(BuildIndexIfNeeded, PointIndexesShareTheCoordinates) {
    Engine e = points_engine(100);
    build_index_if_needed(e, IndexKind::BruteForce);
    EXPECT_EQ(index_bytes(e), 0u);
    build_index_if_needed(e, IndexKind::RTree);
    EXPECT_EQ(index_bytes(e), 3680u);
    build_index_if_needed(e, IndexKind::KdTree);
    ASSERT_TRUE(e.kd_tree->histogram());
    EXPECT_EQ(e.kd_tree->histogram()->counts, e.stats.histogram->counts);
    const u64 kd = 8 + 200 + 16 * 100 + 4096;
    EXPECT_EQ(index_bytes(e), 3680u + kd);
    build_index_if_needed(e, IndexKind::Grid);
    EXPECT_EQ(index_bytes(e), 3680u + kd + 4 * (101 + 100));
    EXPECT_EQ(e.grid->range({-1, -1, 101, 101}).size(), 100u);
}

TEST(BuildIndexIfNeeded, KdTreeWithoutHistogramWhenTheDatasetHasNone) {
    const std::vector<double> xs(1000, oracle::kNaN), ys(1000, 1.0);
    Engine e = engine_from_points(xs, ys);
    ASSERT_FALSE(e.stats.histogram);
    build_index_if_needed(e, IndexKind::KdTree);
    EXPECT_FALSE(e.kd_tree->histogram());
    EXPECT_EQ(index_bytes(e), 8u + 2000 + 16000);
    Engine kd_1000 = points_engine(1000);
    build_index_if_needed(kd_1000, IndexKind::KdTree);
    EXPECT_EQ(index_bytes(kd_1000), 22104u);
}

TEST(BuildIndexIfNeeded, EmptyPointDataset) {
    Engine e = engine_from_points({}, {});
    for (IndexKind kind : {IndexKind::BruteForce, IndexKind::RTree, IndexKind::KdTree, IndexKind::Grid}) {
        build_index_if_needed(e, kind);
    }
    EXPECT_TRUE(e.r_tree->range({-1, -1, 1, 1}).empty());
    EXPECT_TRUE(e.grid->nearest(0, 0, 3).empty());
    EXPECT_EQ(index_bytes(e), 8u + 8u + 8u);  // the R-tree's and k-d tree's headers, cell_start = [0, 0]
}

TEST(BuildIndexIfNeeded, PolygonDatasetsIndexPartsOrVertices) {
    const auto t = square_parts(10);
    Engine e = polygon_engine(t);
    build_index_if_needed(e, IndexKind::BruteForce);
    EXPECT_EQ(index_bytes(e), 320u);
    EXPECT_EQ(e.brute_force->range({-1, -1, 0, 0}), (std::vector<u64>{0, 4, 7}));
    build_index_if_needed(e, IndexKind::RTree);
    EXPECT_EQ(e.r_tree->size(), 10u);
    auto hits = e.r_tree->range({-1, -1, 0, 0});
    std::sort(hits.begin(), hits.end());
    EXPECT_EQ(hits, (std::vector<u64>{0, 4, 7}));
    build_index_if_needed(e, IndexKind::KdTree);
    build_index_if_needed(e, IndexKind::Grid);
    EXPECT_EQ(e.kd_tree->size(), t.xs.size());
    EXPECT_EQ(e.grid->size(), t.xs.size());
}

TEST(Calibration, SetsTheModeOnlyForAnAcceptedKind) {
    Engine e = points_engine(200);
    try {
        build_index_for_calibration(e, "brute_force");
        FAIL();
    } catch (const Error& err) {
        EXPECT_STREQ(err.what(), "calibration index must be 'grid', 'kd_tree', or 'r_tree', got \"brute_force\"");
    }
    EXPECT_EQ(e.index_mode, IndexMode::eager());
    build_index_for_calibration(e, "grid");
    EXPECT_EQ(e.index_mode, IndexMode::explicit_kind(IndexKind::Grid));
    EXPECT_TRUE(e.grid);

    Engine poly = polygon_engine(square_parts(5));
    for (const char* kind : {"grid", "kd_tree"}) {
        try {
            build_index_for_calibration(poly, kind);
            FAIL();
        } catch (const Error& err) {
            EXPECT_STREQ(err.what(), "grid and kd_tree calibration indexes require point data");
        }
    }
    EXPECT_EQ(poly.index_mode, IndexMode::eager());
    EXPECT_FALSE(poly.kd_tree || poly.grid);
    build_index_for_calibration(poly, "r_tree");
    EXPECT_EQ(poly.index_mode, IndexMode::explicit_kind(IndexKind::RTree));
    EXPECT_EQ(poly.metrics.build_of(IndexKind::RTree).build_count, 1u);
}

TEST(DebugQuoted, EscapesWhatWouldNotShow) {
    EXPECT_EQ(debug_quoted("brute_force"), "\"brute_force\"");
    EXPECT_EQ(debug_quoted(std::string_view("a\"b\\c\0d\te\rf\n", 12)), "\"a\\\"b\\\\c\\0d\\te\\rf\\n\"");
    EXPECT_EQ(debug_quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(debug_quoted("caf\xc3\xa9 \xe2\x80\x8b"), "\"caf\xc3\xa9 \\u{200b}\"");  // zero-width space
    EXPECT_EQ(debug_quoted("\xc2\xa0"), "\"\\u{a0}\"");  // no-break space
    EXPECT_EQ(debug_quoted("\xef\xbf\xbd\xff"), "\"\xef\xbf\xbd\\u{fffd}\"");
    EXPECT_EQ(debug_quoted("\xe2\x82"), "\"\\u{fffd}\\u{fffd}\"");  // truncated sequence
    EXPECT_EQ(debug_quoted("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
}

}  // namespace

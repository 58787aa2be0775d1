#include <gtest/gtest.h>

#include "core/error.hpp"
#include "core/quote.hpp"
#include "engine/indexes.hpp"
#include "index/brute.hpp"
#include "index/grid.hpp"
#include "index/kdtree.hpp"
#include "index/rtree.hpp"
#include "index_oracle.hpp"
#include "polygon_fixture.hpp"

using namespace vardelin;
using vardelin::testing::polygon_engine;
using vardelin::testing::square_parts;

namespace {

Engine points_engine(std::size_t n) {
    const auto pts = oracle::make_points("uniform", n, 1);
    return engine_from_points({view(pts.xs), view(pts.ys)});
}

std::string calibration_error(Engine& e, const char* kind) {
    try {
        build_index_for_calibration(e, kind);
    } catch (const Error& err) {
        return err.what();
    }
    return "";
}

// Calibration builds, their counts and sizes are checked from Python; the brute force, the
// time of a repeated need and polygon datasets are not reachable there.
TEST(BuildIndexIfNeeded, FillsEachSlotOnce) {
    Engine e = points_engine(1000);
    for (IndexKind kind : {IndexKind::BruteForce, IndexKind::KdTree}) {
        build_index_if_needed(e, kind);
        EXPECT_EQ(e.metrics.build_of(kind).build_count, 1u) << name_of(kind);
    }
    ASSERT_TRUE(e.indexes.get<PackedKdTree>()->histogram());
    EXPECT_EQ(e.indexes.get<PackedKdTree>()->histogram()->counts, e.stats.histogram->counts);
    const auto* kd = e.indexes.get<PackedKdTree>();
    const u64 spent = e.metrics.build_of(IndexKind::KdTree).elapsed_compute_ns;
    EXPECT_GT(spent, 0u);
    EXPECT_EQ(build_index_if_needed(e, IndexKind::KdTree), 0u);
    EXPECT_EQ(e.indexes.get<PackedKdTree>(), kd);
    EXPECT_EQ(e.metrics.build_of(IndexKind::KdTree).elapsed_compute_ns, spent);

    // On polygons the brute force and the R-tree index part boxes, the others vertices.
    const auto t = square_parts(10);
    Engine p = polygon_engine(t);
    for (IndexKind kind : {IndexKind::BruteForce, IndexKind::RTree, IndexKind::KdTree, IndexKind::Grid}) {
        build_index_if_needed(p, kind);
    }
    EXPECT_EQ(p.indexes.get<BruteForce>()->size(), 10u);
    EXPECT_EQ(p.indexes.get<PackedRTree>()->size(), 10u);
    EXPECT_EQ(p.indexes.get<PackedKdTree>()->size(), t.xs.size());
    EXPECT_EQ(p.indexes.get<UniformGrid>()->size(), t.xs.size());
}

TEST(Calibration, SetsTheModeOnlyForAnAcceptedKind) {
    Engine e = points_engine(200);
    EXPECT_EQ(calibration_error(e, "brute_force"),
              "calibration index must be 'grid', 'kd_tree', or 'r_tree', got \"brute_force\"");
    EXPECT_EQ(e.index_mode, IndexMode::eager());
    EXPECT_EQ(calibration_error(e, "grid"), "");
    EXPECT_EQ(e.index_mode, IndexMode::explicit_kind(IndexKind::Grid));
    EXPECT_TRUE(e.indexes.built(IndexKind::Grid));

    Engine poly = polygon_engine(square_parts(5));
    for (const char* kind : {"grid", "kd_tree"}) {
        EXPECT_EQ(calibration_error(poly, kind), "grid and kd_tree calibration indexes require point data");
    }
    EXPECT_EQ(poly.index_mode, IndexMode::eager());
    EXPECT_FALSE(poly.indexes.built(IndexKind::KdTree) || poly.indexes.built(IndexKind::Grid));
    EXPECT_EQ(calibration_error(poly, "r_tree"), "");
    EXPECT_EQ(poly.index_mode, IndexMode::explicit_kind(IndexKind::RTree));
    EXPECT_EQ(poly.metrics.build_of(IndexKind::RTree).build_count, 1u);
}

// Python strings are always valid UTF-8; the byte-level cases are reachable only from here.
TEST(DebugQuoted, EscapesWhatWouldNotShow) {
    EXPECT_EQ(debug_quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(debug_quoted("\xc2\xa0"), "\"\\u{a0}\"");  // no-break space
    EXPECT_EQ(debug_quoted("\xef\xbf\xbd\xff"), "\"\xef\xbf\xbd\\u{fffd}\"");
    EXPECT_EQ(debug_quoted("\xe2\x82"), "\"\\u{fffd}\\u{fffd}\"");  // truncated sequence
    EXPECT_EQ(debug_quoted("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
}

}  // namespace

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/indexes.hpp"
#include "planner/cost.hpp"
#include "planner/selector.hpp"
#include "polygon_fixture.hpp"
#include "query/geometry/prepared_polygons.hpp"

using namespace vardelin;
using namespace vardelin::testing;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const IndexMode kAuto{IndexMode::Tag::Auto, IndexKind::BruteForce};
const IndexMode kNone{IndexMode::Tag::None, IndexKind::BruteForce};
const Box kFirstCell{0.001, 0.001, 0.002, 0.002};

// count points on a lattice of unit spacing, `columns` wide: one point per fine statistics
// cell makes the set Uniform.
Engine lattice(int count, int columns) {
    std::vector<double> xs, ys;
    for (int i = 0; i < count; ++i) xs.push_back(i % columns), ys.push_back(i / columns);
    return engine_from_points({xs, ys});
}

// Statistics of n points with `in_first_cell` of them in histogram cell (0, 0) of the unit
// square and the rest in the opposite corner.
DatasetStats corner_stats(u64 n, u32 in_first_cell) {
    DatasetStats s;
    s.n = n;
    s.kind = GeometryKind::Point;
    s.distribution = Distribution::Uniform;
    s.extent = Box{0, 0, 1, 1};
    SpatialHistogram h;
    h.cell_w = h.cell_h = 1.0 / 32;
    h.counts[0] = in_first_cell;
    h.counts[kHistogramCells - 1] = static_cast<u32>(n - in_first_cell);
    s.histogram = h;
    return s;
}

Engine unit_squares(int per_side) {
    Layout l;
    for (int i = 0; i < per_side * per_side; ++i) l.add({square(2.0 * (i % per_side), 2.0 * (i / per_side), 1.0)});
    return polygon_engine(l);
}

BuiltKinds built(std::initializer_list<IndexKind> kinds) {
    BuiltKinds b{};
    for (IndexKind k : kinds) b[static_cast<std::size_t>(k)] = true;
    return b;
}

}  // namespace

TEST(Selectivity, KnnPointAndRangeByArea) {
    DatasetStats s;
    const std::tuple<u64, QueryShape, double> cases[] = {
        {1000, QueryShape::knn(5, 0, 0), 0.005}, {1000, QueryShape::knn(5000, 0, 0), 1.0},
        {1000, QueryShape::knn(0, 0, 0), 0.0},   {1000, QueryShape::point(0, 0), 0.001},
        {0, QueryShape::knn(0, 0, 0), 0.0},      {0, QueryShape::knn(3, 0, 0), 1.0},
        {0, QueryShape::point(0, 0), 1.0}};
    for (const auto& [n, shape, want] : cases) {
        s.n = n;
        EXPECT_EQ(selectivity(s, shape), want) << n << " " << want;
    }
    // Without a histogram: the box's share of the extent's area; 1 without a usable area.
    s.n = 10;
    const std::tuple<std::optional<Box>, Box, double> areas[] = {
        {std::nullopt, {0, 0, 1, 1}, 1.0},        {Box{0, 0, 0, 5}, {0, 0, 1, 1}, 1.0},  // no extent, zero width
        {Box{0, 0, 4, 5}, {1, 1, 1, 1}, 0.0},     {Box{0, 0, 4, 5}, {0, 0, 2, 5}, 0.5},
        {Box{0, 0, 4, 5}, {0, 0, 8, 5}, 1.0},     {Box{0, 0, 4, 5}, {0, 0, kInf, 1}, 1.0},
        {Box{0, 0, kInf, kInf}, {0, 0, kInf, kInf}, 1.0},  // NaN quotient
        {Box{kNaN, 0, 1, 1}, {0, 0, 1, 1}, 1.0}};         // NaN area counts as 0
    for (const auto& [extent, box, want] : areas) {
        s.extent = extent;
        EXPECT_EQ(selectivity(s, QueryShape::range(box)), want) << box.min_x << " " << box.max_x << " " << want;
    }
}

TEST(Selectivity, RangeThroughTheHistogram) {
    // 100 lattice points 10 x 10 over [0, 9]^2: each histogram column holds at most one x.
    const Engine e = lattice(100, 10);
    EXPECT_EQ(selectivity(e.stats, QueryShape::range({0, 0, 0, 0})), 0.01);
    EXPECT_EQ(selectivity(e.stats, QueryShape::range({-1, -1, 10, 10})), 1.0);
    // Wholly left of the extent: clamped onto column 0 of the rows it covers (y 0 to 2).
    EXPECT_EQ(selectivity(e.stats, QueryShape::range({-50, 0, -40, 2})), 0.03);
    // Border cells count whole, so the estimate errs upwards.
    EXPECT_GE(selectivity(e.stats, QueryShape::range({0.1, 0.1, 0.2, 0.2})), 0.01);
    // A NaN box lands in cell 0 on every bound.
    EXPECT_EQ(selectivity(e.stats, QueryShape::range({kNaN, kNaN, kNaN, kNaN})), 0.01);
    DatasetStats empty = e.stats;
    empty.n = 0;
    EXPECT_EQ(selectivity(empty, QueryShape::range({0, 0, 0, 0})), 1.0);
}

TEST(CostModel, WorkedNumbersOfTheDefaultFactors) {
    const CostFactors f = CostFactors::defaults();
    const CostModel one(f, 1000, 1, 0.01, false);
    EXPECT_NEAR(one.scan(), 2788.259, 1e-9);
    EXPECT_NEAR(one.total(IndexKind::Grid), 8375.634 + 233.14552, 1e-9);
    const CostModel hundred(f, 1000, 100, 0.01, false);
    EXPECT_NEAR(hundred.scan(), 278825.9, 1e-6);
    EXPECT_NEAR(hundred.total(IndexKind::Grid), 8375.634 + 23314.552, 1e-6);
    // L and M never drop below 1, also for n = 0 (log2 0 = -inf) and a NaN selectivity.
    const CostModel empty(f, 0, 1, kNaN, true);
    EXPECT_EQ(empty.log_n(), 1.0);
    EXPECT_EQ(empty.matches(), 1.0);
    EXPECT_EQ(empty.scan(), 0.0);
    EXPECT_EQ(empty.query(IndexKind::KdTree), 2.0 * f.kdtree_knn_ns);
    EXPECT_EQ(empty.query(IndexKind::BruteForce), empty.scan());
    EXPECT_EQ(empty.build(IndexKind::BruteForce), 0.0);
}

TEST(PlanAccess, ModesAndTheStrictCostTest) {
    const CostFactors f = CostFactors::defaults();
    const DatasetStats s = corner_stats(1000, 10);
    const QueryShape box = QueryShape::range(kFirstCell);
    ASSERT_EQ(selectivity(s, box), 0.01);
    EXPECT_EQ(plan_access_with_kind(s, box, 1, kAuto, f, IndexKind::Grid), IndexKind::BruteForce);
    EXPECT_EQ(plan_access_with_kind(s, box, 100, kAuto, f, IndexKind::Grid), IndexKind::Grid);
    EXPECT_EQ(plan_access_with_kind(s, box, 100, kAuto, f, IndexKind::BruteForce), IndexKind::BruteForce);
    EXPECT_EQ(plan_access_with_kind(s, box, 1, kNone, f, IndexKind::Grid), IndexKind::BruteForce);
    EXPECT_EQ(plan_access_with_kind(s, box, 1, IndexMode::eager(), f, IndexKind::RTree), IndexKind::RTree);
    DatasetStats polygons = s;
    polygons.kind = GeometryKind::Polygon;
    EXPECT_EQ(plan_access_with_kind(polygons, box, 1, IndexMode::explicit_kind(IndexKind::Grid), f, IndexKind::RTree),
              IndexKind::Grid);
    // n = 0: the scan costs 0 and no index can be cheaper.
    EXPECT_EQ(plan_access_with_kind(DatasetStats{}, box, 1000, kAuto, f, IndexKind::KdTree), IndexKind::BruteForce);
    // Equal costs keep the scan: q n bbox = 1000 equals the grid's 1000 build + 0 query.
    CostFactors tie = f;
    tie.bbox_scan_ns_per_item = 1.0;
    tie.grid_build_ns_per_item = 1.0;
    tie.grid_range_ns = 0.0;
    EXPECT_EQ(plan_access_with_kind(s, box, 1, kAuto, tie, IndexKind::Grid), IndexKind::BruteForce);
    tie.grid_build_ns_per_item = 0.999;
    EXPECT_EQ(plan_access_with_kind(s, box, 1, kAuto, tie, IndexKind::Grid), IndexKind::Grid);
}

// The size, distribution and kNN bars of the eager rule are checked from Python through the
// metrics; these are the bars Python does not reach exactly.
TEST(PlanIndex, EagerBarsModesAndPolygons) {
    // s = 0.5 exactly passes the selectivity bar; just above it does not.
    EXPECT_EQ(natural_candidate(corner_stats(1000, 500), QueryShape::range(kFirstCell)), IndexKind::Grid);
    EXPECT_EQ(natural_candidate(corner_stats(1000, 501), QueryShape::range(kFirstCell)), IndexKind::BruteForce);
    Engine e = lattice(500, 25);
    e.index_mode = kNone;
    EXPECT_EQ(plan_index(e, QueryShape::range({0, 0, 4, 0}), 1), IndexKind::BruteForce);
    EXPECT_EQ(plan_index(e, QueryShape::knn(1, 0, 0), 1), IndexKind::BruteForce);
    e.index_mode = IndexMode::explicit_kind(IndexKind::RTree);
    EXPECT_EQ(plan_index(e, QueryShape::range({-1, -1, 30, 30}), 1), IndexKind::RTree);  // s = 1

    Engine squares = unit_squares(100);
    ASSERT_EQ(squares.stats.n, 10000u);
    EXPECT_EQ(plan_index(squares, QueryShape::range({0, 0, 3, 3}), 1), IndexKind::RTree);
    EXPECT_EQ(plan_index(squares, QueryShape::point(0.5, 0.5), 1), IndexKind::RTree);
    EXPECT_EQ(plan_index(squares, QueryShape::knn(5, 0, 0), 1), IndexKind::RTree);
    EXPECT_EQ(plan_index(squares, QueryShape::knn(2000, 0, 0), 1), IndexKind::BruteForce);
    EXPECT_EQ(plan_index(squares, QueryShape::range({-1, -1, 300, 300}), 1), IndexKind::BruteForce);
}

TEST(PlanIndex, AutoWeighsBuiltIndexesFirst) {
    const DatasetStats s = lattice(100, 10).stats;
    const CostFactors f = CostFactors::defaults();
    const QueryShape box = QueryShape::range({0, 0, 0, 0});
    // scan 100 x 2.788259 = 278.8 ns against the built grid's max(1, 1) x 23.3 ns.
    EXPECT_EQ(plan_with_built(s, box, 1, kAuto, f, built({IndexKind::Grid})), IndexKind::Grid);
    EXPECT_EQ(plan_with_built(s, box, 1, kAuto, f, built({})), IndexKind::BruteForce);
    // A built brute-force index is not a competitor of the scan.
    EXPECT_EQ(plan_with_built(s, box, 1, kAuto, f, built({IndexKind::BruteForce})), IndexKind::BruteForce);
    Engine e = lattice(100, 10);  // the Engine's slots are what plan_index weighs
    e.index_mode = kAuto;
    EXPECT_EQ(plan_index(e, box, 1), IndexKind::BruteForce);
    build_index_if_needed(e, IndexKind::Grid);
    EXPECT_EQ(plan_index(e, box, 1), IndexKind::Grid);

    // Equal query costs: the earlier kind in the order r_tree, kd_tree, grid keeps the choice,
    // and the scan keeps it against all of them.
    CostFactors tie = f;
    tie.rtree_range_ns = 1.0;
    const CostModel m(tie, 100, 1, 0.01, false);
    tie.grid_range_ns = m.query(IndexKind::RTree);
    tie.bbox_scan_ns_per_item = 1000.0;
    const BuiltKinds both = built({IndexKind::RTree, IndexKind::Grid});
    EXPECT_EQ(plan_with_built(s, box, 1, kAuto, tie, both), IndexKind::RTree);
    tie.bbox_scan_ns_per_item = m.query(IndexKind::RTree) / 100.0;
    const CostModel scan_tie(tie, 100, 1, 0.01, false);
    ASSERT_EQ(scan_tie.scan(), scan_tie.query(IndexKind::RTree));
    EXPECT_EQ(plan_with_built(s, box, 1, kAuto, tie, both), IndexKind::BruteForce);

    // The natural candidate is priced with its build; a built k-d tree answers cheaper.
    const DatasetStats c = corner_stats(1000, 10);
    const QueryShape cell = QueryShape::range(kFirstCell);
    EXPECT_EQ(plan_with_built(c, cell, 1, kAuto, f, built({})), IndexKind::BruteForce);
    EXPECT_EQ(plan_with_built(c, cell, 100, kAuto, f, built({})), IndexKind::Grid);
    EXPECT_EQ(plan_with_built(c, cell, 100, kAuto, f, built({IndexKind::KdTree})), IndexKind::KdTree);
    // kNN with s above 0.1 keeps the candidate out, but a built index still competes.
    CostFactors slow_scan = f;
    slow_scan.knn_scan_ns_per_item = 100.0;
    const QueryShape many = QueryShape::knn(200, 0, 0);
    EXPECT_EQ(plan_with_built(c, many, 1000, kAuto, slow_scan, built({})), IndexKind::BruteForce);
    EXPECT_EQ(plan_with_built(c, many, 1000, kAuto, slow_scan, built({IndexKind::KdTree})), IndexKind::KdTree);
}

TEST(Orientation, WorkedNumbersOfTheDefaultFactors) {
    const CostFactors f = CostFactors::defaults();
    DatasetStats s;
    s.n = 1000;
    s.kind = GeometryKind::Polygon;
    s.extent = Box{0, 0, 1000, 1000};
    // The histogram puts every part under the box; the rule must not look at it.
    SpatialHistogram h;
    h.cell_w = h.cell_h = 1000.0 / 32;
    h.counts[0] = 1000;
    s.histogram = h;
    const QueryShape box = QueryShape::range({0, 0, 10, 100});  // area ratio 0.001
    auto flip = [&](const DatasetStats& st, u64 q, IndexMode m, IndexKind kind, bool is_built, double d) {
        return flip_point_polygon_join(st, box, q, m, f, kind, is_built, d);
    };
    EXPECT_TRUE(flip(s, 10, kAuto, IndexKind::RTree, false, 5.0));
    EXPECT_FALSE(flip(s, 10, kAuto, IndexKind::RTree, true, 5.0));
    EXPECT_TRUE(flip(s, 10, kAuto, IndexKind::BruteForce, true, 5.0));
    for (IndexMode m : {IndexMode::eager(), kNone, IndexMode::explicit_kind(IndexKind::RTree)}) {
        EXPECT_FALSE(flip(s, 10, m, IndexKind::RTree, false, 5.0));
    }
    for (double d : {kNaN, kInf, -1.0}) EXPECT_FALSE(flip(s, 10, kAuto, IndexKind::RTree, false, d)) << d;
    for (double d : {0.0, -0.0}) EXPECT_TRUE(flip(s, 10, kAuto, IndexKind::RTree, false, d));
    EXPECT_FALSE(flip(s, 0, kAuto, IndexKind::RTree, false, 5.0));
    DatasetStats none = s;
    none.n = 0;
    EXPECT_FALSE(flip(none, 10, kAuto, IndexKind::RTree, false, 5.0));
    // Without an extent s = 1: normal about 50 us + 83 us, flipped about 233 us.
    DatasetStats no_extent = s;
    no_extent.extent.reset();
    no_extent.histogram.reset();
    EXPECT_FALSE(flip(no_extent, 10, kAuto, IndexKind::RTree, false, 5.0));

    Engine e = unit_squares(32);
    const QueryShape unit = QueryShape::range({0, 0, 1, 1});
    EXPECT_FALSE(point_polygon_orientation(e, unit, 10, IndexKind::RTree, 1.0));  // eager
    e.index_mode = kAuto;
    EXPECT_TRUE(point_polygon_orientation(e, unit, 10, IndexKind::RTree, 1.0));
    EXPECT_TRUE(point_polygon_orientation(e, unit, 10, IndexKind::BruteForce, 1.0));
    // A grid over 1024 parts is cheap to build: about 8.8 us against 24 us flipped.
    EXPECT_FALSE(point_polygon_orientation(e, unit, 10, IndexKind::Grid, 1.0));
}

TEST(PreparedSetup, FlagsCountsAndModes) {
    Ring r31;
    for (int i = 0; i < 31; ++i) r31.push_back({std::cos(i * 0.2), std::sin(i * 0.2)});
    Ring r32 = r31;
    r32.push_back({0.0, 0.0});
    Layout l;
    l.add({r31});
    l.add({r32});
    l.add({r31, {{5, 5}}});          // a ring of 1 coordinate adds nothing
    l.add({r31, {{5, 5}, {6, 6}}});  // a ring of 2 coordinates adds 2
    l.add({});
    Engine e = polygon_engine(l);
    const u64 ns = build_prepared_if_needed(e);
    ASSERT_TRUE(e.prepared_polygons);
    EXPECT_EQ(e.metrics.prepared_polygons.elapsed_compute_ns, ns);
    ASSERT_EQ(e.prepared_polygons->part_count(), 5u);
    const bool banded[] = {false, true, false, true, false, false};  // the last part is past the end
    for (u64 part = 0; part < 6; ++part) EXPECT_EQ(e.prepared_polygons->banded(part), banded[part]) << part;
    EXPECT_EQ(build_prepared_if_needed(e), 0u);
    EXPECT_EQ(e.metrics.prepared_polygons.build_count, 1u);

    Engine none = polygon_engine(l);
    none.index_mode = kNone;
    EXPECT_EQ(build_prepared_if_needed(none), 0u);
    EXPECT_FALSE(none.prepared_polygons);
    EXPECT_EQ(none.metrics.prepared_polygons.build_count, 0u);
    none.index_mode = kAuto;  // a later mode lets the next need set it up
    build_prepared_if_needed(none);
    EXPECT_TRUE(none.prepared_polygons);

    Engine points = lattice(10, 5);
    EXPECT_EQ(build_prepared_if_needed(points), 0u);
    EXPECT_FALSE(points.prepared_polygons);

    Engine empty = polygon_engine(Layout{});
    build_prepared_if_needed(empty);
    ASSERT_TRUE(empty.prepared_polygons);
    EXPECT_EQ(empty.prepared_polygons->part_count(), 0u);
    EXPECT_EQ(empty.metrics.prepared_polygons.build_count, 1u);
}

// The layout of a subset, which Python only sees through queries: offsets, part map, logical
// count, and the settings copied from the source.
#include <vector>

#include <gtest/gtest.h>

#include "engine/polygons.hpp"
#include "polygon_fixture.hpp"
#include "subset/subset.hpp"

using namespace vardelin;
using vardelin::testing::Layout;
using vardelin::testing::shared;
using vardelin::testing::square;

namespace {

// Polygon part 0: square at 0 with a hole; part 1: no rings; part 2: square at 10; part 3: square at 20.
Layout four_parts() {
    Layout l;
    l.add({square(0, 0, 4), square(1, 1, 1)});
    l.add({});
    l.add({square(10, 0, 1)});
    l.add({square(20, 0, 1)});
    return l;
}

Engine source_of(const Layout& l, std::vector<u32> part_poly, u64 logical_count) {
    SharedArray<u32> map = part_poly.empty() && logical_count == l.parts() ? nullptr : shared(part_poly);
    return new_polygons(shared(l.xs), shared(l.ys), shared(l.ring_offsets), shared(l.poly_offsets), std::move(map),
                        logical_count);
}

template <class T>
std::vector<T> values(const SharedArray<T>& a) {
    return a ? std::vector<T>(a->begin(), a->end()) : std::vector<T>{};
}

}  // namespace

TEST(Subset, WithoutPartMapPartsAreThePolygons) {
    const Engine src = source_of(four_parts(), {}, 4);
    const std::vector<u32> idx{3, 0, 1, 3};
    const Engine sub = subset(src, idx);
    EXPECT_FALSE(sub.part_poly);
    EXPECT_EQ(sub.logical_count, 4u);
    EXPECT_EQ(values(sub.poly_offsets), (std::vector<i64>{0, 1, 3, 3, 4}));
    EXPECT_EQ(values(sub.ring_offsets), (std::vector<i64>{0, 4, 8, 12, 16}));
    EXPECT_EQ(values(sub.xs), (std::vector<double>{20, 21, 21, 20, 0, 4, 4, 0, 1, 2, 2, 1, 20, 21, 21, 20}));
    EXPECT_EQ(sub.stats.n, 4u);
}

TEST(Subset, PartMapGroupsAndPolygonsWithoutParts) {
    // Polygon 0 = parts 0 and 3, polygon 2 = part 2, polygons 1 and 3 have no parts (part 1 is
    // a part without rings that belongs to polygon 4).
    const Engine src = source_of(four_parts(), {0, 4, 2, 0}, 5);
    const std::vector<u32> idx{0, 1, 4, 0};
    const Engine sub = subset(src, idx);
    EXPECT_EQ(sub.logical_count, 4u);
    EXPECT_EQ(values(sub.part_poly), (std::vector<u32>{0, 0, 2, 3, 3}));
    EXPECT_EQ(values(sub.poly_offsets), (std::vector<i64>{0, 2, 3, 3, 5, 6}));
    EXPECT_EQ(values(sub.ring_offsets), (std::vector<i64>{0, 4, 8, 12, 16, 20, 24}));
    EXPECT_EQ(sub.xs->size(), 24u);
    EXPECT_EQ((*sub.xs)[8], 20.0);

    const Engine none = subset(src, {});
    ASSERT_TRUE(none.part_poly);  // present and empty, as the source had one
    EXPECT_TRUE(none.part_poly->empty());
    EXPECT_EQ(none.logical_count, 0u);
    EXPECT_EQ(values(none.poly_offsets), (std::vector<i64>{0}));
    EXPECT_EQ(values(none.ring_offsets), (std::vector<i64>{0}));
    EXPECT_EQ(none.stats.kind, GeometryKind::Empty);

    // A selection of polygons without parts only: logical polygons but no part.
    const std::vector<u32> hollow{1, 3};
    const Engine sub2 = subset(src, hollow);
    EXPECT_EQ(sub2.logical_count, 2u);
    EXPECT_TRUE(sub2.part_poly && sub2.part_poly->empty());
    EXPECT_EQ(sub2.stats.n, 0u);
}

TEST(Subset, OffsetsNeedNotStartAtZeroInTheSource) {
    // Vertices before the first ring belong to no ring and are not copied.
    Layout l;
    l.xs = {99, 99, 0, 1, 1};
    l.ys = {99, 99, 0, 0, 1};
    l.ring_offsets = {2, 5};
    l.poly_offsets = {0, 1};
    const Engine src = source_of(l, {}, 1);
    const std::vector<u32> idx{0};
    const Engine sub = subset(src, idx);
    EXPECT_EQ(values(sub.xs), (std::vector<double>{0, 1, 1}));
    EXPECT_EQ(values(sub.ring_offsets), (std::vector<i64>{0, 3}));
}

TEST(Subset, CopiesPlannerSettingsAndStartsFresh) {
    Engine src = source_of(four_parts(), {}, 4);
    src.index_mode = IndexMode::explicit_kind(IndexKind::Grid);
    src.coordinate_system = CoordinateSystem::Geographic;
    src.cost_factors.grid_range_ns = 1.5;
    src.cost_factors.knn_scan_ns_per_item = 99.0;
    src.metrics.wkb_decode_ns = 12345;
    src.metrics.operations[1][0].calls = 3;
    const std::vector<u32> idx{2};
    const Engine sub = subset(src, idx);
    EXPECT_EQ(sub.index_mode, src.index_mode);
    EXPECT_EQ(sub.coordinate_system, CoordinateSystem::Geographic);
    CostFactors copied = sub.cost_factors;
    for (std::size_t i = 0; i < CostFactors::kCount; ++i) EXPECT_EQ(copied[i], src.cost_factors[i]) << i;
    EXPECT_EQ(sub.metrics.wkb_decode_ns, 0u);
    EXPECT_EQ(sub.metrics.operations[1][0].calls, 0u);
    EXPECT_FALSE(sub.r_tree || sub.brute_force || sub.prepared_polygons);
    EXPECT_NE(sub.xs, src.xs);
}
